#!/usr/bin/env bash
# tlmachine snapshot + diff on a machine of 20,000 files, against find + diff of the same tree,
# measured in the same run. Usage: bench/registry/snapshot_bench.sh [BUILD_DIR] [FILES]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
files=${2:-20000}
tool=$build/bin/tlmachine
[ -x "$tool" ] || { echo "snapshot_bench: $tool is missing (build the tlmachine target)" >&2; exit 1; }

work=$(mktemp -d /tmp/tl-snapshot-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
machine=$work/machine
"$tool" init "$machine" >/dev/null

# 20,000 files in 200 folders on drive C:.
c=$machine/drive_c/Bench
per=$(( files / 200 ))
for d in $(seq 1 200); do
  mkdir -p "$c/dir$d"
  ( cd "$c/dir$d" && for f in $(seq 1 "$per"); do printf 'file %s\n' "$f" > "f$f.txt"; done )
done

now() { date +%s.%N; }

t0=$(now)
"$tool" --machine "$machine" snapshot "$work/before.snap" >/dev/null
echo changed > "$c/dir1/new.txt"
"$tool" --machine "$machine" diff "$work/before.snap" > "$work/diff.txt"
t1=$(now)
rm "$c/dir1/new.txt"
t2=$(now)
find "$machine/drive_c" -printf '%p %s %M %T@\n' | sort > "$work/before.find"
echo changed > "$c/dir1/new.txt"
find "$machine/drive_c" -printf '%p %s %M %T@\n' | sort > "$work/after.find"
diff "$work/before.find" "$work/after.find" > "$work/diff.find" || true
t3=$(now)

grep -q 'new.txt' "$work/diff.txt" || { echo "snapshot_bench: the diff missed the new file" >&2; exit 1; }
awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" -v n="$files" 'BEGIN {
  ours = b - a; ref = d - c;
  printf "tlmachine snapshot + diff of %d files: %.2f s; find + diff: %.2f s; time ratio %.2f\n", n, ours, ref, ours / ref
}'

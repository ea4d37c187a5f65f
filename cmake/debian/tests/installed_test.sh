#!/usr/bin/env bash
# The Debian package made by make_package.sh, looked into and then installed for real: unpacked
# with dpkg-deb -x into a throwaway root, its own programs run from there (never the build's:
# TOLMERA_BIN_DIR is unset, so the programs find their helpers beside themselves only).
#   installed_test.sh PACKAGE_DIR BUILD_DIR
# - every program, the private libraries, the desktop entry with its MIME types (checked as
#   host/tests/desktop_test.sh checks them), the samples, a manual page per
#   program, the copyright and the changelog are in it;
# - no maintainer script calls ldconfig; the description has a synopsis and a body;
# - every ELF file is stripped and its debug symbols are in the -dbgsym package under its
#   build ID; both packages' md5sums hold; morlane's run path leads to the private library
#   folder;
# - the installed tlpack tests the installed sample package: install, repair, removal, clean;
# - a fresh machine's msiexec.exe starts the installed tlmsiexec, which installs the sample's
#   client package;
# - the installed morlane renders an installed sample model into a PNG of the size asked for.
# Exit 77 (skipped) where there is no package (the Debian tools are missing).
set -u
pkgdir=$1 build=$2
deb=$(ls "$pkgdir"/tolmera_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit 77; }
  echo "FAILED: no package in $pkgdir"
  exit 1
fi
dbgsym=$(ls "$pkgdir"/tolmera-dbgsym_*.ddeb 2>/dev/null | head -n 1)
tmp=$(mktemp -d /tmp/tolmera-deb-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
unset TOLMERA_BIN_DIR TOLMERA_LIB_DIR TOLMERA_MACHINE TOLMERA_ANSWERS

echo "package: $(basename "$deb")"
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
has() { grep -qx "$1" <<<"$contents"; }
for p in Setup tlmachine tlpack tlmsiexec morlane; do
  has "./usr/bin/$p" || fail "the package lacks /usr/bin/$p"
  has "./usr/share/man/man1/$p.1.gz" || fail "the package lacks the manual page of $p"
done
libdir=$(grep -E '^\./usr/lib/([^/]+/)?tolmera/libMorlane\.so$' <<<"$contents" | sed 's|/libMorlane\.so$||')
[ -n "$libdir" ] || fail "the package lacks libMorlane.so in a private library folder"
has "$libdir/libcad-ondravel.so" || fail "the engine is not beside libMorlane.so"
for f in ./usr/share/applications/morlane.desktop ./usr/share/mime/packages/morlane.xml \
  ./usr/share/doc/tolmera/copyright \
  ./usr/share/doc/tolmera/changelog.gz ./usr/share/tolmera/sample-product/Setup.data \
  ./usr/share/tolmera/sample-product/answers.txt ./usr/share/tolmera/models/shaft-grooves.xml \
  ./usr/share/tolmera/viewer-language/Morlane.lng; do
  has "$f" || fail "the package lacks ${f#.}"
done

# The control part: no ldconfig for private libraries; a real description.
dpkg-deb -e "$deb" "$tmp/control" || fail "dpkg-deb -e"
if grep -l ldconfig "$tmp"/control/* 2>/dev/null | grep -v /md5sums; then
  fail "a maintainer script calls ldconfig"
fi
description=$(dpkg-deb -f "$deb" Description)
synopsis=$(head -n 1 <<<"$description")
body=$(tail -n +2 <<<"$description" | grep -v '^ \.$')
grep -qi '^tolmera' <<<"$synopsis" && fail "the synopsis starts with the package name: $synopsis"
[ "$(wc -l <<<"$body")" -ge 3 ] || fail "the extended description is missing"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'msitools' <<<"$depends" || fail "the package does not depend on msitools: $depends"
recommends=$(dpkg-deb -f "$deb" Recommends)
grep -q 'libjs-three' <<<"$recommends" || fail "the package does not recommend libjs-three: $recommends"

root=$tmp/root
dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x"; exit 1; }

# Stripped, the symbols split off into the -dbgsym package by build ID.
[ -n "$dbgsym" ] || fail "no debug symbols package beside the package"
[ -n "$dbgsym" ] && dpkg-deb -x "$dbgsym" "$tmp/dbgsym"
elves=0
while IFS= read -r f; do
  kind=$(file -b "$f")
  case $kind in ELF*) ;; *) continue ;; esac
  elves=$((elves + 1))
  name=${f#"$root"}
  grep -q 'not stripped' <<<"$kind" && fail "$name is not stripped"
  id=$(LC_ALL=C readelf -n "$f" | sed -n 's/^ *Build ID: *//p')
  if [ -z "$id" ]; then
    fail "$name has no build ID"
  elif [ ! -s "$tmp/dbgsym/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" ]; then
    fail "the debug symbols of $name are not in the -dbgsym package"
  fi
done < <(find "$root" -type f)
[ "$elves" -eq 7 ] || fail "7 programs and libraries expected, $elves found"
# dpkg can verify both packages: their md5sums name the files inside them.
(cd "$root" && md5sum -c --quiet "$tmp/control/md5sums") || fail "the md5sums of the package"
if [ -n "$dbgsym" ]; then
  dpkg-deb -e "$dbgsym" "$tmp/dbgsym-control"
  (cd "$tmp/dbgsym" && md5sum -c --quiet "$tmp/dbgsym-control/md5sums") ||
    fail "the md5sums of the -dbgsym package: $(head -n 1 "$tmp/dbgsym-control/md5sums")"
  [ "$(readlink "$tmp/dbgsym/usr/share/doc/tolmera-dbgsym")" = tolmera ] ||
    fail "the -dbgsym package's documentation is not the package's"
fi
runpath=$(LC_ALL=C readelf -d "$root/usr/bin/morlane" | sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]/\1/p')
[ "$runpath" = "\$ORIGIN/..${libdir#./usr}" ] || fail "morlane's run path is \"$runpath\""
ldd "$root/usr/bin/morlane" | grep 'libMorlane.so =>' | grep -q "=> $root/usr/" ||
  fail "morlane does not load the packed libMorlane.so"

# The installed desktop entry and MIME types: valid, and the installed sample models told
# apart by them.
desktop_test=$(dirname "$0")/../../../host/tests/desktop_test.sh
"$desktop_test" "$root/usr/share/applications/morlane.desktop" \
  "$root/usr/share/mime/packages/morlane.xml" "$root/usr/share/tolmera/models"
case $? in 0 | 77) ;; *) fail "the installed desktop entry or MIME types" ;; esac

# The installed tlpack on the installed sample package.
share=$root/usr/share/tolmera
(cd "$tmp" && "$root/usr/bin/tlpack" test "$share/sample-product/Setup.data" \
  --answers "$share/sample-product/answers.txt") >"$tmp/tlpack.out" 2>&1
status=$?
if [ "$status" -ne 0 ] || ! grep -q '^result: clean ' "$tmp/tlpack.out"; then
  cat "$tmp/tlpack.out"
  fail "tlpack test of the installed sample package (exit status $status)"
else
  grep '^== \|^result' "$tmp/tlpack.out"
fi

# A fresh machine of the installed tlmachine: its msiexec.exe starts the installed tlmsiexec.
machine=$tmp/machine
"$root/usr/bin/tlmachine" --machine "$machine" init >/dev/null || fail "tlmachine init"
launcher=$machine/drive_c/Windows/System32/msiexec.exe
grep -qF "'$root/usr/bin/tlmsiexec'" "$launcher" 2>/dev/null ||
  fail "msiexec.exe of the machine does not start the installed tlmsiexec: $(cat "$launcher" 2>&1)"
msi=$build/examples/sample-product/client/TolmeraDesignClient.msi
if [ -f "$msi" ]; then
  TOLMERA_MACHINE=$machine sh "$launcher" /i "Z:${msi//\//\\}" /qn >"$tmp/msiexec.out" 2>&1 ||
    { cat "$tmp/msiexec.out"; fail "msiexec.exe /i of the client package"; }
  "$root/usr/bin/tlmachine" --machine "$machine" programs | grep -q 'TOLMERA Design 7 Client' ||
    fail "the client package is not in the list of programs"
else
  fail "no client package in the build: $msi"
fi

# The installed morlane renders an installed sample model.
png=$tmp/drive.png
(cd "$tmp" && "$root/usr/bin/morlane" render "$share/models/drive.xml" "$png" --size 320x240) ||
  fail "morlane render of the installed sample model"
if [ -s "$png" ]; then
  size=$(/usr/bin/identify -format %wx%h "$png")
  colours=$(/usr/bin/identify -format %k "$png")
  [ "$size" = 320x240 ] || fail "the picture is $size, not 320x240"
  [ "${colours:-0}" -ge 8 ] || fail "the picture shows nothing ($colours colours)"
  echo "picture: $(stat -c %s "$png") bytes, $size, $colours colours"
else
  fail "no picture written"
fi

# The manual pages read without a complaint of man.
if command -v man >/dev/null; then
  for page in "$root"/usr/share/man/man1/*.1.gz; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man $(basename "$page"): $out"
  done
fi

[ "$failures" -eq 0 ] || exit 1
echo "ok"

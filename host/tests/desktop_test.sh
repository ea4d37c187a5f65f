#!/usr/bin/env bash
# The desktop entry of morlane and its MIME types, as the source holds them or as a package
# installed them: the entry valid (desktop-file-validate), each type it lists defined by the
# package's MIME file or by the system's database, and the files told apart by a database made
# with the package's file (update-mime-database, then gio): every sample model file (UTF-8 and
# UTF-16) as a Morlane model, another XML file as XML, STEP files by name and by content, IGES
# and STL by the system's types.
#   desktop_test.sh DESKTOP_ENTRY MIME_XML MODELS_DIR
# Exit 77 (skipped) where the desktop tools are missing.
set -u
desktop=$1 mime=$2 models=$3
for tool in desktop-file-validate update-mime-database gio; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
tmp=$(mktemp -d /tmp/morlane-desktop-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

[ -f "$desktop" ] || { echo "FAILED: no desktop entry $desktop"; exit 1; }
[ -f "$mime" ] || { echo "FAILED: no MIME file $mime"; exit 1; }
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate has hints: $out"
grep -qx 'Exec=morlane %F' "$desktop" || fail "the entry does not start morlane with the files"

# Every type the entry lists is defined: by the package's file or the system's database.
types=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | sed '/^$/d')
for want in application/x-morlane-model model/step model/iges model/stl; do
  grep -qx "$want" <<<"$types" || fail "the entry does not list $want"
done
for t in $types; do
  grep -qF "<mime-type type=\"$t\"" "$mime" ||
    grep -qsF "<mime-type type=\"$t\"" /usr/share/mime/packages/*.xml ||
    fail "$t is defined neither by the package nor by the system"
done
# The model type: by the root element of a model file. IGES and STL are the system's own
# (shared-mime-info has had them for years): the package does not define them again. (STEP it
# defines; a later database that has it too merges the two.)
grep -qF '<root-XML namespaceURI="" localName="Model"/>' "$mime" ||
  fail "the model type is not known by its root element Model"
for t in model/iges model/stl; do
  grep -qF "<mime-type type=\"$t\"" "$mime" && fail "the package defines $t again"
done

# A database of the system's types and the package's, and what gio makes of the files.
mkdir -p "$tmp/share/mime/packages"
cp /usr/share/mime/packages/*.xml "$tmp/share/mime/packages/" 2>/dev/null
cp "$mime" "$tmp/share/mime/packages/morlane.xml"
out=$(update-mime-database "$tmp/share/mime" 2>&1) || fail "update-mime-database: $out"
grep -qi 'warning\|error' <<<"$out" && fail "update-mime-database: $out"
type_of() {
  XDG_DATA_HOME=$tmp/home XDG_DATA_DIRS=$tmp/share gio info -a standard::content-type "$1" 2>&1 |
    sed -n 's/^ *standard::content-type: //p'
}
expect() {  # FILE TYPE
  local got
  got=$(type_of "$1")
  [ "$got" = "$2" ] || fail "$(basename "$1") is taken as '$got', not $2"
}
mkdir -p "$tmp/files"
count=0
for f in "$models"/*.xml; do
  expect "$f" application/x-morlane-model
  count=$((count + 1))
done
[ "$count" -ge 3 ] || fail "only $count sample models in $models"
iconv -f UTF-8 -t UTF-16 "$models/drive.xml" >"$tmp/files/utf16.xml"
expect "$tmp/files/utf16.xml" application/x-morlane-model
printf '<?xml version="1.0"?>\n<config><item name="a"/></config>\n' >"$tmp/files/config.xml"
expect "$tmp/files/config.xml" application/xml
printf 'ISO-10303-21;\nHEADER;\nENDSEC;\n' >"$tmp/files/part.step"
cp "$tmp/files/part.step" "$tmp/files/part.stp"
cp "$tmp/files/part.step" "$tmp/files/noname"
expect "$tmp/files/part.step" model/step
expect "$tmp/files/part.stp" model/step
expect "$tmp/files/noname" model/step
printf '%72sS      1\n' '' >"$tmp/files/part.igs"
expect "$tmp/files/part.igs" model/iges
printf 'solid part\nendsolid part\n' >"$tmp/files/part.stl"
expect "$tmp/files/part.stl" model/stl

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "ok: the desktop entry and its MIME types ($count sample models)"

#!/usr/bin/env bash
# The Debian package of this build, as make_package.sh (cmake/debian/tests) made it from what the
# build made: it holds Setup, tlmachine, morlane, libMorlane.so with the engine beside it and the
# desktop entry; unpacked into a temporary root, its morlane renders a sample model from there
# (the engine found beside its own libMorlane.so, not in the build and not in the current
# folder), with no display of the session (it starts an X server of its own).
#   package_test.sh PACKAGE_DIR
# Exit 77 (skipped) where there is no package because the Debian tools are missing.
set -u
pkgdir=$1
src=${TOLMERA_SOURCE_DIR:?}
fail() { echo "FAILED: $*"; exit 1; }
deb=$(ls "$pkgdir"/tolmera_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit 77; }
  fail "no package in $pkgdir"
fi
tmp=$(mktemp -d /tmp/morlane-package-XXXXXX)
trap 'rm -rf "$tmp"' EXIT

echo "package: $(basename "$deb")"
dpkg-deb -I "$deb" | grep -E ' (Package|Version|Depends|Recommends):'
contents=$(dpkg-deb -c "$deb")
libdir=$(grep -oE ' \./usr/lib/([^/]+/)?tolmera/libMorlane\.so$' <<<"$contents" | sed 's|^ ||; s|/libMorlane\.so$||')
[ -n "$libdir" ] || fail "the package lacks libMorlane.so"
for f in ./usr/bin/Setup ./usr/bin/tlmachine ./usr/bin/morlane "$libdir/libcad-ondravel.so" \
  ./usr/share/applications/morlane.desktop; do
  grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done

root=$tmp/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
grep -q '^Exec=morlane' "$root/usr/share/applications/morlane.desktop" || fail "desktop entry"
# The unpacked program uses the unpacked library, not the build's.
ldd "$root/usr/bin/morlane" | grep 'libMorlane.so =>' | grep -q "=> $root/usr/" ||
  { ldd "$root/usr/bin/morlane"; fail "morlane does not load the packed libMorlane.so"; }

# Run from a folder holding a file with the engine's name: it must not be the one loaded.
work=$tmp/work
mkdir "$work"
printf 'not a library\n' >"$work/libcad-ondravel.so"
(cd "$work" && env -u DISPLAY "$root/usr/bin/morlane" render "$src/examples/models/shaft-grooves.xml" shaft.png \
  --size 160x120 --view front) || fail "morlane render from the package"
colours=$(/usr/bin/identify -format %k "$work/shaft.png") || fail "no picture"
[ "$colours" -ge 8 ] || fail "the picture shows nothing ($colours colours)"
(cd "$work" && "$root/usr/bin/morlane" recognize "$src/examples/models/shaft-grooves.xml") |
  grep -q '^shaft "Drive": 4 sections' || fail "morlane recognize from the package"
"$root/usr/bin/tlmachine" --help >/dev/null || fail "tlmachine from the package"
echo "ok"

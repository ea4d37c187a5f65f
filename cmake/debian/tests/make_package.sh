#!/usr/bin/env bash
# Makes the Debian package of this build for the package tests: cpack -G DEB packs what the
# build made (it never builds) into OUT, which is emptied first; the staging copy is removed,
# the package and its debug symbols package stay for the tests that need them.
#   make_package.sh CPACK BUILD_DIR OUT
# Exit 77 (skipped) where the Debian tools are missing.
set -u
cpack=$1 build=$2 out=$3
for tool in dpkg-deb dpkg-shlibdeps fakeroot; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
rm -rf "$out"
mkdir -p "$out"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  echo "FAILED: cpack"
  exit 1
fi
rm -rf "$out/_CPack_Packages"
ls -l "$out"
deb=$(ls "$out"/tolmera_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$out/cpack.log"; echo "FAILED: no package written"; exit 1; }
echo "ok: $(basename "$deb")"

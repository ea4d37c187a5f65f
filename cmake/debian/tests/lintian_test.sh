#!/usr/bin/env bash
# lintian on the Debian package made by make_package.sh: no error and no warning (what the
# package overrides, in /usr/share/lintian/overrides/tolmera, says why beside each override).
#   lintian_test.sh PACKAGE_DIR
# Exit 77 (skipped) where lintian or the package is missing.
set -u
pkgdir=$1
command -v lintian >/dev/null || { echo "SKIPPED: lintian is not installed"; exit 77; }
deb=$(ls "$pkgdir"/tolmera_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit 77; }
  echo "FAILED: no package in $pkgdir"
  exit 1
fi
out=$(lintian --fail-on error,warning --display-level '>=warning' "$deb" 2>&1)
status=$?
printf '%s\n' "$out"
if [ "$status" -ne 0 ] || grep -qE '^[EW]: ' <<<"$out"; then
  echo "FAILED: lintian finds errors or warnings (exit status $status)"
  exit 1
fi
echo "ok: lintian is content with $(basename "$deb")"

#!/usr/bin/env bash
# Builds the Debian package and has lintian check it: no errors allowed.
#
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
cmake --build "$build" --target package >"$build/package.log" 2>&1 || { cat "$build/package.log"; exit 1; }
deb=$(ls -t "$build"/mivex_*_amd64.deb | head -1)
dpkg-deb --info "$deb" | grep -q 'Depends:.*libqt6widgets6' || { echo "FAIL: no dependencies computed"; exit 1; }
lintian --fail-on error --suppress-tags no-manual-page "$deb"
echo "lintian has no error on $deb"

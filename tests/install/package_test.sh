#!/usr/bin/env bash
# Builds the Debian package and has lintian check it: no errors allowed.
#
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
cmake --build "$build" --target package >"$build/package.log" 2>&1 || { cat "$build/package.log"; exit 1; }
# Outputs are taken whole before they are searched: under pipefail, a reader that stops early
# (head, grep -q) would fail the writer with SIGPIPE and the test by chance.
newest=$(ls -t "$build"/mivex_*_amd64.deb)
deb=${newest%%$'\n'*}
info=$(dpkg-deb --info "$deb")
grep -q 'Depends:.*libqt6widgets6' <<<"$info" || { echo "FAIL: no dependencies computed"; exit 1; }
lintian --fail-on error --suppress-tags no-manual-page "$deb"
echo "lintian has no error on $deb"

#!/usr/bin/env bash
# Builds the Debian package and has lintian check it: no errors, and no warnings but the accepted
# ones below. The package is named for the release it is built on (its libraries are that
# release's): mivex_VERSION~debN_amd64.deb on Debian N.
#
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

# Warnings that do not apply here, each with the reason:
accepted=(
  # Debian 13's lintian asks a package with a udev rule to declare the hardware it serves by its
  # modalias (AppStream metadata). The rule matches KERNEL=="uinput", the kernel's virtual input
  # device, which every machine has: no hardware and so no modalias is concerned.
  appstream-metadata-missing-modalias-provide
)

release=$(. /etc/os-release && [[ ${ID-} == debian && ${VERSION_ID-} =~ ^[0-9]+$ ]] && echo "~deb$VERSION_ID" || true)
deb=$build/mivex_$version${release}_amd64.deb
rm -f "$deb"
cmake --build "$build" --target package >"$build/package.log" 2>&1 || { cat "$build/package.log"; exit 1; }
# Outputs are taken whole before they are searched: under pipefail, a reader that stops early
# (head, grep -q) would fail the writer with SIGPIPE and the test by chance.
[[ -f $deb ]] || fail "no $deb; the build made: $(cd "$build" && echo mivex_*.deb)"
info=$(dpkg-deb --info "$deb")
grep -q 'Depends:.*libqt6widgets6' <<<"$info" || fail "no dependencies computed"
grep -qx " Version: $version$release" <<<"$info" || fail "the package's version is not $version$release"
report=$(lintian --fail-on error --suppress-tags no-manual-page "$deb") || { echo "$report"; fail "lintian has errors on $deb"; }
echo "$report"
patterns=()
for tag in "${accepted[@]}"; do patterns+=(-e "^W: mivex: $tag "); done
warnings=$(grep '^W: ' <<<"$report" | grep -v "${patterns[@]}" || true)
[[ -z $warnings ]] || fail "lintian warns of more than the accepted: $warnings"
echo "lintian has no error and no warning but the accepted on $deb"

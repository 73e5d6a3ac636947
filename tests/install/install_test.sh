#!/usr/bin/env bash
# Installs the build into a temporary root, as the package does, and checks what a user of the
# installed program gets: every file in its place, the programs on the PATH run, the desktop
# entry and the udev rule are valid, and a program whose folder it may not write logs into the
# user's state folder, still finds its cascade, and points the login entry at itself.
#
#   install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2

root=$(mktemp -d)
trap 'kill -9 "${pid:-}" 2>/dev/null || true; rm -rf "$root"' EXIT
chmod 755 "$root"  # another user must reach the installed program
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$root/dest cmake --install "$build" --prefix /usr >"$root/install.log" || { cat "$root/install.log"; fail "cmake --install"; }
prefix=$root/dest/usr

files=(lib/mivex/data/cascade_ff_d.xml lib/mivex/data/astronaut.png lib/mivex/audio/click.wav share/applications/mivex.desktop
       lib/udev/rules.d/70-mivex-uinput.rules lib/modules-load.d/mivex.conf share/doc/mivex/copyright
       share/doc/mivex/changelog.gz)
for program in mivex mivex-track mivex-settings mivex-pipe mivex-make-sequence; do
  files+=("lib/mivex/$program" "bin/$program")
  [[ -x "$prefix/bin/$program" ]] || fail "bin/$program does not run"
done
for size in 16 22 24 32 48 64 128 256; do files+=("share/icons/hicolor/${size}x$size/apps/mivex.png"); done
for file in "${files[@]}"; do [[ -e "$prefix/$file" ]] || fail "the install lacks $file"; done

# Outputs are taken whole before they are searched: under pipefail, a reader that stops early
# (grep -q) would fail the writer with SIGPIPE and the test by chance.
said=$("$prefix/bin/mivex" --version)
grep -qF "$version" <<<"$said" || fail "the installed mivex --version does not say $version"
desktop-file-validate "$prefix/share/applications/mivex.desktop" || fail "the menu entry does not validate"
rule=$prefix/lib/udev/rules.d/70-mivex-uinput.rules
if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rule" || fail "udevadm rejects $rule"
elif rules=$(grep -vE '^\s*(#|$)' "$rule") &&
     grep -vqE '^([A-Z_]+(\{[^}]*\})?(==|!=|=|\+=|:=)"[^"]*"(, *|$))+$' <<<"$rules"; then
  fail "a line of $rule is not a list of KEY op \"value\" pairs"
fi
grep -qx 'uinput' "$prefix/lib/modules-load.d/mivex.conf" || fail "modules-load entry does not name uinput"

# The installed program run by a user who may not write its folder: as root that is "nobody",
# otherwise the data folder is made read-only.
home=$root/home
mkdir -p "$home/config/KordO" "$home/run"
printf '[settings]\nstartupProgram=1\n' >"$home/config/KordO/Mivex.ini"
"$prefix/bin/mivex-make-sequence" --trajectory circle --frames 24 --out "$home/head" >/dev/null
chmod 700 "$home/run"
run=()
if ((EUID == 0)); then
  chown -R nobody:nogroup "$home"
  run=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
else
  chmod a-w "$prefix/lib/mivex/data"
fi
"${run[@]}" env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" \
  MIVEX_TEST_LOCK_FOLDER="$home/run" QT_QPA_PLATFORM=offscreen \
  "$prefix/bin/mivex" --camera-file "$home/head.avi" --no-dialogs >"$root/out" 2>"$root/err" &
pid=$!
log=$home/state/KordO/Mivex/MivexLog0.txt
for _ in $(seq 300); do
  grep -q 'InitInstance exit OK' "$log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -TERM "$pid" 2>/dev/null || true
wait "$pid" || true
grep -q 'InitInstance exit OK' "$log" 2>/dev/null || { cat "$root/err" "$log" 2>/dev/null; fail "no log under XDG_STATE_HOME"; }
! grep -q 'ERROR: file: \[' "$log" "$root/err" || fail "the installed program did not find its cascade"
installed=$(ls "$prefix/lib/mivex/data")
! grep -q MivexLog <<<"$installed" || fail "a log was written into the installed folder"
grep -qxF "Exec=\"$prefix/lib/mivex/mivex\" --autostart" "$home/config/autostart/KORDO_mivex!.desktop" ||
  fail "the login entry does not start the installed program"
echo "install test passed"

#!/bin/bash
# mivex-settings from the outside: --set keeps values within a key's range, --list marks stored
# values that the program would not use as they are.
#   mivex_settings_test.sh MIVEX_SETTINGS WORK_DIR
set -u
settings=$1
work=$2
# shellcheck source=tools/common/script_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/common/script_checks.sh"

rm -rf "$work" && mkdir -p "$work" || exit 1
export XDG_CONFIG_HOME="$work/config"
ini="$XDG_CONFIG_HOME/KordO/Mivex.ini"

# Out of range: refused with the range named, exit 2, nothing stored.
while read -r assignment range; do
    "$settings" --set "$assignment" >"$work/out" 2>"$work/err"
    code=$?
    [ "$code" -eq 2 ] || fail "--set $assignment exited with $code, not 2"
    grep -q "($range)" "$work/err" || fail "--set $assignment does not name the range $range: $(cat "$work/err")"
    [ ! -e "$ini" ] || fail "--set $assignment stored something: $(cat "$ini")"
done <<'CASES'
settings/sliderLrMouse=-2147483648 1..20
settings/sliderLrMouse=21 1..20
settings/sliderSmoothMouse=1 2..10
camera1/fps=0 >= 1
camera/cameraSelected=-5 0..9
profile/profileAxis1_18=221 20..220
settings/flightTarget=nowhere expected host:port, e.g. 127.0.0.1:4242
CASES

# In range, at the ends and without a range: stored as given.
for assignment in settings/sliderLrMouse=1 settings/sliderUdMouse=20 camera1/fps=2147483647 \
                  settings/floatLeft=-2147483648 settings/flightTarget=10.0.0.2:4242; do
    "$settings" --set "$assignment" 2>"$work/err" || fail "--set $assignment refused: $(cat "$work/err")"
    [ "$("$settings" --get "${assignment%=*}")" = "${assignment#*=}" ] || fail "--set $assignment not stored"
done

# --list: a value out of range written by other means is marked, with the legend.
"$settings" --list >"$work/out" || fail "--list failed"
grep -q '^\*' "$work/out" && fail "--list has a legend with nothing marked"
sed -i 's/^sliderLrMouse=1$/sliderLrMouse=40/' "$ini"
"$settings" --list >"$work/out" || fail "--list failed"
grep -Eq '^settings/sliderLrMouse +40\* ' "$work/out" || fail "out-of-range value not marked: $(cat "$work/out")"
grep -Eq '^settings/sliderUdMouse +20 ' "$work/out" || fail "in-range value marked: $(cat "$work/out")"
grep -q '^\* outside the range' "$work/out" || fail "no legend for the marker"

# --list: what the program cannot read at all is shown as stored, marked too.
sed -i -e 's/^sliderLrMouse=40$/sliderLrMouse=yes/' -e 's/^sliderUdMouse=20$/sliderUdMouse=12345678901234567890/' \
    -e 's/^flightTarget=.*/flightTarget=not an address/' "$ini"
"$settings" --list >"$work/out" || fail "--list failed"
for row in 'settings/sliderLrMouse +yes\* ' 'settings/sliderUdMouse +12345678901234567890\* ' \
           'settings/flightTarget +not an address\* ' '\* not usable as stored'; do
    grep -Eq "^$row" "$work/out" || fail "no line '$row' in: $(cat "$work/out")"
done

# --list: hotkeys show their combination beside the number; one that the program does not use is
# marked: a combination an action before it has, or Enter without Ctrl or Alt.
for assignment in settings/hotkeyMouse=131188 settings/hotkeyMouseRight=131188 \
                  settings/hotkeyMouseMiddleLock=13 settings/hotkeyMouseLeft=262209; do
    "$settings" --set "$assignment" 2>"$work/err" || fail "--set $assignment refused: $(cat "$work/err")"
done
"$settings" --list >"$work/out" || fail "--list failed"
for row in 'settings/hotkeyMouse +131188 Ctrl\+F5 ' 'settings/hotkeyMouseRight +131188 Ctrl\+F5! ' \
           'settings/hotkeyMouseMiddleLock +13 Return! ' 'settings/hotkeyMouseLeft +262209 Alt\+A ' \
           '! hotkey not in use'; do
    grep -Eq "^$row" "$work/out" || fail "no line '$row' in: $(cat "$work/out")"
done

# An answer that cannot be written is a failure.
for args in "--list" "--get settings/sliderLrMouse"; do  # shellcheck disable=SC2086  # meant to split
    ! "$settings" $args >/dev/full 2>"$work/err" && grep -q 'cannot write to standard output' "$work/err" ||
        fail "$args into a full disk: $(cat "$work/err")"
done

# A disk that takes no more: the file stays as it was, no temporary file is left, and it is said.
cp "$ini" "$work/before"
# (Standard error goes through a pipe: the limit holds for files only.)
err=$( (ulimit -f 0 && trap '' XFSZ && "$settings" --set settings/sliderLrMouse=7 && echo "exit 0") 2>&1)
case $err in
    *"exit 0") fail "--set into a full disk succeeded" ;;
    *"nothing stored: "*"Mivex.ini: cannot be written (File too large); the file is left as it was"*) ;;
    *) fail "--set into a full disk does not say why: $err" ;;
esac
cmp -s "$ini" "$work/before" || fail "--set into a full disk changed the file: $(cat "$ini")"
[ "$(find "$(dirname "$ini")" -name 'Mivex.ini.new*' | wc -l)" -eq 0 ] || fail "a temporary file was left"

# Comments and lines that cannot be read stay; a pipe in the file's place is neither waited for nor read.
printf '; mine\n[settings]\njunk\nsliderLrMouse=3\n' >"$ini"
"$settings" --set settings/sliderLrMouse=4 2>/dev/null || fail "--set on a file with a junk line refused"
[ "$(cat "$ini")" = "$(printf '; mine\n[settings]\njunk\nsliderLrMouse=4')" ] || fail "--set changed other lines: $(cat "$ini")"
rm -f "$ini" && mkfifo "$ini"
timeout 10 "$settings" --get settings/sliderLrMouse >"$work/out" 2>"$work/err"
code=$?
[ "$code" -eq 1 ] && grep -q 'Mivex.ini: is not a regular file.*; defaults shown' "$work/err" ||
    fail "--get of a pipe exited with $code: $(cat "$work/err")"
timeout 10 "$settings" --set settings/sliderLrMouse=4 2>"$work/err" && fail "--set into a pipe succeeded"
grep -q 'nothing stored: .*is not a regular file' "$work/err" || fail "--set into a pipe: $(cat "$work/err")"

finish "all mivex-settings checks passed"

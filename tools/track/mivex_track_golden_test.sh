#!/bin/bash
# Rows that must not drift: mivex-track on generated sequences, with and without --map, must give
# byte for byte the CSVs an earlier build gave (their SHA-256 sums are recorded below), so no
# change alters tracking or mapping of frames that arrive in colour unnoticed.
#   mivex_track_golden_test.sh MIVEX_TRACK MIVEX_MAKE_SEQUENCE WORK_DIR
set -u
track=$1
make_sequence=$2
work=$3
# shellcheck source=tools/common/script_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common/script_checks.sh"

rm -rf "$work" && mkdir -p "$work/home" || exit 1
# Fresh settings folders: no stored settings reach the mapping.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share

while read -r name trajectory frames size plain mapped; do
    if ! "$make_sequence" --trajectory "$trajectory" --frames "$frames" --size "$size" --out "$work/$name" \
        >"$work/make.log" 2>&1; then
        fail "cannot make the $name sequence: $(cat "$work/make.log")"
        continue
    fi
    same=1
    for map in "" --map; do
        csv=$work/$name${map:+-map}.csv
        want=$plain && [ -n "$map" ] && want=$mapped
        # shellcheck disable=SC2086  # an empty option is meant to vanish
        if ! "$track" "$work/$name.avi" $map --csv "$csv" 2>"$work/track.log"; then
            fail "mivex-track $work/$name.avi $map failed: $(cat "$work/track.log")"
            same=0
            continue
        fi
        got=$(sha256sum <"$csv" | cut -c1-64)
        [ "$got" = "$want" ] && continue
        same=0
        fail "$csv (mivex-track $name.avi $map) is not the recorded one: SHA-256 $got, recorded $want.
    See how it differs: run a build from before your change the same way and compare, e.g.
        HOME=$HOME XDG_CONFIG_HOME=$XDG_CONFIG_HOME \\
        OLD/bin/mivex-track $work/$name.avi $map --csv $work/old.csv && diff $work/old.csv $csv
    The sums were recorded with OpenCV 4.6 on x86-64. Only a change meant to alter tracking or
    mapping may record new sums here, saying why."
    done
    # The videos are large: kept only to compare a failure.
    [ "$same" -eq 1 ] && rm -f "$work/$name.avi"
done <<'CASES'
circle circle 60 640x480 f1de101c2ea311a4219fd317b9cea76c6b7652a1650c925ac4429af1e73fcd15 720c5e524bf3f642c8fb2040b16df51b7807fff45f883ad25491a003c999be0c
sweep sweep 60 640x480 8356091d23bfe82dd76ee43b7b13f8fb7b6c098496e7d43c91fea390125626ad 2ca688e3e3ad3fb0a5b443fa397ee18231f760e2b5891187459332f2a181ff6a
brightness brightness 60 640x480 ac671d457b12a50e765299f39ca216cdb0cc5bf84e33682ec482bbab9f9f6204 2d75f51d2570c052332e0c0da92f270411d0fac0226f37048cfa5d8fc747917e
rests rests 60 640x480 4e7fc6a640fb2ab40a8c2d08ffa73ec08e844328a9075fa9ee2ff34cfd6f3b8e baccd1f99291b1c135d79c24b574a8c07b7c5a0a4ef868c2d0fc48dab1e04cde
odd sweep 60 322x242 3b9d48e11019f854f2388e8b1a831a2a389666239119de07f3627398d73deaf6 b2d0d735e1d06e409cbb238e63f961b716d8401925e102fc7cb10b0eaf98bec6
CASES

finish "all recorded mivex-track rows reproduced"

#!/bin/bash
# mivex-track from the outside: options and exit codes, its error messages, one run over a short
# synthetic sequence whose rows must agree with the motion that was rendered, and camera
# recordings made and played again.
#   mivex_track_test.sh MIVEX_TRACK MIVEX_MAKE_SEQUENCE WORK_DIR
set -u
track=$1
make_sequence=$2
work=$3
# shellcheck source=tools/common/script_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common/script_checks.sh"

# expect_exit CODE COMMAND...: runs COMMAND with its output in $work/out and $work/err.
expect_exit() {
    local want=$1
    shift
    "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [ "$got" -eq "$want" ] || fail "'$*' exited with $got, not $want; stderr: $(head -c 400 "$work/err")"
}

# start_run DIR COMMAND...: runs COMMAND in the background as $run and returns once the files in
# DIR hold a header and two rows more than before, or the run has ended, or after 30 s.
lines_in() { cat "$1"/* "$1"/.[!.]* 2>/dev/null | wc -l; }
start_run() {
    local dir=$1
    shift
    local before
    before=$(lines_in "$dir")
    "$@" >"$work/out" 2>"$work/err" &
    run=$!
    for _ in $(seq 3000); do
        [ "$(lines_in "$dir")" -ge $((before + 3)) ] && return
        kill -0 "$run" 2>/dev/null || return
        sleep 0.01
    done
}

rm -rf "$work" && mkdir -p "$work" || exit 1

# Options.
expect_exit 0 "$track" --help
grep -q '^Usage: mivex-track VIDEO' "$work/out" || fail "--help does not print the usage on stdout"
for args in "" "x.avi --detect-every 0" "x.avi --detect-every -3" "x.avi --detect-every" "x.avi --bogus" \
            "a.avi b.avi" "x.avi --csv" "x.avi --set settings/sliderLrMouse=4" \
            "x.avi --map --set settings/noSuchKey=1" "x.avi --map --set settings/sliderLrMouse=four" \
            "x.avi --fast" "x.avi --camera 0" "--camera-file x.avi --camera 1" "--camera -1" "--camera-file" \
            "x.avi --record r.mkv" "--camera 0 --seconds 3" "--camera 0 --record r.mkv --seconds 0" \
            "--camera-replay r.mkv --camera-file x.avi" "--camera-replay" "--camera-file x.avi --format YUYV" \
            "--camera 0 --format YUYV2"; do
    # shellcheck disable=SC2086  # the arguments are meant to split
    expect_exit 2 "$track" $args
    grep -q '^Usage: mivex-track' "$work/err" || fail "'mivex-track $args' does not show the usage on stderr"
done

# Files that cannot be read.
expect_exit 1 "$track" "$work/missing.avi"
grep -q "cannot read video $work/missing.avi" "$work/err" || fail "no message naming the missing video"
printf 'not a video\n' >"$work/text.avi"
expect_exit 1 "$track" "$work/text.avi"
grep -q "cannot read video $work/text.avi" "$work/err" || fail "no message naming the unreadable video"

# A real sequence: the photo comes from a Debian package, and its absence must fail, not skip.
if ! "$make_sequence" --trajectory circle --frames 60 --out "$work/circle" >"$work/make.log" 2>&1; then
    fail "cannot make the test sequence: $(cat "$work/make.log")"
    finish  # with the failure just recorded: nothing below can run without the sequence
fi

# The input as the output, by its name or a link, is refused and left intact.
cp "$work/circle.avi" "$work/input.avi" && ln -s input.avi "$work/symbolic.avi" && ln "$work/input.avi" "$work/hard.avi"
while read -r input output source; do
    # shellcheck disable=SC2086  # an empty source is meant to vanish
    expect_exit 2 "$track" $source "$work/$input" --csv "$work/$output"
    grep -q 'is the input video' "$work/err" || fail "$input as --csv $output: no reason given: $(cat "$work/err")"
    cmp -s "$work/input.avi" "$work/circle.avi" || fail "$input as --csv $output changed the input video"
done <<'CASES'
input.avi input.avi
input.avi symbolic.avi
symbolic.avi hard.avi
input.avi hard.avi --camera-file
CASES
expect_exit 2 "$track" --record "$work/input.avi" --camera-replay "$work/hard.avi"
grep -q 'is the input video' "$work/err" || fail "the replayed file as --record: no reason given: $(cat "$work/err")"

# Too small for head detection's reduction: refused before tracking, naming the sizes.
"$make_sequence" --trajectory circle --frames 2 --size 1000x2 --out "$work/flat" >"$work/make.log" 2>&1 ||
    fail "cannot make the flat sequence: $(cat "$work/make.log")"
expect_exit 1 "$track" "$work/flat.avi"
grep -qx 'mivex-track: frames of 1000x2 are too small to track (at least 1000x4 needed)' "$work/err" ||
    fail "flat frames not refused clearly: $(cat "$work/err")"

expect_exit 1 "$track" "$work/circle.avi" --csv "$work/no/such/dir/rows.csv"
grep -q "cannot write $work/no/such/dir/rows.csv" "$work/err" || fail "no message naming the unwritable CSV"

# Without data/ beside the program the cascade is missing: the detector's own message, exit 1.
mkdir -p "$work/bare" && cp "$track" "$work/bare/mivex-track"
expect_exit 1 "$work/bare/mivex-track" "$work/circle.avi"
grep -q "cascade_ff_d.xml\] not found in the following location: $work/bare/data/cascade_ff_d.xml" "$work/err" ||
    fail "missing cascade not reported: $(cat "$work/err")"

expect_exit 0 "$track" "$work/circle.avi" --csv "$work/rows.csv"
grep -Eq '^mivex-track: 60 frames, [0-9]+ with motion, mean points [0-9.]+, detections 6 of 6, elapsed' "$work/err" ||
    fail "unexpected summary: $(cat "$work/err")"
[ "$(head -1 "$work/rows.csv")" = "frame,points,summed,sum_dx,sum_dy,head_found,left,top,right,bottom" ] ||
    fail "wrong CSV header: $(head -1 "$work/rows.csv")"

leftovers=("$work"/.[!.]*)
[ ! -e "${leftovers[0]}" ] || fail "temporary files left: ${leftovers[*]}"

# What --csv names stays what it is: a FIFO and a device are written into, a file keeps its mode,
# a read-only file is left alone. Root, who can replace the system's devices, gets nodes of its own.
null=/dev/null full=/dev/full
mknod "$work/null" c 1 3 2>/dev/null && mknod "$work/full" c 1 7 && null=$work/null full=$work/full
mkfifo "$work/rows.fifo" || fail "cannot make a FIFO"
cat "$work/rows.fifo" >"$work/fifo.csv" &
reader=$!
echo old | tee "$work/private.csv" >"$work/read-only.csv" && chmod 600 "$work/private.csv" && chmod 444 "$work/read-only.csv"
while read -r csv code said; do
    expect_exit "$code" "$track" "$work/circle.avi" --csv "$csv"
    grep -q "$said" "$work/err" || fail "--csv $csv: $(cat "$work/err")"
done <<CASES
$work/rows.fifo 0 frames
$null 0 frames
$full 1 cannot write $full
$work/private.csv 0 frames
$work/read-only.csv 1 cannot write $work/read-only.csv: the file is read-only
CASES
[ -p "$work/rows.fifo" ] && [ -c "$null" ] && [ -c "$full" ] || { fail "a FIFO or device was replaced"; kill "$reader"; }
wait "$reader"
[ "$(stat -c %a "$work/private.csv")" = 600 ] && [ "$(cat "$work/read-only.csv")" = old ] ||
    fail "a 0600 file came back $(stat -c %a "$work/private.csv"), or a read-only one was replaced"
cmp -s "$work/fifo.csv" "$work/rows.csv" && cmp -s "$work/private.csv" "$work/rows.csv" || fail "rows lost"

# A FIFO as the video: read as it streams; while it has no writer, a stop signal ends the wait.
cat "$work/circle.avi" >"$work/rows.fifo" &
expect_exit 0 "$track" "$work/rows.fifo"
cmp -s "$work/out" "$work/rows.csv" || fail "the rows of a video through a FIFO differ"
"$track" "$work/rows.fifo" >/dev/null 2>&1 & sleep 0.3 && kill -TERM $!
for _ in $(seq 100); do kill -0 $! 2>/dev/null && sleep 0.1; done
kill -KILL $! 2>/dev/null && fail "SIGTERM does not end the wait for a FIFO's writer"

# A video cut short, whose container states 60 frames, fails.
head -c "$(($(stat -c %s "$work/circle.avi") / 2))" "$work/circle.avi" >"$work/cut.avi"
expect_exit 1 "$track" "$work/cut.avi"
grep -Eq "^mivex-track: $work/cut.avi ends early: [0-9]+ of the 60 frames its container states could be read$" \
    "$work/err" || fail "a video cut short not reported: $(cat "$work/err")"

# A run that dies midway leaves the old rows in place.
mkdir -p "$work/killed" && echo "old rows" >"$work/killed/rows.csv"
start_run "$work/killed" "$track" "$work/circle.avi" --csv "$work/killed/rows.csv"
kill -KILL "$run" 2>/dev/null
{ wait "$run"; } 2>/dev/null
[ "$(cat "$work/killed/rows.csv")" = "old rows" ] || fail "a killed run replaced the old rows"

# SIGINT and SIGTERM stop the run between frames, in the file loop and through the capture path:
# the rows so far are kept whole under their header, the summary is shown, and the exit code
# tells which signal it was.
while read -r signal code source; do
    rm -rf "$work/stopped" && mkdir -p "$work/stopped"
    # shellcheck disable=SC2086  # the arguments are meant to split
    start_run "$work/stopped" "$track" $source "$work/circle.avi" --csv "$work/stopped/rows.csv"
    kill "-$signal" "$run"
    wait "$run"
    got=$?
    [ "$got" -eq "$code" ] || fail "$signal on '$source' exited with $got, not $code: $(cat "$work/err")"
    grep -Eq '^mivex-track: [0-9]+ frames' "$work/err" || fail "$signal on '$source': no summary: $(cat "$work/err")"
    [ "$(ls -A "$work/stopped")" = rows.csv ] || fail "$signal on '$source' left $(ls -A "$work/stopped")"
    head -1 "$work/stopped/rows.csv" | grep -q '^frame,points,' || fail "$signal on '$source': no CSV header"
    [ "$(wc -l <"$work/stopped/rows.csv")" -ge 3 ] || fail "$signal on '$source' lost the rows written before it"
    if ! awk -F, 'NF != 10 { exit 1 }' "$work/stopped/rows.csv" || [ "$(tail -c 1 "$work/stopped/rows.csv")" != "" ]; then
        fail "$signal on '$source' left a partial row: $(tail -2 "$work/stopped/rows.csv")"
    fi
done <<'CASES'
INT 130
TERM 143
INT 130 --camera-file
TERM 143 --camera-file
CASES

# Standard output carries the same rows as --csv; --detect-every changes the detection count.
expect_exit 0 "$track" "$work/circle.avi"
cmp -s "$work/out" "$work/rows.csv" || fail "rows on stdout differ from the --csv file"
expect_exit 0 "$track" "$work/circle.avi" --detect-every 7
grep -q 'detections 9 of 9' "$work/err" || fail "--detect-every 7 not applied: $(cat "$work/err")"

# Row checks against the rendered motion (the sequence's CSV: frame,x,y,dx,dy): one row per frame in
# order, a plausible head, and per-point motion matching the truth axis by axis.
awk -F, '
    NR == FNR { if (FNR > 1) { dx[$1] = $4; dy[$1] = $5 } next }
    FNR == 1 { next }
    {
        if ($1 != FNR - 2) { print "row " FNR " has frame " $1; bad = 1 }
        if ($6 == 1 && !($7 >= 0 && $7 < $9 && $9 <= 640 && $8 >= 0 && $8 < $10 && $10 <= 480)) {
            print "frame " $1 ": head rectangle " $7 "," $8 "," $9 "," $10 " outside the frame"; bad = 1
        }
        if ($2 > 0) withPoints++
        if ($3 > 0) { n++; ex += abs($4 / $3 - dx[$1]); ey += abs($5 / $3 - dy[$1]) }
        if ($3 == 0 && ($4 != 0 || $5 != 0)) { print "frame " $1 ": motion without summed points"; bad = 1 }
        if ($3 > $2) { print "frame " $1 ": more points summed than tracked"; bad = 1 }
        rows++
    }
    function abs(v) { return v < 0 ? -v : v }
    END {
        if (rows != 60) { print rows " rows, not 60"; bad = 1 }
        if (withPoints < 30) { print "points on only " withPoints " frames"; bad = 1 }
        if (n < 30) { print "motion on only " n " frames"; bad = 1 }
        else if (ex / n > 0.1 || ey / n > 0.1) { printf "mean motion error %.3f, %.3f px\n", ex / n, ey / n; bad = 1 }
        exit bad
    }' "$work/circle.csv" "$work/rows.csv" >"$work/check.log" || fail "rows: $(cat "$work/check.log")"

# Through the capture path: a video file standing in for a camera gives the same rows.
expect_exit 0 "$track" --camera-file "$work/circle.avi" --fast --csv "$work/camera-rows.csv"
cmp -s "$work/camera-rows.csv" "$work/rows.csv" || fail "--camera-file rows differ from the plain VIDEO rows"
expect_exit 1 "$track" --camera-file "$work/missing.avi"
grep -q "cannot open video file $work/missing.avi" "$work/err" || fail "no message naming the missing camera file"

# --map: the pointer moves against the picture's x (mirrored) by the gain times the mean motion,
# smoothed, with the overrides applied and the stored settings left alone.
export XDG_CONFIG_HOME="$work/config"
expect_exit 0 "$track" "$work/circle.avi" --map --set settings/sliderLrMouse=4 --set settings/sliderUdMouse=4 \
    --csv "$work/mapped.csv"
[ "$(head -1 "$work/mapped.csv")" = \
  "frame,points,summed,sum_dx,sum_dy,head_found,left,top,right,bottom,move_dx,move_dy,clicks" ] ||
    fail "wrong --map header: $(head -1 "$work/mapped.csv")"
[ ! -e "$work/config" ] || fail "--map changed the stored settings: $(find "$work/config")"
awk -F, 'FNR > 1 { sx += $4 / ($3 ? $3 : 1); mx += $11; sy += $5 / ($3 ? $3 : 1); my += $12 }
    END { if (sx * mx >= 0 || sy * my <= 0 || mx * mx < 4 * sx * sx || mx * mx > 36 * sx * sx) {
              printf "moves %d,%d for mean motion %.2f,%.2f\n", mx, my, sx, sy; exit 1 } }' \
    "$work/mapped.csv" >"$work/check.log" || fail "mapped moves: $(cat "$work/check.log")"

# Camera recordings. Files another program made of a webcam's own bytes (ffmpeg -c copy makes such
# files; here ffmpeg encodes them) replay as a camera offering their one format; recorded while
# replayed, and that recording recorded again while replayed, they give the very same file (every
# buffer, flag and microsecond, and the camera's description) and the same rows.
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null ||
    { fail "ffmpeg and ffprobe are needed for the recordings (tools/install-deps.sh)"; finish; }
# One decoding of the sequence makes them all.
ffmpeg -nostdin -loglevel error -y -i "$work/circle.avi" -r 30 -c:v mjpeg -q:v 3 "$work/mjpeg.mkv" \
    -r 30 -pix_fmt yuyv422 -c:v rawvideo "$work/yuyv.mkv" -r 30 -pix_fmt nv12 -c:v rawvideo "$work/nv12.avi" \
    -frames:v 5 -c:v libx264 "$work/phone.mkv" -frames:v 5 -pix_fmt yuv444p -c:v rawvideo "$work/y444.nut" ||
    fail "ffmpeg cannot make the camera files"
for name in mjpeg.mkv yuyv.mkv nv12.avi; do
    expect_exit 0 "$track" --camera-replay "$work/$name" --fast --record "$work/$name.mkv" --csv "$work/first.csv"
    grep -q "^mivex-track: recorded 60 frames (1.967 s, " "$work/err" || fail "$name not recorded: $(cat "$work/err")"
    expect_exit 0 "$track" --camera-replay "$work/$name.mkv" --fast --record "$work/again.mkv" --csv "$work/again.csv"
    cmp -s "$work/$name.mkv" "$work/again.mkv" || fail "$name recorded again while replayed differs"
    cmp -s "$work/first.csv" "$work/again.csv" || fail "$name: the rows of its recording differ"
done
ffprobe -v error -show_entries stream=codec_name,width,height:format_tags=MIVEX_STREAM -of default=nw=1 \
    "$work/nv12.avi.mkv" >"$work/probe" 2>&1 || fail "ffprobe cannot read a recording: $(cat "$work/probe")"
grep -qx 'codec_name=rawvideo' "$work/probe" && grep -q '^TAG:MIVEX_STREAM=fourcc=NV12 width=640 height=480 ' "$work/probe" ||
    fail "ffprobe does not show the recording: $(cat "$work/probe")"
# At the recorded pace the rows are the same; --seconds keeps that much of the camera's time.
expect_exit 0 "$track" --camera-replay "$work/nv12.avi.mkv" --csv "$work/paced.csv" --record "$work/part.mkv" --seconds 1
grep -q "^mivex-track: recorded 30 frames (0.967 s, " "$work/err" || fail "--seconds 1: $(cat "$work/err")"
[ "$(head -31 "$work/paced.csv")" = "$(head -31 "$work/again.csv")" ] || fail "paced and fast replays give other rows"

# What cannot be replayed is said, with exit code 1.
printf 'not a video\n' >"$work/text.mkv" && : >"$work/empty.mkv"
head -c "$(($(stat -c %s "$work/mjpeg.mkv.mkv") / 2))" "$work/mjpeg.mkv.mkv" >"$work/cut.mkv"
cp "$work/yuyv.mkv.mkv" "$work/corrupt.mkv" && dd if=/dev/zero of="$work/corrupt.mkv" bs=64 count=1 conv=notrunc 2>/dev/null
{ head -c 500000 "$work/mjpeg.mkv.mkv" && tail -c +505001 "$work/mjpeg.mkv.mkv"; } >"$work/lost.mkv"  # 5 kB gone
while read -r file said; do
    expect_exit 1 "$track" --camera-replay "$work/$file" --fast
    grep -q "^mivex-track: cannot open recording $work/$file: $said" "$work/err" || fail "$file: $(cat "$work/err")"
done <<'CASES'
missing.mkv no such file
empty.mkv the file is empty
text.mkv not a video recording
cut.mkv it ends early: cut short after
corrupt.mkv not a video recording
lost.mkv it is damaged: buffer [0-9]* is missing
phone.mkv it holds H.264 .* video, which webcams do not send through V4L2
y444.nut it holds raw frames tagged .*, a layout the frame decoder does not know
CASES
expect_exit 1 "$track" --camera-replay "$work/mjpeg.mkv.mkv" --fast --record "$work/no/such/dir/r.mkv"
grep -q "^mivex-track: nothing recorded into $work/no/such/dir/r.mkv: cannot write" "$work/err" ||
    fail "an unwritable recording: $(cat "$work/err")"

finish "all mivex-track checks passed"

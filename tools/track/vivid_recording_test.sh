#!/bin/bash
# A real V4L2 driver recorded and replayed: inside a virtual machine with the kernel's virtual
# camera (vivid), mivex-track records it in two of its raw formats and ffmpeg copies a third
# stream the usual way (-c copy); here each recording is replayed, and a replay recorded again
# must give the very same file: every buffer, flag and microsecond, and the camera's description.
# Not part of the suite: it needs the machine (run as root).
#   vivid_recording_test.sh RUN_IN_VM MIVEX_TRACK WORK_DIR
set -u
run_in_vm=$1
track=$(realpath "$2")
work=$3
# shellcheck source=tools/common/script_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common/script_checks.sh"

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cat >record.sh <<EOF
for format in YUYV NV12; do
    "$track" --camera 0 --format \$format --record vivid-\$format.mkv --seconds 2 --csv /dev/null 2>record-\$format.log ||
        echo "mivex-track \$format failed: \$(cat record-\$format.log)"
done
# ffmpeg's own lines stay in its log: their colours would hide the machine's last line.
ffmpeg -nostdin -loglevel error -f v4l2 -input_format uyvy422 -i /dev/video0 -frames:v 20 -c copy vivid-ffmpeg.mkv \
    2>ffmpeg.log || echo "ffmpeg failed: \$(cat ffmpeg.log)"
EOF
"$run_in_vm" --timeout 900 -- sh record.sh >vm.log 2>&1 || fail "the machine failed: $(cat vm.log)"
grep -q failed vm.log && fail "$(cat vm.log)"

for format in YUYV NV12; do
    recording=vivid-$format.mkv
    [ -s "$recording" ] || { fail "no $recording"; continue; }
    ffprobe -v error -show_entries format_tags=MIVEX_CAMERA,MIVEX_STREAM -of default=nw=1 "$recording" >probe.txt ||
        fail "ffprobe cannot read $recording"
    grep -q "^TAG:MIVEX_STREAM=fourcc=$format " probe.txt || fail "$recording is not $format: $(cat probe.txt)"
    "$track" --camera-replay "$recording" --fast --record "here-$format.mkv" --csv /dev/null 2>replay.log ||
        fail "$recording does not replay: $(cat replay.log)"
    cmp -s "$recording" "here-$format.mkv" || fail "$recording replayed here differs"
    echo "$(grep recorded "record-$format.log" | sed 's/^mivex-track: //'), $(grep TAG:MIVEX_CAMERA probe.txt)"
done
"$track" --camera-replay vivid-ffmpeg.mkv --fast --csv /dev/null 2>replay.log ||
    fail "ffmpeg's copy does not replay: $(cat replay.log)"
grep -q '^mivex-track: 20 frames' replay.log || fail "ffmpeg's copy: $(cat replay.log)"
finish "the virtual camera's recordings replay with identical buffers"

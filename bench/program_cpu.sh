#!/bin/bash
# The whole program's CPU share of one core on a webcam: mivex plays a 640 x 480 MJPEG webcam
# recording (--camera-replay, through the V4L2 layer, frame decoding and the whole frame road) at
# 30 and at 12 frames a second, with mouse control on and its settings window hidden in a tray, on
# a private Xvfb. After a warm-up, the process's CPU time over a stretch of wall time is printed as
# a share of one core: the webcam road's cost in the program, beside BM_WebcamRoad's in isolation.
#   bench/program_cpu.sh BUILD_BIN_DIR [SECONDS]      (default 20 s measured per rate)
set -euo pipefail
bin=$(realpath "$1")
seconds=${2:-20}
warmup=5
for tool in Xvfb trayer ffmpeg; do
  command -v "$tool" >/dev/null || { echo "program_cpu: $tool is needed (tools/install-deps.sh)" >&2; exit 1; }
done
[ -x "$bin/mivex" ] && [ -x "$bin/mivex-make-sequence" ] ||
  { echo "program_cpu: build mivex and mivex-make-sequence into $bin first" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# A moving head, as the webcam's MJPEG frames (4:2:2, as webcams send them) at each rate.
"$bin/mivex-make-sequence" --trajectory circle --frames 150 --size 640x480 --out "$work/head" >/dev/null
for fps in 30 12; do
  ffmpeg -nostdin -loglevel error -i "$work/head.avi" -r "$fps" -pix_fmt yuvj422p -c:v mjpeg -q:v 4 "$work/webcam-$fps.mkv"
done

Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x1024x24 5>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb MIVEX_INJECTOR=xtest
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" MIVEX_TEST_LOCK_FOLDER="$work/run"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_SESSION_TYPE XDG_CURRENT_DESKTOP
mkdir -p "$XDG_CONFIG_HOME/KordO" && mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[settings]\nuseMouse=1\n[general]\nupdateCount=1\n' >"$XDG_CONFIG_HOME/KordO/Mivex.ini"
# With a tray the settings window stays hidden.
trayer --edge top --align left --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 2

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
for fps in 30 12; do
  "$bin/mivex" --camera-replay "$work/webcam-$fps.mkv" --no-dialogs >"$work/out-$fps" 2>&1 &
  program=$!
  sleep "$warmup"
  kill -0 "$program" 2>/dev/null || { echo "program_cpu: mivex ended: $(cat "$work/out-$fps")" >&2; exit 1; }
  start=$(cpu_ticks "$program") started=$(date +%s.%N)
  sleep "$seconds"
  used=$(($(cpu_ticks "$program") - start)) ended=$(date +%s.%N)
  kill "$program" && wait "$program" || true
  awk -v used="$used" -v ticks="$ticks" -v from="$started" -v to="$ended" -v fps="$fps" \
    'BEGIN { printf "program_cpu: %d frames a second: %.1f %% of one core\n", fps, 100 * used / ticks / (to - from) }'
done

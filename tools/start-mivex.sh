#!/usr/bin/env bash
# Starts the built program: on the webcam when the machine has one, else on a generated video of
# a moving head that stands in for a camera. Arguments are passed on to mivex.
set -euo pipefail

bin="$(cd "$(dirname "$0")/../build/bin" && pwd)"

if compgen -G '/dev/video*' >/dev/null; then
  exec "$bin/mivex" "$@"
fi

sequence="${XDG_CACHE_HOME:-$HOME/.cache}/mivex/head-circle"
echo "start-mivex: no webcam (/dev/video*) on this machine: Mivex watches a generated video of a moving head instead ($sequence.avi)" >&2
if [[ ! -f "$sequence.avi" ]]; then
  mkdir -p "$(dirname "$sequence")"
  "$bin/mivex-make-sequence" --trajectory circle --frames 300 --out "$sequence"
fi
exec "$bin/mivex" --camera-file "$sequence.avi" "$@"

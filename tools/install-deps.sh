#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the program needs.
# Idempotent: does nothing when all are present. Run as root on Debian 12 (bookworm) or 13 (trixie):
# every package below has the same name on both (CI installs them on each, tools/ci/debian13.sh).
set -euo pipefail

packages=(
  # toolchain
  g++ make cmake pkg-config
  # libraries
  qt6-base-dev libopencv-dev
  # the webcam's MJPEG frames decoded no further than used (the grey plane alone), through
  # libjpeg-turbo's libjpeg interface, which says where a frame's data ran out
  libjpeg62-turbo-dev
  # the update check's HTTP request
  libcurl4-openssl-dev
  # camera recordings (Matroska) written and read; ffmpeg and ffprobe make and check them in the tests
  libavformat-dev libavcodec-dev libavutil-dev ffmpeg
  # pointer and key injection: uinput and the X test extension
  libevdev-dev libx11-dev libxtst-dev
  # the click sound: libsndfile reads it, PulseAudio (or PipeWire's server for it) plays it;
  # python3 writes it at build time
  libsndfile1-dev libpulse-dev python3
  # the face cascade
  opencv-data
  # tests and benchmarks; Xvfb gives the X tests a display of their own
  libgtest-dev libgmock-dev libbenchmark-dev xvfb
  # the checks of the desktop entries; the Debian package and its check
  desktop-file-utils dpkg-dev file lintian
  # a system tray for the program's icon under Xvfb; a window manager for the tests of focus;
  # a private session bus for the tests of a second start, of actions asked on the bus and of the
  # desktop's shortcuts portal
  trayer openbox dbus-daemon dbus-session-bus-common
  # D-Bus's X11 autolaunch (dbus-launch), as most desktops have it: the tests prove that the
  # program never starts a bus of its own through it
  dbus-x11
  # a Wayland compositor with XWayland for the test of a Wayland session
  weston xwayland
  # the desktops' own compositors for the tests on them: GNOME's mutter, KDE's KWin with the desktop
  # portal and its KDE backend (the GlobalShortcuts portal, kglobalaccel inside KWin)
  mutter kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde
  # the format check
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [[ "$status" == installed ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if ((EUID != 0)); then
  echo "install-deps: missing packages: ${missing[*]}; run this script as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

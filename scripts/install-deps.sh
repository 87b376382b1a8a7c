#!/usr/bin/env bash
# Installs every Debian 12 package Corvel Mobivert needs to build, test and run.
# Safe to run more than once; needs root (or sudo).
set -euo pipefail

packages=(
    # toolchain; clang with its run-time libraries (libFuzzer, sanitizers) for the fuzz targets
    build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
    # FFmpeg 5.1 headers, libraries and the encoder-rich codec build
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
    libavcodec-extra ffmpeg-doc
    # GUI: Qt, its X and offscreen platform plug-ins, a font for the window's text
    qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
    # tests
    libgtest-dev libgmock-dev googletest xvfb xauth x11-apps imagemagick
    # the window's notification test (a private session bus) and the desktop entry's check
    dbus-daemon desktop-file-utils
    # independent readers and the test-media generator
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
    gstreamer1.0-plugins-base-apps mediainfo
    # spreading a batch over several machines (scripts/spread-batch.sh)
    parallel
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: every package is already installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"

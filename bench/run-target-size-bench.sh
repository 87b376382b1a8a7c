#!/usr/bin/env bash
# Target-size accuracy: clips of 1, 2 and 8 s (320x240 moving zone plate at 25 fps with a
# stereo tone, written by GStreamer's qtmux) converted by mobivert-cli with each preset that
# codes to a size, at the least size the preset accepts (the one its refusal of 1 kB names)
# and at a middle one. Prints the written size against the size asked and the wall time.
#
# Usage: bench/run-target-size-bench.sh [BUILD_DIR] [PRESETS]
#   BUILD_DIR: a build with mobivert-cli (default build); PRESETS: the preset numbers, quoted
#   (default "22 23 24 25 26", every preset that codes to a size)
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${1:-$ROOT/build}/mobivert-cli
PRESETS=${2:-22 23 24 25 26}
[[ -x $CLI ]] || { echo "no $CLI: build the project first" >&2; exit 1; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/mobivert-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
unset DISPLAY WAYLAND_DISPLAY || true

# clip SECONDS FILE
clip() {
    gst-launch-1.0 -q videotestsrc is-live=false pattern=zone-plate kt=3 kx2=10 ky2=10 kxt=2 \
        num-buffers=$(($1 * 25)) ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! \
        x264enc threads=1 speed-preset=faster key-int-max=25 bitrate=2000 ! h264parse ! \
        qtmux name=m ! filesink location="$2" audiotestsrc is-live=false wave=sine \
        samplesperbuffer=882 num-buffers=$(($1 * 50)) ! audioconvert ! \
        audio/x-raw,format=S16LE,rate=44100,channels=2 ! voaacenc bitrate=128000 ! m.
}

# convert PRESET SIZE CLIP: prints the output's size in bytes.
convert() {
    rm -rf "$WORK/out" "$WORK/cfg" "$WORK/state"
    XDG_CONFIG_HOME=$WORK/cfg XDG_STATE_HOME=$WORK/state "$CLI" -q -p "$1" --target-size "$2" \
        -o "$WORK/out" "$3" >/dev/null 2>&1 || true
    local out
    out=$(find "$WORK/out" -type f 2>/dev/null | head -1)
    [[ -n $out ]] && stat -c %s "$out" || echo 0
}

print_machine
printf "%-6s %-10s %-8s %9s %9s %7s %7s\n" clip preset size asked written share wall_s
for seconds in 1 2 8; do
    clip "$seconds" "$WORK/in$seconds.mp4"
    for preset in $PRESETS; do
        least=$(XDG_CONFIG_HOME=$WORK/cfg "$CLI" -p "$preset" --target-size 1kB -o "$WORK/out" \
            "$WORK/in$seconds.mp4" 2>&1 | grep -o 'at least [0-9]* kB' | grep -o '[0-9]*' || true)
        for size in "${least}kB" $((seconds < 8 ? 150 * seconds : 1000))kB; do
            asked=$((${size%kB} * 1000))
            start=$(date +%s.%N)
            written=$(convert "$preset" "$size" "$WORK/in$seconds.mp4")
            wall=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
            printf "%-6s %-10s %-8s %9d %9d %6.1f%% %7s\n" "${seconds}s" "$preset" "$size" \
                "$asked" "$written" "$(awk -v w="$written" -v a="$asked" 'BEGIN { print w * 100 / a }')" "$wall"
        done
    done
done

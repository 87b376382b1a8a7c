#!/usr/bin/env bash
# Modern presets benchmark: a 30 s 1280x720 clip converted by mobivert-cli with the modern video
# presets at their own settings (constant quality, their encoder speeds, automatic threads), and
# H.264 once more by the floor program at the same encoder settings (libx264 preset veryfast,
# crf 22, AAC 128 kbit/s, the libraries' own thread count). Prints each case's CPU and wall
# time, how many times faster than real time it converts, and the engine against the floor.
#
# Usage: bench/run-modern-bench.sh [BUILD_DIR] [ROUNDS]   (ROUNDS default 3, the median counts)
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 3 "$@"
unset DISPLAY WAYLAND_DISPLAY || true

CLI=$BUILD/mobivert-cli
FLOOR=$BUILD/bench/floor_transcode
SECONDS_IN=30

echo "Generating the input ($SECONDS_IN s of 1280x720 H.264 + AAC) ..."
make_input "$SECONDS_IN" "$WORK/in.mp4"

# cli_convert PRESET: one conversion into a fresh folder, its own settings and journal.
cli_convert() {
    rm -rf "$WORK/out" "$WORK/cfg" "$WORK/state"
    XDG_CONFIG_HOME=$WORK/cfg XDG_STATE_HOME=$WORK/state "$CLI" -q -p "$1" -o "$WORK/out" "$WORK/in.mp4"
}
export -f cli_convert
export CLI WORK

CASES=(h264:22 h265:23 vp9:24 av1:25)
for round in $(seq "$ROUNDS"); do
    echo "Round $round of $ROUNDS ..."
    for c in "${CASES[@]}"; do
        measure "engine_${c%%:*}" bash -c 'cli_convert "$0"' "${c##*:}"
    done
    measure floor_h264 "$FLOOR" "$WORK/in.mp4" "$WORK/floor.mp4" libx264 0 aac 128000 0 \
        "preset=veryfast:crf=22"
done

print_machine
echo "Medians of $ROUNDS rounds:             CPU s  wall s  RSS MB  x real time"
for name in engine_h264 floor_h264 engine_h265 engine_vp9 engine_av1; do
    printf "  %-18s %7s %7s %7s %8s\n" "$name" "$(median "$name" 1)" "$(median "$name" 2)" \
        "$(awk -v k="$(median "$name" 3)" 'BEGIN { printf "%.1f", k / 1024 }')" \
        "$(ratio "$SECONDS_IN" "$(median "$name" 2)")"
done
echo "H.264 engine against floor: CPU $(ratio "$(median engine_h264 1)" "$(median floor_h264 1)")," \
    "wall $(ratio "$(median engine_h264 2)" "$(median floor_h264 2)")"

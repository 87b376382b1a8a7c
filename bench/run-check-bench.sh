#!/usr/bin/env bash
# Output check benchmark: a 10 s 1280x720 H.264 + AAC clip converted by mobivert-cli with the
# "MPEG-4 Video (*.mp4)" and "AVI Video (*.avi)" presets (each output is read back and checked
# as part of the conversion), against the time of the check alone, read back many times from
# the same output. Prints the check's share of a conversion.
#
# Usage: bench/run-check-bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 3 "$@"
if [[ ! -x $BUILD/bench/bench_output_check ]]; then
    ninja -C "$BUILD" bench_output_check >/dev/null
fi

CLI=$BUILD/mobivert-cli
CHECK=$BUILD/bench/bench_output_check
export XDG_STATE_HOME=$WORK/state

echo "Generating the input (10 s of 1280x720 H.264 + AAC) ..."
make_input 10 "$WORK/in.mp4"

declare -A CHECK_MS
for preset in "MPEG-4 Video (*.mp4)" "AVI Video (*.avi)"; do
    name=${preset%% *}
    for round in $(seq "$ROUNDS"); do
        echo "$preset, round $round of $ROUNDS ..."
        rm -rf "$WORK/out"
        measure "$name" "$CLI" -q -p "$preset" -o "$WORK/out" "$WORK/in.mp4"
    done
    output=$(find "$WORK/out" -maxdepth 1 -type f ! -name '.*' | head -n 1)
    read -r ms found < <("$CHECK" "$WORK/in.mp4" "$output" 50)
    CHECK_MS[$name]=$ms
    echo "  check of $(basename "$output"): $ms ms ($found)"
done

echo
print_machine
echo "Medians of $ROUNDS conversions (CPU s / wall s / peak RSS MB), and of 50 checks:"
for name in MPEG-4 AVI; do
    print_medians "$name"
    wall=$(median "$name" 2)
    echo "    check ${CHECK_MS[$name]} ms, share of the conversion's wall time:" \
        "$(awk -v c="${CHECK_MS[$name]}" -v w="$wall" 'BEGIN { printf "%.3f %%", c / 10 / w }')"
done

#!/usr/bin/env bash
# Batch benchmark: eight short files converted by the command-line front end with one
# conversion at a time (-j 1, the component's StartConvert(1)) and with two at once (-j 2),
# measured side by side in one run. Prints the speed-up of two at once.
#
# Usage: bench/run-batch-bench.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a build tree configured with -DMOBIVERT_BUILD_BENCH=ON (default: build-bench,
#              configured and built here when missing)
#   ROUNDS     runs of every case; the median counts (default 3)
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 3 "$@"

CLI=$BUILD/mobivert-cli
PRESET="MPEG-4 Video (*.mp4)"

echo "Generating eight inputs (5 s of 640x480 H.264 + AAC each) ..."
make_input 5 "$WORK/in0.mp4" 640 480
for i in 1 2 3 4 5 6 7; do cp "$WORK/in0.mp4" "$WORK/in$i.mp4"; done
INPUTS=("$WORK"/in?.mp4)

for round in $(seq "$ROUNDS"); do
    echo "Round $round of $ROUNDS ..."
    rm -rf "$WORK/out1" "$WORK/out2"
    measure one_at_a_time "$CLI" -q -j 1 -p "$PRESET" -o "$WORK/out1" "${INPUTS[@]}"
    measure two_at_once "$CLI" -q -j 2 -p "$PRESET" -o "$WORK/out2" "${INPUTS[@]}"
done

echo
print_machine
echo "Medians of $ROUNDS rounds, eight files (CPU s / wall s / peak RSS MB):"
print_medians one_at_a_time two_at_once
echo
echo "Speed-up of two at once (wall -j 1 / wall -j 2): $(ratio "$(median one_at_a_time 2)" "$(median two_at_once 2)")"

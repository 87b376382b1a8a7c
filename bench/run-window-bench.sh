#!/usr/bin/env bash
# Window benchmark: the window (offscreen) with lists of 1,000 and 10,000 tiny WAV files: adding
# them through Add, removing every third row with one press of Remove, converting the rest to
# WAV and clearing the list. Prints each step's wall time and cost per row (which stays flat
# when no step does work that grows with the square of the list) and the longest time the
# window's event loop went without turning during the batch.
#
# Usage: bench/run-window-bench.sh [BUILD_DIR] [COUNTS]
#   BUILD_DIR  a build tree configured with -DMOBIVERT_BUILD_BENCH=ON -DMOBIVERT_BUILD_GUI=ON
#              (default: build-bench-gui, configured and built here when missing)
#   COUNTS     list lengths (default "1000 10000")
#   MOBIVERT_WORKER (environment) as for the window; "none" converts inside it
#   LIST_ONLY  (environment) when set, no conversion: adding, removing and clearing only
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench-gui}
COUNTS=${2:-1000 10000}
# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/mobivert-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
if [[ ! -x $BUILD/bench/bench_window ]]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMOBIVERT_BUILD_BENCH=ON -DMOBIVERT_BUILD_TESTS=OFF -DMOBIVERT_BUILD_GUI=ON >/dev/null
    ninja -C "$BUILD" bench_window mobivert-worker >/dev/null
fi

echo "Generating the input (0.1 s of 8 kHz mono WAV) ..."
gst-launch-1.0 -q audiotestsrc num-buffers=1 samplesperbuffer=800 \
    ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! wavenc ! filesink location="$WORK/tiny.wav"

print_machine
for count in $COUNTS; do
    echo
    echo "$count files (worker: ${MOBIVERT_WORKER:-$BUILD/mobivert-worker}):"
    XDG_STATE_HOME="$WORK/state" QT_QPA_PLATFORM=offscreen \
        MOBIVERT_WORKER=${MOBIVERT_WORKER:-$BUILD/mobivert-worker} \
        /usr/bin/time -f "whole run: %e s wall, %M kB peak RSS" \
        "$BUILD/bench/bench_window" "$count" "$WORK/tiny.wav" ${LIST_ONLY:+list}
done

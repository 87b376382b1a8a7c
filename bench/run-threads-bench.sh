#!/usr/bin/env bash
# Codec threads benchmark: one 60 s 1280x720 H.264 + AAC conversion with the "MPEG-4 Video
# (*.mp4)" preset (libx264) and with the "DivX Video (*.avi)" preset (mpeg4), each with the
# automatic thread count and with one thread ("threads=1" for the decoders and the encoders);
# and a batch run two at a time (-j 2) with automatic threads and with one thread. All cases
# are measured side by side in one run, by the command-line front end.
#
# Usage: bench/run-threads-bench.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a build tree configured with -DMOBIVERT_BUILD_BENCH=ON (default: build-bench,
#              configured and built here when missing)
#   ROUNDS     runs of every case; the median counts (default 3)
#
# Targets: automatic threads take at most 0.6 x the wall time of one thread for a single
# conversion; with two conversions at once, automatic threads are no slower than one thread
# each (the cores are shared, not oversubscribed).
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 3 "$@"

CLI=$BUILD/mobivert-cli
X264="MPEG-4 Video (*.mp4)"
DIVX="DivX Video (*.avi)"
ONE=(-i threads=1 -x threads=1)

echo "Generating inputs (60 s of 1280x720, and eight times 5 s of 640x480, H.264 + AAC) ..."
make_input 60 "$WORK/in60.mp4"
make_input 5 "$WORK/b0.mp4" 640 480
for i in 1 2 3 4 5 6 7; do cp "$WORK/b0.mp4" "$WORK/b$i.mp4"; done
BATCH=("$WORK"/b?.mp4)

convert() { # NAME OUTPUT_FOLDER CLI_ARGUMENTS...
    local name=$1 out=$2
    shift 2
    rm -rf "$out"
    measure "$name" "$CLI" -q -o "$out" "$@"
}

# pair FIRST SECOND: the two cases of a comparison, one after the other; odd rounds run the
# automatic case first, even rounds the one-thread case, so that a machine whose speed drifts
# during a round favours neither.
pair() {
    if ((round % 2)); then "$1"; "$2"; else "$2"; "$1"; fi
}
x264_auto() { convert x264_auto "$WORK/o1" -p "$X264" "$WORK/in60.mp4"; }
x264_one() { convert x264_one "$WORK/o2" -p "$X264" "${ONE[@]}" "$WORK/in60.mp4"; }
divx_auto() { convert divx_auto "$WORK/o3" -p "$DIVX" "$WORK/in60.mp4"; }
divx_one() { convert divx_one "$WORK/o4" -p "$DIVX" "${ONE[@]}" "$WORK/in60.mp4"; }
batch_auto() { convert batch_j2_auto "$WORK/o5" -j 2 -p "$X264" "${BATCH[@]}"; }
batch_one() { convert batch_j2_one "$WORK/o6" -j 2 -p "$X264" "${ONE[@]}" "${BATCH[@]}"; }

for round in $(seq "$ROUNDS"); do
    echo "Round $round of $ROUNDS ..."
    pair x264_auto x264_one
    pair divx_auto divx_one
    pair batch_auto batch_one
done

echo
print_machine
echo "Medians of $ROUNDS rounds (CPU s / wall s / peak RSS MB):"
print_medians x264_auto x264_one divx_auto divx_one batch_j2_auto batch_j2_one
echo
echo "Ratios:"
echo "  MPEG-4 preset (libx264)  automatic / one thread, wall  $(ratio "$(median x264_auto 2)" "$(median x264_one 2)")   (target <= 0.6)"
echo "  DivX preset (mpeg4)      automatic / one thread, wall  $(ratio "$(median divx_auto 2)" "$(median divx_one 2)")   (target <= 0.6)"
echo "  -j 2 batch               automatic / one thread, wall  $(ratio "$(median batch_j2_auto 2)" "$(median batch_j2_one 2)")   (target <= 1.0)"
echo "  MPEG-4 preset (libx264)  automatic / one thread, CPU   $(ratio "$(median x264_auto 1)" "$(median x264_one 1)")"
echo "  DivX preset (mpeg4)      automatic / one thread, CPU   $(ratio "$(median divx_auto 1)" "$(median divx_one 1)")"
echo "  -j 2 batch               automatic / one thread, CPU   $(ratio "$(median batch_j2_auto 1)" "$(median batch_j2_one 1)")"

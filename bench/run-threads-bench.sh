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
#   ROUNDS     runs of every case; the median counts (default 4; keep it even, so that each
#              case of a pair runs first as often as second)
#   CASES      (environment) which pairs to run: any of "x264 divx batch" (default all three)
#
# Targets: automatic threads take at most 0.6 x the wall time of one thread for a single
# conversion; with two conversions at once, automatic threads are no slower than one thread
# each (the cores are shared, not oversubscribed).
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 4 "$@"

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
    for case in ${CASES:-x264 divx batch}; do
        pair "${case}_auto" "${case}_one"
    done
done

echo
print_machine
echo "Medians of $ROUNDS rounds (CPU s / wall s / peak RSS MB):"
names=()
for case in ${CASES:-x264 divx batch}; do
    [[ $case == batch ]] && names+=(batch_j2_auto batch_j2_one) || names+=("${case}_auto" "${case}_one")
done
print_medians "${names[@]}"
echo
echo "Ratios:"
ran() { [[ " ${names[*]} " == *" $1 "* ]]; }
# show LABEL NAME_AUTO NAME_ONE FIELD TARGET: one ratio line, for cases that ran.
show() {
    ran "$2" && echo "  $1  $(ratio "$(median "$2" "$4")" "$(median "$3" "$4")")   $5"
    return 0
}
show "MPEG-4 preset (libx264)  automatic / one thread, wall" x264_auto x264_one 2 "(target <= 0.6)"
show "DivX preset (mpeg4)      automatic / one thread, wall" divx_auto divx_one 2 "(target <= 0.6)"
show "-j 2 batch               automatic / one thread, wall" batch_j2_auto batch_j2_one 2 "(target <= 1.0)"
show "MPEG-4 preset (libx264)  automatic / one thread, CPU " x264_auto x264_one 1 ""
show "DivX preset (mpeg4)      automatic / one thread, CPU " divx_auto divx_one 1 ""
show "-j 2 batch               automatic / one thread, CPU " batch_j2_auto batch_j2_one 1 ""

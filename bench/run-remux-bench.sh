#!/usr/bin/env bash
# Stream-copy benchmark: a remux ("vcodec=copy", "acodec=copy") of a 2-minute 720p H.264 + AAC
# file through an engine session, against a plain file copy of the same file (the disk speed
# of this machine; both end with their output synced to the disk), measured side by side in
# one run; the peak memory of a 30 s and a 2-minute
# remux; and the allocations per packet in the steady state (heaptrack, when installed).
#
# Usage: bench/run-remux-bench.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a build tree configured with -DMOBIVERT_BUILD_BENCH=ON (default: build-bench,
#              configured and built here when missing)
#   ROUNDS     runs of every case; the median counts (default 5)
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 5 "$@"

ENGINE=$BUILD/bench/bench_engine
COPY='vcodec=copy\nacodec=copy'

echo "Generating inputs (30 s and 120 s of 1280x720 H.264 + AAC) ..."
make_input 30 "$WORK/in30.mp4"
make_input 120 "$WORK/in120.mp4"

for round in $(seq "$ROUNDS"); do
    echo "Round $round of $ROUNDS ..."
    rm -f "$WORK"/out*.mp4 "$WORK/copy.mp4"
    # Both writers end with their output on the disk, not only in the page cache.
    measure file_copy bash -c 'cp "$0" "$1" && sync "$1"' "$WORK/in120.mp4" "$WORK/copy.mp4"
    measure remux_120s bash -c '"$0" "$1" "$2" "$3" && sync "$2"' \
        "$ENGINE" "$WORK/in120.mp4" "$WORK/out120.mp4" "$COPY"
    measure remux_30s bash -c '"$0" "$1" "$2" "$3" && sync "$2"' \
        "$ENGINE" "$WORK/in30.mp4" "$WORK/out30.mp4" "$COPY"
done

# allocations FILE: calls to allocation functions in one remux of FILE, as heaptrack counts them.
allocations() {
    heaptrack -o "$WORK/heap" "$ENGINE" "$1" "$WORK/heap-out.mp4" "$COPY" >/dev/null 2>&1
    heaptrack_print -f "$WORK"/heap.*zst 2>/dev/null |
        awk '/calls to allocation functions:/ { print $5 }'
    rm -f "$WORK"/heap.* "$WORK/heap-out.mp4"
}

# packets FILE: video and audio packets in FILE, as mediainfo counts them.
packets() {
    local video audio
    video=$(mediainfo --Inform="Video;%FrameCount%" "$1")
    audio=$(mediainfo --Inform="Audio;%FrameCount%" "$1")
    echo $((video + audio))
}

size_mb=$(stat -c %s "$WORK/in120.mp4" | awk '{ printf "%.1f", $1 / 1e6 }')
echo
print_machine
echo "Medians of $ROUNDS rounds (CPU s / wall s / peak RSS MB):"
print_medians file_copy remux_120s remux_30s
echo
echo "Speed (2-minute input, $size_mb MB):"
echo "  file copy  $(awk -v s="$size_mb" -v t="$(median file_copy 2)" 'BEGIN { printf "%.0f", s / t }') MB/s"
echo "  remux      $(awk -v s="$size_mb" -v t="$(median remux_120s 2)" 'BEGIN { printf "%.0f", s / t }') MB/s"
echo "  remux wall / copy wall       $(ratio "$(median remux_120s 2)" "$(median file_copy 2)")" \
    "(the remux includes loading the libraries; a 30 s remux takes $(median remux_30s 2) s)"
echo "  Peak memory remux 120 s / 30 s  $(ratio "$(median remux_120s 3)" "$(median remux_30s 3)")"
if command -v heaptrack >/dev/null && command -v heaptrack_print >/dev/null; then
    a30=$(allocations "$WORK/in30.mp4")
    a120=$(allocations "$WORK/in120.mp4")
    p30=$(packets "$WORK/in30.mp4")
    p120=$(packets "$WORK/in120.mp4")
    echo "  Allocation calls: $a30 (30 s), $a120 (120 s); per extra packet" \
        "$(awk -v a="$a30" -v b="$a120" -v p="$p30" -v q="$p120" 'BEGIN { printf "%.2f", (b - a) / (q - p) }')"
fi

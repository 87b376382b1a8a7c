#!/usr/bin/env bash
# Conversion benchmark: the engine against a floor program (FFmpeg used directly, nothing else)
# and against a GStreamer pipeline with the same libavcodec encoders, measured side by side in
# one run; and the engine's peak memory for a short and a long input. The engine runs with one
# codec thread ("threads=1") as the floor does, and once more with its automatic count against
# the floor with as many threads as the machine has cores.
#
# Usage: bench/run-video-bench.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a build tree configured with -DMOBIVERT_BUILD_BENCH=ON (default: build-bench,
#              configured and built here when missing)
#   ROUNDS     runs of every case; the median counts (default 3)
#
# Each round runs the cases one after the other (engine, floor, GStreamer), so that the load
# of the machine at a given moment falls on all of them alike. CPU time is user + system time
# of the process and its threads; wall time is elapsed time; memory is the peak resident size.
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 3 "$@"
unset DISPLAY WAYLAND_DISPLAY || true

ENGINE=$BUILD/bench/bench_engine
FLOOR=$BUILD/bench/floor_transcode

# The same conversion as a GStreamer pipeline with the same libavcodec encoders, one thread
# each. avenc_mpeg4 (gst-libav 1.22) drops every picture whose segment is not the encoder's
# own, which "identity single-segment=true" mends; its timestamps are also unusual enough
# that the muxer waits for the audio, so the queues may not block.
gst_convert() {
    local input=$1 output=$2
    local q='queue max-size-time=0 max-size-buffers=0 max-size-bytes=0'
    gst-launch-1.0 -q filesrc location="$input" ! qtdemux name=d \
        d.video_0 ! $q ! h264parse ! avdec_h264 max-threads=1 \
        ! identity single-segment=true ! avenc_mpeg4 threads=1 bitrate=1500000 \
        ! $q ! mp4mux name=m ! filesink location="$output" \
        d.audio_0 ! $q ! aacparse ! avdec_aac ! audioconvert \
        ! avenc_aac bitrate=128000 ! $q ! m.
}
export -f gst_convert

echo "Generating inputs (30 s, 10 s and 60 s of 1280x720 H.264 + AAC) ..."
make_input 30 "$WORK/in30.mp4"
make_input 10 "$WORK/in10.mp4"
make_input 60 "$WORK/in60.mp4"

MPEG4_OPTIONS='vcodec=mpeg4\nb=1500k\nacodec=aac\nab=128k\nthreads=1'
X264_OPTIONS='vcodec=libx264\nb=1500k\nacodec=aac\nab=128k\nthreads=1'
X264_AUTO='vcodec=libx264\nb=1500k\nacodec=aac\nab=128k'
ONE=threads=1
CORES=$(nproc)

for round in $(seq "$ROUNDS"); do
    echo "Round $round of $ROUNDS ..."
    measure engine_mpeg4 "$ENGINE" "$WORK/in30.mp4" "$WORK/e.mp4" "$MPEG4_OPTIONS" "$ONE"
    measure floor_mpeg4 "$FLOOR" "$WORK/in30.mp4" "$WORK/f.mp4" mpeg4 1500000 aac 128000
    measure gst_mpeg4 bash -c 'gst_convert "$0" "$1"' "$WORK/in30.mp4" "$WORK/g.mp4"
    measure engine_x264 "$ENGINE" "$WORK/in30.mp4" "$WORK/e264.mp4" "$X264_OPTIONS" "$ONE"
    measure floor_x264 "$FLOOR" "$WORK/in30.mp4" "$WORK/f264.mp4" libx264 1500000 aac 128000
    measure engine_x264_auto "$ENGINE" "$WORK/in30.mp4" "$WORK/e264a.mp4" "$X264_AUTO"
    measure floor_x264_cores "$FLOOR" "$WORK/in30.mp4" "$WORK/f264a.mp4" libx264 1500000 aac \
        128000 "$CORES"
    measure engine_10s "$ENGINE" "$WORK/in10.mp4" "$WORK/e10.mp4" "$MPEG4_OPTIONS" "$ONE"
    measure engine_60s "$ENGINE" "$WORK/in60.mp4" "$WORK/e60.mp4" "$MPEG4_OPTIONS" "$ONE"
done

echo
print_machine
echo "Medians of $ROUNDS rounds, 30 s 1280x720 input unless noted (CPU s / wall s / peak RSS MB):"
print_medians engine_mpeg4 floor_mpeg4 gst_mpeg4 engine_x264 floor_x264 engine_x264_auto \
    floor_x264_cores engine_10s engine_60s
echo
echo "Ratios (target: engine / floor <= 1.05):"
echo "  MPEG-4 + AAC   engine/floor CPU  $(ratio "$(median engine_mpeg4 1)" "$(median floor_mpeg4 1)")"
echo "  MPEG-4 + AAC   engine/floor wall $(ratio "$(median engine_mpeg4 2)" "$(median floor_mpeg4 2)")"
echo "  libx264 + AAC  engine/floor CPU  $(ratio "$(median engine_x264 1)" "$(median floor_x264 1)")"
echo "  libx264 + AAC  engine/floor wall $(ratio "$(median engine_x264 2)" "$(median floor_x264 2)")"
echo "  MPEG-4 + AAC   engine/GStreamer CPU  $(ratio "$(median engine_mpeg4 1)" "$(median gst_mpeg4 1)")"
echo "  MPEG-4 + AAC   engine/GStreamer wall $(ratio "$(median engine_mpeg4 2)" "$(median gst_mpeg4 2)")"
echo "  Peak memory    engine 60 s / 10 s    $(ratio "$(median engine_60s 3)" "$(median engine_10s 3)")"
echo
echo "Peak memory (target: engine / floor <= 1.15):"
echo "  MPEG-4 + AAC   engine/floor          $(ratio "$(median engine_mpeg4 3)" "$(median floor_mpeg4 3)")"
echo "  libx264 + AAC  engine/floor          $(ratio "$(median engine_x264 3)" "$(median floor_x264 3)")"
echo "  libx264 + AAC  automatic threads / floor with $CORES threads" \
    "$(ratio "$(median engine_x264_auto 3)" "$(median floor_x264_cores 3)")"

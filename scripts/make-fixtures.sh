#!/usr/bin/env bash
# Generate the small media files used by the tests and the bundled demo clip.
#
# Usage: make-fixtures.sh OUTDIR
#
# Every file is made with GStreamer (gst-launch-1.0) using GStreamer's own
# encoders and muxers. The gst-libav avenc_* encoders are used only for codecs
# GStreamer has no native encoder for (MPEG-4 part 2, WMV2, WMA v2); FFmpeg's
# muxers (avmux_*) are never used, so the files do not come from the library
# under test's own muxing code.
#
# Each file is written under a temporary name and renamed when complete, so an
# interrupted run never leaves a half-written file behind. Files that already
# exist are kept, which makes re-running cheap. OUTDIR/.stamp is written last.
#
# Needs: gstreamer1.0-tools, gstreamer1.0-plugins-base, -good, -bad, -ugly,
# gstreamer1.0-libav.
set -euo pipefail

if [[ $# -ne 1 || -z "$1" ]]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi

OUT=$1
mkdir -p "$OUT"

command -v gst-launch-1.0 >/dev/null 2>&1 || {
    echo "make-fixtures: gst-launch-1.0 not found (install gstreamer1.0-tools)" >&2
    exit 1
}

# Headless: nothing here opens a window, but make sure no plugin tries to.
unset DISPLAY WAYLAND_DISPLAY || true

TMP_CURRENT=""
LOG=$(mktemp "${TMPDIR:-/tmp}/make-fixtures.XXXXXX.log")
cleanup() {
    if [[ -n "$TMP_CURRENT" ]]; then
        rm -f -- "$TMP_CURRENT"
    fi
    rm -f -- "$LOG"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------
# Building blocks. Sources are bounded by num-buffers so every run produces
# the same length. Audio buffers hold exactly 10 ms so the sample counts are
# exact (200 buffers = 2 s).

# video SRC: video W H FPS FRAMES [PATTERN] [PAR]
video() {
    local w=$1 h=$2 fps=$3 frames=$4 pattern=${5:-ball} par=${6:-1/1}
    printf 'videotestsrc is-live=false pattern=%s num-buffers=%s ! ' "$pattern" "$frames"
    printf 'video/x-raw,format=I420,width=%s,height=%s,framerate=%s/1,pixel-aspect-ratio=%s' \
        "$w" "$h" "$fps" "$par"
}

# audio SRC: audio RATE CHANNELS SECONDS [FREQ] [VOLUME]
audio() {
    local rate=$1 ch=$2 secs=$3 freq=${4:-440} vol=${5:-0.5}
    local spb=$((rate / 100)) nbuf=$((secs * 100))
    printf 'audiotestsrc is-live=false wave=sine freq=%s volume=%s samplesperbuffer=%s num-buffers=%s ! ' \
        "$freq" "$vol" "$spb" "$nbuf"
    printf 'audioconvert ! audio/x-raw,format=S16LE,layout=interleaved,rate=%s,channels=%s' "$rate" "$ch"
}

# H.264 encoder: short GOP (key frame every second at 25 fps), a few B-frames.
X264='x264enc speed-preset=faster key-int-max=25 bframes=2 bitrate=600 ! video/x-h264,profile=high'
AAC='voaacenc bitrate=128000'
MP3='lamemp3enc target=bitrate bitrate=128 cbr=true'

# gen NAME PIPELINE... : run the pipeline (with its sink writing to the
# temporary file "@OUT@") unless NAME already exists.
gen() {
    local -
    set -f  # the pipeline text is word-split below; never glob it
    local name=$1
    shift
    local dest="$OUT/$name"
    if [[ -s "$dest" ]]; then
        return 0
    fi
    local tmp="$OUT/.$name.part"
    TMP_CURRENT=$tmp
    rm -f -- "$tmp"
    local pipeline=$*
    pipeline=${pipeline//@OUT@/$tmp}
    # shellcheck disable=SC2086  # the pipeline is meant to be word-split
    if ! gst-launch-1.0 -q $pipeline >"$LOG" 2>&1 || [[ ! -s "$tmp" ]]; then
        echo "make-fixtures: FAILED to make $name" >&2
        cat "$LOG" >&2
        rm -f -- "$tmp"
        exit 1
    fi
    mv -f -- "$tmp" "$dest"
    TMP_CURRENT=""
    printf 'made %-22s %8d bytes\n' "$name" "$(stat -c %s "$dest")"
}

# ---------------------------------------------------------------------------
# Audio/video files in the common containers.

gen h264_aac.mp4 \
    "$(video 640 480 25 50 ball) ! $X264 ! h264parse ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $AAC ! m."

gen mpeg4_mp3.avi \
    "$(video 320 240 25 50 smpte) ! avenc_mpeg4 bitrate=400000 gop-size=25 ! mpeg4videoparse ! avimux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $MP3 ! mpegaudioparse ! m."

gen vp8_vorbis.webm \
    "$(video 320 240 25 50 ball) ! vp8enc deadline=1 cpu-used=8 keyframe-max-dist=25 target-bitrate=400000 ! webmmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! audioconvert ! vorbisenc quality=0.3 ! m."

gen theora_vorbis.ogg \
    "$(video 320 240 25 50 ball) ! theoraenc keyframe-force=25 bitrate=400 ! oggmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! audioconvert ! vorbisenc quality=0.3 ! m."

gen wmv2_wma.asf \
    "$(video 320 240 25 50 ball) ! avenc_wmv2 bitrate=400000 gop-size=25 ! asfmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! audioconvert ! avenc_wmav2 bitrate=96000 ! m."

# mpeg2enc format=3 is generic MPEG-2 (format=0 would be MPEG-1).
gen mpeg2_mp2.mpg \
    "$(video 320 240 25 50 ball) ! mpeg2enc format=3 bitrate=1000 min-gop-size=12 max-gop-size=12 b-per-refframe=2 sequence-header-every-gop=true ! mpegvideoparse ! mpegpsmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! twolamemp2enc bitrate=192 ! mpegaudioparse ! m."

gen h264.ts \
    "$(video 320 240 25 50 ball) ! $X264 ! h264parse ! mpegtsmux ! filesink location=@OUT@"

gen h264_pcm.mov \
    "$(video 320 240 25 50 ball) ! $X264 ! h264parse ! qtmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! m."

gen h264_mp3.flv \
    "$(video 320 240 25 50 ball) ! $X264 ! h264parse ! flvmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $MP3 ! mpegaudioparse ! m."

# ---------------------------------------------------------------------------
# Audio-only files.

gen mono8k.wav \
    "$(audio 8000 1 2 440) ! wavenc ! filesink location=@OUT@"

gen sine_stereo_44k.wav \
    "$(audio 44100 2 2 1000 0.25) ! wavenc ! filesink location=@OUT@"

gen tone.mp3 \
    "$(audio 44100 2 2 1000 0.25) ! $MP3 ! xingmux ! filesink location=@OUT@"

# 5.1: a different tone in each channel (FL FR FC LFE RL RR), so a wrong
# channel mapping or downmix is audible and measurable. The identity
# mix-matrix only attaches the 5.1 positions to the interleaved channels.
surround=""
for f in 300 400 500 60 700 800; do
    surround+=" audiotestsrc is-live=false wave=sine freq=$f volume=0.3 samplesperbuffer=480 num-buffers=200 ! audio/x-raw,rate=48000,channels=1 ! i."
done
ident=""
for r in 0 1 2 3 4 5; do
    row=""
    for c in 0 1 2 3 4 5; do
        v="(float)0.0"
        [[ $r == "$c" ]] && v="(float)1.0"
        row+="${row:+,}$v"
    done
    ident+="${ident:+,}<$row>"
done
gen surround51_48k.flac \
    "interleave name=i ! audioconvert mix-matrix=<$ident> ! audio/x-raw,format=S16LE,channels=6,channel-mask=(bitmask)0x3f,rate=48000 ! flacenc ! filesink location=@OUT@" \
    "$surround"

# ---------------------------------------------------------------------------
# Video edge cases.

# 322x242: not a multiple of 16 (encoder pads to 336x256 and signals cropping).
gen odd_size.mp4 \
    "$(video 322 242 25 50 ball) ! $X264 ! h264parse ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $AAC ! m."

# Sample aspect ratio 8:9 is written into the H.264 VUI by x264enc.
gen sar_8_9.mp4 \
    "$(video 640 480 25 25 smpte 8/9) ! $X264 ! h264parse ! mp4mux ! filesink location=@OUT@"

gen fps30.mp4 \
    "$(video 320 240 30 60 ball) ! x264enc speed-preset=faster key-int-max=30 bframes=2 bitrate=400 ! h264parse ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $AAC ! m."

gen fps15.mp4 \
    "$(video 320 240 15 30 ball) ! x264enc speed-preset=faster key-int-max=15 bframes=2 bitrate=400 ! h264parse ! mp4mux ! filesink location=@OUT@"

# ---------------------------------------------------------------------------
# The demo clip shipped with the program.

gen sample.mp4 \
    "$(video 320 240 25 75 ball) ! $X264 ! h264parse ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 3 440) ! $AAC ! m."

date -u +%Y-%m-%dT%H:%M:%SZ >"$OUT/.stamp"

#!/usr/bin/env bash
# Generate the small media files used by the tests, and the bundled demo clip.
#
# Usage: make-fixtures.sh OUTDIR
#
# Every file is made with GStreamer (gst-launch-1.0) using GStreamer's own
# encoders and muxers, so the files do not come from the libraries the
# program itself uses. The gst-libav avenc_* encoders are used only for the
# codecs GStreamer has no encoder of its own for (MPEG-4 part 2, WMV2,
# WMA v2); FFmpeg's muxers (avmux_*) are never used.
#
# Each file is written under a temporary name and renamed when complete, so an
# interrupted run never leaves a half-written file behind. Files that already
# exist are kept, which makes re-running cheap. OUTDIR/.stamp is written last.
#
# Needs: gstreamer1.0-tools, gstreamer1.0-plugins-base, -good, -bad, -ugly,
# gstreamer1.0-libav (and coreutils, grep).
set -euo pipefail

if [[ $# -ne 1 || -z "$1" ]]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi

OUT=$1
# The pipelines are passed to gst-launch-1.0 as words, so paths with
# white space would be split.
if [[ $OUT =~ [[:space:]] ]]; then
    echo "make-fixtures: OUTDIR must not contain white space: $OUT" >&2
    exit 2
fi
mkdir -p "$OUT"

command -v gst-launch-1.0 >/dev/null 2>&1 || {
    echo "make-fixtures: gst-launch-1.0 not found (install gstreamer1.0-tools)" >&2
    exit 1
}

# Headless: nothing here opens a window, but make sure no plugin tries to.
unset DISPLAY WAYLAND_DISPLAY || true

TMP_FILES=()
LOG=$(mktemp "${TMPDIR:-/tmp}/make-fixtures.XXXXXX")
cleanup() {
    local f
    for f in "${TMP_FILES[@]}"; do
        rm -f -- "$f"
    done
    rm -f -- "$LOG"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------
# Building blocks. Sources are bounded by num-buffers so every run produces
# the same length. Audio buffers hold exactly 10 ms, so 100 buffers = 1 s.

# video W H FPS FRAMES [PATTERN] [PAR]
video() {
    local w=$1 h=$2 fps=$3 frames=$4 pattern=${5:-ball} par=${6:-1/1}
    printf 'videotestsrc is-live=false pattern=%s num-buffers=%s ! ' "$pattern" "$frames"
    printf 'video/x-raw,format=I420,width=%s,height=%s,framerate=%s/1,pixel-aspect-ratio=%s' \
        "$w" "$h" "$fps" "$par"
}

# audio RATE CHANNELS SECONDS [FREQ] [VOLUME]  (volume 0.25 = peak at -12 dBFS)
audio() {
    local rate=$1 ch=$2 secs=$3 freq=${4:-440} vol=${5:-0.5}
    local spb=$((rate / 100)) nbuf=$((secs * 100))
    printf 'audiotestsrc is-live=false wave=sine freq=%s volume=%s samplesperbuffer=%s num-buffers=%s ! ' \
        "$freq" "$vol" "$spb" "$nbuf"
    printf 'audioconvert ! audio/x-raw,format=S16LE,layout=interleaved,rate=%s,channels=%s' "$rate" "$ch"
}

# x264 KEYINT : H.264 High profile with B-frames and a short GOP. One
# thread: with more, x264 output varies from run to run.
x264() {
    printf 'x264enc threads=1 speed-preset=faster key-int-max=%s bframes=2 bitrate=600 ! video/x-h264,profile=high ! h264parse' "$1"
}
AAC='voaacenc bitrate=128000'
MP3='lamemp3enc target=bitrate bitrate=128 cbr=true ! mpegaudioparse'
VORBIS='audioconvert ! vorbisenc quality=0.3'
# Video encoders built on GstVideoEncoder may shift their timestamps by
# 1000 h inside a matching segment; asfmux writes the raw timestamps, so
# turn them into running time first.
RUNNING_TIME='identity single-segment=true'
ASF_PACKET=4800

# run_pipeline TEXT : run one gst-launch pipeline; on failure print its log.
run_pipeline() {
    local -
    set -f # the pipeline text is word-split below; never glob it
    # shellcheck disable=SC2086  # word splitting is intended
    if ! gst-launch-1.0 -q $1 >"$LOG" 2>&1; then
        cat "$LOG" >&2
        return 1
    fi
}

# gen NAME [--pre PIPELINE] [--post COMMAND] PIPELINE...
#   Makes OUTDIR/NAME unless it exists. The pipeline writes to "@OUT@".
#   --pre runs a pipeline first that writes an intermediate file "@MID@"
#   which the main pipeline may read; --post runs COMMAND FILE on the result
#   before it is renamed into place.
gen() {
    local name=$1
    shift
    local pre="" post=""
    while [[ $# -gt 0 ]]; do
        case $1 in
        --pre) pre=$2; shift 2 ;;
        --post) post=$2; shift 2 ;;
        *) break ;;
        esac
    done
    local dest="$OUT/$name"
    if [[ -s "$dest" ]]; then
        return 0
    fi
    local tmp="$OUT/.$name.part" mid="$OUT/.$name.mid"
    TMP_FILES+=("$tmp" "$mid")
    rm -f -- "$tmp" "$mid"
    local pipeline=$*
    pipeline=${pipeline//@OUT@/$tmp}
    pipeline=${pipeline//@MID@/$mid}
    pre=${pre//@MID@/$mid}
    if { [[ -n "$pre" ]] && ! run_pipeline "$pre"; } ||
        ! run_pipeline "$pipeline" ||
        [[ ! -s "$tmp" ]] ||
        { [[ -n "$post" ]] && ! $post "$tmp"; }; then
        echo "make-fixtures: FAILED to make $name" >&2
        rm -f -- "$tmp" "$mid"
        exit 1
    fi
    rm -f -- "$mid"
    mv -f -- "$tmp" "$dest"
    printf 'made %-22s %8d bytes\n' "$name" "$(stat -c %s "$dest")"
}

# read_le FILE OFFSET BYTES : unsigned little-endian integer.
read_le() {
    od -An -v --endian=little -t "u$3" -j "$2" -N "$3" "$1" | tr -d ' \n'
}

# write_le FILE OFFSET BYTES VALUE
write_le() {
    local f=$1 pos=$2 n=$3 v=$4 i bytes=""
    for ((i = 0; i < n; i++)); do
        bytes+=$(printf '\\x%02x' $(((v >> (8 * i)) & 0xff)))
    done
    # shellcheck disable=SC2059  # the escapes are the data
    printf "$bytes" | dd of="$f" bs=1 seek="$pos" conv=notrunc status=none
}

# asfmux (GStreamer 1.22) ends the stream with a partly filled data packet
# whose "packet length" field counts only the payload while its "padding
# length" field also counts the rest of the fixed-size packet. FFmpeg's
# demuxer takes the length as including the padding, rejects that packet
# and loses the last frames. Store the full packet size in the length field
# (the padding field is already right for that reading), as other ASF
# writers do; GStreamer's own demuxer reads both forms.
fix_asf_last_packet() {
    local f=$1 psize=$ASF_PACKET
    local data_guid='\x36\x26\xb2\x75\x8e\x66\xcf\x11\xa6\xd9\x00\xaa\x00\x62\xce\x6c'
    local off
    off=$(LC_ALL=C grep -m1 -obUaP "$data_guid" "$f" | cut -d: -f1)
    [[ -n "$off" ]] || { echo "no ASF data object in $f" >&2; return 1; }
    local npk
    npk=$(read_le "$f" $((off + 40)) 8)
    ((npk > 0)) || { echo "ASF data object in $f has no packets" >&2; return 1; }
    local pos=$((off + 50 + (npk - 1) * psize))
    (($(stat -c %s "$f") >= pos + psize)) || { echo "ASF packets in $f are not $psize bytes" >&2; return 1; }
    local flags
    flags=$(read_le "$f" "$pos" 1)
    if ((flags & 0x80)); then # error correction data precedes the flags
        pos=$((pos + 1 + (flags & 0x0f)))
        flags=$(read_le "$f" "$pos" 1)
    fi
    pos=$((pos + 2)) # length type flags, property flags
    local -a width=(0 1 2 4)
    local lw=${width[(flags >> 5) & 3]} sw=${width[(flags >> 1) & 3]} pw=${width[(flags >> 3) & 3]}
    ((lw > 0 && pw > 0)) || return 0 # no explicit length: nothing to fix
    local plen pad
    plen=$(read_le "$f" "$pos" "$lw")
    pad=$(read_le "$f" $((pos + lw + sw)) "$pw")
    if ((plen < psize && plen + pad == psize)); then
        write_le "$f" "$pos" "$lw" "$psize"
    fi
}

flip_cluster_times_one() { flip_cluster_times "$1" 3; }
flip_cluster_times_rest() { flip_cluster_times "$1" 3 0; }

# ---------------------------------------------------------------------------
# Audio/video files in the common containers.

gen h264_aac.mp4 \
    "$(video 640 480 25 50 ball) ! $(x264 25) ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $AAC ! m."

# avenc_mpeg4 (gst-libav 1.22 with FFmpeg 5.1) puts a bogus timestamp on
# every frame, which makes avimux write all audio before all video. AVI
# stores video by frame index, so a first pass to a video-only AVI and
# demuxing it again yields proper timestamps for the interleaving pass.
# (The muxer's video pad is requested up front: avimux refuses pads added
# once the audio has started streaming.)
gen mpeg4_mp3.avi \
    --pre "$(video 320 240 25 50 smpte) ! avenc_mpeg4 threads=1 bitrate=400000 gop-size=25 ! avimux ! filesink location=@MID@" \
    "filesrc location=@MID@ ! avidemux name=d d.video_0 ! queue ! m.video_0 avimux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $MP3 ! m."

gen vp8_vorbis.webm \
    "$(video 320 240 25 50 ball) ! vp8enc deadline=1 cpu-used=8 keyframe-max-dist=25 target-bitrate=400000 ! webmmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $VORBIS ! m."

# One packet per Ogg page, so every Theora key frame ends a page and is
# marked by its granule position.
gen theora_vorbis.ogg \
    "$(video 320 240 25 50 ball) ! theoraenc keyframe-force=25 bitrate=400 ! oggmux max-page-delay=1 name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $VORBIS ! m."

gen wmv2_wma.asf --post fix_asf_last_packet \
    "$(video 320 240 25 50 ball) ! avenc_wmv2 threads=1 bitrate=400000 gop-size=25 ! $RUNNING_TIME ! asfmux packet-size=$ASF_PACKET name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! audioconvert ! avenc_wmav2 bitrate=96000 ! m."

# mpeg2enc format=3 is generic MPEG-2 (0 would be MPEG-1); mplex (the
# mjpegtools multiplexer) writes a program stream whose clock references
# lead the timestamps as they should.
gen mpeg2_mp2.mpg \
    "$(video 320 240 25 50 ball) ! mpeg2enc format=3 bitrate=1000 min-gop-size=12 max-gop-size=12 b-per-refframe=2 sequence-header-every-gop=true ! mplex format=3 name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! twolamemp2enc bitrate=192 ! m."

gen h264.ts \
    "$(video 320 240 25 50 ball) ! $(x264 25) ! mpegtsmux ! filesink location=@OUT@"

gen h264_pcm.mov \
    "$(video 320 240 25 50 ball) ! $(x264 25) ! qtmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! m."

gen h264_mp3.flv \
    "$(video 320 240 25 50 ball) ! $(x264 25) ! flvmux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $MP3 ! m."

# ---------------------------------------------------------------------------
# Audio-only files.

gen mono8k.wav \
    "$(audio 8000 1 2 440) ! wavenc ! filesink location=@OUT@"

gen sine_stereo_44k.wav \
    "$(audio 44100 2 2 1000 0.25) ! wavenc ! filesink location=@OUT@"

gen tone.mp3 \
    "$(audio 44100 2 2 1000 0.25) ! $MP3 ! xingmux ! filesink location=@OUT@"

# 5.1: a different tone in each channel (FL FR FC LFE BL BR = 300, 400, 500,
# 60, 700, 800 Hz), so a wrong channel mapping or downmix shows. The identity
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

# 322x242: not a multiple of 16 (the encoder pads to 336x256 and signals
# the cropping).
gen odd_size.mp4 \
    "$(video 322 242 25 50 ball) ! $(x264 25) ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $AAC ! m."

# Sample aspect ratio 8:9, written by x264enc into the H.264 VUI (and by
# mp4mux into a pasp box).
gen sar_8_9.mp4 \
    "$(video 640 480 25 25 smpte 8/9) ! $(x264 12) ! mp4mux ! filesink location=@OUT@"

gen fps30.mp4 \
    "$(video 320 240 30 60 ball) ! $(x264 30) ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 2 440) ! $AAC ! m."

gen fps15.mp4 \
    "$(video 320 240 15 30 ball) ! $(x264 15) ! mp4mux ! filesink location=@OUT@"

# ---------------------------------------------------------------------------
# Damaged files.

# truncate_half FILE : keeps the first half of the file.
truncate_half() {
    truncate -s $(($(stat -c %s "$1") / 2)) "$1"
}

# An MP4 whose index (written first) promises 4 s of video and audio while only the first
# half of the media data is there: both streams end early, at about 2 s.
gen cut_short.mp4 --post truncate_half \
    "$(video 160 120 25 100 ball) ! $(x264 25) ! mp4mux faststart=true name=m ! filesink location=@OUT@" \
    "$(audio 44100 1 4 440) ! $AAC ! m."

# flip_media_bits FILE : flips one bit at each tenth of the file's first two thirds, where
# mp4mux keeps the media data (its index follows them).
flip_media_bits() {
    local size k at byte
    size=$(stat -c %s "$1")
    for k in 1 2 3 4 5 6; do
        at=$((size * k / 10))
        byte=$(od -An -v -t u1 -j "$at" -N 1 "$1" | tr -d ' \n')
        write_le "$1" "$at" 1 $((byte ^ 16))
    done
}

# H.264 with B-frames in groups of 25 pictures, a bit flipped here and there in its pictures
# and sound.
gen h264_bits_flipped.mp4 --post flip_media_bits \
    "$(video 320 240 25 150 ball) ! $(x264 25) ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 6 440) ! $AAC ! m."

# Damaged timestamps.

# flip_cluster_times FILE FIRST [LAST] : in Matroska clusters FIRST..LAST
# (1-based, LAST defaults to FIRST, 0 = to the end) flip bit 27 of the
# 4-byte cluster timestamp (in milliseconds), which moves those clusters
# about 37 hours away from the others.
flip_cluster_times() {
    local f=$1 first=$2 last=${3:-$2} n=0 off id byte
    for off in $(LC_ALL=C grep -obUaP '\x1f\x43\xb6\x75' "$f" | cut -d: -f1); do
        n=$((n + 1))
        ((n >= first && (last == 0 || n <= last))) || continue
        # cluster ID (4 bytes), 8-byte size, then the timestamp element E7 84 and its value
        id=$(read_le "$f" $((off + 12)) 2)
        ((id == 0x84e7)) || { echo "cluster $n of $f has no 4-byte timestamp" >&2; return 1; }
        byte=$(read_le "$f" $((off + 14)) 1)
        write_le "$f" $((off + 14)) 1 $((byte ^ 0x08))
    done
    ((n >= first)) || { echo "$f has only $n clusters" >&2; return 1; }
}

# Video-only H.264 in Matroska, four one-second clusters whose timestamps
# start at 10 h. In the first file the third cluster lies 37 h away (one
# flipped bit); in the second every cluster from the third on does.
MKV_10H="videotestsrc is-live=false pattern=ball num-buffers=100 timestamp-offset=36000000000000 ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! $(x264 25) ! matroskamux ! filesink location=@OUT@"
gen h264_cluster_time_flipped.mkv --post "flip_cluster_times_one" "$MKV_10H"
gen h264_cluster_time_jump.mkv --post "flip_cluster_times_rest" "$MKV_10H"

# WMV with WMA whose video timestamps start 1000 h after the audio: the
# encoder's shifted timestamps go to asfmux unchanged (compare wmv2_wma.asf).
gen wmv2_wma_video_1000h_late.asf --post fix_asf_last_packet \
    "$(video 320 240 25 125 ball) ! avenc_wmv2 threads=1 bitrate=400000 gop-size=25 ! asfmux packet-size=$ASF_PACKET name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 5 440) ! audioconvert ! avenc_wmav2 bitrate=96000 ! m."

# Variable bit rate MP3 without a Xing header, loud first and silent after:
# its length can only be estimated from the first frames' bit rate, which
# puts it well short of the real two seconds.
gen vbr_no_header.mp3 \
    "audiotestsrc is-live=false wave=white-noise samplesperbuffer=441 num-buffers=50 ! audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! concat name=c ! lamemp3enc target=quality quality=0 ! mpegaudioparse ! filesink location=@OUT@" \
    "audiotestsrc is-live=false wave=silence samplesperbuffer=441 num-buffers=150 ! audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! c."

# ---------------------------------------------------------------------------
# Sources for the encoder limits: the picture sizes and audio shapes every
# preset must take (0.32 s each: 8 pictures, 32 audio buffers), in several
# containers. GStreamer's channel masks: 0x3f 5.1, 0xd0f 6.1, 0xc3f 7.1.

# limits_video W H, limits_audio RATE CHANNELS [MASK] : 0.32 s of raw pictures or sound.
limits_video() {
    printf 'videotestsrc is-live=false pattern=ball num-buffers=8 ! video/x-raw,format=I420,width=%s,height=%s,framerate=25/1,pixel-aspect-ratio=1/1' "$1" "$2"
}
limits_audio() {
    local rate=$1 ch=$2 mask=${3:-}
    printf 'audiotestsrc is-live=false wave=sine freq=440 volume=0.5 samplesperbuffer=%s num-buffers=32 ! audioconvert ! ' $((rate / 100))
    printf 'audio/x-raw,format=S16LE,layout=interleaved,rate=%s,channels=%s%s' "$rate" "$ch" "${mask:+,channel-mask=(bitmask)$mask}"
}
FAST264='x264enc threads=1 speed-preset=ultrafast key-int-max=25 bitrate=600 ! h264parse'

gen limits_1920x1080_96k_8ch.mkv \
    "$(limits_video 1920 1080) ! $FAST264 ! matroskamux name=m ! filesink location=@OUT@" \
    "$(limits_audio 96000 8 0xc3f) ! flacenc ! m."
gen limits_960x540_8k_1ch.webm \
    "$(limits_video 960 540) ! vp8enc deadline=1 cpu-used=8 ! webmmux name=m ! filesink location=@OUT@" \
    "$(limits_audio 8000 1) ! $VORBIS ! m."
gen limits_854x480_44k_6ch.mkv \
    "$(limits_video 854 480) ! theoraenc ! matroskamux name=m ! filesink location=@OUT@" \
    "$(limits_audio 44100 6 0x3f) ! $VORBIS ! m."
gen limits_720x576_32k_2ch.avi \
    "$(limits_video 720 576) ! jpegenc ! avimux name=m ! filesink location=@OUT@" \
    "$(limits_audio 32000 2) ! m."
gen limits_352x288_48k_2ch.mp4 \
    "$(limits_video 352 288) ! $FAST264 ! mp4mux name=m ! filesink location=@OUT@" \
    "$(limits_audio 48000 2) ! $AAC ! m."
gen limits_322x242_11k_7ch.mkv \
    "$(limits_video 322 242) ! $FAST264 ! matroskamux name=m ! filesink location=@OUT@" \
    "$(limits_audio 11025 7 0xd0f) ! $VORBIS ! m."
# A phone's clip: H.264 with AMR-NB speech at 12.8 kbit/s in 3GPP.
gen limits_176x144_8k_amr.3gp \
    "$(limits_video 176 144) ! $FAST264 ! 3gppmux name=m ! filesink location=@OUT@" \
    "audiotestsrc is-live=false samplesperbuffer=80 num-buffers=32 ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! amrnbenc ! m."
gen limits_22k_3ch.wav \
    "$(limits_audio 22050 3 0x7) ! wavenc ! filesink location=@OUT@"
gen limits_24k_5ch.ogg \
    "$(limits_audio 24000 5 0x37) ! flacenc ! oggmux ! filesink location=@OUT@"

# ---------------------------------------------------------------------------
# Timing shapes for the engine options a user types.

# Audio that starts 0.5 s after the video and ends with it.
gen late_audio.mkv \
    "$(video 320 240 25 50 ball) ! $(x264 25) ! matroskamux name=m ! filesink location=@OUT@" \
    "audiotestsrc is-live=false timestamp-offset=500000000 samplesperbuffer=441 num-buffers=150 ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! $VORBIS ! m."

# Two 2 s transport streams one after the other, the second stamped 14 s
# later than the first: a forward timestamp jump of 12 s.
prepend_mid() {
    local part=$1 mid=${1%.part}.mid
    cat -- "$mid" "$part" >"$part.joined" && mv -f -- "$part.joined" "$part"
}
gen ts_jump.ts --post prepend_mid \
    --pre "$(video 160 120 25 50 ball) ! $(x264 25) ! mpegtsmux ! filesink location=@MID@" \
    "videotestsrc is-live=false pattern=ball num-buffers=50 timestamp-offset=14000000000 ! video/x-raw,format=I420,width=160,height=120,framerate=25/1 ! $(x264 25) ! mpegtsmux ! filesink location=@OUT@"

# ---------------------------------------------------------------------------
# Damaged Windows Media: the 5 s WMV2/WMA ASF written by asfmux with video
# timestamps 1000 h after the audio (as GStreamer writes them), cut short at
# several points (the header then states no length) and with a 16 kB block of
# it written again further on or inserted (the demuxer meets packets it has
# already handed out). Such files once made conversions write without end.

# cut_at PERCENT FILE : keeps the first PERCENT % of the file.
cut_at() {
    truncate -s $(($(stat -c %s "$2") * $1 / 100)) "$2"
}
# repeat_block FILE : writes the 16 kB from 30 % of the file again at 60 %.
repeat_block() {
    local size from to
    size=$(stat -c %s "$1")
    from=$((size * 30 / 100)) to=$((size * 60 / 100))
    dd if="$1" of="$1.block" bs=1 skip="$from" count=16384 status=none &&
        dd if="$1.block" of="$1" bs=1 seek="$to" conv=notrunc status=none
    local ok=$?
    rm -f -- "$1.block"
    return $ok
}
# insert_block FILE : inserts a copy of the 16 kB from 30 % of the file at 60 %.
insert_block() {
    local size from to
    size=$(stat -c %s "$1")
    from=$((size * 30 / 100)) to=$((size * 60 / 100))
    # dd reads only what it copies: a head after a tail would end the tail
    # with SIGPIPE, which pipefail reports as a failure.
    { dd if="$1" bs=1 count="$to" status=none &&
        dd if="$1" bs=1 skip="$from" count=16384 status=none &&
        dd if="$1" bs=1 skip="$to" status=none; } >"$1.joined" &&
        mv -f -- "$1.joined" "$1"
}
WMV_LATE="filesrc location=$OUT/wmv2_wma_video_1000h_late.asf ! filesink location=@OUT@"
for pct in 30 50 70 75 83 85 90 95; do
    eval "cut_at_$pct() { cut_at $pct \"\$1\"; }"
    gen "wmv2_wma_cut_$pct.asf" --post "cut_at_$pct" "$WMV_LATE"
done
gen wmv2_wma_block_repeated.asf --post repeat_block "$WMV_LATE"
gen wmv2_wma_block_inserted.asf --post insert_block "$WMV_LATE"

# ---------------------------------------------------------------------------
# Sound only, in containers that also hold video (so their names say nothing),
# and a source that holds almost nothing: one sample of sound.

gen sound_only.m4a \
    "$(audio 44100 2 1 440) ! $AAC ! mp4mux ! filesink location=@OUT@"
gen sound_only.opus \
    "$(audio 48000 2 1 440) ! opusenc ! oggmux ! filesink location=@OUT@"
gen sound_only.mka \
    "$(audio 44100 2 1 440) ! $VORBIS ! matroskamux ! filesink location=@OUT@"
gen one_sample.webm \
    "audiotestsrc is-live=false num-buffers=1 samplesperbuffer=1 ! $VORBIS ! webmmux ! filesink location=@OUT@"
# Sources as people have them: tags and cover art, late streams, several
# audio tracks, loud surround sound.

# The common tags, in GStreamer's names; values with blanks are quoted for
# taginject's parser, so these pipelines are run as argument lists.
SOURCE_TAGS='title=\"Song Title\",artist=\"The Artist\",album=\"The Album\",album-artist=\"Album Band\",track-number=(uint)3,album-disc-number=(uint)2,genre=Jazz,comment=\"A comment\",composer=\"Com Poser\",datetime=(GstDateTime)2019-05-04'

# gen_args NAME ARG... : like gen with one pipeline given as separate words.
gen_args() {
    local name=$1
    shift
    local dest="$OUT/$name" tmp="$OUT/.$name.part"
    [[ -s "$dest" ]] && return 0
    TMP_FILES+=("$tmp")
    local args=("$@")
    args=("${args[@]//@OUT@/$tmp}")
    if ! gst-launch-1.0 -q "${args[@]}" >"$LOG" 2>&1 || [[ ! -s "$tmp" ]]; then
        cat "$LOG" >&2
        echo "make-fixtures: FAILED to make $name" >&2
        rm -f -- "$tmp"
        exit 1
    fi
    mv -f -- "$tmp" "$dest"
    printf 'made %-22s %8d bytes\n' "$name" "$(stat -c %s "$dest")"
}

# A tagged FLAC (Vorbis comments by flactag).
gen_args tagged.flac audiotestsrc is-live=false wave=sine freq=440 volume=0.5 samplesperbuffer=441 num-buffers=100 \
    ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! taginject "tags=\"$SOURCE_TAGS\"" \
    ! flacenc ! flactag ! filesink location=@OUT@

# A tagged MP3 with a front cover. GStreamer's command line cannot give
# taginject a picture, so the ID3v2.3 tag (the text frames and an APIC frame
# holding a JPEG made by jpegenc) is written here in front of lamemp3enc's
# bare MP3 stream.
be32() { printf "\\x$(printf %02x $(($1 >> 24 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 & 255)))"; }
synchsafe32() { be32 $(( ($1 & 127) | ($1 >> 7 & 127) << 8 | ($1 >> 14 & 127) << 16 | ($1 >> 21 & 127) << 24 )); }
# id3_frame ID FILE : a frame whose body is the file's bytes.
id3_frame() { printf '%s' "$1"; be32 "$(stat -c %s "$2")"; printf '\0\0'; cat -- "$2"; }
id3_text() { local body=$1.body; { printf '\0%s' "$2"; } >"$body"; id3_frame "$1" "$body"; rm -f -- "$body"; }
add_id3_cover() {
    local part=$1 dir frames=$1.frames cover=$1.jpg
    dir=$(dirname -- "$part")
    run_pipeline "videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,width=96,height=96 ! jpegenc ! filesink location=$cover" || return 1
    (
        cd "$dir" || exit 1
        local b=.id3body
        {
            id3_text TIT2 "Song Title"; id3_text TPE1 "The Artist"; id3_text TALB "The Album"
            id3_text TPE2 "Album Band"; id3_text TRCK "3"; id3_text TPOS "2"; id3_text TYER "2019"
            id3_text TCON "Jazz"; id3_text TCOM "Com Poser"
            printf '\0eng\0A comment' >$b; id3_frame COMM $b
            { printf '\0image/jpeg\0\x03\0'; cat -- "$cover"; } >$b; id3_frame APIC $b
            rm -f -- $b
        } >"$frames"
    ) || return 1
    { printf 'ID3\x03\0\0'; synchsafe32 "$(stat -c %s "$frames")"; cat -- "$frames" "$part"; } >"$part.tagged" &&
        mv -f -- "$part.tagged" "$part" && rm -f -- "$frames" "$cover"
}
gen tagged_cover.mp3 --post add_id3_cover \
    "$(audio 44100 2 1 440) ! $MP3 ! filesink location=@OUT@"

# Video that starts 2 s after its sound (phones and cameras that start the
# picture late): 3 s of AAC, 1 s of H.264 from 2 s on.
gen late_video.mp4 \
    "videotestsrc is-live=false pattern=ball num-buffers=25 timestamp-offset=2000000000 ! video/x-raw,format=I420,width=160,height=120,framerate=25/1 ! $(x264 25) ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 3 440) ! $AAC ! m."

# Two audio tracks: the first silent, the second a loud tone, so an output
# shows which one it was made from. matroskamux leaves every track's default
# flag at its implied 1; the first track's 9-byte Name element is replaced by
# FlagDefault=0 and a Void element of the same total size, so only the second
# track is marked as the default.
unmark_first_track() {
    local at
    at=$(LC_ALL=C grep -obUaP '\x53\x6e\x86Audio\x00' "$1" | LC_ALL=C sed -n '1s/:.*//p')
    [[ -n "$at" ]] || return 1
    printf '\x88\x81\x00\xec\x84\0\0\0\0' | dd of="$1" bs=1 seek="$at" conv=notrunc status=none
}
gen two_audio.mkv --post unmark_first_track \
    "$(audio 44100 2 1 440 0.0) ! $VORBIS ! matroskamux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 1 1000 0.8) ! $VORBIS ! m."

# Loud 7.1 sound: the same tone at -1 dBFS on all eight channels, in phase,
# the hardest case for a downmix.
gen loud_7.1.wav \
    "audiotestsrc is-live=false wave=sine freq=440 volume=0.89 samplesperbuffer=480 num-buffers=100 ! audioconvert ! audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=8,channel-mask=(bitmask)0xc3f ! wavenc ! filesink location=@OUT@"

# Two pictures of noise (motion JPEG in AVI): scaled up and coded at the
# finest quantiser, every frame is far larger than a RealMedia packet holds.
gen snow_mjpeg.avi \
    "videotestsrc is-live=false pattern=snow num-buffers=2 ! video/x-raw,format=I420,width=160,height=120,framerate=25/1 ! jpegenc quality=75 ! avimux ! filesink location=@OUT@"

# Sources of today: phone clips, deep and full-chroma pictures, HDR, covers
# beside the video, interlaced broadcasts, the shortest clips.

# set_track_matrix FILE A B C D : the first track header's display matrix
# becomes [A B 0; C D 0; tx ty 1] (16.16 fixed point, in units of 1), as a
# phone writes it for a picture held upright or upside down; the offsets keep
# the turned picture in place.
be32s() { be32 $(( $1 & 0xffffffff )); }
set_track_matrix() {
    local file=$1 a=$2 b=$3 c=$4 d=$5 at w h tx=0 ty=0
    at=$(LC_ALL=C grep -obUa tkhd "$file" | LC_ALL=C sed -n '1s/:.*//p')
    [[ -n "$at" ]] || return 1
    w=$(od -An -tu2 --endian=big -j $((at + 80)) -N 2 "$file" | tr -d ' ')
    h=$(od -An -tu2 --endian=big -j $((at + 84)) -N 2 "$file" | tr -d ' ')
    (( c < 0 )) && tx=$h
    (( b < 0 )) && ty=$w
    (( a < 0 )) && tx=$w
    (( d < 0 )) && ty=$h
    { be32s $((a << 16)); be32s $((b << 16)); be32 0; be32s $((c << 16)); be32s $((d << 16)); be32 0
      be32s $((tx << 16)); be32s $((ty << 16)); be32 $((0x40000000)); } |
        dd of="$file" bs=1 seek=$((at + 44)) conv=notrunc status=none
}
portrait_90() { set_track_matrix "$1" 0 1 -1 0; }
portrait_270() { set_track_matrix "$1" 0 -1 1 0; }
upside_down() { set_track_matrix "$1" -1 0 0 -1; }

gen portrait_90.mp4 --post portrait_90 \
    "$(video 320 180 25 25 smpte) ! $(x264 25) ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 1 440) ! $AAC ! m."
gen portrait_270.mov --post portrait_270 \
    "$(video 320 180 25 25 smpte) ! $(x264 25) ! qtmux ! filesink location=@OUT@"
gen upside_down.mp4 --post upside_down \
    "$(video 320 240 25 25 smpte) ! $(x264 25) ! mp4mux ! filesink location=@OUT@"

# deep_video NAME FORMAT ENCODER MUXER : one second of pictures in a deep or
# full-chroma format.
deep_video() {
    gen "$1" "videotestsrc is-live=false pattern=ball num-buffers=25 ! video/x-raw,format=$2,width=320,height=240,framerate=25/1 ! $3 ! $4 ! filesink location=@OUT@"
}
X264_PLAIN='x264enc threads=1 speed-preset=faster key-int-max=25 bitrate=600 ! h264parse'
X265_PLAIN='x265enc speed-preset=ultrafast key-int-max=25 bitrate=600 ! h265parse'
deep_video h264_10bit.mp4 I420_10LE "$X264_PLAIN" mp4mux
deep_video h264_422_10bit.mkv I422_10LE "$X264_PLAIN" matroskamux
deep_video h264_444.mkv Y444 "$X264_PLAIN" matroskamux
deep_video hevc_10bit.mp4 I420_10LE "$X265_PLAIN" mp4mux
# HDR10 as phones record it: 10-bit HEVC, BT.2020 primaries, PQ transfer. The
# picture is the white of an SDR display (100 cd/m2, PQ code 0.51: 10-bit 509,
# made from grey 0x81), which read without tone mapping is a mid grey.
gen hdr_pq.mkv \
    "videotestsrc is-live=false pattern=solid-color foreground-color=0xff818181 num-buffers=25 ! video/x-raw,format=I420_10LE,width=320,height=240,framerate=25/1,colorimetry=bt2100-pq ! $X265_PLAIN ! matroskamux ! filesink location=@OUT@"

# A broadcast's 25i: 50 pictures a second woven into 25 interlaced frames
# (top field first) of MBAFF H.264 in MPEG-TS; the moving ball combs.
gen interlaced_25i.ts \
    "videotestsrc is-live=false pattern=ball num-buffers=50 ! video/x-raw,format=I420,width=720,height=576,framerate=50/1 ! interlace field-pattern=1:1 top-field-first=true ! x264enc threads=1 interlaced=true speed-preset=faster bitrate=2000 key-int-max=25 ! h264parse ! mpegtsmux ! filesink location=@OUT@"

# The same woven fields stored as progressive pictures (flagged as nothing else):
# a recording re-encoded by a program that knew nothing of fields, in AVI.
gen woven_25i.avi \
    "videotestsrc is-live=false pattern=ball num-buffers=50 ! video/x-raw,format=I420,width=720,height=576,framerate=50/1 ! interlace field-pattern=1:1 top-field-first=true ! capssetter caps=video/x-raw,interlace-mode=progressive ! x264enc threads=1 speed-preset=faster bitrate=2000 key-int-max=25 ! h264parse ! avimux ! filesink location=@OUT@"

# add_mp4_cover FILE : an iTunes cover ("covr", a JPEG made by jpegenc) at the
# end of the movie's own item list. mp4mux writes that list last in the file,
# so only the sizes of the boxes around it change.
add_mp4_cover() {
    local file=$1 cover=$1.jpg box at size item
    run_pipeline "videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,width=96,height=96 ! jpegenc ! filesink location=$cover" || return 1
    item=$(( 8 + 16 + $(stat -c %s "$cover") ))
    for box in moov udta meta ilst; do
        at=$(LC_ALL=C grep -obUa "$box" "$file" | tail -n 1 | cut -d: -f1)
        [[ -n "$at" ]] || return 1
        size=$(od -An -tu4 --endian=big -j $((at - 4)) -N 4 "$file" | tr -d ' ')
        be32 $((size + item)) | dd of="$file" bs=1 seek=$((at - 4)) conv=notrunc status=none
    done
    { be32 "$item"; printf covr; be32 $((item - 8)); printf 'data\0\0\0\x0d\0\0\0\0'; cat -- "$cover"; } >>"$file"
    rm -f -- "$cover"
}
gen cover_beside_video.mp4 --post add_mp4_cover \
    "$(video 320 240 25 25 ball) ! $(x264 25) ! taginject tags=title=Clip ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 1 440) ! $AAC ! m."

# The shortest clips: a single picture beside one second of sound, and a
# fifth of a second of both.
gen one_picture.mkv \
    "$(video 320 240 25 1 ball) ! $(x264 25) ! matroskamux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 1 440) ! $VORBIS ! m."
gen fifth_second.mp4 \
    "$(video 320 240 25 5 ball) ! $(x264 25) ! mp4mux name=m ! filesink location=@OUT@" \
    "audiotestsrc is-live=false wave=sine samplesperbuffer=441 num-buffers=20 ! audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! $AAC ! m."

# A second of fine moving detail (a zone plate) without sound, so that the coded size follows
# the encoder's quality rather than its headers.
gen zone_plate.mp4 \
    "videotestsrc is-live=false pattern=zone-plate kt=3 kx2=10 ky2=10 kxt=2 num-buffers=25 ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! x264enc threads=1 speed-preset=faster key-int-max=25 bitrate=2000 ! h264parse ! mp4mux ! filesink location=@OUT@"

# Two seconds of the same moving detail with a tone, written by GStreamer's qtmux: coded at a
# target size, its video takes whatever bit rate it is given.
gen zone_plate_tone.mp4 \
    "videotestsrc is-live=false pattern=zone-plate kt=3 kx2=10 ky2=10 kxt=2 num-buffers=50 ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! x264enc threads=1 speed-preset=faster key-int-max=25 bitrate=2000 ! h264parse ! qtmux name=m ! filesink location=@OUT@" \
    "audiotestsrc is-live=false wave=sine samplesperbuffer=882 num-buffers=100 ! audioconvert ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! $AAC ! m."

# 24-bit sound at 96 kHz, lossless, as studio recordings come.
gen deep_24bit.flac \
    "audiotestsrc is-live=false wave=sine freq=440 volume=0.5 samplesperbuffer=960 num-buffers=100 ! audioconvert ! audio/x-raw,format=S24_32LE,rate=96000,channels=2 ! flacenc ! filesink location=@OUT@"

# Text subtitles (SubRip, two lines) beside the picture and the sound in Matroska.
SRT="$OUT/.lines.srt"
TMP_FILES+=("$SRT")
printf '1\n00:00:00,100 --> 00:00:00,600\nFirst line\n\n2\n00:00:00,700 --> 00:00:00,950\nSecond line\n' >"$SRT"
gen subtitled.mkv \
    "$(video 320 240 25 25 ball) ! $(x264 25) ! matroskamux name=m ! filesink location=@OUT@" \
    "filesrc location=$SRT ! subparse ! m." \
    "$(audio 44100 2 1 440) ! $AAC ! m."
rm -f -- "$SRT"

# ---------------------------------------------------------------------------
# The demo clip shipped with the program.

gen sample.mp4 \
    "$(video 320 240 25 75 ball) ! $(x264 25) ! mp4mux name=m ! filesink location=@OUT@" \
    "$(audio 44100 2 3 440) ! $AAC ! m."

date -u +%Y-%m-%dT%H:%M:%SZ >"$OUT/.stamp"

#!/usr/bin/env bash
# Library benchmark: a music library's worth of short WAV files (300 of 1 s, 44.1 kHz stereo) to
# MP3 by the command-line front end, with each conversion in the batch's pre-loaded worker (which
# serves file after file), against all of them inside the front end
# (MOBIVERT_WORKER=none) and against one GStreamer pipeline started per file, measured side by
# side with farm-bench in alternating pairs. Prints farm-bench's figures (min/median/max).
#
# Usage: bench/run-library-bench.sh [BUILD_DIR] [RUNS] [FILES]
#   BUILD_DIR  any build tree with mobivert-cli and mobivert-worker (default: build)
#   RUNS       pairs of runs for farm-bench (default 3)
#   FILES      files in the library (default 300)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
RUNS=${2:-3}
FILES=${3:-300}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/mobivert-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
[[ -x $BUILD/mobivert-cli && -x $BUILD/mobivert-worker ]] ||
    ninja -C "$BUILD" mobivert-cli mobivert-worker >/dev/null
command -v farm-bench >/dev/null || { echo "farm-bench is needed" >&2; exit 2; }

echo "Generating the library ($FILES files of 1 s, 44.1 kHz stereo WAV) ..."
gst-launch-1.0 -q audiotestsrc num-buffers=43 samplesperbuffer=1024 \
    ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! wavenc ! filesink location="$WORK/one.wav"
mkdir -p "$WORK/in" "$WORK/cfg" "$WORK/state"
for i in $(seq "$FILES"); do ln "$WORK/one.wav" "$WORK/in/s$i.wav"; done

# Each run converts the whole library into a fresh folder.
cat >"$WORK/mobivert.sh" <<SCRIPT
#!/usr/bin/env bash
rm -rf "$WORK/out" && exec env XDG_CONFIG_HOME="$WORK/cfg" XDG_STATE_HOME="$WORK/state" \\
    "$BUILD/mobivert-cli" -q -p "MP3 MPEG Layer-3 (*.mp3)" -o "$WORK/out" "$WORK"/in/*.wav
SCRIPT
cat >"$WORK/gstreamer.sh" <<SCRIPT
#!/usr/bin/env bash
rm -rf "$WORK/gst" && mkdir -p "$WORK/gst"
for f in "$WORK"/in/*.wav; do
    gst-launch-1.0 -q filesrc location="\$f" ! wavparse ! audioconvert ! lamemp3enc \\
        ! id3v2mux ! filesink location="$WORK/gst/\$(basename "\$f" .wav).mp3" || exit 1
done
SCRIPT
chmod +x "$WORK/mobivert.sh" "$WORK/gstreamer.sh"

echo "Machine: $(nproc) cores, load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== workers (A) against in-process (B) =="
farm-bench -n "$RUNS" --timeout 1800 --vs "env MOBIVERT_WORKER=none $WORK/mobivert.sh" \
    -- "$WORK/mobivert.sh"
echo
echo "== workers (A) against one GStreamer pipeline per file (B) =="
farm-bench -n "$RUNS" --timeout 1800 --vs "$WORK/gstreamer.sh" -- "$WORK/mobivert.sh"
echo
echo "Load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"

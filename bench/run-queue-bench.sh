#!/usr/bin/env bash
# Queue benchmark: long batches of tiny WAV files converted to WAV by the command-line front end
# under `ulimit -n 256`, with each conversion in a worker process and (MOBIVERT_WORKER=none) all
# of them inside the front end. Shows that waiting tasks hold no descriptors and next to no
# memory: every file converts, the open descriptors stay the same however long the batch is, and
# the front end's peak memory grows by a few kB per queued file.
#
# Usage: bench/run-queue-bench.sh [BUILD_DIR] [ROUNDS] [COUNTS]
#   BUILD_DIR  any build tree with mobivert-cli and mobivert-worker (default: build)
#   COUNTS     batch lengths to run (default "1 1000 10000")
#   MODES      (environment) "in-process", "workers" or both (default)
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROUNDS=${2:-1}
COUNTS=${3:-1 1000 10000}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/mobivert-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
[[ -x $BUILD/mobivert-cli && -x $BUILD/mobivert-worker ]] || ninja -C "$BUILD" mobivert-cli mobivert-worker >/dev/null
CLI=$BUILD/mobivert-cli

echo "Generating the input (0.1 s of 8 kHz mono WAV) ..."
gst-launch-1.0 -q audiotestsrc num-buffers=1 samplesperbuffer=800 \
    ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! wavenc ! filesink location="$WORK/tiny.wav"
mkdir -p "$WORK/in"
max=$(tr ' ' '\n' <<<"$COUNTS" | sort -n | tail -1)
for i in $(seq "$max"); do ln "$WORK/tiny.wav" "$WORK/in/s$i.wav"; done

# run_batch MODE COUNT: one batch; prints "done wall_s fd_max front_end_peak_kB whole_peak_kB".
run_batch() {
    local mode=$1 count=$2 worker out files
    worker=$([[ $mode == workers ]] && echo "$BUILD/mobivert-worker" || echo none)
    out="$WORK/out-$mode-$count"
    files=()
    for i in $(seq "$count"); do files+=("$WORK/in/s$i.wav"); done
    (
        ulimit -n 256
        MOBIVERT_WORKER=$worker exec /usr/bin/time -f "%e %M" -o "$WORK/time.txt" \
            "$CLI" -q -p 21 -o "$out" "${files[@]}" >"$WORK/report.txt" 2>"$WORK/err.txt"
    ) &
    local timer=$! pid="" fds=0 hwm=0 n
    while kill -0 "$timer" 2>/dev/null; do
        [[ -n $pid ]] || pid=$(pgrep -P "$timer" -x mobivert-cli || true)
        if [[ -n $pid && -d /proc/$pid ]]; then
            n=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
            ((n > fds)) && fds=$n
            n=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
            ((${n:-0} > hwm)) && hwm=$n
        fi
        sleep 0.2
    done
    wait "$timer" || true
    echo "$(grep -c ': Done$' "$WORK/report.txt") $(cut -d' ' -f1 "$WORK/time.txt") $fds $hwm" \
        "$(cut -d' ' -f2 "$WORK/time.txt")"
    rm -rf "$out"
}

print_machine
echo "Each line: mode, files, converted, wall s, most open descriptors of the front end," \
    "front end's peak RSS kB (sampled), peak RSS kB of the largest process (time -f %M)"
for round in $(seq "$ROUNDS"); do
    for count in $COUNTS; do
        for mode in ${MODES:-in-process workers}; do
            echo "$mode $count $(run_batch "$mode" "$count")"
        done
    done
done

#!/usr/bin/env bash
# Memory benchmark: the front ends' peak memory against the length of the batch. mobivert-cli
# converts batches of 1, 1,100 and 10,000 short WAV files (1 s, 44.1 kHz stereo) to WAV, with
# each conversion in a worker process and (MOBIVERT_WORKER=none) all of them inside it; the
# window (offscreen) is started with the same files on its command line and measured once
# every row is listed. Prints each peak, the allowance 1.2 x the one-file peak + 20 kB per
# file, and the cost per file above the one-file peak.
#
# Usage: bench/run-memory-bench.sh [BUILD_DIR] [COUNTS]
#   BUILD_DIR  a build tree with mobivert-cli, mobivert-worker and mobivert (default: build)
#   COUNTS     batch lengths (default "1 1100 10000"; the first is the one-file reference)
#   MODES      (environment) any of "in-process workers window" (default: all three)
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
COUNTS=${2:-1 1100 10000}
MODES=${MODES:-in-process workers window}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/mobivert-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
ninja -C "$BUILD" mobivert-cli mobivert-worker mobivert >/dev/null

echo "Generating the input (1 s of 44.1 kHz stereo WAV) ..."
gst-launch-1.0 -q audiotestsrc num-buffers=100 samplesperbuffer=441 \
    ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! wavenc ! filesink location="$WORK/one.wav"
mkdir -p "$WORK/in"
max=$(tr ' ' '\n' <<<"$COUNTS" | sort -n | tail -1)
for i in $(seq "$max"); do ln "$WORK/one.wav" "$WORK/in/s$i.wav"; done

# Every run gets fresh configuration and state folders: no stored choices, no journal to resume.
fresh_home() {
    rm -rf "${WORK:?}/home"
    mkdir -p "$WORK/home/config" "$WORK/home/state"
}

# cli_peak MODE COUNT: "converted peak_kB" of one batch.
cli_peak() {
    local mode=$1 count=$2 worker files=()
    worker=$([[ $mode == workers ]] && echo "$BUILD/mobivert-worker" || echo none)
    for i in $(seq "$count"); do files+=("$WORK/in/s$i.wav"); done
    fresh_home
    XDG_CONFIG_HOME=$WORK/home/config XDG_STATE_HOME=$WORK/home/state MOBIVERT_WORKER=$worker \
        /usr/bin/time -f "%M" -o "$WORK/time.txt" \
        "$BUILD/mobivert-cli" -q -p 21 -o "$WORK/out" "${files[@]}" >"$WORK/report.txt" \
        2>"$WORK/err.txt" || true
    echo "$(grep -c ': Done$' "$WORK/report.txt") $(cat "$WORK/time.txt")"
    rm -rf "$WORK/out"
}

# cpu_ticks PID: user + system clock ticks the process has used so far.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# window_peak COUNT: "rows peak_kB" of the window started with COUNT files, read once it has
# gone 3 s without using the processor (every file probed and listed).
window_peak() {
    local count=$1 files=() pid ticks last idle=0 hwm
    for i in $(seq "$count"); do files+=("$WORK/in/s$i.wav"); done
    fresh_home
    XDG_CONFIG_HOME=$WORK/home/config XDG_STATE_HOME=$WORK/home/state QT_QPA_PLATFORM=offscreen \
        "$BUILD/mobivert" "${files[@]}" >/dev/null 2>&1 &
    pid=$!
    last=-1
    while ((idle < 6)) && kill -0 "$pid" 2>/dev/null; do
        sleep 0.5
        ticks=$(cpu_ticks "$pid")
        if ((ticks == last)); then idle=$((idle + 1)); else idle=0; fi
        last=$ticks
    done
    hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "$count $hwm"
}

print_machine
echo "Peaks in KiB (GNU time %M; the window: VmHWM once every row is listed); the allowance is" \
    "1.2 x the one-file peak + 20,000 bytes per file"
printf "%-11s %7s %9s %12s %12s %14s\n" case files converted "peak KiB" "allowance" "KiB per file"
for mode in $MODES; do
    first=""
    for count in $COUNTS; do
        if [[ $mode == window ]]; then
            read -r converted peak < <(window_peak "$count")
        else
            read -r converted peak < <(cli_peak "$mode" "$count")
        fi
        first=${first:-$peak}
        awk -v m="$mode" -v n="$count" -v d="$converted" -v p="$peak" -v f="$first" 'BEGIN {
            per = n > 1 ? sprintf("%.1f", (p - f) / (n - 1)) : "-"
            printf "%-11s %7d %9d %12d %12d %14s\n", m, n, d, p, 1.2 * f + n * 20000 / 1024, per }'
    done
done

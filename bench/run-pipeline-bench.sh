#!/usr/bin/env bash
# One conversion on both cores, for the presets whose video encoders have no frame threads: a
# 60 s 1280x720 H.264 + AAC file converted by `mobivert-cli` with each of them, automatic codec
# threads against `-i threads=1 -x threads=1`. With automatic threads the encoder codes (and
# rescales, for the presets with a smaller picture) on a thread of its own beside the decoder's
# threads. The two cases of a pair alternate which runs first.
#
# Usage: bench/run-pipeline-bench.sh [BUILD_DIR] [ROUNDS]
#   BUILD_DIR  a build tree configured with -DMOBIVERT_BUILD_BENCH=ON (default: build-bench,
#              configured and built here when missing)
#   ROUNDS     runs of every case; the median counts (default 4; keep it even)
#   CASES      (environment) which presets: any of "divx avi wmv 3gp mpeg1 rm xvid" (default all)
#
# Target: automatic threads take at most 0.6 x the wall time of one thread.
set -euo pipefail

# shellcheck source=bench/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
bench_setup 4 "$@"

CLI=$BUILD/mobivert-cli
ONE=(-i threads=1 -x threads=1)
# Each case: the preset, then the options it needs. A RealMedia packet holds at most 64 kB, more
# than a 720p rv10 key picture of this input takes, so that one is coded at 320x240.
declare -A PRESET=(
    [divx]="DivX Video (*.avi)" [avi]="AVI Video (*.avi)" [wmv]="Windows Media Video (*.wmv)"
    [3gp]="3GPP 176*144 (*.3gp)" [mpeg1]="MPEG-1 Video (*.mpg)"
    [rm]="RM Real Media Video (*.rm)" [xvid]="XviD Video (*.avi)")
declare -A EXTRA=([rm]="--size 320x240")
ALL="divx avi wmv 3gp mpeg1 rm xvid"

echo "Generating the input (60 s of 1280x720, H.264 + AAC) ..."
make_input 60 "$WORK/in60.mp4"

convert() { # CASE auto|one
    local out=$WORK/o-$1-$2 threads=()
    [[ $2 == one ]] && threads=("${ONE[@]}")
    rm -rf "$out"
    # shellcheck disable=SC2086 # the extra options are words
    measure "$1_$2" "$CLI" -q -o "$out" -p "${PRESET[$1]}" ${EXTRA[$1]:-} "${threads[@]}" \
        "$WORK/in60.mp4"
}

for round in $(seq "$ROUNDS"); do
    echo "Round $round of $ROUNDS ..."
    for case in ${CASES:-$ALL}; do
        if ((round % 2)); then convert "$case" auto; convert "$case" one
        else convert "$case" one; convert "$case" auto; fi
        # The pair's own ratio: a machine whose speed drifts moves both runs of a pair alike.
        ratio "$(tail -n1 "$WORK/${case}_auto" | cut -d' ' -f2)" \
            "$(tail -n1 "$WORK/${case}_one" | cut -d' ' -f2)" >>"$WORK/${case}_pairs"
        echo >>"$WORK/${case}_pairs"
    done
done

echo
print_machine
echo "Medians of $ROUNDS rounds (CPU s / wall s / peak RSS MB):"
names=()
for case in ${CASES:-$ALL}; do names+=("${case}_auto" "${case}_one"); done
print_medians "${names[@]}"
echo
echo "Automatic / one thread (wall, the medians' ratio and the median of the pairs' ratios;"
echo "target <= 0.6), and CPU:"
for case in ${CASES:-$ALL}; do
    printf "  %-28s %s   %s   %s\n" "${PRESET[$case]}" \
        "$(ratio "$(median "${case}_auto" 2)" "$(median "${case}_one" 2)")" \
        "$(median "${case}_pairs" 1)" \
        "$(ratio "$(median "${case}_auto" 1)" "$(median "${case}_one" 1)")"
done

# shellcheck shell=bash
# Shared pieces of the benchmark scripts. A script sources this file and calls
# bench_setup DEFAULT_ROUNDS "$@" first.

# bench_setup DEFAULT_ROUNDS [BUILD_DIR] [ROUNDS]: sets ROOT, BUILD, ROUNDS and WORK (a scratch
# folder removed on exit) and builds the benchmark programs when they are missing.
bench_setup() {
    ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    BUILD=${2:-$ROOT/build-bench}
    # shellcheck disable=SC2034 # read by the sourcing script
    ROUNDS=${3:-$1}
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/mobivert-bench.XXXXXX")
    trap 'rm -rf "$WORK"' EXIT
    build_bench_programs "$ROOT" "$BUILD"
    # Read before any round runs (and after the build, which loads the machine itself).
    LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
}

# print_machine: the machine the figures come from and its load before the run.
print_machine() {
    echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
        "load average before the run: ${LOAD_BEFORE:-$(cut -d' ' -f1-3 /proc/loadavg)}"
}

# print_medians NAME...: one line per case, "CPU s, wall s, peak RSS MB".
print_medians() {
    local name
    for name in "$@"; do
        printf "  %-18s %7s %7s %7s\n" "$name" "$(median "$name" 1)" "$(median "$name" 2)" \
            "$(awk -v k="$(median "$name" 3)" 'BEGIN { printf "%.1f", k / 1024 }')"
    done
}

# build_bench_programs ROOT BUILD: configures BUILD for the benchmark programs when they are
# missing there, and builds them with the command-line front end.
build_bench_programs() {
    local root=$1 build=$2
    if [[ ! -x $build/bench/bench_engine || ! -x $build/bench/floor_transcode ||
        ! -x $build/mobivert-cli ]]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DMOBIVERT_BUILD_BENCH=ON -DMOBIVERT_BUILD_TESTS=OFF -DMOBIVERT_BUILD_GUI=OFF >/dev/null
        ninja -C "$build" bench_engine floor_transcode mobivert-cli >/dev/null
    fi
}

# make_input SECONDS FILE [WIDTH HEIGHT]: 1280x720 (or the size given) at 25 fps H.264
# (x264, High profile) + AAC stereo 44.1 kHz.
# The zone plate moves in every picture and covers the whole frame, so neither the decoder
# nor the encoders get an easy picture.
# With MOBIVERT_BENCH_CACHE set to a folder, inputs are kept there and reused by later runs.
make_input() {
    local seconds=$1 file=$2 width=${3:-1280} height=${4:-720}
    local cached=${MOBIVERT_BENCH_CACHE:+$MOBIVERT_BENCH_CACHE/in-${seconds}s-${width}x${height}.mp4}
    if [[ -n $cached && -s $cached ]]; then
        cp "$cached" "$file"
        return
    fi
    gst-launch-1.0 -q \
        videotestsrc is-live=false pattern=zone-plate kx2=20 ky2=20 kt=1 \
        num-buffers=$((seconds * 25)) \
        ! video/x-raw,format=I420,width=$width,height=$height,framerate=25/1 \
        ! x264enc threads=1 speed-preset=faster bitrate=4000 key-int-max=50 \
        ! video/x-h264,profile=high ! h264parse ! queue ! mp4mux name=m ! filesink location="$file" \
        audiotestsrc is-live=false wave=sine freq=440 samplesperbuffer=441 \
        num-buffers=$((seconds * 100)) \
        ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! audioconvert \
        ! voaacenc bitrate=128000 ! aacparse ! queue ! m.
    if [[ -n $cached ]]; then
        mkdir -p "$MOBIVERT_BENCH_CACHE"
        cp "$file" "$cached"
    fi
}

# measure NAME COMMAND...: appends "cpu wall maxrss_kB" to $WORK/NAME.
measure() {
    local name=$1
    shift
    /usr/bin/time -f "%U %S %e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/err.txt" || {
        echo "failed: $*" >&2
        cat "$WORK/err.txt" >&2
        exit 1
    }
    awk '{ printf "%.2f %.2f %d\n", $1 + $2, $3, $4 }' "$WORK/time.txt" >>"$WORK/$name"
}

# median NAME COLUMN (1 cpu, 2 wall, 3 rss)
median() {
    sort -n -k"$2","$2" "$WORK/$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

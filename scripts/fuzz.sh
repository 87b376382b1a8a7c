#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# (in build-fuzz/) and runs each for a while.
#   scripts/fuzz.sh [SECONDS]      seconds per target, 90 when not given
# The conversion target starts from the test media (made by the fixture script) and the inputs
# kept in tests/regressions/; new inputs it finds go to build-fuzz/corpus/ and are kept between
# runs. A crash, a sanitizer report or a run past its time limit fails the script and leaves the
# input in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-90}"

bash scripts/install-deps.sh

cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DMOBIVERT_BUILD_FUZZERS=ON -DMOBIVERT_SANITIZE=address,undefined \
    -DMOBIVERT_BUILD_TESTS=OFF -DMOBIVERT_BUILD_GUI=OFF
cmake --build build-fuzz --target option_text_fuzzer conversion_fuzzer
# The test media of the ordinary build when it is there (scripts/test.sh made it), else its own.
fixtures=build/fixtures
if [ ! -f "$fixtures/.stamp" ]; then
    cmake --build build-fuzz --target fixtures
    fixtures=build-fuzz/fixtures
fi

# Dynamic TLS is not followed by the leak checker; see scripts/test.sh.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
mkdir -p build-fuzz/corpus/options build-fuzz/corpus/conversion build-fuzz/findings

# Seeds: every fixture and every kept regression input (they are not changed by the run).
seeds=("$fixtures")
[ -d tests/regressions ] && seeds+=(tests/regressions)

# -rss_limit_mb: FFmpeg's own buffers plus the sanitizers' shadow memory; -timeout: one input's
# conversion is limited to two seconds of output and stops itself after ten seconds of work.
build-fuzz/fuzz/option_text_fuzzer -dict=fuzz/options.dict -max_len=4096 \
    -max_total_time="$seconds" -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 \
    build-fuzz/corpus/options
build-fuzz/fuzz/conversion_fuzzer -max_len=65536 -timeout=30 -rss_limit_mb=3072 \
    -max_total_time="$seconds" -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 \
    build-fuzz/corpus/conversion "${seeds[@]}"

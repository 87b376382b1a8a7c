#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh                 ordinary build in build/
#   scripts/test.sh --sanitize LIST build with sanitizers (e.g. address,undefined) in build-LIST/
#   scripts/test.sh --sanitize thread
#                                   ThreadSanitizer build (no window) running the suites that
#                                   exercise the engine's and the component's own threads
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=""
if [ "${1:-}" = "--sanitize" ]; then
    sanitize="${2:?--sanitize needs a list such as address,undefined}"
fi

bash scripts/install-deps.sh

build_dir=build
if [ -n "$sanitize" ]; then
    build_dir="build-${sanitize//,/-}"
fi

gui=ON
if [ "$sanitize" = thread ]; then
    gui=OFF
fi
# The plain build treats the project's own warnings as errors; the sanitizer builds do not, as
# their instrumentation makes GCC warn about library code it inlines.
werror=ON
if [ -n "$sanitize" ]; then
    werror=OFF
fi
cmake -S . -B "$build_dir" -G Ninja -DMOBIVERT_SANITIZE="$sanitize" -DMOBIVERT_BUILD_GUI=$gui \
    -DMOBIVERT_WERROR=$werror
cmake --build "$build_dir"

export QT_QPA_PLATFORM=offscreen
if [ -n "$sanitize" ]; then
    # Fail on the first error. The leak checker does not follow __tls_get_addr: GCC 12's
    # sanitizer guesses the extent of a thread-local block that starts 16 bytes into a page
    # from the 16 bytes before it, and the block of GnuTLS (loaded at run time with the FFmpeg
    # libraries) sometimes starts there, so the leak check at exit read a made-up range and
    # crashed. Only libraries loaded after start-up have such blocks; they go unsearched for
    # pointers, everything else is searched as before.
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
fi
if [ "$sanitize" = thread ]; then
    # The FFmpeg libraries synchronise their own worker threads in code the sanitizer does not
    # see, so only the suites whose threads are ours run here: sessions, the converter component,
    # the batch driver and runner, a video encoder on a thread of its own beside a one-thread
    # decoder, and one-thread decoders taking groups of pictures side by side.
    export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
    ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" \
        -R '^((SessionTest|ConverterTest|DriverBatchTest|BatchRunnerTest)\.|CodecThreadsTest\.EncoderOnItsOwnThread|GroupedDecodingTest\.)'
    exit
fi
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"

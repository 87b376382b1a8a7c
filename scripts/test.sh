#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh                 ordinary build in build/
#   scripts/test.sh --sanitize LIST build with sanitizers (e.g. address,undefined) in build-LIST/
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

cmake -S . -B "$build_dir" -G Ninja -DMOBIVERT_SANITIZE="$sanitize"
cmake --build "$build_dir"

export QT_QPA_PLATFORM=offscreen
if [ -n "$sanitize" ]; then
    # The FFmpeg libraries are loaded at run time and unloaded again; keep their symbols readable
    # in reports, and fail on the first error.
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
fi
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"

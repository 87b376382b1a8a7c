#!/usr/bin/env bash
# Checks that the project's C and C++ sources are laid out as .clang-format says; names the
# files that are not. `scripts/check-format.sh --fix` reformats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
if ! clang-format --dry-run -Werror "${files[@]}" 2>/dev/null; then
    echo "These files are not laid out as .clang-format says (scripts/check-format.sh --fix):" >&2
    for file in "${files[@]}"; do
        clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || echo "  $file" >&2
    done
    exit 1
fi

#!/usr/bin/env bash
# The sources stay in the hand style .clang-format writes down: lists every C++ file clang-format
# would change.
set -uo pipefail
src=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$src" || exit 1
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
bad=0
for f in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
        echo "not in the style of .clang-format: $f (clang-format -i $f)"
        bad=1
    fi
done
exit "$bad"

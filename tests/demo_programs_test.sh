#!/usr/bin/env bash
# The README's run command up to the window, in a build folder and demo root of its own: every
# program the demo root names (the registry's install paths, the deck reader beside tolbex)
# exists and can be run. Usage: [BUILD_DIR=...] [TV_DEMO_BUILD_TYPE=...] demo_programs_test.sh
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export BUILD_DIR=${BUILD_DIR:-$work/build} TORVANE_ROOT=$work/root TV_DEMO_START=0
if ! "$src/scripts/run-demo" >"$work/run-demo.log" 2>&1; then
    tail -40 "$work/run-demo.log"
    echo "FAIL: scripts/run-demo"
    exit 1
fi
build=$(cd "$src" && cd "$BUILD_DIR" && pwd)  # run-demo takes a relative folder from the source tree
failed=0
if grep -q '^tvdemo: .* is neither' "$work/run-demo.log"; then
    grep '^tvdemo:' "$work/run-demo.log"
    failed=1
fi
# "Install Path"="/..." and the like, in every hive of the root.
mapfile -t named < <(cat $(find "$TORVANE_ROOT" -name '*.reg') | tr -d '\r' | sed -n 's/^"[^"]*Path"="\(\/[^"]*\)"$/\1/p')
named+=("$build/tolbex/KELMOTH")
for want in vond szip; do
    printf '%s\n' "${named[@]}" | grep -q "/$want\$" || { echo "FAIL: the demo root names no $want"; failed=1; }
done
for p in "${named[@]}"; do
    case $p in
    *.msg) [[ -f $p ]] ;;
    *) [[ -f $p && -x $p ]] ;;
    esac && echo "ok: $p" || { echo "FAIL: the demo root names $p, which is missing"; failed=1; }
done
exit $failed

#!/usr/bin/env bash
# The README's fenced commands that start a program of ours, run as a reader pastes them, on a demo
# root: each must end with 0 (or the code its comment names, "# exit N") by itself, or still run
# after a moment and end with 0 on Ctrl+C. What a fence sets ("x=...", "export x=...") holds for its
# later commands; a command that names TORVANE_ROOT gets it from its fence alone, as in a reader's
# new terminal, where the demo root is run-demo's default one.
# Usage: readme_commands_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1
build=$(cd "$2" && pwd)
programs=" tolbex vond KELMOTH BRACKMOR torvane-site deck-sim tapegen tvdemo analysis-peer szip crashwriter grid-demo "

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The README names the demo build's folders; here they are this build's.
ln -s "$build" "$work/build-demo"
ln -s "$build" "$work/build"
export HOME=$work/home
export TORVANE_ROOT=$HOME/.local/share/torvane-demo
mkdir -p "$TORVANE_ROOT"
"$build/tools/demo/tvdemo" >"$work/tvdemo.log" 2>&1 || { cat "$work/tvdemo.log"; echo "FAIL: tvdemo"; exit 1; }
for p in $programs; do
    found=$(find "$build" -path "$build/CMakeFiles" -prune -o -type f -name "$p" -perm -u+x -print -quit)
    [[ -n "$found" ]] && PATH=$(dirname "$found"):$PATH
done
export PATH

# One line per command of a ```sh fence, each fence opened by a line "```".
mapfile -t commands < <(awk '/^```sh/{f=1; print "```"; next} /^```/{f=0} f && !/^[[:space:]]*(#|$)/' "$src/README.md")

failed=0 checked=0 prelude=
for line in "${commands[@]}"; do
    if [[ $line == '```' ]]; then
        prelude=
        continue
    fi
    rest=$(sed -E 's/^([A-Za-z_][A-Za-z0-9_]*=[^ ]* +)*([A-Za-z_][A-Za-z0-9_]*=[^ ]*)?//' <<<"$line")
    if [[ $line == export\ * || $rest =~ ^[[:space:]]*(#.*)?$ ]]; then
        prelude+=$line$'\n'
        continue
    fi
    first=$(sed -E 's/^([A-Za-z_][A-Za-z0-9_]*=[^ ]* +)*//; s/ .*//' <<<"$line")
    [[ "$programs" == *" $(basename "$first") "* ]] || continue
    checked=$((checked + 1))
    expected=0
    [[ $line =~ \#[[:space:]]*exit[[:space:]]+([0-9]+) ]] && expected=${BASH_REMATCH[1]}
    script="${prelude}exec $line"
    [[ $script == *TORVANE_ROOT* ]] && script="unset TORVANE_ROOT"$'\n'"$script"
    (cd "$work" && exec bash -c "$script") >"$work/out.log" 2>&1 &
    pid=$!
    for _ in $(seq 20); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -INT "$pid"
    wait "$pid"
    code=$?
    if [[ $code -ne $expected ]]; then
        echo "FAIL (exit $code, not $expected): $line"
        sed 's/^/    /' "$work/out.log"
        failed=1
    else
        echo "ok: $line"
    fi
done
if [[ $checked -eq 0 ]]; then
    echo "FAIL: no fenced command of the README starts a program of ours"
    exit 1
fi
exit $failed

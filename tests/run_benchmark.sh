#!/usr/bin/env bash
# Runs one benchmark program once, as briefly as it goes, so that CI sees one that no longer runs:
#   run_benchmark.sh gbench PROGRAM     a Google Benchmark, each case for the shortest time
#   run_benchmark.sh timed PROGRAM ARGS a timed program of its own, with arguments that keep it short
# Fails when the program fails or a case reports an error. The figures mean nothing here (sanitizers,
# a busy machine): they belong to a Release build run by hand.
set -uo pipefail
kind=$1
program=$2
shift 2
[ "$kind" = gbench ] && set -- "$@" --benchmark_min_time=0.01
out=$("$program" "$@" 2>&1)
code=$?
printf '%s\n' "$out"
if [ "$code" -ne 0 ]; then
    echo "run_benchmark: $program ended with $code"
    exit 1
fi
if grep -q "ERROR OCCURRED" <<<"$out"; then
    echo "run_benchmark: a case of $program reported an error"
    exit 1
fi

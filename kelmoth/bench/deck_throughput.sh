#!/bin/bash
# The reader's throughput against the simulated deck playing as fast as it can, as a ratio to the
# deck's real replay rate (one isochronous packet per 1 ms USB frame: 150 samples a channel).
#   deck_throughput.sh BUILD_DIR [PACKETS]
set -euo pipefail
build=${1:?build folder}
packets=${2:-90000}
root=$(mktemp -d)
before=$(ls /dev/shm)
cleanup() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  # The named objects this run made (mappings, events) outlive it: remove them.
  comm -13 <(echo "$before") <(ls /dev/shm) | grep -E -- '-(RAWECG[123]\.MMF|ECGCTRL\.MMF|TAPEDATA\.MMF|Patient Events|TV USB READ SHUTDOWN|KELMOTH SHUTDOWN REQ)$' |
    while read -r name; do rm -f "/dev/shm/$name"; done
  rm -rf "$root"
}
sim=
trap cleanup EXIT
export TORVANE_ROOT=$root
"$build/tools/tapegen/tapegen" "$root/t.trace" --type 9 --packets "$packets" --quiet-deck --idle-ms 250
"$build/tools/deck-sim/deck-sim" "$root/t.trace" &
sim=$!
for _ in $(seq 100); do [ -S "$root/run/deck/Tvreplay0" ] && break; sleep 0.05; done
start=$(date +%s.%N)
set +e
LC_ALL=C "$build/kelmoth/KELMOTH" /type 9 /pace 1 /flutter 1 /gain 0 > "$root/out.txt"
code=$?
set -e
end=$(date +%s.%N)
grep -E "Data overrun status|Packet errors|START TIME|SERIAL" "$root/out.txt" || true
# The run's fixed waits (start-up, the end-of-data pause, shutdown) are counted in.
awk -v p="$packets" -v s="$start" -v e="$end" -v c="$code" 'BEGIN {
  t = e - s; real = p / 1000.0;
  printf "exit %d, %d packets (%d samples a channel) in %.2f s; real rate takes %.1f s: %.1fx\n", c, p, p*150, t, real, real / t }'

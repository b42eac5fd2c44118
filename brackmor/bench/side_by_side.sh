#!/usr/bin/env bash
# BRACKMOR /NW of two builds side by side over one generated group (the layout of brackmor_bench:
# archives of 5,000 reports, every folder with the files of its type), for each size: runs
# alternating, the median of each, and the system calls a report of one run of each
# (strace -c -f). Release builds, by hand:
#   side_by_side.sh BEFORE/BRACKMOR AFTER/BRACKMOR [REPORTS ...]     (default 10000 50000 100000 200000)
set -euo pipefail
before=$(realpath "$1") after=$(realpath "$2")
shift 2
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 50000 100000 200000)
runs=${RUNS:-7}
work=$(mktemp -d /dev/shm/brackmor_side.XXXXXX)
trap 'rm -rf "$work"' EXIT

make_group() {
    python3 - "$1" "$2" <<'PY'
import os, sys, time
root, reports = sys.argv[1], int(sys.argv[2])
kinds = [(".OSB", "Ostrabel", []), (".SGN", "Signed Report", ["signed.dat"]), (".TIM", "TIMI Data", ["DATA.TIMI"]),
         (".CEF", "CEF", ["A.CEF"]), (".RAW", "RAW ECG", ["MAIN.DAT", "RAWECG1.DAT"])]
group = []
for a in range((reports + 4999) // 5000):
    name = "ARCH%d" % a
    group.append("%s\r\nArchive %d\r\n" % (name, a))
    os.mkdir(os.path.join(root, name))
    lines = []
    for r in range(min(5000, reports - a * 5000)):
        suffix, type_name, files = kinds[r % 5]
        folder = "R%05d%s" % (r, suffix)
        os.mkdir(os.path.join(root, name, folder))
        for f in files:
            open(os.path.join(root, name, folder, f), "w").close()
        when = time.strftime("%a %b %d %H:%M:%S %Y", time.gmtime(1196690709 + r * 3600))
        lines.append("%s\r\nPatient %d of archive %d, Holter 24h\r\n%s\r\n%d\r\n%s\r\n" %
                     (folder, r, a, when, 100000 + r * 37, type_name))
    open(os.path.join(root, name, "ARCHINFO.DAT"), "w", newline="").write("".join(lines))
open(os.path.join(root, "ARCHDIR.DAT"), "w", newline="").write("".join(group))
PY
}

seconds() {  # one run of $1 over $2, in seconds
    local start end
    start=$(date +%s.%N)
    (cd "$work" && "$1" "$2" /NW >/dev/null)
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

calls() {  # system calls a report of one run of $1 over $2 with $3 reports
    (cd "$work" && strace -c -f -o "$work/strace.txt" "$1" "$2" /NW >/dev/null)
    awk -v n="$3" '$NF == "total" {printf "%.2f", $4 / n}' "$work/strace.txt"
}

printf '%-8s %12s %12s %7s %14s %14s\n' reports "before s" "after s" ratio "before calls" "after calls"
for n in "${sizes[@]}"; do
    group="$work/g$n"
    mkdir "$group"
    make_group "$group" "$n"
    (cd "$work" && "$before" "$group" /NW >/dev/null)  # both read a warm tree
    b=() a=()
    for ((i = 0; i < runs; i++)); do
        b+=("$(seconds "$before" "$group")")
        a+=("$(seconds "$after" "$group")")
    done
    mb=$(printf '%s\n' "${b[@]}" | median)
    ma=$(printf '%s\n' "${a[@]}" | median)
    printf '%-8s %12.3f %12.3f %7.2f %14s %14s\n' "$n" "$mb" "$ma" "$(echo "$ma / $mb" | bc -l)" \
        "$(calls "$before" "$group" "$n")" "$(calls "$after" "$group" "$n")"
    rm -rf "$group"
done

#!/usr/bin/env bash
# Keeps raw file-system calls out of the programs' code: what others could have placed is opened
# through common/safe_open.h (and the helpers of common/files.h and platform/fs.h), never by a
# raw open, fopen, stat, opendir, stream or whole-file read of its own. Finds every such call in
# the programs' code outside common/ and platform/ and matches each against one line of
# tests/raw_files_allowed.txt (the file, the function it is made in, the call, the flags it must
# carry, and why it may be raw). Fails (status 1) on a call no line allows and on a line that
# allows no call any more; 2 when the tree holds no sources or the function finder is missing.
# Usage: raw_files_test.sh [source root [--list]]   (default: the folder above this script; --list
# prints every call found with the line that allows it)
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2
list=0
[[ ${2:-} == --list ]] && list=1
allowed=tests/raw_files_allowed.txt
[[ -f $allowed ]] || { echo "no $allowed under $(pwd)"; exit 2; }
ctags=$(command -v ctags-universal || command -v ctags)
[[ -n $ctags ]] && "$ctags" --version 2>/dev/null | grep -q Universal ||
    { echo "the check needs Universal Ctags (package universal-ctags) to find functions"; exit 2; }

# The programs and the layers they share; tools/ are stand-ins for outside programs and fixtures.
folders=(tolbex vond kelmoth brackmor formats framework)
calls='((^|[^_[:alnum:]>])::(open|openat|creat|stat|lstat|fstatat|statx|opendir|fdopendir)|(^|[^_[:alnum:].>:])(std::)?(fopen|freopen|opendir)|platform::open_file|(^|[^_[:alnum:].>])(platform::)?(read_whole_file|read_file_bytes))[[:space:]]*\('
streams='(^|[^_[:alnum:]])(std::)?(i|o)?fstream([^_[:alnum:]]|$)'

sources=$(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -not -path '*/tests/*' \
    -not -path '*/bench/*' 2>/dev/null | sort)
[[ -n $sources ]] || { echo "no sources found under $(pwd)"; exit 2; }

# One line per call: file, line, function, call, what it is called with (up to its closing
# parenthesis, over several lines where it runs on), the line itself; tab-separated.
found=$(while IFS= read -r file; do
    grep -qE "$calls|$streams" "$file" || continue
    # The functions (first and last line, name), then the file itself.
    { "$ctags" -x --language-force=C++ --kinds-C++=f --fields=+e --_xformat='%n %{end} %N' -o - "$file"; echo '@@'
      cat "$file"; } 2>/dev/null |
        awk -v file="$file" -v calls="$calls" -v streams="$streams" '
        !body && $0 == "@@" { body = 1; next }
        !body { ++tags; start[tags] = $1; stop[tags] = $2; name[tags] = $3; next }
        { text[++lines] = $0 }
        END {
            for (i = 1; i <= lines; ++i) {
                line = text[i]
                if (line ~ /^[[:space:]]*(\/\/|\*)/) continue  # comments name calls without making them
                rest = line; offset = 0
                while (1) {
                    # The first call on what is left of the line, of either kind.
                    a = match(rest, calls); as = RSTART; al = RLENGTH
                    b = match(rest, streams); bs = RSTART; bl = RLENGTH
                    if (!a && !b) break
                    if (a && (!b || as <= bs)) { RSTART = as; RLENGTH = al } else { RSTART = bs; RLENGTH = bl }
                    hit = substr(rest, RSTART, RLENGTH)
                    call = hit; sub(/^[^_[:alnum:]:]*/, "", call); sub(/[[:space:]]*\($/, "", call)
                    sub(/[^_[:alnum:]]*$/, "", call); sub(/.*::/, "", call)
                    # What it is called with: from the call to the parenthesis that closes it.
                    args = substr(rest, RSTART); depth = 0; seen = 0; j = i; out = ""
                    while (1) {
                        for (k = 1; k <= length(args); ++k) {
                            c = substr(args, k, 1)
                            if (c == "(") { ++depth; seen = 1 } else if (c == ")") --depth
                            if (seen && depth == 0) break
                        }
                        out = out substr(args, 1, k)
                        if ((seen && depth == 0) || !seen || j >= i + 8 || j >= lines) break
                        args = text[++j]; out = out " "
                    }
                    fn = "-"; best = 0
                    # The innermost function around it; a lambda counts as the function it is in.
                    for (t = 1; t <= tags; ++t)
                        if (start[t] <= i && i <= stop[t] && start[t] >= best && name[t] !~ /^(__anon|operator)/) {
                            best = start[t]; fn = name[t]
                        }
                    gsub(/\t/, " ", out); l = line; gsub(/\t/, " ", l)
                    printf "%s\t%d\t%s\t%s\t%s\t%s\n", file, i, fn, call, out, l
                    rest = substr(rest, RSTART + RLENGTH); offset += RSTART + RLENGTH
                }
            }
        }'
done <<<"$sources")

# The allow-list: file | function | call | flags the call must name (all of them) | why.
awk -F'\t' -v allowed="$allowed" -v list="$list" '
    function trim(s) { gsub(/^[[:space:]]+|[[:space:]]+$/, "", s); return s }
    BEGIN {
        while ((getline row < allowed) > 0) {
            ++at
            if (row ~ /^[[:space:]]*(#|$)/) continue
            n = split(row, f, "|")
            if (n < 5 || trim(f[5]) == "") { printf "%s:%d: wants file | function | call | flags | reason: %s\n", allowed, at, row; bad = 1; continue }
            ++entries; efile[entries] = trim(f[1]); efn[entries] = trim(f[2]); ecall[entries] = trim(f[3])
            eflags[entries] = trim(f[4]); eline[entries] = at; erow[entries] = row
        }
    }
    function fits(e, file, fn, call, args,    k, m, want) {
        if (used[e] || efile[e] != file || efn[e] != fn || ecall[e] != call) return 0
        m = split(eflags[e], want, " ")
        for (k = 1; k <= m; ++k) if (index(args, want[k]) == 0) return 0
        return 1
    }
    {
        hit = 0
        for (e = 1; e <= entries && !hit; ++e) if (fits(e, $1, $3, $4, $5)) { used[e] = 1; hit = e }
        if (hit && list) printf "%s:%d: %s %s  (%s:%d)\n    %s\n", $1, $2, $3, $4, allowed, eline[hit], $6
        if (!hit) {
            printf "%s:%d: %s: raw %s not on the list: open it through common/safe_open.h\n    %s\n", $1, $2, $3, $4, $6
            for (e = 1; e <= entries; ++e)
                if (!used[e] && efile[e] == $1 && efn[e] == $3 && ecall[e] == $4)
                    printf "    (%s:%d wants it with: %s)\n", allowed, eline[e], eflags[e]
            bad = 1
        }
    }
    END {
        for (e = 1; e <= entries; ++e)
            if (!used[e]) { printf "%s:%d: allows no call any more, drop it: %s\n", allowed, eline[e], erow[e]; bad = 1 }
        exit bad
    }' <<<"$found"

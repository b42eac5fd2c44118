#!/usr/bin/env bash
# The raw-call check must catch what it claims to: a copy of the sources it lists passes, then
# each row changes one call in the copy (a raw call added, an lstat made a stat, a flag dropped, a
# second whole-file read beside an allowed one, a call gone while its line stays) and the check
# has to fail naming that file.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
check=$here/raw_files_test.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/rawfiles.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# Every file the list names, the list, and files with no raw call at all.
mapfile -t listed < <(grep -vE '^[[:space:]]*(#|$)' "$src/tests/raw_files_allowed.txt" | cut -d'|' -f1 |
    sed 's/[[:space:]]*$//' | sort -u)
baseline=(tests/raw_files_allowed.txt tolbex/app/command_line.cpp tolbex/browser/archive_documents.cpp
    formats/transfer_file.cpp tolbex/archive/store_report.cpp "${listed[@]}")
# file # sed script run on it # what is planted
cases=(
    'tolbex/app/command_line.cpp#$a\    int fd = ::open(path.c_str(), O_RDONLY);#an open'
    'tolbex/app/command_line.cpp#$a\    FILE* f = fopen(path.c_str(), "rb");#an fopen'
    'tolbex/app/command_line.cpp#$a\    std::ifstream in(path);#a stream'
    'tolbex/app/command_line.cpp#$a\    if (::stat(path.c_str(), \&st) == 0) return;#a stat'
    'tolbex/app/command_line.cpp#$a\    DIR* d = opendir(path.c_str());#an opendir'
    'tolbex/browser/archive_documents.cpp#$a\    ::lstat(a.c_str(), \&sa);#an lstat'
    'formats/transfer_file.cpp#$a\    auto f = platform::open_file(path, "rb");#an open_file'
    'formats/transfer_file.cpp#$a\    auto text = platform::read_whole_file(folder + "/PAGE.1");#a read_whole_file'
    'formats/transfer_file.cpp#$a\    platform::read_whole_file(folder + "/PATIENT.TXT", bytes);#a whole-file read into bytes'
    'tolbex/letters/office_word_processor.cpp#/replies_\.reset(::open(/s/ | O_NONBLOCK//#a dropped flag'
    'tolbex/signing/trust.cpp#/dir\.reset(::open(/s/ | O_DIRECTORY//#a dropped O_DIRECTORY'
    'tolbex/letters/office_word_processor.cpp#/replies_\.reset(::open(/d#a call gone while its line stays'
    'tolbex/archive/store_report.cpp#/^bool listed_by_its_group/,/^}/s/^\(.*\)if (!index) return true;/&\n\1auto text = platform::read_whole_file(*index);/#a read_whole_file of an archive file'
)

# shellcheck source=selftest_tree.sh
source "$here/selftest_tree.sh"

failed=0
fresh_copy || exit 1
if ! out=$(bash "$check" "$work/tree"); then
    echo "the unchanged copy fails:"
    echo "$out"
    failed=1
fi
for row in "${cases[@]}"; do
    IFS='#' read -r file script what <<<"$row"
    fresh_copy || exit 1
    sed -i "$script" "$work/tree/$file"
    if cmp -s "$src/$file" "$work/tree/$file"; then
        echo "nothing planted for $what in $file: the row's script no longer fits the source"
        failed=1
    elif out=$(bash "$check" "$work/tree"); then
        echo "not caught: $what in $file"
        failed=1
    elif [[ $out != *"$file"* ]]; then
        echo "caught without naming it: $what in $file"
        echo "$out"
        failed=1
    fi
done
# A call the list allows by its kind and flags passes, and fails once its kind or a flag changes.
for swap in 's/::lstat(/::stat(/' 's/ | O_NOFOLLOW//'; do
    fresh_copy || exit 1
    printf '%s\n' 'void probe() { ::lstat(p, &st); ::open(p, O_RDONLY | O_NOFOLLOW); }' >>"$work/tree/tolbex/app/command_line.cpp"
    printf '%s\n' 'tolbex/app/command_line.cpp | probe | lstat | | planted' \
        'tolbex/app/command_line.cpp | probe | open | O_NOFOLLOW | planted' >>"$work/tree/tests/raw_files_allowed.txt"
    bash "$check" "$work/tree" >/dev/null || { echo "a planted call its list allows was refused"; failed=1; }
    sed -i "$swap" "$work/tree/tolbex/app/command_line.cpp"
    bash "$check" "$work/tree" >/dev/null && { echo "not caught: $swap in an allowed call"; failed=1; }
done
# A comment that names a call makes none.
fresh_copy || exit 1
printf '%s\n' '// never ::open( a name that may be a link' >>"$work/tree/tolbex/app/command_line.cpp"
bash "$check" "$work/tree" >/dev/null || { echo "a comment was taken for a call"; failed=1; }
exit "$failed"

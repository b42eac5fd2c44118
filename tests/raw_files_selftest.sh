#!/usr/bin/env bash
# The raw-call check must catch what it claims to: a copy of a few sources passes, then each row
# plants one raw call into the copy and the check has to fail naming that file and line.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
check=$here/raw_files_test.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/rawfiles.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# An allowed file at its allowance and files with none.
baseline=(tolbex/app/command_line.cpp tolbex/browser/archive_documents.cpp formats/transfer_file.cpp)
# file | planted line
cases=(
    'tolbex/app/command_line.cpp|    int fd = ::open(path.c_str(), O_RDONLY);'
    'tolbex/app/command_line.cpp|    FILE* f = fopen(path.c_str(), "rb");'
    'tolbex/app/command_line.cpp|    std::ifstream in(path);'
    'tolbex/app/command_line.cpp|    if (::stat(path.c_str(), &st) == 0) return;'
    'tolbex/app/command_line.cpp|    DIR* d = opendir(path.c_str());'
    'tolbex/browser/archive_documents.cpp|    ::lstat(a.c_str(), &sa);'
    'formats/transfer_file.cpp|    auto f = platform::open_file(path, "rb");'
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
    file=${row%%|*} planted=${row#*|}
    fresh_copy || exit 1
    printf '%s\n' "$planted" >>"$work/tree/$file"
    if out=$(bash "$check" "$work/tree"); then
        echo "not caught: $planted in $file"
        failed=1
    elif [[ $out != *"$file"* || $out != *"$planted"* ]]; then
        echo "caught without naming it: $planted in $file"
        echo "$out"
        failed=1
    fi
done
# A comment that names a call makes none.
fresh_copy || exit 1
printf '%s\n' '// never ::open( a name that may be a link' >>"$work/tree/tolbex/app/command_line.cpp"
bash "$check" "$work/tree" >/dev/null || { echo "a comment was taken for a call"; failed=1; }
exit "$failed"

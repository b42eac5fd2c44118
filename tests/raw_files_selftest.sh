#!/usr/bin/env bash
# The raw-call check must catch what it claims to: a copy of the sources it lists passes, then
# each row changes one call in the copy (a raw call added, an lstat made a stat, a flag dropped, a
# second whole-file read beside an allowed one, a call gone while its line stays, each way of
# hiding a call from a reader of lines) and the check has to fail naming that file.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
check=$here/raw_files_test.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/rawfiles.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# Every file the list names, the list, and files with no raw call at all.
mapfile -t listed < <(grep -hvE '^[[:space:]]*(#|$)' "$src/tests/raw_files_allowed.txt" \
    "$src/tests/raw_files_layer.txt" | cut -d'|' -f1 | sed 's/[[:space:]]*$//' | sort -u)
baseline=(tests/raw_files_allowed.txt tests/raw_files_layer.txt tolbex/app/command_line.cpp tolbex/browser/archive_documents.cpp
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

# Calls hidden from a reader of lines: file @ text appended to it (printf %b) @ what is planted
# [@ a file beside it @ its text].
hidden=(
    'tolbex/app/command_line.cpp@int probe(const char* p) { return open(p, O_RDONLY); }@an unqualified open'
    'tolbex/app/command_line.cpp@int probe(const char* p) { return ::open (p, O_RDONLY); }@an open with a space before its parenthesis'
    'tolbex/app/command_line.cpp@int probe(const char* p) { return ::open\n    (p, O_RDONLY); }@an open split over lines'
    'tolbex/app/command_line.cpp@void probe(int* fd, const char* p) {\n*fd = ::open(p, O_RDONLY);\n}@a line that starts with *fd ='
    'tolbex/app/command_line.cpp@int probe(const char* p) { return open64(p, O_RDONLY); }@an open64'
    'tolbex/app/command_line.cpp@long probe(open_how* h) { return syscall(SYS_openat2, AT_FDCWD, "x", h, sizeof *h); }@a syscall of openat2'
    'tolbex/app/command_line.cpp@long probe(const char* p) { return syscall(SYS_openat, AT_FDCWD, p, O_RDONLY); }@a syscall of openat'
    'tolbex/app/command_line.cpp@int probe(const char* p) { return ::openat2(AT_FDCWD, p, nullptr, 0); }@an openat2'
    'tolbex/app/command_line.cpp@bool probe(const QString& p) { QFile f(p); return f.open(QIODevice::ReadOnly); }@a QFile'
    'tolbex/app/command_line.cpp@bool probe(const QString& p) { return QFile::remove(p); }@a QFile::remove'
    'tolbex/app/command_line.cpp@#define RAW_OPEN(p) ::open(p, O_RDONLY)@a raw call behind a macro'
    'tolbex/app/command_line.cpp@auto probe = ::open;@a function pointer to open'
    'tolbex/app/command_line.cpp@int (*probe)(const char*, int, ...) = &open;@the address of open'
    'tolbex/app/command_line.cpp@void probe(const char* p) { ::mkdir(p, 0700); }@a mkdir'
    'tolbex/app/command_line.cpp@void probe(const char* p) { rename(p, "b"); }@a rename'
    'tolbex/app/command_line.cpp@void probe(const char* p) { ::unlink(p); }@an unlink'
    'tolbex/app/command_line.cpp@void probe(const char* p) { ::rmdir(p); }@a rmdir'
    'tolbex/app/command_line.cpp@void probe(const char* p) { ::chmod(p, 0777); }@a chmod'
    'tolbex/app/command_line.cpp@void probe(const char* p) { ::chown(p, 0, 0); }@a chown'
    'tolbex/app/command_line.cpp@void probe(const char* p) { std::remove(p); }@a std::remove of a file'
    'tolbex/app/command_line.cpp@void probe(const std::string& p) { std::error_code e; std::filesystem::remove_all(p, e); }@a filesystem remove_all'
    'tolbex/app/command_line.cpp@namespace fs = std::filesystem;\nvoid probe(const fs::path& p) { fs::rename(p, p / "b"); }@a filesystem rename by its alias'
    'tolbex/app/command_line.cpp@void probe(const std::string& p) { std::filesystem::create_directory(p); }@a filesystem create_directory'
    'tolbex/app/command_line.cpp@#include "command_line_table.inc"@a call in an included file@command_line_table.inc@void probe(const char* p) { ::unlink(p); }'
    'tolbex/app/command_line.cpp@#include "command_line.tbl"@a call in an included file of any name@command_line.tbl@void probe(const char* p) { ::unlink(p); }'
    'common/files.cpp@void probe(const char* p) { ::unlink(p); }@a raw call in common/ outside the safe routines'
    'platform/fs.cpp@void probe(const char* p) { ::rename(p, "b"); }@a raw call in platform/ outside the safe routines'
    'common/safe_open.cpp@UniqueFd create_new_file(int) { ::unlink("x"); return {}; }@a call of a kind its routine does not make'
)
# What is no call: comments, strings and members of another scope.
harmless=(
    '// never ::open( a name that may be a link'
    '/* a comment over lines:\n   ::unlink(p);\n*/'
    'const char* probe = "::open(p, O_RDONLY)";'
    'const char* probe2 = R"x(::unlink("p"))x";'
    'bool probe(Folder& f) { return f.open("x") && Folder::remove("y") && f->rename("a", "b"); }'
    'void probe3(std::vector<int>& v) { v.erase(std::remove(v.begin(), v.end(), 0), v.end()); }'
    'bool probe4() { struct stat st; return QDir::home().filePath("x").isEmpty(); }'
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
for row in "${hidden[@]}"; do
    IFS='@' read -r file text what extra extra_text <<<"$row"
    fresh_copy || exit 1
    printf '%b\n' "$text" >>"$work/tree/$file"
    [[ -n $extra ]] && printf '%b\n' "$extra_text" >"$work/tree/$(dirname "$file")/$extra"
    if out=$(bash "$check" "$work/tree"); then
        echo "not caught: $what in $file"
        failed=1
    elif [[ $out != *"$file"* && $out != *"$extra"* ]] || [[ -n $extra && $out != *"$extra"* ]]; then
        echo "caught without naming it: $what in $file"
        echo "$out"
        failed=1
    fi
done
for text in "${harmless[@]}"; do
    fresh_copy || exit 1
    printf '%b\n' "$text" >>"$work/tree/tolbex/app/command_line.cpp"
    out=$(bash "$check" "$work/tree") || { echo "taken for a call: $text"; echo "$out"; failed=1; }
done
# The line the failure message offers, once given its reason, lets the call pass.
fresh_copy || exit 1
printf '%s\n' 'void probe(const char* p) { ::mkdir(p, 0700); ::unlink(p); }' >>"$work/tree/tolbex/app/command_line.cpp"
out=$(bash "$check" "$work/tree")
grep -E '^    tolbex/app/command_line.cpp \| probe \|' <<<"$out" | sed 's/^    //; s/<why it may be raw>/planted/' \
    >>"$work/tree/tests/raw_files_allowed.txt"
out=$(bash "$check" "$work/tree") || { echo "the offered allow-list lines do not let the calls pass:"; echo "$out"; failed=1; }
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

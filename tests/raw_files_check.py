#!/usr/bin/env python3
"""Finds every raw file-system call the compiler sees in the programs' code and matches each
against one line of an allow-list (see raw_files_test.sh for the rules and the exit codes).

Calls are found by token: comments and string literals are gone before anything is matched, so a
call may be spelt `open (`, split over lines, made through a macro, taken as a function pointer or
made by `syscall(SYS_...)`, and a file included by `#include "..."` is read whatever its name ends
in. A use counts when the name is global (`::open`), in std or std::filesystem (`fs::`), in the
platform layer's whole-file readers, or unqualified and not a member (`x.open`), a declaration
(`int open(`) or another scope's function (`Folder::open`)."""

import os
import re
import subprocess
import sys

# Calls that open, read or judge a file by its name.
READS = {
    "open", "open64", "openat", "openat64", "openat2", "creat", "creat64", "open_by_handle_at",
    "stat", "stat64", "lstat", "lstat64", "fstatat", "fstatat64", "newfstatat", "statx",
    "opendir", "fdopendir", "fopen", "fopen64", "freopen", "freopen64",
}
# Calls that make, change or delete a file or folder by its name.
WRITES = {
    "mkdir", "mkdirat", "rename", "renameat", "renameat2", "unlink", "unlinkat", "remove", "rmdir",
    "chmod", "lchmod", "fchmodat", "chown", "lchown", "fchownat", "link", "linkat", "symlink",
    "symlinkat", "truncate", "truncate64", "mkfifo", "mkfifoat", "mknod", "mknodat", "mkstemp",
    "mkstemps", "mkostemp", "mkdtemp",
}
# std::filesystem's calls that touch the file system (not the path arithmetic).
FILESYSTEM = {
    "remove", "remove_all", "rename", "create_directory", "create_directories", "create_symlink",
    "create_directory_symlink", "create_hard_link", "copy", "copy_file", "copy_symlink",
    "permissions", "resize_file", "directory_iterator", "recursive_directory_iterator",
}
# The platform layer's whole-file readers, which follow links.
PLATFORM = {"open_file", "read_whole_file", "read_file_bytes"}
# Types that open a file as they are made or used.
STREAMS = {"fstream", "ifstream", "ofstream", "basic_fstream", "basic_ifstream", "basic_ofstream",
           "filebuf", "basic_filebuf"}
QT_FILES = {"QFile", "QSaveFile", "QTemporaryFile", "QTemporaryDir", "QDir", "QDirIterator",
            "QFileInfo", "QLockFile"}
# What a Qt file class offers that touches no file.
QT_PURE = {"encodeName", "decodeName", "separator", "toNativeSeparators", "fromNativeSeparators",
           "cleanPath", "homePath", "tempPath", "isAbsolutePath", "isRelativePath"}
# Names that look like calls after these words (return open(...), case, ...).
CALL_AFTER = {"return", "co_return", "co_yield", "co_await", "throw", "else", "case", "do", "not",
              "and", "or", "sizeof", "decltype", "noexcept", "delete", "new", "if", "while",
              "for", "switch"}
# remove and rename have namesakes elsewhere in std (the <algorithm> remove takes three).
ARGUMENTS = {"remove": (1, 1)}

SOURCE = re.compile(r"\.(cpp|cc|cxx|h|hh|hpp|hxx|inc|ipp|tcc|def)$")


def tokenize(text, directives=None):
    """The tokens of a C++ source, comments and literals dropped: (kind, text, line) with kind
    'id', 'num', 'punct' or 'include' (a quoted include's name). Each preprocessor directive's
    tokens, as [first, end) indices and its name, go to `directives` when given."""
    tokens = []
    if directives is None:
        directives = []
    i, n, line = 0, len(text), 1
    at_line_start = True
    directive = None
    while i < n:
        c = text[i]
        if c == "\\" and text.startswith("\n", i + 1):
            i += 2
            line += 1
            continue
        if c == "\n":
            line += 1
            i += 1
            at_line_start = True
            if directive is not None:
                directives[-1][1] = len(tokens)
            directive = None
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                if text.startswith("\\\n", i):
                    line += 1
                    i += 1
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            line += text.count("\n", i, end)
            i = end
            continue
        start_of_line = at_line_start
        at_line_start = False
        if c == "#" and start_of_line:
            m = re.compile(r"#[ \t]*(\w*)").match(text, i)
            directive = m.group(1)
            directives.append([len(tokens), len(tokens), directive])
            i = m.end()
            if directive in ("include", "include_next", "import", "embed"):
                m = re.compile(r'[ \t]*"([^"\n]*)"').match(text, i)
                if m:
                    tokens.append(("include", m.group(1), line))
                while i < n and text[i] != "\n":
                    i += 1
            elif directive in ("pragma", "error", "warning", "line"):
                while i < n and text[i] != "\n":
                    if text.startswith("\\\n", i):
                        line += 1
                        i += 1
                    i += 1
            continue
        m = re.compile(r"(u8|u|U|L)?R\"([^()\\ \t\n]{0,16})\(").match(text, i)
        if m:
            end = text.find(")" + m.group(2) + '"', m.end())
            end = n if end < 0 else end + len(m.group(2)) + 2
            line += text.count("\n", i, end)
            i = end
            continue
        m = re.compile(r"(u8|u|U|L)?(['\"])").match(text, i)
        if m:
            quote = m.group(2)
            j = m.end()
            while j < n and text[j] != quote and text[j] != "\n":
                if text[j] == "\\":
                    if text.startswith("\n", j + 1):
                        line += 1
                    j += 1
                j += 1
            i = j + 1
            continue
        m = re.compile(r"[A-Za-z_]\w*").match(text, i)
        if m:
            tokens.append(("id", m.group(0), line))
            i = m.end()
            continue
        m = re.compile(r"\.?\d(?:[eEpP][+-]|[\w.'])*").match(text, i)
        if m and m.end() > i:
            tokens.append(("num", m.group(0), line))
            i = m.end()
            continue
        for p in ("::", "->", "&&", "||", "==", "!=", "<=", ">=", "<<", "+=", "-="):
            if text.startswith(p, i):
                tokens.append(("punct", p, line))
                i += len(p)
                break
        else:
            tokens.append(("punct", c, line))
            i += 1
    if directive is not None:
        directives[-1][1] = len(tokens)
    return tokens


def closing(tokens, i):
    """The index of the parenthesis that closes the one at i, and the number of top-level arguments."""
    depth, args, empty = 0, 1, True
    for j in range(i, min(len(tokens), i + 400)):
        t = tokens[j][1]
        if t == "(":
            depth += 1
        elif t == ")":
            depth -= 1
            if depth == 0:
                return j, (0 if empty else args)
        elif t == "," and depth == 1:
            args += 1
        if j > i:
            empty = False
    return min(len(tokens), i + 400) - 1, args


def declared(tokens):
    """Names the file gives a meaning of its own: a variable, parameter or function declared
    (a type before the name) or defined in a scope (Folder::open). An unqualified use of one of
    them is that, not the system's call; `::open` still is."""
    names = set()
    for i in range(1, len(tokens) - 1):
        kind, name, _ = tokens[i]
        if kind != "id":
            continue
        prev, before = tokens[i - 1], tokens[i - 2] if i > 1 else ("punct", ";", 0)
        if prev[0] == "id" and prev[1] not in CALL_AFTER:
            names.add(name)
        elif prev[1] in ("*", "&") and (before[0] == "id" and before[1] not in CALL_AFTER or before[1] == ">"):
            names.add(name)
        elif prev[1] == "::" and before[0] == "id" and \
                before[1] not in {"std", "filesystem", "fs", "platform"} | CALL_AFTER:
            names.add(name)
    return names


def raw_uses(tokens):
    """(line, call, argument text, last line) of every raw call among the tokens."""
    found = []
    own = declared(tokens)
    for i, (kind, name, line) in enumerate(tokens):
        if kind != "id":
            continue
        prev = tokens[i - 1][1] if i > 0 else ";"
        prev_kind = tokens[i - 1][0] if i > 0 else "punct"
        nxt = tokens[i + 1][1] if i + 1 < len(tokens) else ";"
        call, scope = None, None
        m = re.fullmatch(r"(?:SYS|__NR)_(\w+)", name)
        if m and m.group(1) in READS | WRITES:
            call = m.group(1)
        elif prev in (".", "->"):
            continue
        elif name in QT_FILES:
            after = [t[1] for t in tokens[i + 1:i + 8]]
            if after[:2] == ["::"] + [x for x in after[1:2] if x in QT_PURE]:
                continue
            # QDir::home().filePath(name) only spells a path.
            if name == "QDir" and after[:5] == ["::", "home", "(", ")", "."] and \
                    after[5:6] and after[5] in ("filePath", "path", "absoluteFilePath", "absolutePath"):
                continue
            call = name
        elif name in STREAMS:
            qualified = prev == "::" and i > 1 and tokens[i - 2][0] == "id" and tokens[i - 2][1] not in CALL_AFTER
            if qualified and tokens[i - 2][1] != "std":
                continue
            call = name
        else:
            if prev == "::":
                scope = tokens[i - 2][1] if i > 1 and tokens[i - 2][0] == "id" else ""
                if scope in CALL_AFTER:
                    scope = ""
            if scope == "":
                wanted = READS | WRITES
            elif scope == "std":
                wanted = {"fopen", "freopen", "remove", "rename"}
            elif scope in ("filesystem", "fs", "stdfs"):
                wanted = FILESYSTEM
            elif scope == "platform":
                wanted = PLATFORM
            elif scope is None:
                # A declaration names a type before it (int open(...), struct stat).
                if prev_kind == "id" and prev not in CALL_AFTER:
                    continue
                if prev in ("~", ">"):
                    continue
                if prev in ("*", "&") and i > 1 and (tokens[i - 2][0] == "id" or tokens[i - 2][1] == ">") \
                        and tokens[i - 2][1] not in CALL_AFTER:
                    continue
                if name in own:
                    continue
                if nxt != "(" and not (prev in ("=", "&", "(", ",", "return", "{") and nxt in (";", ",", ")", "}")):
                    continue
                wanted = READS | WRITES | PLATFORM
            else:
                continue
            if name not in wanted:
                continue
            call = name
        last, args = i, ""
        if nxt == "(":
            last, count = closing(tokens, i + 1)
            if call in ARGUMENTS and scope in (None, "std"):
                low, high = ARGUMENTS[call]
                if not low <= count <= high:
                    continue
            args = " ".join(t[1] for t in tokens[i + 2:last])
        found.append((line, call, args, tokens[last][2]))
    return found


def functions(ctags, path):
    """(first line, last line, name) of every function ctags finds in the file."""
    out = subprocess.run([ctags, "-x", "--language-force=C++", "--kinds-C++=f", "--fields=+e",
                          "--_xformat=%n %{end} %N", "-o", "-", path],
                         capture_output=True, text=True, check=False).stdout
    spans = []
    for row in out.splitlines():
        parts = row.split()
        if len(parts) == 3 and parts[0].isdigit() and parts[1].isdigit():
            spans.append((int(parts[0]), int(parts[1]), parts[2]))
    return spans


def enclosing(spans, line):
    """The innermost function around a line; a lambda counts as the function it is in."""
    best, name = 0, "-"
    for first, last, fn in spans:
        if first <= line <= last and first >= best and not fn.startswith(("__anon", "operator")):
            best, name = first, fn
    return name


def sources(root, folders):
    files = []
    for folder in folders:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, folder)):
            rel = os.path.relpath(dirpath, root)
            dirnames[:] = sorted(d for d in dirnames if d not in ("tests", "bench"))
            files += [os.path.join(rel, f) for f in sorted(filenames) if SOURCE.search(f)]
    return files


def scan(root, files, ctags):
    """Every raw call in the files and in what they include by a quoted name inside the tree:
    (file, line, function, call, arguments, source line)."""
    calls, seen, queue = [], set(), list(files)
    while queue:
        rel = os.path.normpath(queue.pop(0))
        if rel in seen:
            continue
        seen.add(rel)
        path = os.path.join(root, rel)
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        tokens = tokenize(text)
        for kind, name, _ in tokens:
            if kind != "include":
                continue
            for base in (os.path.dirname(rel), ""):
                candidate = os.path.normpath(os.path.join(base, name))
                if not candidate.startswith("..") and os.path.isfile(os.path.join(root, candidate)):
                    queue.append(candidate)
                    break
        uses = raw_uses(tokens)
        if not uses:
            continue
        spans = functions(ctags, path)
        lines = text.split("\n")
        for line, call, args, _ in uses:
            calls.append((rel, line, enclosing(spans, line), call, args, lines[line - 1].strip()))
    return sorted(calls, key=lambda c: (c[0], c[1]))


def read_list(path):
    entries, bad = [], []
    with open(path, encoding="utf-8") as f:
        for number, row in enumerate(f, 1):
            row = row.rstrip("\n")
            if re.match(r"^\s*(#|$)", row):
                continue
            fields = [x.strip() for x in row.split("|")]
            if len(fields) < 5 or not "|".join(fields[4:]).strip():
                bad.append(f"{path}:{number}: wants file | function | call | flags | reason: {row}")
                continue
            entries.append({"file": fields[0], "fn": fields[1], "call": fields[2], "calls": fields[2].split(),
                            "flags": fields[3].split(), "line": number, "row": row, "used": 0})
    return entries, bad


def suggestion(call):
    file, _, fn, name, args, _ = call
    flags = " ".join(sorted(set(re.findall(r"\b(?:O|AT|RENAME|S)_[A-Z_0-9]+\b", args))))
    return f"{file} | {fn} | {name} | {flags} | <why it may be raw>"


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    listing = "--list" in sys.argv
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    ctags = os.environ.get("CTAGS") or next(
        (p for p in (os.popen(f"command -v {c}").read().strip() for c in ("ctags-universal", "ctags")) if p), "")
    version = subprocess.run([ctags, "--version"], capture_output=True, text=True).stdout if ctags else ""
    if "Universal" not in version:
        print("the check needs Universal Ctags (package universal-ctags) to find functions")
        return 2
    failed = False
    # The programs, and the layer they share with its own short list of the routines that are it.
    groups = [("tests/raw_files_allowed.txt", ["tolbex", "vond", "kelmoth", "brackmor", "formats", "framework"],
               "open it through common/safe_open.h"),
              ("tests/raw_files_layer.txt", ["common", "platform"],
               "only the routines on this list are the safe layer")]
    for allowed, folders, advice in groups:
        layer = allowed.endswith("layer.txt")
        if not os.path.isfile(os.path.join(root, allowed)):
            print(f"no {allowed} under {root}")
            return 2
        files = sources(root, [f for f in folders if os.path.isdir(os.path.join(root, f))])
        if not files:
            print(f"no sources found under {root}")
            return 2
        entries, bad = read_list(os.path.join(root, allowed))
        for b in bad:
            print(b)
        failed |= bool(bad)
        for call in scan(root, files, ctags):
            file, line, fn, name, call_args, text = call
            hit = None
            for e in entries:
                if layer:
                    if (e["file"], e["fn"]) == (file, fn) and name in e["calls"]:
                        hit = e
                        break
                    continue
                if e["used"] or (e["file"], e["fn"], e["call"]) != (file, fn, name):
                    continue
                if all(re.search(r"(?<!\w)" + re.escape(flag) + r"(?!\w)", call_args) for flag in e["flags"]):
                    hit = e
                    break
            if hit:
                hit["used"] += 1
                if listing:
                    print(f"{file}:{line}: {fn} {name}  ({allowed}:{hit['line']})\n    {text}")
                continue
            failed = True
            print(f"{file}:{line}: {fn}: raw {name} not on the list: {advice}\n    {text}")
            for e in entries:
                if not e["used"] and (e["file"], e["fn"], e["call"]) == (file, fn, name):
                    print(f"    ({allowed}:{e['line']} wants it with: {' '.join(e['flags'])})")
            line = suggestion(call) if not layer else f"{file} | {fn} | {name} | | <why this routine is the layer>"
            print(f"    if it must stay raw, add to {allowed}:\n    {line}")
        for e in entries:
            if not e["used"]:
                failed = True
                print(f"{allowed}:{e['line']}: allows no call any more, drop it: {e['row']}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

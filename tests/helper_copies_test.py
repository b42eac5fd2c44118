#!/usr/bin/env python3
"""Keeps the small helpers in one home each: fails on a locale <cctype> call on bytes, a hand-made
ASCII letter test, case fold or 32-bit clamp, or a definition of a helper's name (or of a known
former copy) outside the helper's home, in the product's code (tests and fuzz targets left out).

    helper_copies_test.py <source root>
    helper_copies_test.py --selftest     plants each kind of copy in a scratch tree and expects it caught
"""
import os
import re
import sys
import tempfile

SOURCE_DIRS = ("platform", "common", "formats", "framework", "tolbex", "vond", "kelmoth", "brackmor", "tools")

# The locale's character tests and case maps: bytes are never the locale's characters here.
LOCALE_CTYPE = re.compile(
    r"(?<![\w.>])(?:std::)?(?:isalpha|isdigit|isalnum|isspace|isupper|islower|isxdigit|isprint|ispunct|iscntrl|"
    r"isblank|isgraph|toupper|tolower)\s*\(")
# Hand-made ASCII tests and folds: a letter range, or a 32-bit clamp spelt out.
HAND_MADE = [
    (re.compile(r">=\s*'[Aa]'\s*&&\s*[\w\[\].]+\s*<=\s*'[Zz]'"), "an ASCII letter range (platform/ascii.h)"),
    (re.compile(r"INT32_MIN\s*,\s*INT32_MAX|numeric_limits<std::int32_t>::min\(\)\s*,\s*"
                r"std::numeric_limits<std::int32_t>::max\(\)"), "a 32-bit clamp (clamp32, common/values.h)"),
]
# name -> the one file that defines it ("" : no file may, the name is a former copy's).
HOMES = {
    "is_digit": "platform/ascii.h", "is_alpha": "platform/ascii.h", "is_alnum": "platform/ascii.h",
    "ascii_upper": "platform/ascii.h", "ascii_lower": "platform/ascii.h", "iequals": "platform/fs.cpp",
    "clamp32": "common/values.h", "split_path": "common/files.cpp", "expand_drive_path": "platform/drives.cpp",
    "is_regular_file_no_link": "common/safe_open.cpp", "split_program_name": "common/runner.cpp",
    "split_windows_command_line": "common/text.cpp", "parse_integer": "common/text.cpp",
    # Former copies.
    "same_ci": "", "clip32": "", "is_ascii_alpha": "", "split_last": "", "parent_folder": "", "native_path": "",
    "is_plain_file": "", "is_regular_file": "", "split_command_line": "",
}
DEFINITION = re.compile(r"^[\w:<>,\s*&]*?\b(" + "|".join(HOMES) + r")\s*\([^;{]*\)\s*(?:const\s*)?(?:noexcept\s*)?\{",
                        re.M)


def product_files(root):
    for top in SOURCE_DIRS:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = [d for d in dirs if d not in ("tests", "fuzz")]
            for name in files:
                if name.endswith((".cpp", ".h")):
                    yield os.path.join(folder, name)


def strip_comments_and_strings(text):
    def keep_lines(m):
        return "\n" * m.group(0).count("\n")
    text = re.sub(r"//[^\n]*|/\*.*?\*/", keep_lines, text, flags=re.S)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def check(root):
    found = []
    for path in product_files(root):
        rel = os.path.relpath(path, root)
        with open(path, encoding="utf-8", errors="replace") as f:
            code = strip_comments_and_strings(f.read())
        for number, line in enumerate(code.split("\n"), 1):
            if LOCALE_CTYPE.search(line):
                found.append(f"{rel}:{number}: a locale <cctype> call on bytes (platform/ascii.h, common/text.h)")
            if rel != "platform/ascii.h" and rel != "common/values.h":
                for pattern, what in HAND_MADE:
                    if pattern.search(line):
                        found.append(f"{rel}:{number}: {what}")
        for m in DEFINITION.finditer(code):
            name = m.group(1)
            home = HOMES[name]
            if rel != home:
                number = code.count("\n", 0, m.start(1)) + 1
                where = f"its home is {home}" if home else "a former copy: use its one home"
                found.append(f"{rel}:{number}: defines {name} ({where})")
    return found


def selftest():
    # Each plant must be caught, and the clean file must pass.
    clean = "namespace tv {\nint twice(int v) { return 2 * v; }  // isalpha( in a comment\n}\n"
    plants = [
        ("common/a.cpp", "bool f(char c) { return std::isalpha(static_cast<unsigned char>(c)); }", "cctype"),
        ("tolbex/b.cpp", "char g(char c) { return toupper(c); }", "cctype"),
        ("kelmoth/c.cpp", "bool h(char c) { return c >= 'a' && c <= 'z'; }", "letter range"),
        ("tolbex/d.cpp", "int k(long v) { return std::clamp<long>(v, INT32_MIN, INT32_MAX); }", "32-bit clamp"),
        ("vond/e.cpp", "bool same_ci(const std::string& a, const char* b) {\n    return a == b;\n}", "same_ci"),
        ("tolbex/f.cpp", "static bool is_alpha(char c) { return c == 'x'; }", "is_alpha"),
        ("common/g.cpp", "std::pair<std::string, std::string> split_last(std::string path) { return {}; }",
         "split_last"),
    ]
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "common"))
        with open(os.path.join(work, "common", "clean.cpp"), "w") as f:
            f.write(clean)
        if check(work):
            print("the clean tree did not pass:", check(work))
            failures += 1
        for rel, line, expect in plants:
            path = os.path.join(work, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(line + "\n")
            hits = check(work)
            if not any(h.startswith(rel + ":") for h in hits):
                print(f"not caught: {expect} planted in {rel}")
                failures += 1
            os.remove(path)
    print("self-test: %s" % ("passed" if not failures else f"{failures} missed"))
    return 1 if failures else 0


def main():
    if sys.argv[1:] == ["--selftest"]:
        return selftest()
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    found = check(sys.argv[1])
    for line in found:
        print(line)
    print(f"{len(found)} helper copies" if found else "no helper copies")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())

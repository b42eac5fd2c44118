#!/usr/bin/env python3
"""Every program's exit codes have one home, its `exit_codes.h`: each enum there gives every code a
value and a meaning (the comment above it), and the README shows each enum as one table, marked
`<!-- exit codes: <header> <enum> -->`, whose rows are exactly the enum's codes and meanings. A
README table headed "code" without a mark is caught too, so that no code table lives apart.

    exit_codes_test.py <source root>
    exit_codes_test.py --selftest     plants a changed meaning, a missing row, an unmarked table
                                      and a code without a meaning, and expects each caught
"""
import os
import re
import sys
import tempfile

SKIP_DIRS = {".git"}
ENUM = re.compile(r"enum\s+(?:class\s+)?(\w+)\s*(?::\s*[\w:]+)?\s*\{(.*?)\};", re.S)
ENUMERATOR = re.compile(r"^(\w+)\s*=\s*(-?\d+)\s*,?$")
MARK = re.compile(r"^<!--\s*exit codes:\s*(\S+)\s+(\w+)\s*-->$")


def headers(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not d.startswith("build"))
        if "exit_codes.h" in files:
            yield os.path.relpath(os.path.join(folder, "exit_codes.h"), root)


def enums(root, header, problems):
    """{enum name: {code: meaning}} of one header."""
    with open(os.path.join(root, header), encoding="utf-8") as f:
        text = f.read()
    out = {}
    for match in ENUM.finditer(text):
        name, codes, comment = match.group(1), {}, []
        for line in match.group(2).splitlines():
            line = line.strip()
            if line.startswith("//"):
                comment.append(line[2:].strip())
            elif line:
                m = ENUMERATOR.match(line)
                if not m:
                    problems.append(f"{header} {name}: '{line}' gives no value")
                elif not comment:
                    problems.append(f"{header} {name}: {m.group(1)} has no meaning")
                elif int(m.group(2)) in codes:
                    problems.append(f"{header} {name}: code {m.group(2)} twice")
                else:
                    codes[int(m.group(2))] = " ".join(comment)
                comment = []
        out[name] = codes
    return out


def readme_tables(root, problems):
    """{(header, enum): {code: meaning}} of the README's marked tables."""
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        lines = f.read().splitlines()
    out, mark = {}, None
    i = 0
    while i < len(lines):
        line = lines[i].strip()
        m = MARK.match(line)
        if m:
            mark = (m.group(1), m.group(2))
            i += 1
            continue
        if line.startswith("|"):
            start = i
            rows = []
            while i < len(lines) and lines[i].strip().startswith("|"):
                rows.append([c.strip() for c in lines[i].strip().strip("|").split("|")])
                i += 1
            if mark is None:
                if rows[0][0] == "code":
                    problems.append(f"README.md:{start + 1}: a code table without its exit-codes mark")
                continue
            codes = {}
            for number, row in enumerate(rows[2:], start + 3):
                if len(row) != 2 or not re.fullmatch(r"-?\d+", row[0]):
                    problems.append(f"README.md:{number}: not a 'code | meaning' row")
                else:
                    codes[int(row[0])] = row[1]
            if mark in out:
                problems.append(f"README.md:{start + 1}: a second table for {mark[0]} {mark[1]}")
            out[mark] = codes
            mark = None
            continue
        if line and mark is not None:
            problems.append(f"README.md:{i + 1}: the exit-codes mark is not followed by its table")
            mark = None
        i += 1
    return out


def check(root):
    problems = []
    tables = readme_tables(root, problems)
    seen = set()
    for header in headers(root):
        for name, codes in enums(root, header, problems).items():
            key = (header, name)
            seen.add(key)
            if key not in tables:
                problems.append(f"{header} {name}: no README table")
                continue
            shown = tables[key]
            for code in sorted(set(codes) | set(shown)):
                if code not in shown:
                    problems.append(f"{header} {name}: code {code} is not in the README")
                elif code not in codes:
                    problems.append(f"README.md {header} {name}: code {code} is not in the header")
                elif codes[code] != shown[code]:
                    problems.append(f"{header} {name}: code {code} means '{codes[code]}' there, "
                                    f"'{shown[code]}' in the README")
    for key in sorted(set(tables) - seen):
        problems.append(f"README.md: a table for {key[0]} {key[1]}, which has no such enum")
    return problems


def selftest():
    header = ("enum ExitCode : int {\n    // done\n    kDone = 0,\n    // usage shown, or a bad\n"
              "    // option\n    kUsage = 1,\n};\n")
    good = ("<!-- exit codes: prog/exit_codes.h ExitCode -->\n\n| code | meaning |\n|---|---|\n"
            "| 0 | done |\n| 1 | usage shown, or a bad option |\n")
    plants = {
        "changed meaning": (header, good.replace("| done |", "| finished |")),
        "missing row": (header, good.replace("| 0 | done |\n", "")),
        "unmarked table": (header, good + "\n| code | what |\n|---|---|\n| 2 | x |\n"),
        "code without meaning": (header.replace("    // done\n", ""), good),
        "enum without table": (header + "enum Other : int {\n    // x\n    kX = 0,\n};\n", good),
    }
    failed = False
    for what, (h, readme) in [("sound", (header, good))] + list(plants.items()):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "prog"))
            with open(os.path.join(root, "prog", "exit_codes.h"), "w", encoding="utf-8") as f:
                f.write(h)
            with open(os.path.join(root, "README.md"), "w", encoding="utf-8") as f:
                f.write(readme)
            problems = check(root)
        if (what == "sound") == bool(problems):
            print(f"selftest: {what}: {'flagged' if problems else 'not caught'}: {problems}")
            failed = True
    return 1 if failed else 0


def main():
    if sys.argv[1:] == ["--selftest"]:
        return selftest()
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(root)
    for p in problems:
        print(p)
    if not list(headers(root)):
        print("no exit_codes.h found")
        return 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Lists the functions the product defines that nothing outside the tests calls.

    uncalled_functions_test.py [SOURCE_DIR] [--selftest]

A function counts as called when its name appears, as a whole word, in the product's sources
anywhere but on the lines that define or declare it: a name shared by two functions keeps both
(the check misses some dead code, never flags live code for a shared name). Overrides, whose
callers are the toolkit or a base class, are left out, and so are constructors and destructors.
Fails on every function that is not on the list below (grouped by why it stays), and on a listed
one that has a caller again or is gone.
"""
import os
import re
import sys

PRODUCT = ("platform", "common", "formats", "framework", "tolbex", "vond", "kelmoth", "brackmor", "pam")
# Test support, tools, demos and benchmarks are not the product; their calls do not count.
NOT_PRODUCT = re.compile(r"(^|/)(tests|bench|demo|fuzz|testing)(/|$)")

# name: why it is kept without a caller outside the tests. A function the tools use (the demo,
# the deck simulator, the crash writer) lives with them, and one that has no caller, or only
# tests, is deleted with its tests; what stays is a seam the tests set, or what only a tool or a
# test can want from the product's own internals.
KEPT = {
    # Seams the tests set, each read by the product code beside it.
    "reset_cached_roots": "common/registry.cpp: the analysis roots are cached once a process",
    "set_pam_config_folder": "platform/account.cpp: PAM reads its service from /etc/pam.d only",
    "fire_interval": "framework/qt/timer.cpp: the tests' manual timers tick by interval",
    "remove_abandoned": "platform/shared_memory.cpp: a test root removes its named memory",
    "add_record": "tolbex/archive/report_archive.cpp: a record in memory for an archive whose folder is gone",
    "unmap_drive": "platform/drives.cpp: map_drive's undo, for the tests' and tools' drive maps",
    # Readers of state the product only writes.
    "read_audit_log_file": "common/audit_log.cpp: the log verifier, the fuzzer and the tests read logs back",
    "pane_enabled": "framework/qt/frame.cpp: the status pane's state as the tests check it",
    "describe_menu": "framework/core/menu_model.cpp: the menu as text, for the tests' comparisons",
    # What the tools and tests build through the product's own internals.
    "add_group_entry": "tolbex/archive/archive_group.cpp: the demo and the crash writer add archive lines",
    "get_field_name": "tolbex/archive/analysis_data.cpp: the demo writes analysis files by field name",
    "set_double": "tolbex/archive/analysis_data.cpp: the letter tests fill analysis data in memory",
    "set_int": "tolbex/archive/analysis_data.cpp: as set_double",
    "set_string": "tolbex/archive/analysis_data.cpp: as set_double",
    "office_available": "tolbex/letters/office_word_processor.cpp: the office tests skip without LibreOffice",
    "write_office_document": "tolbex/letters/office_word_processor.cpp: templates for the office tests, "
                             "through the program's own office session",
    # The grid control's interface the TIMI window does not use: its tests set joined cells,
    # drop-list labels, locked and heading rows and columns and sheet tabs through these. Left to
    # go with the features they reach.
    "set_join": "tolbex/timi/grid/grid_cell.cpp",
    "set_label": "tolbex/timi/grid/grid_cell.cpp",
    "set_locked_cols": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_locked_rows": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_num_heading_rows": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_uniform_row_height": "tolbex/timi/grid/grid_ctrl.cpp",
    "add_tab": "tolbex/timi/grid/grid_tab_bar.cpp",
}

DEFINITION = re.compile(
    r"^(?!\s)(?!return\b|else\b|case\b|using\b|typedef\b|namespace\b|template\b|#)"
    r"(?:[\w:<>,*&\s\[\]]+?[\s*&])?((?:\w+::)*)(~?[A-Za-z_]\w*)\s*\(([^;]*)$")
DECLARATION = re.compile(
    r"^\s*(?:(?:static|virtual|inline|explicit|friend|constexpr|extern|\[\[nodiscard\]\])\s+)*"
    r"(?!return\b|delete\b|new\b|throw\b|else\b|case\b|goto\b|co_return\b)"
    r"[\w:<>,]+(?:[\s*&]+[\w:<>,]+)*?[\s*&]+~?(\w+)\s*\(")
KEYWORDS = {"if", "for", "while", "switch", "catch", "sizeof", "return", "main", "operator", "defined", "alignof",
            "decltype", "static_assert", "TEST", "TEST_F", "TEST_P"}


def sources(root):
    for top in PRODUCT:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            rel = os.path.relpath(folder, root)
            if NOT_PRODUCT.search(rel):
                dirs[:] = []
                continue
            for f in sorted(files):
                if f.endswith((".cpp", ".h", ".c")):
                    yield os.path.join(rel, f)

STATEMENT_WORDS = {"return", "case", "default", "else", "goto", "throw", "new", "delete", "co_return", "co_yield"}


def a_statement(head):
    """Whether the words before a name followed by "(" make the line a statement, not a declaration:
    a keyword that starts one, or a label or the ':' of a conditional."""
    words = re.findall(r"[\w:]+", head)
    return any(w in STATEMENT_WORDS or (w.endswith(":") and not w.endswith("::")) for w in words)


def strip_line(line, in_comment):
    """The line without comments, strings emptied; whether a block comment runs on past it."""
    out, i, n = [], 0, len(line)
    while i < n:
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                return "".join(out), True
            i, in_comment = end + 2, False
        elif line.startswith("//", i):
            break
        elif line.startswith("/*", i):
            i, in_comment = i + 2, True
        elif line[i] in "\"'" and not (line[i] == "'" and i and line[i - 1].isalnum()):
            quote, i = line[i], i + 1
            while i < n and line[i] != quote:
                i += 2 if line[i] == "\\" else 1
            out.append(quote * 2)
            i += 1
        else:
            out.append(line[i])
            i += 1
    return "".join(out), in_comment


def scan(root):
    """{name: [file:line of its definitions]} and {name: uses}."""
    defined, uses, overrides = {}, {}, set()
    word = re.compile(r"[A-Za-z_]\w*")
    for rel in sources(root):
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
        in_comment = False
        for number, line in enumerate(lines, 1):
            code, in_comment = strip_line(line, in_comment)
            skip = None
            m = DEFINITION.match(code)
            if m and rel.endswith((".cpp", ".c")) and m.group(2) not in KEYWORDS:
                rest = " ".join([code] + lines[number:number + 6])
                head = rest.split("{", 1)[0]
                ctor = m.group(1).rstrip(":").split("::")[-1] == m.group(2)
                if ("{" in rest and ";" not in head.split(")", 1)[-1].split("(", 1)[0] and "=" not in head.split("(")[0]
                        and not ctor and not m.group(2).startswith("~")):
                    defined.setdefault(m.group(2), []).append(f"{rel}:{number}")
                    skip = m.group(2)
            d = DECLARATION.match(code)
            if d and code.rstrip().endswith((";", ")", ",")) and "=" not in code.split("(")[0] and not a_statement(code[:d.start(1)]):
                if re.search(r"\boverride\b", " ".join(lines[number - 1:number + 3]).split(";")[0]):
                    overrides.add(d.group(1))
                skip = skip or d.group(1)
            for w in word.findall(code):
                if w != skip:
                    uses[w] = uses.get(w, 0) + 1
    return defined, uses, overrides


def uncalled(root):
    defined, uses, overrides = scan(root)
    return {name: where for name, where in defined.items() if not uses.get(name) and name not in overrides}


def report(found):
    problems = [f"{where[0]}: {name} is defined but nothing outside the tests calls it"
                for name, where in sorted(found.items()) if name not in KEPT]
    problems += [f"{name}: on the list of uncalled functions, but it has a caller (or is gone): take it off"
                 for name in sorted(KEPT) if name not in found]
    return problems


def selftest(root):
    """A function planted without a caller is caught; one with a caller is not."""
    import shutil
    import tempfile
    work = tempfile.mkdtemp(prefix="tv-uncalled-")
    try:
        os.makedirs(os.path.join(work, "common"))
        with open(os.path.join(work, "common", "a.h"), "w") as f:
            f.write("#pragma once\n// Said twice.\nint planted_dead(int x);\nint planted_live(int x);\n")
        with open(os.path.join(work, "common", "a.cpp"), "w") as f:
            f.write('#include "common/a.h"\nint planted_dead(int x) {\n    return x;\n}\n'
                    "int planted_live(int x) { return x + 1; }\nint planted_label(int x) { return x; }\n"
                    "int planted_branch(int x) { return x; }\n")
        with open(os.path.join(work, "common", "b.cpp"), "w") as f:
            # A comment opener inside a string hides nothing after it.
            f.write('#include "common/a.h"\nconst char* all() { return "/*.*"; }\n'
                    "int user() { return planted_live(2); }\n"
                    # Calls after a label and after the ':' of a conditional are calls, not declarations.
                    "int pick(int c) {\n    switch (c) {\n        default: return planted_label(c);\n    }\n}\n"
                    "int other(bool c) {\n    return c ? 0\n             : planted_branch(1);\n}\n")
        os.makedirs(os.path.join(work, "common", "tests"))
        with open(os.path.join(work, "common", "tests", "a_test.cpp"), "w") as f:
            f.write("int t() { return planted_dead(1); }\n")
        found = uncalled(work)
        ok = sorted(n for n in found if n.startswith("planted")) == ["planted_dead"]
        print(("ok     " if ok else "FAILED ") + f"planted functions: {sorted(found)}")
        return 0 if ok else 1
    finally:
        shutil.rmtree(work)


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    if "--selftest" in argv:
        return selftest(root)
    problems = report(uncalled(root))
    for p in problems:
        print(p)
    if problems:
        print(f"uncalled functions: {len(problems)} problem(s)")
        return 1
    print(f"uncalled functions: none but the {len(KEPT)} listed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

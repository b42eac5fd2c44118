#!/usr/bin/env python3
"""Lists the functions the product defines that nothing outside the tests calls.

    uncalled_functions_test.py [SOURCE_DIR] [--selftest]

The sources are read as tokens (the raw-call check's tokenizer): a definition is found whatever its
line holds (a one-liner, a member defined in its class in a .cpp file, one a function-like macro
makes, expanded as the compiler would), and a function counts as called when its name appears as
a token anywhere but where it is defined or declared: a name shared by two functions keeps both
(the check misses some dead code, never flags live code for a shared name). Overrides, whose
callers are the toolkit or a base class, are left out, and so are constructors and destructors.
Fails on every function that is not on the list below (grouped by why it stays), on a listed
one that has a caller again or is gone, and on a listed one without its reason.
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
    "profile_section_key": "common/profile.cpp: the tests read a stored setting where the program wrote it",
    "set_registry": "platform/registry.cpp: the tests' settings live in memory, not in the account's hive",
    "make_memory_registry": "platform/registry.cpp: the registry the tests set through set_registry",
    "set_cert_store": "platform/cert_store.cpp: the tests' certificates live in memory",
    "make_memory_cert_store": "platform/cert_store.cpp: the store the tests set through set_cert_store",
    "set_event_log": "platform/event_log.cpp: the tests read what the programs log",
    "set_system": "platform/system.cpp: the tests stand in for the machine's clock and names",
    "set_test_hook": "framework/qt/dialog.cpp: the tests answer a modal dialog instead of a user",
    "set_browse_for_folder_hook": "framework/qt/folder_dialog.cpp: the tests answer the folder dialog",
    "set_print_dialog_hook": "framework/qt/print_job.cpp: the tests answer the print dialog",
    "set_wait_text_observer": "framework/qt/wait_dialogs.cpp: the tests see each wait text as it is set",
    "report_text": "framework/qt/wait_dialogs.cpp: the text the observer is given, for the tests",
    "clear_report_handlers": "tolbex/transfer/report_handover.cpp: each test starts with no handlers left by the last",
    "set_archive_file_hook": "tolbex/browser/ui/archive_dialogs_ui.cpp: the tests answer the archive file dialog",
    "set_report_print_operation": "tolbex/browser/ui/browser_list_view.cpp: the tests record what would print",
    "set_file_chooser_hook": "tolbex/app/ui/options_dialogs.cpp: the tests answer the Options file dialogs",
    "set_import_file_hook": "tolbex/app/ui/tolbex_window_app.cpp: the tests answer File > Import's dialog",
    "set_letter_file_chooser": "tolbex/letters/ui/letters_ui.cpp: the tests answer the letter file dialog",
    "set_letter_opener": "tolbex/letters/ui/letters_ui.cpp: the tests see the letter that would open",
    "set_page_range_hook": "tolbex/reports/ui/report_view.cpp: the tests answer the page range dialog",
    "set_timi_font_dialog_hook": "tolbex/timi/ui/timi_print_ui.cpp: the tests answer the font dialog",
    "set_timi_overwrite_hook": "tolbex/timi/ui/timi_windows.cpp: the tests answer the overwrite question",
    "tree": "tolbex/browser/ui/browser_list_view.cpp: the tests click and read the list's rows",
    "shutdown_office": "tolbex/letters/office_word_processor.cpp: the office tests and the timing end the "
                       "shared office session the program leaves running for its next letter",
    "find_menu_command": "framework/core/menu_model.cpp: the tests look a command up in a built menu",
    "__lsan_default_suppressions": "tolbex/reports/render/report_printer.cpp: the leak checker calls it",
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
    "set_join": "tolbex/timi/grid/grid_cell.cpp: the tests join cells",
    "set_label": "tolbex/timi/grid/grid_cell.cpp: the tests label a drop list",
    "set_locked_cols": "tolbex/timi/grid/grid_ctrl.cpp: the tests lock columns",
    "set_locked_rows": "tolbex/timi/grid/grid_ctrl.cpp: the tests lock rows",
    "set_num_heading_rows": "tolbex/timi/grid/grid_ctrl.cpp: the tests add heading rows",
    "set_uniform_row_height": "tolbex/timi/grid/grid_ctrl.cpp: the tests set one row height",
    "add_tab": "tolbex/timi/grid/grid_tab_bar.cpp: the tests add sheet tabs",
}

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from raw_files_check import tokenize  # noqa: E402  (the one C++ tokenizer of the checks)

KEYWORDS = {"if", "for", "while", "switch", "catch", "sizeof", "return", "main", "operator", "defined", "alignof",
            "alignas", "decltype", "static_assert", "noexcept", "requires", "__attribute__", "throw", "new",
            "delete", "case", "else", "co_return", "co_await", "co_yield", "typeid", "explicit"}
SCOPES = {"namespace", "class", "struct", "union", "extern"}
# What may stand between a function's ")" and its "{" besides a constructor's initializers.
AFTER_PARAMETERS = {"const", "noexcept", "override", "final", "volatile", "&", "&&", "mutable", "try"}


def sources(root):
    for top in PRODUCT:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            rel = os.path.relpath(folder, root)
            if NOT_PRODUCT.search(rel):
                dirs[:] = []
                continue
            for f in sorted(files):
                if f.endswith((".cpp", ".h", ".c", ".inc")):
                    yield os.path.join(rel, f)


def read_tokens(root, rel):
    """The file's tokens outside its directives, and its function-like macros {name: (params, body)}."""
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
        directives = []
        tokens = tokenize(f.read(), directives)
    macros, inside, uses = {}, set(), []
    for first, end, kind in directives:
        inside.update(range(first, end))
        body = tokens[first:end]
        if kind == "define" and len(body) > 2 and body[1][1] == "(" and body[0][0] == "id":
            close = next((k for k in range(2, len(body)) if body[k][1] == ")"), None)
            if close is not None:
                params = [t[1] for t in body[2:close] if t[0] == "id"]
                macros[body[0][1]] = (params, body[close + 1:])
                uses += [t[1] for t in body[close + 1:] if t[0] == "id" and t[1] not in params]
                continue
        uses += [t[1] for t in body[1:] if t[0] == "id"]
    return [t for k, t in enumerate(tokens) if k not in inside], macros, uses


def closing(tokens, i):
    """The index of the bracket that closes the one at i."""
    pairs = {"(": ")", "{": "}", "[": "]"}
    want, depth = pairs[tokens[i][1]], 0
    for j in range(i, len(tokens)):
        if tokens[j][1] == tokens[i][1]:
            depth += 1
        elif tokens[j][1] == want:
            depth -= 1
            if depth == 0:
                return j
    return len(tokens) - 1


def expand(macro, args, line):
    """A macro's body with its arguments put in, ## pasted and # dropped."""
    params, body = macro
    out = []
    k = 0
    while k < len(body):
        kind, text, _ = body[k]
        if text == "#" and k + 1 < len(body) and body[k + 1][1] != "#":
            k += 2  # a stringized argument is a string
            continue
        if text == "#" and k + 1 < len(body) and body[k + 1][1] == "#":
            k += 2
            nxt = body[k] if k < len(body) else None
            if nxt and out:
                pasted = args[params.index(nxt[1])] if nxt[1] in params else [nxt]
                if pasted:
                    out[-1] = ("id", out[-1][1] + pasted[0][1], line)
                    out += [(a, b, line) for a, b, _ in pasted[1:]]
            k += 1
            continue
        if kind == "id" and text in params:
            out += [(a, b, line) for a, b, _ in args[params.index(text)]]
        else:
            out.append((kind, text, line))
        k += 1
    return out


def split_arguments(tokens, open_at, close_at):
    args, current, depth = [], [], 0
    for t in tokens[open_at + 1:close_at]:
        if t[1] in "([{":
            depth += 1
        elif t[1] in ")]}":
            depth -= 1
        if t[1] == "," and depth == 0:
            args.append(current)
            current = []
        else:
            current.append(t)
    return args + [current]


def walk(tokens, macros, rel, defined, uses, overrides, classes=()):
    """Reads declarations and definitions at namespace or class level; everything in a body or an
    initializer is a use."""
    definitions_here = rel.endswith((".cpp", ".c", ".inc"))
    i, start = 0, 0  # start: where the current declaration began
    while i < len(tokens):
        kind, text, line = tokens[i]
        if text in (";", "}"):
            i += 1
            start = i
            continue
        if kind == "id" and text in macros and i + 1 < len(tokens) and tokens[i + 1][1] == "(" and i == start:
            close = closing(tokens, i + 1)
            body = expand(macros[text], split_arguments(tokens, i + 1, close), line)
            uses[text] = uses.get(text, 0) + 1
            tokens = tokens[:i] + body + [("punct", ";", line)] + tokens[close + 1:]
            continue
        if text == "{":
            end = closing(tokens, i)
            statement = tokens[start:i]
            words = {t[1] for t in statement}
            if words & SCOPES and "(" not in words and "=" not in words:
                name = next((t[1] for t in reversed(statement) if t[0] == "id" and t[1] not in SCOPES), "")
                walk(tokens[i + 1:end], macros, rel, defined, uses, overrides, classes + (name,))
            else:
                for t in tokens[i + 1:end]:
                    if t[0] == "id":
                        uses[t[1]] = uses.get(t[1], 0) + 1
                definition(statement, rel if definitions_here else None, classes, defined, uses, overrides)
            i = end + 1
            start = i
            # A function's body ends its declaration; an initializer's braces do not.
            if tokens[end - 1:end] and statement and statement[-1][1] not in ("=", ",", "(", "return"):
                if i < len(tokens) and tokens[i][1] == ";":
                    i += 1
                start = i
            continue
        i += 1
        if i < len(tokens) and tokens[i][1] in (";", "}"):
            declaration(tokens[start:i], uses, overrides)


def name_before_parameters(statement):
    """(index of the name, index of its "(") of the function a declaration names, or None."""
    depth_angle = 0
    for k, (kind, text, _) in enumerate(statement):
        if text == "=" and depth_angle == 0:
            return None
        if text == "<":
            depth_angle += 1
        elif text == ">":
            depth_angle = max(0, depth_angle - 1)
        elif text == "(" and k > 0 and statement[k - 1][0] == "id" and statement[k - 1][1] not in KEYWORDS:
            if k > 1 and statement[k - 2][1] == "operator":
                return None
            return k - 1, k
    return None


def definition(statement, rel, classes, defined, uses, overrides):
    at = name_before_parameters(statement)
    if not at:
        for t in statement:
            if t[0] == "id":
                uses[t[1]] = uses.get(t[1], 0) + 1
        return
    name_at, open_at = at
    close = closing(statement, open_at)
    tail = statement[close + 1:]
    # What follows the parameters must be qualifiers, a trailing type or a constructor's initializers.
    is_function = all(t[1] in AFTER_PARAMETERS or t[0] == "id" or t[1] in ("::", "<", ">", "*", "->")
                      for t in tail) or (tail and tail[0][1] == ":")
    name = statement[name_at][1]
    scope = statement[name_at - 2][1] if name_at > 1 and statement[name_at - 1][1] == "::" else \
        (classes[-1] if classes else "")
    for k, t in enumerate(statement):
        if t[0] == "id" and k != name_at:
            uses[t[1]] = uses.get(t[1], 0) + 1
    if any(t[1] in ("override", "final") for t in tail):
        overrides.add(name)
    if not is_function:
        uses[name] = uses.get(name, 0) + 1
        return
    constructor = name == scope or (name_at > 0 and statement[name_at - 1][1] == "~")
    if rel and not constructor and name not in KEYWORDS:
        defined.setdefault(name, []).append(f"{rel}:{statement[name_at][2]}")


def declaration(statement, uses, overrides):
    at = name_before_parameters(statement)
    skip = None
    if at and (at[0] == 0 or statement[at[0] - 1][0] == "id" or statement[at[0] - 1][1] in ("*", "&", ">", "::", "~")):
        if at[0] > 0:  # a bare name( at this level is a macro's work, not a declaration
            skip = at[0]
            if any(t[1] in ("override", "final") for t in statement[closing(statement, at[1]) + 1:]):
                overrides.add(statement[at[0]][1])
    for k, t in enumerate(statement):
        if t[0] == "id" and k != skip:
            uses[t[1]] = uses.get(t[1], 0) + 1


def scan(root):
    """{name: [file:line of its definitions]}, {name: uses} and the names that override."""
    defined, uses, overrides, files, macros = {}, {}, set(), [], {}
    for rel in sources(root):
        tokens, own, used = read_tokens(root, rel)
        files.append((rel, tokens))
        macros.update(own)
        for u in used:
            uses[u] = uses.get(u, 0) + 1
    for rel, tokens in files:
        walk(tokens, macros, rel, defined, uses, overrides)
    return defined, uses, overrides


def uncalled(root):
    defined, uses, overrides = scan(root)
    return {name: where for name, where in defined.items() if not uses.get(name) and name not in overrides}


def report(found):
    problems = [f"{where[0]}: {name} is defined but nothing outside the tests calls it"
                for name, where in sorted(found.items()) if name not in KEPT]
    problems += [f"{name}: on the list of uncalled functions, but it has a caller (or is gone): take it off"
                 for name in sorted(KEPT) if name not in found]
    problems += [f"{name}: on the list without a reason after its file ('file: why')"
                 for name, why in sorted(KEPT.items()) if not re.match(r"^\S+: \S", why)]
    return problems


def selftest(root):
    """A function planted without a caller is caught, a one-liner, one a macro makes and one
    defined in its class among them; one with a caller is not."""
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
                    "int planted_branch(int x) { return x; }\n"
                    # A dead one-liner, and functions a macro makes: one dead, one called.
                    "int planted_one_liner(int x) { int y = x; return y; }\n"
                    "#define PLANT_SETTER(name, field) \\\n    int Box::name(int v) { field = v; return 0; }\n"
                    "PLANT_SETTER(planted_made_dead, a_)\nPLANT_SETTER(planted_made_live, b_)\n"
                    # A member defined in its class in a .cpp file, never called.
                    "namespace {\nclass Local {\npublic:\n    bool planted_member() const { return on_; }\n"
                    "    bool on_ = false;\n};\n}  // namespace\n")
        with open(os.path.join(work, "common", "b.cpp"), "w") as f:
            # A comment opener inside a string hides nothing after it.
            f.write('#include "common/a.h"\nconst char* all() { return "/*.*"; }\n'
                    "int user() { return planted_live(2); }\n"
                    "int made_user(Box& b) { return b.planted_made_live(1); }\n"
                    # Calls after a label and after the ':' of a conditional are calls, not declarations.
                    "int pick(int c) {\n    switch (c) {\n        default: return planted_label(c);\n    }\n}\n"
                    "int other(bool c) {\n    return c ? 0\n             : planted_branch(1);\n}\n")
        os.makedirs(os.path.join(work, "common", "tests"))
        with open(os.path.join(work, "common", "tests", "a_test.cpp"), "w") as f:
            f.write("int t() { return planted_dead(1); }\n")
        found = uncalled(work)
        ok = sorted(n for n in found if n.startswith("planted")) == [
            "planted_dead", "planted_made_dead", "planted_member", "planted_one_liner"]
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

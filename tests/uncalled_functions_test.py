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

# name: why it is kept without a caller outside the tests. Every entry is work left: a function
# reached only by tests is either used where its rule needs it or deleted with its tests; one the
# tools use (the demo, the deck simulator, the crash writer) moves to them. A function with no
# caller at all is deleted, never listed.
KEPT = {
    # reached only by the tests
    "get_host_ip_address": "common/audit_log.cpp",
    "read_audit_log_file": "common/audit_log.cpp",
    "all_in": "common/files.cpp",
    "replace_extension": "common/files.cpp",
    "set_path": "common/ini_file.cpp",
    "set_value": "common/ini_file.cpp",
    "reset_cached_roots": "common/registry.cpp",
    "discard_input_messages": "common/runner.cpp",
    "build_byte_permutation": "common/scramble.cpp",
    "count_nonblank_lines": "common/text.cpp",
    "mid_or_empty": "common/text.cpp",
    "parse_date_time_text": "common/text.cpp",
    "remove_chars": "common/text.cpp",
    "trim_trailing_char": "common/text.cpp",
    "unpack_channel": "formats/cef.cpp",
    "write_repinfo_file": "formats/transfer_file.cpp",
    "describe_menu": "framework/core/menu_model.cpp",
    "pane_enabled": "framework/qt/frame.cpp",
    "fire_interval": "framework/qt/timer.cpp",
    "bcd_to_number": "kelmoth/timecode.cpp",
    "set_pam_config_folder": "platform/account.cpp",
    "make_folder_cert_store": "platform/cert_store.cpp",
    "unmap_drive": "platform/drives.cpp",
    "try_wait_process": "platform/process.cpp",
    "remove_abandoned": "platform/shared_memory.cpp",
    "set_double": "tolbex/archive/analysis_data.cpp",
    "set_int": "tolbex/archive/analysis_data.cpp",
    "set_string": "tolbex/archive/analysis_data.cpp",
    "find_report": "tolbex/archive/archive_group.cpp",
    "add_record": "tolbex/archive/report_archive.cpp",
    "delete_report_folder": "tolbex/archive/report_archive.cpp",
    "read_archinfo_mtime": "tolbex/archive/report_archive.cpp",
    "get_time_hour": "tolbex/archive/report_types.cpp",
    "get_time_minute": "tolbex/archive/report_types.cpp",
    "get_time_month": "tolbex/archive/report_types.cpp",
    "get_time_year": "tolbex/archive/report_types.cpp",
    "set_card_reader": "tolbex/archive/store_report.cpp",
    "find_archive_document": "tolbex/browser/archive_documents.cpp",
    "compare_rows": "tolbex/browser/browser_list_core.cpp",
    "copy_or_move_selected": "tolbex/browser/browser_list_core.cpp",
    "get_summary_path": "tolbex/browser/browser_list_core.cpp",
    "office_available": "tolbex/letters/office_word_processor.cpp",
    "write_office_document": "tolbex/letters/office_word_processor.cpp",
    "line_to": "tolbex/reports/metafile_player.cpp",
    "move_to": "tolbex/reports/metafile_player.cpp",
    "is_black": "tolbex/reports/page_export.cpp",
    "set_black": "tolbex/reports/page_export.cpp",
    "render_pages_mono": "tolbex/reports/render/page_pictures.cpp",
    "page_range_dialog": "tolbex/reports/ui/report_view.cpp",
    "locked_count": "tolbex/signing/crypto.cpp",
    "serial_hex": "tolbex/signing/crypto.cpp",
    "field_text": "tolbex/signing/ui/signing_dialogs.cpp",
    "set_grid_system_colours": "tolbex/timi/grid/grid_cell.cpp",
    "set_join": "tolbex/timi/grid/grid_cell.cpp",
    "set_label": "tolbex/timi/grid/grid_cell.cpp",
    "set_number": "tolbex/timi/grid/grid_cell.cpp",
    "set_user_data": "tolbex/timi/grid/grid_cell.cpp",
    "get_column_default": "tolbex/timi/grid/grid_ctrl.cpp",
    "print_option": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_current_sheet": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_default_col_width": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_default_row_height": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_heading_row_height": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_locked_cols": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_locked_rows": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_num_heading_rows": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_num_side_cols": "tolbex/timi/grid/grid_ctrl.cpp",
    "set_uniform_row_height": "tolbex/timi/grid/grid_ctrl.cpp",
    "system_colours_changed": "tolbex/timi/grid/grid_ctrl.cpp",
    "index_at": "tolbex/timi/grid/grid_drop_list.cpp",
    "grid_edit_text_extent": "tolbex/timi/grid/grid_in_place_edit.cpp",
    "grid_fit_cell_edit": "tolbex/timi/grid/grid_in_place_edit.cpp",
    "apply": "tolbex/timi/grid/grid_mask.cpp",
    "add_tab": "tolbex/timi/grid/grid_tab_bar.cpp",
    "add_menu_command": "tolbex/timi/grid/ui/grid_widget.cpp",
    "compute_stemi_from_selection": "tolbex/timi/timi_data.cpp",
    "write_data_file": "tolbex/timi/timi_data_file.cpp",
    "all_lines": "tolbex/timi/timi_print.cpp",
    "timi_font_tenths_from_pixels": "tolbex/timi/timi_print.cpp",
    "write_summary_file": "tolbex/timi/timi_summary.cpp",
    "crc16": "vond/card_format.cpp",
    "percent": "vond/dialogs.cpp",
    "get_drive_type": "vond/messages.cpp",
    "read_flow": "vond/program.cpp",
    # used by crashwriter and the tests
    "make_file_registry": "platform/registry.cpp",
    "get_kind": "tolbex/archive/archive_config.cpp",
    # used by crashwriter, demo and the tests
    "append_group_entry": "tolbex/archive/archive_group.cpp",
    # used by deck-sim and the tests
    "serve_deck": "platform/deck_model.cpp",
    # used by demo and the tests
    "get_field_name": "tolbex/archive/analysis_data.cpp",
    "null_brush": "tolbex/reports/metafile_player.cpp",
    "rectangle": "tolbex/reports/metafile_player.cpp",
    "text_colour": "tolbex/reports/metafile_player.cpp",
    "dot_rows": "tolbex/reports/page_items.cpp",
    "arrhevnt_file_bytes": "tolbex/timi/timi_day_files.cpp",
    "arrhevnt_text": "tolbex/timi/timi_day_files.cpp",
    "timi_day_file_name": "tolbex/timi/timi_day_files.cpp",
    "timi_day_file_text": "tolbex/timi/timi_day_files.cpp",
    "fill_timi_sample_week": "tolbex/timi/timi_sample_week.cpp",
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


def scan(root):
    """{name: [file:line of its definitions]} and {name: uses}."""
    defined, uses, overrides = {}, {}, set()
    word = re.compile(r"[A-Za-z_]\w*")
    for rel in sources(root):
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
        in_comment = False
        for number, line in enumerate(lines, 1):
            code = line
            if in_comment:
                if "*/" not in code:
                    continue
                code, in_comment = code.split("*/", 1)[1], False
            code = re.sub(r"/\*.*?\*/", "", code)
            if "/*" in code:
                code, in_comment = code.split("/*", 1)[0], True
            code = re.sub(r'"(?:\\.|[^"\\])*"', '""', code.split("//", 1)[0])
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
            if d and code.rstrip().endswith((";", ")", ",")) and "=" not in code.split("(")[0]:
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
                    "int planted_live(int x) { return x + 1; }\n")
        with open(os.path.join(work, "common", "b.cpp"), "w") as f:
            f.write('#include "common/a.h"\nint user() { return planted_live(2); }\n')
        os.makedirs(os.path.join(work, "common", "tests"))
        with open(os.path.join(work, "common", "tests", "a_test.cpp"), "w") as f:
            f.write("int t() { return planted_dead(1); }\n")
        found = uncalled(work)
        ok = "planted_dead" in found and "planted_live" not in found
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

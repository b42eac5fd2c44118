#!/usr/bin/env python3
"""Compares the library links CMake makes with the table in docs/ARCHITECTURE.md.

    link_table_test.py SOURCE_DIR [--cmake CMAKE] [--dot FILE] [--selftest]

The links come from `cmake --graphviz` over a fresh configuration of SOURCE_DIR (or from --dot).
Every target but the test programs, benchmarks and fuzz targets needs its row, with exactly its
direct links; a library's private links are marked `private`. No library below the windows may
reach Qt's widgets or printing through any chain of links, and no tolbex core library the
application library. --selftest plants an unlisted link, an unlisted target, a row
the build lacks, a core library linking the windows and one linking the application, and expects
each to be caught.
"""
import os
import re
import subprocess
import sys
import tempfile

# Test programs and benchmarks link their folder's library and the test support; the table says
# so in prose. Qt6::moc edges are the automatic moc step, not links.
SKIPPED = re.compile(r"(_tests|_bench|^fuzz_.*|^make_fuzz_seeds|^tv_fuzz_support|^letter_timing|^Qt6::moc)$")
ROW_GROUPS_SKIPPED = ("tests", "fuzz")
# The libraries below the windows, whose test programs must load no Qt widgets: every tv_ library but the
# windowed ones, the report renderer, the print jobs and the tools.
CORES = re.compile(r"^tv_(platform|common|formats|framework_core|vond|kelmoth|brackmor|tolbex_\w+)$")
NOT_CORES = re.compile(r"(_ui|^tv_tolbex_reports_render)$")
WINDOWED = ("Qt6::Widgets", "Qt6::PrintSupport")
# The core below the application: no tolbex core library reaches the application object.
APP = "tv_tolbex_app"


def configure(source, cmake):
    """The graphviz text of a fresh configuration of `source`."""
    with tempfile.TemporaryDirectory(prefix="tv-links-") as build:
        dot = os.path.join(build, "links.dot")
        subprocess.run([cmake, "-S", source, "-B", build, "-G", "Ninja", "-DTV_BENCHMARKS=ON", "--graphviz=" + dot],
                       check=True, stdout=subprocess.DEVNULL)
        with open(dot, encoding="utf-8") as f:
            return f.read()


def external_name(label):
    """/usr/lib/.../libpam.so is written `pam`."""
    if label.startswith("/"):
        base = os.path.basename(label)
        return re.sub(r"^lib|\.so(\..*)?$|\.a$", "", base)
    return label


def build_links(dot_text):
    """{target: {link: 'public'|'private'}} and the executables, from graphviz text."""
    nodes, kinds, links = {}, {}, {}
    for m in re.finditer(r'"(node\d+)" \[ label = "([^"]+)", shape = (\w+) \]', dot_text):
        nodes[m.group(1)] = external_name(m.group(2))
        kinds[nodes[m.group(1)]] = m.group(3)
    for m in re.finditer(r'"(node\d+)" -> "(node\d+)"(?: \[ style = (\w+) \])?', dot_text):
        source, target, style = nodes[m.group(1)], nodes[m.group(2)], m.group(3)
        if "::" in source or SKIPPED.search(source) or SKIPPED.search(target):
            continue
        if kinds[source] == "egg" and style is None:
            # An executable links privately; an edge without a style is a build-order dependency.
            how = "built first"
        else:
            how = "private" if style == "dotted" and kinds[source] != "egg" else "public"
        links.setdefault(source, {})[target] = how
    # Every target of the project has its row, linked or not.
    for name, kind in kinds.items():
        if kind in ("egg", "octagon", "pentagon") and "::" not in name and not SKIPPED.search(name):
            links.setdefault(name, {})
    return links


def doc_links(doc_text):
    """The same from the fenced block after "## Targets and their links"."""
    section = doc_text.split("## Targets and their links", 1)[1]
    block = section.split("```", 2)[1]
    rows, current, group, how = {}, None, "", "public"
    for line in block.splitlines():
        if not line.strip():
            continue
        if not line[0].isspace():
            group = re.split(r"\s{2,}", line.strip())[0]
        if group.startswith(ROW_GROUPS_SKIPPED):
            current = None
            continue
        if "->" in line:
            left, right = line.split("->", 1)
            names = [n.strip() for n in re.split(r"\s{2,}", left.strip())[-1].split(",")]
            current, how = names, "public"
            for n in names:
                rows.setdefault(n, {})
        elif current is None:
            continue
        else:
            right = line
        right = re.sub(r"\([^)]*\)", "", right)
        for item in re.split(r"[,;]", right):
            item = item.strip()
            if not item:
                continue
            if item.startswith("private "):
                how, item = "private", item[len("private "):].strip()
            elif item.startswith("built first "):
                item = item[len("built first "):].strip()
                for n in current:
                    rows[n][item] = "built first"
                continue
            for n in current:
                rows[n][item] = how
    return rows


def differences(built, documented):
    out = []
    for target in sorted(set(built) | set(documented)):
        if target not in documented:
            out.append(f"{target}: no row (links {', '.join(sorted(built[target])) or 'nothing'})")
            continue
        if target not in built:
            out.append(f"{target}: a row, but the build makes no such target")
            continue
        b, d = built[target], documented[target]
        for link in sorted(set(b) | set(d)):
            if link not in d:
                out.append(f"{target} -> {link} ({b[link]}): not in its row")
            elif link not in b:
                out.append(f"{target} -> {link}: in its row, not in the build")
            elif b[link] != d[link]:
                out.append(f"{target} -> {link}: {b[link]} in the build, {d[link]} in the row")
    return out


def reaching(built, libraries, targets):
    """Each of `libraries` that reaches one of `targets` through links, with the chain that does."""
    out = []
    for core in libraries:
        chain, stack = {core: None}, [core]
        while stack:
            here = stack.pop()
            for link in built.get(here, {}):
                if link not in chain:
                    chain[link] = here
                    stack.append(link)
        for target in targets:
            if target in chain:
                path, at = [], target
                while at is not None:
                    path.append(at)
                    at = chain[at]
                out.append(f"{core} links {target}: {' -> '.join(reversed(path))}")
    return out


def core_libraries(built):
    return sorted(n for n in built if CORES.match(n) and not NOT_CORES.search(n))


def widget_links(built):
    """Each core library that reaches a windowed Qt module, with the chain of links that does."""
    return reaching(built, core_libraries(built), WINDOWED)


def app_links(built):
    """Each tolbex core library that reaches the application."""
    below = [n for n in core_libraries(built) if n.startswith("tv_tolbex_") and n != APP]
    return reaching(built, below, (APP,))


def selftest(dot_text, doc_text):
    """Each planted difference must be reported."""
    ids = [int(n) for n in re.findall(r'"node(\d+)" \[', dot_text)]
    label = {m.group(2): m.group(1) for m in re.finditer(r'"(node\d+)" \[ label = "([^"]+)"', dot_text)}
    planted_edge = dot_text.rstrip().rstrip("}") + \
        f'    "{label["tv_common"]}" -> "{label["tv_tolbex_app"]}"  // tv_common -> tv_tolbex_app\n}}\n'
    new = max(ids) + 1
    planted_target = dot_text.rstrip().rstrip("}") + \
        f'    "node{new}" [ label = "tv_unlisted", shape = octagon ];\n' \
        f'    "node{new}" -> "{label["tv_common"]}"  // tv_unlisted -> tv_common\n}}\n'
    planted_widgets = dot_text.rstrip().rstrip("}") + \
        f'    "{label["tv_tolbex_archive"]}" -> "{label["tv_framework_qt"]}"  // tv_tolbex_archive -> tv_framework_qt\n}}\n'
    planted_app = dot_text.rstrip().rstrip("}") + \
        f'    "{label["tv_tolbex_letters"]}" -> "{label["tv_tolbex_app"]}"  // tv_tolbex_letters -> tv_tolbex_app\n}}\n'
    # The intakes, the application's last users once, are no exception.
    planted_intake = dot_text.rstrip().rstrip("}") + \
        f'    "{label["tv_tolbex_intake"]}" -> "{label["tv_tolbex_app"]}"  // tv_tolbex_intake -> tv_tolbex_app\n}}\n'
    planted_row = doc_text.replace("tv_kelmoth            -> tv_common",
                                   "tv_kelmoth            -> tv_common, tv_formats", 1)
    documented = doc_links(doc_text)
    cases = [
        ("as built", differences(build_links(dot_text), documented), False),
        ("the cores as built", widget_links(build_links(dot_text)), False),
        ("a core library linking the windows", widget_links(build_links(planted_widgets)), True),
        ("the core below the application as built", app_links(build_links(dot_text)), False),
        ("a core library linking the application", app_links(build_links(planted_app)), True),
        ("the intake linking the application", app_links(build_links(planted_intake)), True),
        ("a link added without its row", differences(build_links(planted_edge), documented), True),
        ("a library added without its row", differences(build_links(planted_target), documented), True),
        ("a row naming a link the build lacks", differences(build_links(dot_text), doc_links(planted_row)), True),
    ]
    failed = False
    for name, found, expected in cases:
        if bool(found) != expected:
            failed = True
            print(f"FAILED {name}: " + ("; ".join(found) if found else "nothing reported"))
        else:
            print(f"ok     {name}" + (f": {found[0]}" if found else ""))
    return 1 if failed else 0


def main(argv):
    source = argv[1]
    args = argv[2:]
    cmake = args[args.index("--cmake") + 1] if "--cmake" in args else "cmake"
    if "--dot" in args:
        with open(args[args.index("--dot") + 1], encoding="utf-8") as f:
            dot_text = f.read()
    else:
        dot_text = configure(source, cmake)
    with open(os.path.join(source, "docs", "ARCHITECTURE.md"), encoding="utf-8") as f:
        doc_text = f.read()
    if "--selftest" in args:
        return selftest(dot_text, doc_text)
    built = build_links(dot_text)
    found = differences(built, doc_links(doc_text)) + widget_links(built) + app_links(built)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} differences between the build's links and docs/ARCHITECTURE.md, or cores linking "
              "widgets or the application")
        return 1
    print("the link table in docs/ARCHITECTURE.md matches the build; no core library links Qt widgets or the "
          "application")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

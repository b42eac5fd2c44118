#!/usr/bin/env python3
"""Every name the documents in docs/ give in backticks exists in the tree: a path or file name as a
file or folder, a code name as a word of the sources. Names that are no code (file formats' names,
commands, settings) stand in tests/doc_names_allowed.txt, one a line.

    doc_names_test.py <source root>
    doc_names_test.py --selftest     plants a stale name and expects it caught
"""
import os
import re
import sys
import tempfile

SOURCE_EXT = (".cpp", ".h", ".py", ".sh", ".txt", ".cmake", ".in", ".desktop", ".xml", ".md", ".json", ".cfg")
SKIP_DIRS = {".git", "build-test", "build", "build-release", "build-tsan", "build-fuzz", "build-bench"}
CODE_NAME = re.compile(r"^~?[A-Za-z_][A-Za-z0-9_]*(::~?[A-Za-z_][A-Za-z0-9_]*)*(\(\))?$")
PATHISH = re.compile(r"^[A-Za-z0-9_.\-/<>*]+$")


def tree(root):
    names, files = set(), []
    for folder, dirs, found in os.walk(root):
        dirs[:] = [d for d in dirs if d not in SKIP_DIRS and not d.startswith("build")]
        rel = os.path.relpath(folder, root)
        if rel != ".":
            names.add(rel + "/")
            names.add(os.path.basename(folder) + "/")
        for name in found:
            path = name if rel == "." else f"{rel}/{name}"
            names.add(path)
            names.add(name)
            if (name.endswith(SOURCE_EXT) or name == "CMakeLists.txt" or path.startswith("scripts/")) and not path.startswith("docs/"):
                files.append(os.path.join(folder, name))
    return names, files


def source_text(files):
    """The words of the sources, and their whole text (names of data files are strings in them)."""
    out, texts = set(), []
    for path in files:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        texts.append(text)
        out.update(re.findall(r"[A-Za-z_~][A-Za-z0-9_]*", text))
    return out, "\n".join(texts)


def doc_names(root):
    """(document, line, name) for each backticked span outside fenced blocks."""
    docs = os.path.join(root, "docs")
    for name in sorted(os.listdir(docs)):
        if not name.endswith(".md"):
            continue
        fenced = False
        with open(os.path.join(docs, name), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if line.lstrip().startswith("```"):
                    fenced = not fenced
                    continue
                if not fenced:
                    for span in re.findall(r"`([^`]+)`", line):
                        yield name, number, span.strip()


def missing(root):
    allowed_path = os.path.join(root, "tests", "doc_names_allowed.txt")
    allowed = set()
    if os.path.exists(allowed_path):
        with open(allowed_path, encoding="utf-8") as f:
            allowed = {l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")}
    names, files = tree(root)
    known_words, all_text = source_text(files)
    out = []
    for doc, number, span in doc_names(root):
        if span in allowed or " " in span:
            continue  # a command, phrase or setting: no name of the tree
        if CODE_NAME.match(span):
            parts = span.rstrip("()").lstrip("~").split("::")
            if all(p.lstrip("~") in known_words for p in parts):
                continue
        elif PATHISH.match(span):
            if span in names or span.rstrip("/") in names or span.rstrip("/") + "/" in names:
                continue
            if "*" in span or "<" in span:
                continue  # a pattern of names
            if span in all_text or span.lstrip(".") in all_text:
                continue  # a data file's name, an extension or an operand the code spells
            if re.fullmatch(r"\w+\.\w+", span) and all(p in known_words for p in span.split(".")):
                continue  # a test's Suite.Name
        else:
            continue
        out.append(f"docs/{doc}:{number}: `{span}` is nowhere in the tree")
    return out


def selftest(root):
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "docs"))
        os.makedirs(os.path.join(work, "common"))
        os.makedirs(os.path.join(work, "tests"))
        with open(os.path.join(work, "common", "files.h"), "w") as f:
            f.write("bool split_path();\n")
        doc = os.path.join(work, "docs", "A.md")
        with open(doc, "w") as f:
            f.write("`common/files.h` has `split_path`; `a b c` is a command.\n```\n`not_checked`\n```\n")
        clean = missing(work)
        with open(doc, "a") as f:
            f.write("`render_pages_mono` and `common/gone.h` went.\n")
        planted = missing(work)
    ok = not clean and len(planted) == 2
    print("self-test:", "passed" if ok else f"failed (clean: {clean}, planted: {planted})")
    return 0 if ok else 1


def main():
    if sys.argv[1:] == ["--selftest"]:
        return selftest(None)
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    found = missing(sys.argv[1])
    for line in found:
        print(line)
    print(f"{len(found)} names in docs/ that the tree lacks" if found else "every name in docs/ is in the tree")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The sizes, counts and times the documents quote, and where each comes from.

A figure in README.md or docs/*.md (a number with a unit of size or time, or a count of
functions, tests, runs, presses and the like; code is not read) must be one of:

- written by a bench, inside a region the bench rewrites each time it runs:
      <!-- figures NAME: written by PATH -->TEXT<!-- end of figures NAME -->
  PATH is the bench, which must exist and name the region (it runs
  `tools/doc_figures.py write DOCUMENT NAME`);
- recorded from a bench's run, inside a region that says which run:
      <!-- figures NAME: recorded from PATH on DATE -->TEXT<!-- end of figures NAME -->
  for figures no bench writes yet (measurements of a day, dated);
- a value the sources hold, listed in HELD below with the file and the text that holds it
  (a limit a test enforces, a layout a static assertion fixes, a default of the code).

Anything else is reported: write it from a bench, hold it, or remove it.

  tools/doc_figures.py                    check the documents; exit 1 naming each figure
  tools/doc_figures.py write DOC NAME     replace region NAME of DOC with standard input
  tools/doc_figures.py size FILE          FILE's size in bytes as the documents write it: 31,232
"""

import glob
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))

UNITS = (r"bytes?|KiB|MiB|GiB|KB|MB|GB|ms|s|seconds?|min|minutes?|hours?|"
         r"functions|tests|runs|executions|presses|reloads|calls|edges|allocations|imports")
NUMBER = r"\d+(?:[.,]\d+)*½?"
FIGURE = re.compile(rf"(?<![\w.,/=#-])({NUMBER})(?:(?:\s(?:to|and)\s|\s?[–/-]\s?)(?:{NUMBER}\s?/\s?)*{NUMBER})?"
                    rf"\s?(?:{UNITS})(?![\w-])")
REGION = re.compile(r"<!-- figures ([\w-]+): (written by|recorded from) (\S+)(?: on (\d{4}-\d{2}-\d{2}))? -->"
                    r"(.*?)<!-- end of figures \1 -->", re.S)
CODE = re.compile(r"```.*?```|`[^`\n]*`", re.S)
COMMENT = re.compile(r"<!--.*?-->", re.S)

# (document, the figure as it stands, the file that holds it, the text there that holds it)
HELD = [
    ("docs/building.md", "64 KiB", "ce/build-ce.mk", r"--stack 0x10000,"),
    ("docs/building.md", "152 bytes", "platform/wince/coredll.h", r"sizeof\(NOTIFYICONDATA\) == 152\b"),
    ("docs/building.md", "32 KiB", "tests/ce/check_pe.py", r"SIZE_LIMIT = 32 \* 1024\b"),
    ("docs/testing.md", "32 KiB", "tests/ce/check_pe.py", r"SIZE_LIMIT = 32 \* 1024\b"),
    ("docs/deploying.md", "32 KiB", "tests/ce/check_pe.py", r"SIZE_LIMIT = 32 \* 1024\b"),
    ("docs/testing.md", "64 KiB", "ce/build-ce.mk", r"--stack 0x10000,"),
    ("docs/testing.md", "152 bytes", "platform/wince/coredll.h", r"sizeof\(NOTIFYICONDATA\) == 152\b"),
    ("docs/testing.md", "20,000 executions", "tests/fuzz/CMakeLists.txt", r"-runs=20000\b"),
    ("docs/testing.md", "120 s", "tests/fuzz/CMakeLists.txt", r"-max_total_time=120\b"),
    ("docs/testing.md", "30,000 presses", "tests/CMakeLists.txt", r"soak --presses 30000\b"),
    ("docs/testing.md", "4 s", "tests/scenarios/question-open-while-a-key-is-held.json", r'"boxes": \[\[4000, 6\]\]'),
    ("docs/testing.md", "500 ms", "tests/e2e/driver.cpp", r"REPEAT_DELAY_MS = 500, REPEAT_INTERVAL_MS = 40;"),
    ("docs/testing.md", "40 ms", "tests/e2e/driver.cpp", r"REPEAT_DELAY_MS = 500, REPEAT_INTERVAL_MS = 40;"),
    ("docs/testing.md", "200 ms", "tests/e2e/test_e2e.py", r"SCENARIO_TOLERANCE_MS = 200\n"),
    ("docs/companion-page.md", "500 ms", "sim/state.h", r"repeatDelay = 500, repeatInterval = 40\b"),
    ("docs/companion-page.md", "40 ms", "sim/state.h", r"repeatDelay = 500, repeatInterval = 40\b"),
    ("docs/companion-page.md", "16 bytes", "web/page.js", r"hex\(bytes, 16\)"),
    ("docs/companion-page.md", "64 KiB", "web/CMakeLists.txt", r"-sGLOBAL_BASE=65536\b"),
    ("docs/companion-page.md", "1 KiB", "web/CMakeLists.txt", r"-sGLOBAL_BASE=65536\b"),
    ("docs/performance.md", "1,300 ms", "bench/ce_costs.py", r"LONG_PRESS = \(QUIET, QUIET \+ 1300\)"),
    ("docs/performance.md", "250 ms", "bench/ce_costs.py", r"SHORT_PRESS = \(2 \* QUIET, 2 \* QUIET \+ 250\)"),
    ("docs/kurvix-check.md", "0 ms", "tests/kurvix_check_test.cpp", r"ElapseTime=0,8s"),
    ("docs/kurvix-check.md", "1000 ms", "check/hints.cpp", r"kLargestSensibleInterval = 1000;"),
    ("docs/kurvix-check.md", "100 s", "tests/kurvix_check_test.cpp", r"handed back up to 100 s late"),
]


def documents():
    return ["README.md"] + sorted(os.path.relpath(p, ROOT) for p in glob.glob(os.path.join(ROOT, "docs", "*.md")))


def blanked(text, pattern):
    """text with each match of pattern replaced by blanks, newlines kept, so offsets stay."""
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def without_targets(text):
    """text with the cells of each table column headed "Target" blanked: a target is what a
    figure is held to, not a figure that drifts."""
    lines = text.split("\n")
    targets = []
    for i, line in enumerate(lines):
        if not line.startswith("|"):
            targets = []
            continue
        cells = line.split("|")
        if i + 1 < len(lines) and re.fullmatch(r"\|(\s*:?-+:?\s*\|)+", lines[i + 1].strip()):
            targets = [n for n, cell in enumerate(cells) if cell.strip() == "Target"]
            continue
        for n in targets:
            if n < len(cells):
                cells[n] = " " * len(cells[n])
        lines[i] = "|".join(cells)
    return "\n".join(lines)


def figures(text):
    """(line, figure) of every figure outside code, regions, comments and targets."""
    visible = blanked(blanked(blanked(without_targets(text), CODE), REGION), COMMENT)
    flat = visible.replace("\n", " ")
    return [(visible.count("\n", 0, m.start()) + 1, m.group(0)) for m in FIGURE.finditer(flat)]


def region_problems(document, text, read):
    """Sentences naming each region whose bench does not exist or does not name it."""
    found = []
    for match in REGION.finditer(text):
        name, kind, path, date = match.group(1), match.group(2), match.group(3), match.group(4)
        source = read(path)
        if source is None:
            found.append(f"{document}: the figures {name} name {path}, which does not exist")
        elif kind == "written by" and name not in source:
            found.append(f"{document}: the figures {name} are said to be written by {path}, which does not write them")
        elif kind == "recorded from" and date is None:
            found.append(f"{document}: the figures {name} recorded from {path} say on which day")
    return found


def problems(document, text, read, held=HELD):
    """Sentences naming each figure of document that comes from nowhere, each held figure that
    its file no longer holds, and each region that names no bench."""
    found = region_problems(document, text, read)
    holders = {(doc, figure): (path, pattern) for doc, figure, path, pattern in held}
    for line, figure in figures(text):
        holder = holders.get((document, re.sub(r"\s+", " ", figure)))
        if holder is None:
            found.append(f"{document}:{line}: {figure!r} is neither written by a bench nor held by the sources")
            continue
        source = read(holder[0])
        if source is None or not re.search(holder[1], source):
            found.append(f"{document}:{line}: {figure!r} is no longer what {holder[0]} holds")
    return found


def unquoted(documents_text, held=HELD):
    """Sentences naming each held figure that its document no longer quotes."""
    quoted = {(document, re.sub(r"\s+", " ", figure)) for document, text in documents_text.items()
              for _, figure in figures(text)}
    return [f"tools/doc_figures.py holds {figure!r} of {document}, which no longer quotes it"
            for document, figure, _, _ in held if (document, figure) not in quoted]


def read_from_root(path):
    try:
        with open(os.path.join(ROOT, path), encoding="utf-8") as source:
            return source.read()
    except OSError:
        return None


def write_region(path, name, content):
    """Replaces the text of region name in the file at path with content (less its last line
    end; a region that stands on lines of its own keeps them). False when there is none."""
    with open(path, encoding="utf-8") as source:
        text = source.read()
    for match in REGION.finditer(text):
        if match.group(1) != name:
            continue
        old = match.group(5)
        new = content.rstrip("\n")
        if old.startswith("\n"):
            new = "\n" + new + "\n"
        start, end = match.span(5)
        with open(path + ".new", "w", encoding="utf-8") as out:
            out.write(text[:start] + new + text[end:])
        os.replace(path + ".new", path)
        return True
    return False


def main(argv):
    if len(argv) == 3 and argv[1] == "size":
        print(f"{os.path.getsize(argv[2]):,}")
        return 0
    if len(argv) == 4 and argv[1] == "write":
        if not write_region(os.path.join(ROOT, argv[2]), argv[3], sys.stdin.read()):
            print(f"doc_figures: {argv[2]} has no region of figures {argv[3]}", file=sys.stderr)
            return 1
        return 0
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 64
    texts = {document: read_from_root(document) for document in documents()}
    found = []
    for document, text in texts.items():
        found += problems(document, text, read_from_root)
    found += unquoted(texts)
    for sentence in found:
        print(sentence)
    print(f"{len(documents())} documents, {len(found)} figures from nowhere")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

"""docs/kurvix-check.md lists exactly the hint ids that kurvix-check --help lists, and marks
exactly those the help marks as warnings; and every hint's wrong and right example, as
--explain shows it, is run: the wrong one raises its own hint (and only what the same mistake
brings with it), the right one none.

The tool's hint table is the one source of the ids; the document's table follows it. Run with
KURVIX_CHECK naming the built tool (ctest does so)."""

import json
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = os.path.join(os.path.dirname(__file__), "..")
DOCUMENT = os.path.join(ROOT, "docs", "kurvix-check.md")
TABLE_HEADER = "| id | the mistake |"
HELP_ROW = re.compile(r"^  ([a-z0-9]+(?:-[a-z0-9]+)*) {2,}\S")
ID_SPAN = re.compile(r"`([^`]+)`")
WARNING = "(warning)"


def help_hints(help_text):
    """The help's hint list in its order: (id, graded a warning)."""
    lines = help_text.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("Hints"))
    hints = []
    for line in lines[start + 1:]:
        match = HELP_ROW.match(line)
        if not match:
            break
        hints.append((match.group(1), line.endswith(WARNING)))
    return hints


def help_ids(help_text):
    """The ids of the help's hint list, in its order."""
    return [hint_id for hint_id, _ in help_hints(help_text)]


def document_hints(markdown):
    """The document's hint table in its order: (id, graded a warning), the grade marked at the
    start of the second column."""
    lines = markdown.splitlines()
    start = lines.index(TABLE_HEADER)
    hints = []
    for line in lines[start + 2:]:
        if not line.startswith("|"):
            break
        columns = line.split("|")
        warning = columns[2].strip().startswith(WARNING)
        hints.extend((hint_id, warning) for hint_id in ID_SPAN.findall(columns[1]))
    return hints


def document_ids(markdown):
    """The ids in the first column of the document's hint table, in its order."""
    return [hint_id for hint_id, _ in document_hints(markdown)]


def grade_differences(help_list, document_list):
    """Sentences naming each id that one side grades a warning and the other does not."""
    documented = dict(document_list)
    found = []
    for hint_id, warning in help_list:
        if hint_id in documented and documented[hint_id] != warning:
            grade = "a warning" if warning else "a note"
            found.append(f"docs/kurvix-check.md must mark {hint_id} as {grade}")
    return found


def differences(help_list, document_list):
    """Sentences naming each id one side lists and the other does not."""
    found = []
    for hint_id in help_list:
        if hint_id not in document_list:
            found.append(f"docs/kurvix-check.md lacks the hint {hint_id}")
    for hint_id in document_list:
        if hint_id not in help_list:
            found.append(f"docs/kurvix-check.md lists {hint_id}, which kurvix-check does not know")
    for hint_id in sorted(set(document_list)):
        if document_list.count(hint_id) > 1:
            found.append(f"docs/kurvix-check.md lists {hint_id} twice")
    return found


# How an example stands for a file. "(bytes)" gives the bytes: hex pairs, and letters each
# followed by a dot for a UTF-16LE unit; what follows them is a remark. Otherwise the lines are
# the file's, in UTF-16LE with the byte-order mark and CR LF. A remark in parentheses after
# three blanks says what lies beside the file: "no such file", "Nacht.ini: no SETTINGS", or by
# default a Nacht.ini with a binding and the example's own SETTINGS. An example that binds no
# key is a fragment: a binding follows it, except where the missing binding is the mistake.
BYTES = "(bytes) "
REMARK = re.compile(r" {3,}\((.*)\)$")
LONG_VALUE = "...(more than 250 characters)..."
NO_BINDING_HINT = "no-binding"

# Hints that the wrong example's mistake raises as well, by its nature: (hint, what comes with
# it, why).
CONSEQUENCES = [
    ("line-ends", "no-keycode", "CR CR LF ends every block after its header, so the KeyCode falls out"),
    ("line-ends", "key-outside-block", "the key line after the header's doubled end stands in no block"),
    ("blank-line", "header-inside-block", "the blank line does not end the block, so the next header is in it"),
    ("bracket-header", "key-outside-block", "no block begins, so the key line after the header is in none"),
    ("leading-blanks", "no-keycode", "the indented KeyCode line is not read, so the binding has none"),
    ("comment-after-value", "command-arguments", "the comment after the blank is taken as arguments"),
    ("number-stops", "elapse-below-interval", "ElapseTime=1,5 is 1 ms, below the CheckIntervall"),
    ("check-interval-large", "elapse-below-interval", "100000 ms is above the default ElapseTime"),
    ("relative-newini", "newini-missing", "the file is looked for in the device's root, where the check has none"),
]


def examples(explanation):
    """The wrong and the right example of an --explain text, each as its lines."""
    found = []
    for title in ("Wrong", "Right"):
        lines = explanation.split(f"\n{title}:\n", 1)[1].splitlines()
        found.append([line[4:] for line in lines[:next(i for i, line in enumerate(lines)
                                                        if not line.startswith("    "))]])
    return found


def unicode_file(lines):
    return b"\xff\xfe" + "".join(line + "\r\n" for line in lines).encode("utf-16-le")


def example_files(hint_id, lines):
    """The files an example stands for: name to bytes, Kurvix.ini the one checked."""
    if lines[0].startswith(BYTES):
        data = b""
        for token in lines[0][len(BYTES):].split():
            if re.fullmatch(r"[0-9A-F]{2}", token):
                data += bytes([int(token, 16)])
            elif re.fullmatch(r"(?:[^.]\.)+", token):
                data += token[::2].encode("utf-16-le")
            else:
                break
        return {"Kurvix.ini": data}
    remarks = [match.group(1) for match in map(REMARK.search, lines) if match]
    lines = [REMARK.sub("", line).replace(LONG_VALUE, "x" * 260) for line in lines]
    if "KURVIX" not in lines and hint_id != NO_BINDING_HINT:
        lines += ["", "KURVIX", "KeyCode=193"]
    files = {"Kurvix.ini": unicode_file(lines)}
    if "no such file" not in remarks:
        settings = []
        if "SETTINGS" in lines and "Nacht.ini: no SETTINGS" not in remarks:
            start = lines.index("SETTINGS")
            settings = lines[start:lines.index("", start)] + [""]
        files["Nacht.ini"] = unicode_file(settings + ["KURVIX", "KeyCode=194"])
    return files


def raised(tool, files):
    """The ids of the hints kurvix-check gives for the files' Kurvix.ini."""
    with tempfile.TemporaryDirectory() as folder:
        for name, data in files.items():
            (Path(folder) / name).write_bytes(data)
        checked = subprocess.run([tool, "--json", str(Path(folder) / "Kurvix.ini")],
                                 capture_output=True, text=True)
    return [hint["id"] for hint in json.loads(checked.stdout)["hints"]]


HELP = ("Options:\n  --json    print JSON\n\nHints (kurvix-check --explain ID tells more):\n"
        "  encoding                  the file is not UTF-16LE\n"
        "  newini-missing            a NewIni file that is not found (warning)\n"
        "  same-key                  two bindings of one key\n")
TABLE = TABLE_HEADER + "\n|---|---|\n"

# (case, the document's table rows, what the comparison must say)
CASES = [
    ("every id, in order",
     "| `encoding` | a |\n| `newini-missing` | b |\n| `same-key` | c |\n", []),
    ("two ids in one row",
     "| `encoding` | a |\n| `newini-missing`, `same-key` | b |\n", []),
    ("an id the document lacks",
     "| `encoding` | a |\n| `same-key` | c |\n",
     ["docs/kurvix-check.md lacks the hint newini-missing"]),
    ("an id the tool does not know",
     "| `encoding` | a |\n| `newini-missing` | b |\n| `same-key` | c |\n| `old-hint` | d |\n",
     ["docs/kurvix-check.md lists old-hint, which kurvix-check does not know"]),
    ("a misspelt id is both",
     "| `encoding` | a |\n| `newini-mising` | b |\n| `same-key` | c |\n",
     ["docs/kurvix-check.md lacks the hint newini-missing",
      "docs/kurvix-check.md lists newini-mising, which kurvix-check does not know"]),
    ("an id listed twice",
     "| `encoding` | a |\n| `newini-missing` | b |\n| `same-key` | c |\n| `same-key` | d |\n",
     ["docs/kurvix-check.md lists same-key twice"]),
    ("a code span in the summary is no id",
     "| `encoding` | not `UTF-8` |\n| `newini-missing` | b |\n| `same-key` | c |\n", []),
    ("the table ends at the first line that is not a row",
     "| `encoding` | a |\n| `newini-missing` | b |\n| `same-key` | c |\n\n| `later` | x |\n", []),
]


# (case, the document's table rows, what the comparison of grades must say)
GRADE_CASES = [
    ("grades agree",
     "| `encoding` | a |\n| `newini-missing` | (warning) b |\n| `same-key` | c |\n", []),
    ("a warning the document does not mark",
     "| `encoding` | a |\n| `newini-missing` | b |\n| `same-key` | c |\n",
     ["docs/kurvix-check.md must mark newini-missing as a warning"]),
    ("a note the document marks a warning",
     "| `encoding` | (warning) a |\n| `newini-missing` | (warning) b |\n| `same-key` | c |\n",
     ["docs/kurvix-check.md must mark encoding as a note"]),
    ("the mark counts only at the start of the row's text",
     "| `encoding` | a, not a (warning) |\n| `newini-missing` | (warning) b |\n| `same-key` | c |\n", []),
]


class ComparisonTest(unittest.TestCase):
    def test_cases(self):
        self.assertEqual(help_ids(HELP), ["encoding", "newini-missing", "same-key"])
        for case, rows, expected in CASES:
            with self.subTest(case):
                markdown = "# kurvix-check\n\n## Hints\n\n" + TABLE + rows
                self.assertEqual(differences(help_ids(HELP), document_ids(markdown)), expected)
        for case, rows, expected in GRADE_CASES:
            with self.subTest(case):
                markdown = "# kurvix-check\n\n## Hints\n\n" + TABLE + rows
                self.assertEqual(grade_differences(help_hints(HELP), document_hints(markdown)), expected)


# (case, hint id, example lines, the files it stands for)
EXAMPLE_CASES = [
    ("lines in UTF-16LE with CR LF, a binding after a fragment", "near-miss", ["SETTINGS", "X=1"],
     {"Kurvix.ini": unicode_file(["SETTINGS", "X=1", "", "KURVIX", "KeyCode=193"]),
      "Nacht.ini": unicode_file(["SETTINGS", "X=1", "", "KURVIX", "KeyCode=194"])}),
    ("no binding added where its lack is the mistake", "no-binding", ["; nothing yet"],
     {"Kurvix.ini": unicode_file(["; nothing yet"]), "Nacht.ini": unicode_file(["KURVIX", "KeyCode=194"])}),
    ("bytes and dotted UTF-16 letters, then a remark", "encoding", ["(bytes) FF FE K.=. 0D 00   remark 41"],
     {"Kurvix.ini": b"\xff\xfeK\x00=\x00\r\x00"}),
    ("a missing file", "newini-missing", ["KURVIX", "NewIni=\\Nacht.ini    (no such file)"],
     {"Kurvix.ini": unicode_file(["KURVIX", "NewIni=\\Nacht.ini"])}),
    ("a Nacht.ini without SETTINGS", "x", ["SETTINGS", "A=1", "", "KURVIX", "NewIni=N   (Nacht.ini: no SETTINGS)"],
     {"Kurvix.ini": unicode_file(["SETTINGS", "A=1", "", "KURVIX", "NewIni=N"]),
      "Nacht.ini": unicode_file(["KURVIX", "KeyCode=194"])}),
    ("a long value", "long-line", ["KURVIX", "Command=\\" + LONG_VALUE + "\\a.exe"],
     {"Kurvix.ini": unicode_file(["KURVIX", "Command=\\" + "x" * 260 + "\\a.exe"]),
      "Nacht.ini": unicode_file(["KURVIX", "KeyCode=194"])}),
]


class ExampleFilesTest(unittest.TestCase):
    def test_cases(self):
        explanation = "id (note): x\n\nWhy.\n\nWrong:\n    A=1\n    \n\nRight:\n    B=2\n\nFix: C\n"
        self.assertEqual(examples(explanation), [["A=1", ""], ["B=2"]])
        for case, hint_id, lines, files in EXAMPLE_CASES:
            with self.subTest(case):
                self.assertEqual(example_files(hint_id, lines), files)


class DocumentTest(unittest.TestCase):
    def test_document_lists_the_tools_hints(self):
        tool = os.environ.get("KURVIX_CHECK")
        if not tool:
            self.fail("KURVIX_CHECK must name the built kurvix-check")
        help_text = subprocess.run([tool, "--help"], check=True, capture_output=True,
                                   text=True).stdout
        tool_ids = help_ids(help_text)
        self.assertGreater(len(tool_ids), 20, "the help's hint list was not found")
        with open(DOCUMENT, encoding="utf-8") as document:
            documented = document_hints(document.read())
        listed = [hint_id for hint_id, _ in documented]
        self.assertEqual(differences(tool_ids, listed), [])
        self.assertEqual(grade_differences(help_hints(help_text), documented), [])
        # Each id explains itself, so the document's table never points at nothing.
        for hint_id in listed:
            with self.subTest(hint_id):
                subprocess.run([tool, "--explain", hint_id], check=True, capture_output=True)

    def test_examples_raise_their_own_hint(self):
        tool = os.environ.get("KURVIX_CHECK")
        if not tool:
            self.fail("KURVIX_CHECK must name the built kurvix-check")
        tool_ids = help_ids(subprocess.run([tool, "--help"], check=True, capture_output=True,
                                           text=True).stdout)
        self.assertGreater(len(tool_ids), 20, "the help's hint list was not found")
        for hint_id in tool_ids:
            with self.subTest(hint_id):
                explanation = subprocess.run([tool, "--explain", hint_id], check=True,
                                             capture_output=True, text=True).stdout
                wrong, right = examples(explanation)
                brought = {also for hint, also, _ in CONSEQUENCES if hint == hint_id}
                wrong_hints = raised(tool, example_files(hint_id, wrong))
                self.assertIn(hint_id, wrong_hints, wrong)
                self.assertEqual(set(wrong_hints) - {hint_id}, brought, wrong)
                self.assertEqual(raised(tool, example_files(hint_id, right)), [], right)


if __name__ == "__main__":
    unittest.main()

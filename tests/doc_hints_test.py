"""docs/kurvix-check.md lists exactly the hint ids that kurvix-check --help lists, and marks
exactly those the help marks as warnings.

The tool's hint table is the one source of the ids; the document's table follows it. Run with
KURVIX_CHECK naming the built tool (ctest does so)."""

import os
import re
import subprocess
import unittest

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


if __name__ == "__main__":
    unittest.main()

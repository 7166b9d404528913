"""tools/doc_figures.py: which figures of a document come from nowhere, and how a bench writes
its region. The documents themselves are checked by the test doc_figures."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import doc_figures  # noqa: E402

SOURCES = {
    "bench/sizes.sh": "tools/doc_figures.py write docs/a.md exe-size",
    "tests/limits.py": "SIZE_LIMIT = 32 * 1024",
}
HELD = [("docs/a.md", "32 KiB", "tests/limits.py", r"SIZE_LIMIT = 32 \* 1024\b")]

# (case, the document's text, what the check must say)
CASES = [
    ("a size in running text", "It is 17,920 bytes.\n",
     ["docs/a.md:1: '17,920 bytes' is neither written by a bench nor held by the sources"]),
    ("a time range, a count split over two lines", "Runs take 65 to 110 s.\nAll 189\ntests pass.\n",
     ["docs/a.md:1: '65 to 110 s' is neither written by a bench nor held by the sources",
      "docs/a.md:2: '189 tests' is neither written by a bench nor held by the sources"]),
    ("a region its bench writes",
     "It is <!-- figures exe-size: written by bench/sizes.sh -->17,920 bytes<!-- end of figures exe-size -->.\n", []),
    ("a region said to be written by a bench that does not write it",
     "<!-- figures cab-size: written by bench/sizes.sh -->18,695 bytes<!-- end of figures cab-size -->\n",
     ["docs/a.md: the figures cab-size are said to be written by bench/sizes.sh, which does not write them"]),
    ("a region of a bench that does not exist",
     "<!-- figures exe-size: written by bench/gone.sh -->1 s<!-- end of figures exe-size -->\n",
     ["docs/a.md: the figures exe-size name bench/gone.sh, which does not exist"]),
    ("a dated record of a run",
     "<!-- figures soak: recorded from bench/sizes.sh on 2026-12-09 -->in 12 s<!-- end of figures soak -->\n", []),
    ("a record without its day",
     "<!-- figures soak: recorded from bench/sizes.sh -->in 12 s<!-- end of figures soak -->\n",
     ["docs/a.md: the figures soak recorded from bench/sizes.sh say on which day"]),
    ("a value the sources hold", "It stays under 32 KiB.\n", []),
    ("code is not read", "Run `soak --presses 30000` (30 s) and\n```\n4 s\n```\n",
     ["docs/a.md:1: '30 s' is neither written by a bench nor held by the sources"]),
    ("a target is no figure",
     "| What | Figure | Target |\n|---|---|---|\n| load | <!-- figures exe-size: written by bench/sizes.sh -->"
     "3 ms<!-- end of figures exe-size --> | under 100 ms |\n| idle | 5 ms | none |\n",
     ["docs/a.md:4: '5 ms' is neither written by a bench nor held by the sources"]),
    ("a number without a unit is no figure", "Key 197. Runs of 2026-12-09 with 3 bindings.\n", []),
]


class CheckTest(unittest.TestCase):
    def test_cases(self):
        for case, text, expected in CASES:
            with self.subTest(case):
                self.assertEqual(doc_figures.problems("docs/a.md", text, SOURCES.get, HELD), expected)

    def test_held_value_that_changed_is_reported(self):
        changed = dict(SOURCES, **{"tests/limits.py": "SIZE_LIMIT = 48 * 1024"})
        self.assertEqual(doc_figures.problems("docs/a.md", "It stays under 32 KiB.\n", changed.get, HELD),
                         ["docs/a.md:1: '32 KiB' is no longer what tests/limits.py holds"])


    def test_held_figure_the_document_dropped_is_reported(self):
        self.assertEqual(doc_figures.unquoted({"docs/a.md": "It stays under 32 KiB.\n"}, HELD), [])
        self.assertEqual(doc_figures.unquoted({"docs/a.md": "It stays small.\n"}, HELD),
                         ["tools/doc_figures.py holds '32 KiB' of docs/a.md, which no longer quotes it"])


class WriteTest(unittest.TestCase):
    def test_bench_rewrites_its_region_alone(self):
        cases = [
            ("inline", "It is <!-- figures a: written by b -->1 s<!-- end of figures a -->; "
             "<!-- figures c: written by b -->2 s<!-- end of figures c -->.\n", "a", "3 s\n",
             "It is <!-- figures a: written by b -->3 s<!-- end of figures a -->; "
             "<!-- figures c: written by b -->2 s<!-- end of figures c -->.\n"),
            ("on lines of its own", "x\n<!-- figures a: written by b -->\n| 1 s |\n<!-- end of figures a -->\ny\n",
             "a", "| 2 s |\n| 3 s |\n",
             "x\n<!-- figures a: written by b -->\n| 2 s |\n| 3 s |\n<!-- end of figures a -->\ny\n"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "a.md")
            for case, before, name, content, after in cases:
                with self.subTest(case):
                    with open(path, "w", encoding="utf-8") as document:
                        document.write(before)
                    self.assertTrue(doc_figures.write_region(path, name, content))
                    with open(path, encoding="utf-8") as document:
                        self.assertEqual(document.read(), after)
            self.assertFalse(doc_figures.write_region(path, "missing", "1 s"))


if __name__ == "__main__":
    unittest.main()

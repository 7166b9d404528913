"""The Markdown link checker on small made-up repositories: what it must find and what it
must leave alone."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import check_doc_links  # noqa: E402

CHECKER = os.path.join(os.path.dirname(__file__), "..", "tools", "check_doc_links.py")

# Every made-up repository holds these besides the Markdown under test.
FILES = {
    "run.sh": "",
    "web/build.sh": "",
    "tools/make_icons.py": "",
    "docs/images/tray.png": "",
    "docs/guide.md": "# Guide\n\n## Writing Kurvix.ini on Windows\n"
                     "\n## Tasten & Codes: „belegt“?\n"
                     "\n## Repeat\n\n## Repeat\n\nSetext heading\n--------------\n"
                     "\n<a name=\"by-hand\"></a>\n\n```sh\n# Not a heading\n```\n",
}

# (case, Markdown text of README.md, the finding's words or None when nothing may be found)
LINKS = [
    ("a file beside it", "[guide](docs/guide.md)", None),
    ("a folder", "[web](web/) and [images](docs/images)", None),
    ("an image", "![tray](docs/images/tray.png)", None),
    ("a missing file", "[x](docs/nope.md)", "docs/nope.md does not exist"),
    ("a missing image", "![x](docs/images/nope.png)", "docs/images/nope.png does not exist"),
    ("a path out of the repository", "[x](../elsewhere.md)", "leads out of the repository"),
    ("an anchor of a heading", "[w](docs/guide.md#writing-kurvixini-on-windows)", None),
    ("an anchor of a heading with umlauts and punctuation",
     "[t](docs/guide.md#tasten--codes-belegt)", None),
    ("the second of two equal headings", "[r](docs/guide.md#repeat-1)", None),
    ("a third that does not exist", "[r](docs/guide.md#repeat-2)",
     "no heading with the anchor #repeat-2"),
    ("a setext heading", "[s](docs/guide.md#setext-heading)", None),
    ("an HTML anchor", "[h](docs/guide.md#by-hand)", None),
    ("a comment in a code block is no heading", "[n](docs/guide.md#not-a-heading)",
     "no heading with the anchor #not-a-heading"),
    ("a wrong anchor", "[w](docs/guide.md#writing-on-windows)",
     "no heading with the anchor #writing-on-windows"),
    ("an anchor of the file itself", "# Start here\n\n[s](#start-here)", None),
    ("a wrong anchor of the file itself", "# Start here\n\n[s](#start)",
     "no heading with the anchor #start"),
    ("a reference definition", "[g][1]\n\n[1]: docs/nope.md", "docs/nope.md does not exist"),
    ("addresses elsewhere", "[a](https://example.org/x.md) <mailto:a@b.c> [m](mailto:a@b.c)", None),
    ("a link in a code span", "`[x](docs/nope.md)`", None),
    ("a link in a fenced block", "```\n[x](docs/nope.md)\n```", None),
    ("a link after a fenced block", "```\ncode\n```\n[x](docs/nope.md)",
     "docs/nope.md does not exist"),
]

COMMANDS = [
    ("a script that exists", "```sh\n./run.sh\n```", None),
    ("a script that does not", "```sh\npackaging/nope.sh --all\n```",
     "packaging/nope.sh does not exist"),
    ("a bash block", "```bash\n./x.sh\n```", "x.sh does not exist"),
    ("a shell block", "```shell\nweb/nope.sh\n```", "web/nope.sh does not exist"),
    ("a console prompt", "```console\n$ ./nope.sh\noutput ./nope.sh\n```",
     "nope.sh does not exist"),
    ("console output is not a command", "```console\n$ ./run.sh\n./nope.sh: not found\n```", None),
    ("a prompt in an sh block", "```sh\n$ ./nope.sh\n```", "nope.sh does not exist"),
    ("system programs",
     "```sh\ncmake -S . -B build\nsudo apt-get install gcab\n/usr/bin/python3 -V\n```",
     None),
    ("built outputs", "```sh\nbuild/tools/kurvix-check x.ini\nbuild-ce/nope.exe\n```", None),
    ("an interpreter's script", "```sh\npython3 tools/nope.py\n```",
     "tools/nope.py does not exist"),
    ("an interpreter's script that exists", "```sh\n/usr/bin/python3 tools/make_icons.py -v\n```",
     None),
    ("an interpreter's module", "```sh\npython3 -m unittest tests/x.py\n```", None),
    ("after a folder change", "```sh\ncd web && ./build.sh\n```", None),
    ("after a folder change, missing", "```sh\ncd web && ./nope.sh\n```",
     "web/nope.sh does not exist"),
    ("after && and a pipe", "```sh\n./run.sh && tools/nope.sh | less\n```",
     "tools/nope.sh does not exist"),
    ("after a variable", "```sh\nJOBS=2 web/nope.sh\n```", "web/nope.sh does not exist"),
    ("a continued line", "```sh\ncmake -S . \\\n  -B b && ./nope.sh\n```",
     "nope.sh does not exist"),
    ("a comment", "```sh\n# ./nope.sh is not run\n./run.sh  # ./nope.sh\n```", None),
    ("an argument is no program", "```sh\n./run.sh docs/nope.md\n```", None),
    ("a block not marked as shell", "```\n./nope.sh\n```\n```ini\n./nope.sh\n```", None),
]


def make_repository(root, readme):
    for path, text in dict(FILES, **{"README.md": readme}).items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)
    return list(FILES) + ["README.md"]


class CheckerTest(unittest.TestCase):
    def findings(self, readme):
        with tempfile.TemporaryDirectory() as root:
            checker = check_doc_links.Checker(root, make_repository(root, readme))
            return checker.check_file("README.md")

    def check_table(self, table):
        for case, readme, expected in table:
            with self.subTest(case):
                findings = self.findings(readme)
                if expected is None:
                    self.assertEqual(findings, [])
                else:
                    self.assertEqual(len(findings), 1, findings)
                    self.assertIn(expected, findings[0])
                    self.assertTrue(findings[0].startswith("README.md:"), findings[0])

    def test_links(self):
        self.check_table(LINKS)

    def test_commands(self):
        self.check_table(COMMANDS)

    def test_finding_names_its_line(self):
        findings = self.findings("# Title\n\ntext\n\n[x](nope.md)\n")
        self.assertEqual(findings, ["README.md:5: link nope.md: nope.md does not exist"])


class CommandLineTest(unittest.TestCase):
    """The checker as ctest runs it: over the files git knows of in a repository."""

    def run_checker(self, readme, ignored=False):
        with tempfile.TemporaryDirectory() as root:
            make_repository(root, readme)
            if ignored:
                with open(os.path.join(root, ".gitignore"), "w") as f:
                    f.write("docs/guide.md\n")
            subprocess.run(["git", "init", "-q", root], check=True)
            return subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True)

    def test_exit_status(self):
        cases = [
            ("nothing broken", "[g](docs/guide.md)\n", 0, ""),
            ("a broken link", "[g](docs/nope.md)\n", 1, "README.md:1: link docs/nope.md"),
            ("an ignored file does not count", "[g](docs/guide.md)\n", 1,
             "docs/guide.md does not exist"),
        ]
        for case, readme, status, output in cases:
            with self.subTest(case):
                result = self.run_checker(readme, ignored=case.startswith("an ignored"))
                self.assertEqual(result.returncode, status, result.stdout + result.stderr)
                self.assertIn(output, result.stdout)


if __name__ == "__main__":
    unittest.main()

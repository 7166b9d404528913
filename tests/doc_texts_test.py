"""docs/configuration.md's table of the device's German texts is the device code's table
(res/texts.h): the same texts, places and meanings, in the same order.

The document shows a text as the user reads it: a line break as a blank, the key code as 193,
and after a text that ends in a line break " and the path", after the contact line " and an
address"."""

import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "scripts"))

from device_facts import DeviceText, TEXTS  # noqa: E402

DOCUMENT = ROOT / "docs" / "configuration.md"
TABLE_HEADER = "| Where | Text | Meaning |"
CONTACT = "{KURVIX_CONTACT}"


def document_row(text):
    """The table row the document must have for one text of the device."""
    shown = text.german.rstrip("\n").replace("\n", " ").replace("%u", "193").replace(CONTACT, "")
    cell = f"`{shown}`"
    if text.german.endswith("\n"):
        cell += " and the path"
    if CONTACT in text.german:
        cell += " and an address"
    return f"| {text.where} | {cell} | {text.meaning.replace('%u', '193')} |"


def table_rows(markdown):
    """The rows of the document's table of texts, header and rule left out."""
    lines = markdown.splitlines()
    start = lines.index(TABLE_HEADER) + 2
    end = start
    while end < len(lines) and lines[end].startswith("|"):
        end += 1
    return lines[start:end]


class RowTest(unittest.TestCase):
    def test_rows_show_the_text_as_the_user_reads_it(self):
        cases = [
            (DeviceText("A", "box caption", "Terminieren?", "end it?"),
             "| box caption | `Terminieren?` | end it? |"),
            (DeviceText("B", "box text", "Die Datei ist leer:\n", "empty"),
             "| box text | `Die Datei ist leer:` and the path | empty |"),
            (DeviceText("C", "question text", "L\u00e4uft.\nEnde?", "runs"),
             "| question text | `L\u00e4uft. Ende?` | runs |"),
            (DeviceText("D", "status window", "ist %u", "is %u"),
             "| status window | `ist 193` | is 193 |"),
            (DeviceText("E", "status window", "Kontakt: " + CONTACT, "contact"),
             "| status window | `Kontakt: ` and an address | contact |"),
        ]
        for text, row in cases:
            with self.subTest(text.name):
                self.assertEqual(document_row(text), row)


class DocumentTest(unittest.TestCase):
    def test_document_table_is_the_code_table(self):
        self.assertGreater(len(TEXTS), 15, "res/texts.h was not read")
        self.assertIn("Terminieren?", [text.german for text in TEXTS.values()])
        rows = table_rows(DOCUMENT.read_text(encoding="utf-8"))
        self.assertEqual(rows, [document_row(text) for text in TEXTS.values()])


if __name__ == "__main__":
    unittest.main()

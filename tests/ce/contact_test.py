"""ce/build-ce.sh takes any contact text that fits the status window: the text reaches
the window's contact line and the version resource's Comments exactly as given, and a text
that cannot be shown is refused with a message and leaves the build as it was.

    /usr/bin/python3 -m unittest tests/ce/contact_test.py    (Debian's Python: pefile)

Each row rebuilds build-ce/ (the objects that include the contact); the default build is
made again at the end.
"""

import os
import subprocess
import unittest
from pathlib import Path

import pefile

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "ce" / "build-ce.sh"
EXE = ROOT / "build-ce" / "kurvix.exe"


def build(contact):
    env = dict(os.environ)
    if contact is None:
        env.pop("KURVIX_CONTACT", None)
    else:
        env["KURVIX_CONTACT"] = contact
    return subprocess.run([str(BUILD)], cwd=ROOT, env=env, capture_output=True, text=True)


def comments(path):
    pe = pefile.PE(str(path))
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            if b"Comments" in table.entries:
                return table.entries[b"Comments"].decode("utf-8")
    raise AssertionError(f"{path} has no Comments in its version resource")


class ContactTextTest(unittest.TestCase):
    @classmethod
    def tearDownClass(cls):
        done = build(None)
        assert done.returncode == 0, done.stderr

    # Texts a make variable, a sed expression, a C literal or a resource script would mangle.
    TAKEN = [
        ("slashes", "IT-Lager, Tel. 0711/123-456"),
        ("an ampersand", "Lager & Logistik"),
        ("quotes and a backslash", 'IT "Lager" \\ Halle 2'),
        ("umlauts and the euro sign", "Gerätewart Jürgen, 5 €"),
        ("shell and make characters", "$(HOME) `x` 'a' ??= %d"),
    ]

    def test_any_text_reaches_the_window_and_the_version_resource(self):
        for what, contact in self.TAKEN:
            with self.subTest(what):
                done = build(contact)
                self.assertEqual(done.returncode, 0, done.stderr)
                program = EXE.read_bytes()
                # The window draws "Kontakt: " and the text as one wide string.
                self.assertIn(("Kontakt: " + contact + "\0").encode("utf-16-le"), program)
                self.assertEqual(comments(EXE), contact)

    # (what, text, a part of the message)
    REFUSED = [
        ("wider than the contact line", "Lagerverwaltung Halle Nord, Telefon 0711/123-4567",
         "too long"),
        ("a line break", "Lager\nHalle 2", "cannot show"),
        ("a tab", "Lager\tHalle", "cannot show"),
        ("a character beyond 16 bits", "Lager \U0001F4E6", "cannot show"),
    ]

    def test_a_text_the_window_cannot_show_is_refused_and_the_build_kept(self):
        self.assertEqual(build(None).returncode, 0)
        before = EXE.read_bytes()
        for what, contact, message in self.REFUSED:
            with self.subTest(what):
                done = build(contact)
                self.assertEqual(done.returncode, 1, done.stdout)
                self.assertIn("KURVIX_CONTACT: ", done.stderr)
                self.assertIn(message, done.stderr)
                self.assertEqual(EXE.read_bytes(), before)


if __name__ == "__main__":
    unittest.main()

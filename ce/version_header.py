#!/usr/bin/env python3
"""Writes the device build's res/version.h (the version resource's numbers and texts, from
res/version.h.in) and contact.h (the status window's contact text), with any contact text
written as escapes, so that slashes, ampersands, quotes and umlauts reach the window and the
version resource as they were given.

    ce/version_header.py OUT_FOLDER [CONTACT]

The version comes from kurvix.mk, and so does the contact when none (or an empty one) is
given.

A contact text must fit the status window's contact line: "Kontakt: " and the text, one
line in the strip left of the 18-pixel column of the program's 276-pixel-wide window,
measured with the character widths the simulated device draws with (sim/graphics.cpp). A
longer text would be cut off on every screen and is refused. Each file is rewritten only
when it changes, so an unchanged build stays up to date.
"""

import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "scripts"))

from device_facts import LAYOUT  # noqa: E402


def source_number(path, name):
    return int(re.search(rf"\b{name} = (\d+);", (ROOT / path).read_text()).group(1))


def character_widths():
    """A function giving a character's width in pixels, from the simulated device's table."""
    text = (ROOT / "sim" / "graphics.cpp").read_text()

    def table(name):
        body = re.search(rf"{name}\[\] = \{{(.*?)\}};", text, re.S).group(1)
        return [int(n) for n in re.findall(r"\b(\d+),", re.sub(r"//[^\n]*", "", body))]

    ascii_widths, latin1_widths = table("kAsciiWidths"), table("kLatin1Widths")
    other = source_number("sim/graphics.cpp", "kOtherCharWidth")

    def width(c):
        if 0x20 <= ord(c) < 0x7F:
            return ascii_widths[ord(c) - 0x20]
        if 0xA0 <= ord(c) <= 0xFF:
            return latin1_widths[ord(c) - 0xA0]
        return other
    return width


def contact_room():
    """The contact line's width in pixels in the program's own window."""
    return LAYOUT["WINDOW_WIDTH"] - LAYOUT["COLUMN_WIDTH"]


def check_contact(contact):
    """Raises ValueError when the contact text cannot be shown as given."""
    if not contact:
        raise ValueError("the contact text is empty")
    bad = [c for c in contact if ord(c) < 0x20 or 0x7F <= ord(c) < 0xA0 or ord(c) > 0xFFFF]
    if bad:
        raise ValueError(f"the contact text holds {bad[0]!r}, which the status window cannot "
                         f"show on its one line")
    width = character_widths()
    drawn = sum(width(c) for c in "Kontakt: " + contact)
    if drawn > contact_room():
        raise ValueError(f"the contact text is too long: \"Kontakt: {contact}\" is {drawn} pixels "
                         f"wide, and the status window's contact line holds {contact_room()}; "
                         f"shorten it (an address or a telephone number)")


def c_literal(contact):
    """A C string literal (for TEXT(), which makes it wide): ASCII as it is, \\ and " escaped,
    every other character as a universal character name."""
    out = []
    for c in contact:
        if c in '\\"?':
            out.append("\\" + c)
        elif ord(c) < 0x7F:
            out.append(c)
        else:
            out.append(f"\\u{ord(c):04x}")
    return '"' + "".join(out) + '"'


def rc_literal(contact):
    """A wide string literal for windres: " doubled, \\ escaped, other characters beyond
    ASCII as \\x and four hex digits (windres reads no universal character names)."""
    out = []
    for c in contact:
        if c == '"':
            out.append('""')
        elif c == "\\":
            out.append("\\\\")
        elif ord(c) < 0x7F:
            out.append(c)
        else:
            out.append(f"\\x{ord(c):04x}")
    return 'L"' + "".join(out) + '"'


def write_if_changed(path, text):
    if not path.exists() or path.read_text(encoding="ascii") != text:
        path.write_text(text, encoding="ascii")


def kurvix_mk(name):
    """A setting of kurvix.mk, whose plain "NAME = text" lines the CMake build reads too."""
    found = re.search(rf"^{name} = (.*)$", (ROOT / "kurvix.mk").read_text(encoding="utf-8"),
                      re.MULTILINE)
    if not found:
        sys.exit(f"kurvix.mk names no {name}")
    return found.group(1).strip()


def main(argv):
    if not 1 <= len(argv) <= 2:
        sys.exit("usage: version_header.py OUT_FOLDER [CONTACT]")
    out = Path(argv[0])
    version = kurvix_mk("KURVIX_VERSION")
    contact = argv[1] if len(argv) == 2 and argv[1] else kurvix_mk("KURVIX_DEFAULT_CONTACT")
    try:
        check_contact(contact)
    except ValueError as error:
        print(f"build-ce: KURVIX_CONTACT: {error}", file=sys.stderr)
        return 1
    major, minor, patch = version.split(".")
    template = (ROOT / "res" / "version.h.in").read_text(encoding="ascii")
    header = (template.replace("@PROJECT_VERSION_MAJOR@", major)
              .replace("@PROJECT_VERSION_MINOR@", minor)
              .replace("@PROJECT_VERSION_PATCH@", patch)
              .replace("@PROJECT_VERSION@", version)
              .replace('"@KURVIX_CONTACT@"', rc_literal(contact)))
    out.mkdir(parents=True, exist_ok=True)
    write_if_changed(out / "version.h", header)
    write_if_changed(out / "contact.h",
                     "/* Made by ce/version_header.py: the status window's contact text. */\n"
                     f"#define KURVIX_CONTACT {c_literal(contact)}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""The device code's facts for Python: its texts (res/texts.h), the main window's class and
layout (shell/layout.h), the tray icon's message and id (shell/tray_icon.h) and the icon ids
(res/resource.h), read from those headers, so that scripts and tests never write them again.

    from device_facts import TEXTS, CLASS_NAME, LAYOUT, ICONS
    TEXTS["TERMINATE_CAPTION"].german   # "Terminieren?"
"""

import re
from collections import namedtuple
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]

# A text of the device: the constant's name, where it stands, the German, the meaning. The
# contact address, which the build sets, stands in the German as {KURVIX_CONTACT}.
DeviceText = namedtuple("DeviceText", "name where german meaning")

_LITERAL = r'"(?:[^"\\]|\\.)*"'
_ROW = re.compile(r"KURVIX_TEXT\((\w+),\s*(" + _LITERAL + r"),\s*((?:TEXT\((?:" + _LITERAL +
                  r"|\w+)\)\s*)+),\s*((?:" + _LITERAL + r"\s*)+)\)")
_ESCAPE = re.compile(r"\\(x[0-9A-Fa-f]+|.)")
_SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "\\": "\\", "'": "'"}


def _unescape(literal):
    """The text of a C string literal (a hex escape takes every hex digit that follows, as in C)."""
    def one(match):
        escape = match.group(1)
        return chr(int(escape[1:], 16)) if escape[0] == "x" else _SIMPLE_ESCAPES[escape]
    return _ESCAPE.sub(one, literal[1:-1])


def _literals(text):
    return "".join(_unescape(literal) for literal in re.findall(_LITERAL, text))


def _wide(text):
    """The text of a run of TEXT("...") and TEXT(MACRO)."""
    parts = re.findall(r"TEXT\((" + _LITERAL + r"|\w+)\)", text)
    return "".join(_unescape(part) if part.startswith('"') else "{" + part + "}" for part in parts)


def _source(relative):
    return (ROOT / relative).read_text(encoding="utf-8")


def read_texts(source):
    """The rows of a texts header, in its order, by name."""
    joined = source.replace("\\\n", " ")
    table = joined[joined.index("#define KURVIX_DEVICE_TEXTS"):]
    rows = [DeviceText(name, _unescape(where), _wide(german), _literals(meaning))
            for name, where, german, meaning in _ROW.findall(table)]
    return {row.name: row for row in rows}


def read_constants(source):
    """The integer constants (const ... NAME = number; and #define NAME number) of a header,
    and its wide-text constants (const WCHAR NAME[] = TEXT("...");)."""
    found = {}
    for name, value in re.findall(r"^const [\w ]+? (\w+) = (WM_APP \+ \d+|\d+);", source, re.M):
        found[name] = 0x8000 + int(value.split("+")[1]) if value.startswith("WM_APP") else int(value)
    for name, value in re.findall(r"^#define (\w+) (\d+)$", source, re.M):
        found[name] = int(value)
    for name, value in re.findall(r"^const WCHAR (\w+)\[\] = TEXT\((" + _LITERAL + r")\);", source, re.M):
        found[name] = _unescape(value)
    return found


TEXTS = read_texts(_source("res/texts.h"))
LAYOUT = read_constants(_source("shell/layout.h"))
CLASS_NAME = LAYOUT.pop("CLASS_NAME")
ICONS = read_constants(_source("res/resource.h"))
TRAY = read_constants(_source("shell/tray_icon.h"))

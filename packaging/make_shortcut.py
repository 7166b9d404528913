#!/usr/bin/env python3
"""Makes a Windows CE shortcut (.lnk) that starts a program, for \\Windows\\StartUp.

A Windows CE shortcut is one line of single-byte text: the number of characters after
the "#", the "#", then the quoted path, with no line end:

    29#"\\Speicher\\Kurvix\\kurvix.exe"

The shell reads it in the device's ANSI code page; German devices use Windows-1252,
which this script writes. Plain ASCII paths are safe on every device.

    packaging/make_shortcut.py '\\Speicher\\Kurvix\\kurvix.exe' Kurvix.lnk
"""

import argparse
import sys
from pathlib import Path

CODE_PAGE = "cp1252"


def shortcut_bytes(target):
    """The bytes of a shortcut to target, an absolute device path such as \\Dir\\prog.exe."""
    if not target.startswith("\\") or target.startswith("\\\\"):
        raise ValueError(f"not an absolute device path (\\Folder\\kurvix.exe): {target}")
    if any(unit in target for unit in '"\r\n\0'):
        raise ValueError(f"a device path cannot hold quotes or line breaks: {target!r}")
    try:
        quoted = f'"{target}"'.encode(CODE_PAGE)
    except UnicodeEncodeError as error:
        raise ValueError(f"{target[error.start:error.end]!r} has no place in the device's "
                         f"code page ({CODE_PAGE}); rename the folder") from None
    return str(len(quoted)).encode("ascii") + b"#" + quoted


def main(argv):
    parser = argparse.ArgumentParser(description="Write a Windows CE shortcut to a program.")
    parser.add_argument("target", help=r"the program on the device, e.g. \Speicher\Kurvix\kurvix.exe")
    parser.add_argument("shortcut", help="the .lnk file to write")
    args = parser.parse_args(argv)
    try:
        data = shortcut_bytes(args.target)
    except ValueError as error:
        print(f"make_shortcut: {error}", file=sys.stderr)
        return 1
    Path(args.shortcut).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

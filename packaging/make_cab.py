#!/usr/bin/env python3
"""Makes the installation cabs for Windows CE devices: kurvix.cab (starts Kurvix from
\\Windows\\StartUp) and kurvix-registry.cab (starts it from HKLM\\Init), as kurvix_setup.py
describes them.

    packaging/make_cab.py --exe build-ce/kurvix.exe --ini examples/Kurvix.ini \\
        --out-dir build-ce [--install-dir '\\Speicher\\Kurvix']

A Windows CE cab is a Microsoft cabinet (packed here by Debian's gcab, without compression)
whose first file is the setup description NAME.000; every other file is named NAME.NNN, NNN
its file number, and the cab holds them in descending order of that number. The setup
description is little-endian: a 100-byte header ("MSCE", its own length, the processor, the
version bounds, then a count and an offset for each section: strings, folders, files,
registry keys, registry values, shortcuts), then the application and provider names and
the sections. Paths and key names are lists of string numbers ending in 0, so a folder name
is stored once.

A failed run leaves the cabs in --out-dir as they were: both are made in a temporary folder
there and renamed into place only when both are complete.
"""

import argparse
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import kurvix_setup as setup

ROOT = Path(__file__).resolve().parents[1]
HEADER_SIZE = 100
SIGNATURE = b"MSCE"
HKEY_LOCAL_MACHINE = 3
LINK_TO_FILE = 1
INSTALL_DIR_ID = 1
PE_MACHINE_ARM = 0x01C0


class Strings:
    """The string section: each distinct text once, numbered from 1."""

    def __init__(self):
        self.ids = {}

    def id(self, text):
        return self.ids.setdefault(text, len(self.ids) + 1)

    def path(self, parts):
        """A path as its string numbers and the closing 0."""
        return [self.id(part) for part in parts] + [0]


def zstr(text):
    return text.encode("ascii") + b"\0"


def words(numbers):
    return struct.pack(f"<{len(numbers)}H", *numbers)


def setup_description(variant, install_dir):
    """The bytes of the .000 file of variant, installing into install_dir. Files are
    numbered 1, 2, ... in the order of setup.FILES."""
    strings = Strings()
    folders = [(INSTALL_DIR_ID, strings.path(setup.install_dir_parts(install_dir)))]
    files = []
    for number, installed in enumerate(setup.FILES, 1):
        files.append(struct.pack("<HHHIH", number, INSTALL_DIR_ID, number, installed.flags,
                                 len(installed.name) + 1) + zstr(installed.name))

    hives, values = [], []
    for value in variant.registry:
        key = strings.path(value.key.split("\\"))
        hive_id = next((h for h, k in hives if k == key), None)
        if hive_id is None:
            hive_id = len(hives) + 1
            hives.append((hive_id, key))
        substitute = value.type == setup.REG_TYPE_SZ and setup.INSTALL_DIR_VARIABLE in value.data
        data = zstr(value.name) + (value.data if isinstance(value.data, bytes) else zstr(value.data))
        values.append(struct.pack("<HHHIH", len(values) + 1, hive_id, substitute,
                                  value.type | value.flags, len(data)) + data)

    links = []
    if variant.shortcut:
        program_number = 1 + [f.name for f in setup.FILES].index(setup.PROGRAM)
        # The name carries ".lnk": the shell runs only .lnk files from StartUp, and a loader
        # that adds the extension itself still makes a working shortcut.
        name = strings.path([setup.SHORTCUT_NAME + ".lnk"])
        # The length leaves out the closing 0 that follows the name: a Windows CE cab reader
        # tried with a hand-made cab read shortcuts only so. Folders count it.
        links.append(struct.pack("<HHHHHH", 1, 0, setup.STARTUP_FOLDER, program_number,
                                 LINK_TO_FILE, 2 * (len(name) - 1)) + words(name))

    sections = [
        [struct.pack("<HH", number, len(text) + 1) + zstr(text)
         for text, number in strings.ids.items()],
        [struct.pack("<HH", number, 2 * len(path)) + words(path) for number, path in folders],
        files,
        [struct.pack("<HHHH", number, HKEY_LOCAL_MACHINE, 0, 2 * len(key)) + words(key)
         for number, key in hives],
        values,
        links,
    ]
    names = [zstr(setup.APP_NAME), zstr(setup.PROVIDER)]
    body = b"".join(names)
    offsets = []
    for entries in sections:
        offsets.append(HEADER_SIZE + len(body))
        body += b"".join(entries)
    app_offset = HEADER_SIZE
    provider_offset = app_offset + len(names[0])
    unsupported_offset = provider_offset + len(names[1])
    header = struct.pack(
        "<4sIIIII6I6H6I8H", SIGNATURE, 0, HEADER_SIZE + len(body), 0, 1, setup.PROCESSOR_ANY,
        setup.MIN_CE_VERSION[0], setup.MIN_CE_VERSION[1], 0, 0, 0, 0,
        *[len(entries) for entries in sections], *offsets,
        app_offset, len(names[0]), provider_offset, len(names[1]), unsupported_offset, 0, 0, 0)
    assert len(header) == HEADER_SIZE
    return header + body


def cab_member_name(name, number):
    """The 8.3 name of a file in the cab: up to eight letters of its name, padded on the
    left with 0, and its number as the extension."""
    stem = "".join(c for c in name.rsplit(".", 1)[0] if c.isascii() and c.isalnum())[:8]
    return f"{stem:0>8}.{number:03d}"


def check_program(path):
    try:
        data = path.read_bytes()
    except OSError as error:
        raise ValueError(f"cannot read the program {path}: {error.strerror}") from None
    pe = struct.unpack_from("<I", data, 0x3C)[0] if len(data) >= 0x40 and data[:2] == b"MZ" else 0
    if pe == 0 or len(data) < pe + 6 or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is not a Windows program (no PE header)")
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    if machine != PE_MACHINE_ARM:
        raise ValueError(f"{path} is a program for machine 0x{machine:X}, not for Windows CE "
                         f"on ARM (0x{PE_MACHINE_ARM:X}): give the device build, "
                         f"build-ce/kurvix.exe (packaging/build-ce.sh makes it)")


def check_configuration(path):
    try:
        data = path.read_bytes()
    except OSError as error:
        raise ValueError(f"cannot read the configuration {path}: {error.strerror}") from None
    if not data.startswith(b"\xff\xfe"):
        raise ValueError(f"{path} is not UTF-16LE with a byte-order mark, the only form the "
                         f"device reads: save it as \"Unicode\" (kurvix-check says more)")


def find_gcab():
    """gcab's path; installs Debian's gcab when it is missing."""
    if shutil.which("gcab") is None:
        subprocess.run(["bash", "-c", 'source "$1" && ensure_packages gcab', "bash",
                        str(ROOT / "scripts" / "packages.sh")], check=False)
    gcab = shutil.which("gcab")
    if gcab is None:
        raise ValueError("gcab is missing and could not be installed: "
                         "sudo apt-get install gcab")
    return gcab


def pack(gcab, folder, variant, exe, ini, install_dir):
    """Writes folder/variant.cab; the members are staged in folder/variant.name."""
    stage = folder / variant.name
    stage.mkdir()
    members = [cab_member_name(setup.APP_NAME, 0)]
    (stage / members[0]).write_bytes(setup_description(variant, install_dir))
    sources = {setup.PROGRAM: exe, setup.CONFIGURATION: ini}
    numbered = list(enumerate(setup.FILES, 1))
    for number, installed in reversed(numbered):
        member = cab_member_name(installed.name, number)
        shutil.copy2(sources[installed.name], stage / member)
        members.append(member)
    done = subprocess.run([gcab, "-c", "-n", str(folder / variant.cab)]
                          + [str(stage / member) for member in members],
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise ValueError(f"gcab could not write {variant.cab}: {done.stderr.strip()}")


def make_cabs(exe, ini, out_dir, install_dir):
    """Writes both cabs into out_dir; returns their paths. Raises ValueError."""
    setup.install_dir_parts(install_dir)
    check_program(exe)
    check_configuration(ini)
    gcab = find_gcab()
    out_dir.mkdir(parents=True, exist_ok=True)
    made = []
    with tempfile.TemporaryDirectory(prefix=".cab-", dir=out_dir) as temporary:
        folder = Path(temporary)
        for variant in setup.VARIANTS:
            pack(gcab, folder, variant, exe, ini, install_dir)
        for variant in setup.VARIANTS:
            (folder / variant.cab).replace(out_dir / variant.cab)
            made.append(out_dir / variant.cab)
    return made


def main(argv):
    parser = argparse.ArgumentParser(
        description="Make the Windows CE installation cabs of Kurvix.",
        epilog="kurvix.cab starts Kurvix from \\Windows\\StartUp, kurvix-registry.cab from "
               "HKEY_LOCAL_MACHINE\\Init.")
    parser.add_argument("--exe", type=Path, required=True, help="the device build of kurvix.exe")
    parser.add_argument("--ini", type=Path, required=True,
                        help="the configuration to install as Kurvix.ini (kept if one is there)")
    parser.add_argument("--out-dir", type=Path, required=True, help="where the cabs go")
    parser.add_argument("--install-dir", default=setup.DEFAULT_INSTALL_DIR,
                        help="the folder on the device, on persistent storage "
                             "(default: %(default)s)")
    args = parser.parse_args(argv)
    try:
        made = make_cabs(args.exe, args.ini, args.out_dir, args.install_dir)
    except (ValueError, OSError) as error:
        print(f"make_cab: {error}", file=sys.stderr)
        return 1
    for cab in made:
        print(f"{cab}: {cab.stat().st_size} bytes, installs into {args.install_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

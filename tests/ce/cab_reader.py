#!/usr/bin/env python3
"""Reads the setup description (the NAME.000 file) of a Windows CE installation cab, as
the public description of the format lays it out, to check what a cab would install.
It is written apart from the project's cab writer on purpose: a reading of the format
shared by both would check nothing.

    python3 tests/ce/cab_reader.py build-ce/kurvix.cab      (prints what it installs)

Where the public description is open, both readings are accepted: a shortcut's name list
may count its closing 0 in its length or not (Shortcut.spec_length_counts_end says which).
"""

import shutil
import struct
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

ROOTS = {1: "HKEY_CLASSES_ROOT", 2: "HKEY_CURRENT_USER", 3: "HKEY_LOCAL_MACHINE",
         4: "HKEY_USERS"}
VALUE_TYPES = {0x00000000: "string", 0x00000001: "binary", 0x00010000: "multi-string",
               0x00010001: "dword"}
VALUE_TYPE_MASK = 0x00010001
NOCLOBBER = 0x00000002
# %CEn%, as on a handheld PC (Pocket PCs move some of them under \Windows\Start Menu).
STANDARD_FOLDERS = {
    1: r"\Program Files", 2: r"\Windows", 3: r"\Windows\Desktop", 4: r"\Windows\StartUp",
    5: r"\My Documents", 6: r"\Program Files\Accessories", 7: r"\Program Files\Communications",
    8: r"\Program Files\Games", 9: r"\Program Files\Pocket Outlook", 10: r"\Program Files\Office",
    11: r"\Windows\Programs", 12: r"\Windows\Programs\Accessories",
    13: r"\Windows\Programs\Communications", 14: r"\Windows\Programs\Games",
    15: r"\Windows\Fonts", 16: r"\Windows\Recent", 17: r"\Windows\Favorites"}


class CabReadError(ValueError):
    """A cab cannot be read; the message says why."""


class DamagedDescription(CabReadError):
    """The .000 file cannot be read; the message says where and why."""


def cabextract(*args):
    if shutil.which("cabextract") is None:
        raise CabReadError("cabextract is missing: sudo apt-get install cabextract")
    return subprocess.run(["cabextract", *map(str, args)], capture_output=True, text=True)


@dataclass
class InstalledFile:
    number: int
    folder: str
    name: str
    flags: int


@dataclass
class RegistryValue:
    key: str
    name: str
    type: str
    data: object
    substitute: bool
    keep_existing: bool


@dataclass
class Shortcut:
    folder: str
    name: str
    target_kind: str
    target: str
    spec_length_counts_end: bool


@dataclass
class SetupDescription:
    app_name: str
    provider: str
    unsupported: list
    processor: int
    min_version: tuple
    max_version: tuple
    build_bounds: tuple
    folders: dict = field(default_factory=dict)
    files: list = field(default_factory=list)
    registry: list = field(default_factory=list)
    shortcuts: list = field(default_factory=list)


class Reader:
    def __init__(self, data):
        self.data = data

    def need(self, offset, size, what):
        if offset < 0 or offset + size > len(self.data):
            raise DamagedDescription(f"{what} at offset {offset} ({size} bytes) lies beyond "
                                     f"the end of the file ({len(self.data)} bytes)")

    def unpack(self, fmt, offset, what):
        self.need(offset, struct.calcsize(fmt), what)
        return struct.unpack_from(fmt, self.data, offset)

    def text(self, offset, length, what):
        """An ASCII text of length bytes whose last byte is its closing 0."""
        self.need(offset, length, what)
        raw = self.data[offset:offset + length]
        if length == 0 or raw[-1] != 0 or 0 in raw[:-1]:
            raise DamagedDescription(f"{what} at offset {offset} is not one text closed by a 0")
        try:
            return raw[:-1].decode("ascii")
        except UnicodeDecodeError:
            raise DamagedDescription(f"{what} at offset {offset} is not ASCII") from None

    def numbers(self, offset, length, what):
        """A list of 16-bit string numbers ending in 0, length bytes long; returns the
        numbers without the 0 and whether the 0 lay inside length (else right after it)."""
        if length % 2:
            raise DamagedDescription(f"{what} at offset {offset} has an odd length ({length})")
        found = list(self.unpack(f"<{length // 2}H", offset, what))
        if found and found[-1] == 0:
            return found[:-1], True, length
        (end,) = self.unpack("<H", offset + length, what + "'s closing 0")
        if end != 0:
            raise DamagedDescription(f"{what} at offset {offset} does not end in 0")
        return found, False, length + 2


def read_description(data):
    """The SetupDescription in data, the bytes of a .000 file. Raises DamagedDescription."""
    try:
        return parse(data)
    except UnicodeDecodeError as error:
        raise DamagedDescription(f"a text at offset {error.start} is not ASCII") from None


def parse(data):
    r = Reader(data)
    if len(data) < 100:
        raise DamagedDescription(f"the file is {len(data)} bytes, shorter than the 100-byte header")
    if data[:4] != b"MSCE":
        raise DamagedDescription(f"the file does not begin with MSCE but with {data[:4]!r}")
    (_, length, _, _, processor, min_major, min_minor, max_major, max_minor, min_build,
     max_build) = struct.unpack_from("<11I", data, 4)
    if length != len(data):
        raise DamagedDescription(f"the header gives the file's length as {length}, "
                                 f"but it is {len(data)} bytes")
    counts = struct.unpack_from("<6H", data, 48)
    offsets = struct.unpack_from("<6I", data, 60)
    app_at, app_len, provider_at, provider_len, unsupported_at, unsupported_len = \
        struct.unpack_from("<6H", data, 84)

    unsupported = []
    if unsupported_len:
        r.need(unsupported_at, unsupported_len, "the unsupported platforms")
        unsupported = data[unsupported_at:unsupported_at + unsupported_len].decode(
            "ascii", "replace").split("\0")[:-2]
    result = SetupDescription(
        app_name=r.text(app_at, app_len, "the application name"),
        provider=r.text(provider_at, provider_len, "the provider"),
        unsupported=unsupported, processor=processor,
        min_version=(min_major, min_minor), max_version=(max_major, max_minor),
        build_bounds=(min_build, max_build))

    strings_count, folders_count, files_count, hives_count, values_count, links_count = counts
    strings_at, folders_at, files_at, hives_at, values_at, links_at = offsets

    names = ("strings", "folders", "files", "registry keys", "registry values", "shortcuts")
    for name, count, offset in zip(names, counts, offsets):
        if count and not 100 <= offset < len(data):
            raise DamagedDescription(f"the {name} section's offset {offset} lies outside "
                                     f"the file after its header ({len(data)} bytes)")
    # Sections may come in any order; each ends where the next one in the file begins.
    starts = sorted(set(offsets) | {app_at, provider_at, unsupported_at, len(data)})

    def check_room(at, section_at, what):
        end = next(start for start in starts + [len(data) + 1] if start > section_at)
        if at >= end:
            raise DamagedDescription(f"the {what} section at offset {section_at} has more "
                                     f"entries than fit before offset {end}")

    strings = {}
    at = strings_at
    for _ in range(strings_count):
        check_room(at, strings_at, "strings")
        number, size = r.unpack("<HH", at, "a string entry")
        strings[number] = r.text(at + 4, size, f"string {number}")
        at += 4 + size

    def joined(ids, what):
        missing = [i for i in ids if i not in strings]
        if missing:
            raise DamagedDescription(f"{what} names string {missing[0]}, which does not exist")
        return "\\".join(strings[i] for i in ids)

    def expanded(path):
        head, sep, rest = path.partition("\\")
        if head.startswith("%CE") and head.endswith("%") and head[3:-1].isdigit():
            return STANDARD_FOLDERS.get(int(head[3:-1]), head) + sep + rest
        return path

    at = folders_at
    for _ in range(folders_count):
        check_room(at, folders_at, "folders")
        number, size = r.unpack("<HH", at, "a folder entry")
        ids, counts_end, used = r.numbers(at + 4, size, f"folder {number}")
        if not counts_end:
            raise DamagedDescription(f"folder {number}'s length leaves out its closing 0")
        result.folders[number] = expanded(joined(ids, f"folder {number}"))
        at += 4 + used

    at = files_at
    for _ in range(files_count):
        check_room(at, files_at, "files")
        number, folder, _, flags, size = r.unpack("<HHHIH", at, "a file entry")
        if folder not in result.folders:
            raise DamagedDescription(f"file {number} goes into folder {folder}, which does not exist")
        name = r.text(at + 12, size, f"file {number}'s name")
        result.files.append(InstalledFile(number, result.folders[folder], name, flags))
        at += 12 + size

    hives = {}
    at = hives_at
    for _ in range(hives_count):
        check_room(at, hives_at, "registry keys")
        number, root, _, size = r.unpack("<HHHH", at, "a registry key entry")
        if root not in ROOTS:
            raise DamagedDescription(f"registry key {number} has an unknown root {root}")
        ids, counts_end, used = r.numbers(at + 8, size, f"registry key {number}")
        hives[number] = ROOTS[root] + "\\" + joined(ids, f"registry key {number}")
        at += 8 + used

    at = values_at
    for _ in range(values_count):
        check_room(at, values_at, "registry values")
        number, hive, substitute, flags, size = r.unpack("<HHHIH", at, "a registry value entry")
        if hive not in hives:
            raise DamagedDescription(f"registry value {number} is in key {hive}, which does not exist")
        r.need(at + 12, size, f"registry value {number}")
        raw = data[at + 12:at + 12 + size]
        if 0 not in raw:
            raise DamagedDescription(f"registry value {number} has no name closed by a 0")
        name, payload = raw.split(b"\0", 1)
        kind = VALUE_TYPES[flags & VALUE_TYPE_MASK]
        if kind == "dword":
            value = struct.unpack("<I", payload)[0] if len(payload) == 4 else None
            if value is None:
                raise DamagedDescription(f"registry value {number} is a dword of {len(payload)} bytes")
        elif kind == "string":
            if not payload.endswith(b"\0"):
                raise DamagedDescription(f"registry value {number}'s text is not closed by a 0")
            value = payload[:-1].decode("ascii")
        elif kind == "multi-string":
            value = payload.decode("ascii").split("\0")[:-2]
        else:
            value = payload
        result.registry.append(RegistryValue(hives[hive], name.decode("ascii"), kind, value,
                                             bool(substitute), bool(flags & NOCLOBBER)))
        at += 12 + size

    at = links_at
    for _ in range(links_count):
        check_room(at, links_at, "shortcuts")
        number, _, base, target, kind, size = r.unpack("<6H", at, "a shortcut entry")
        ids, counts_end, used = r.numbers(at + 12, size, f"shortcut {number}")
        folder = "%InstallDir%" if base == 0 else STANDARD_FOLDERS.get(base, f"%CE{base}%")
        if kind == 1:
            match = [f for f in result.files if f.number == target]
            if not match:
                raise DamagedDescription(f"shortcut {number} points to file {target}, "
                                         f"which does not exist")
            target_path, target_kind = match[0].folder + "\\" + match[0].name, "file"
        elif kind == 0:
            target_path = "%InstallDir%" if target == 0 else result.folders.get(target)
            if target_path is None:
                raise DamagedDescription(f"shortcut {number} points to folder {target}, "
                                         f"which does not exist")
            target_kind = "folder"
        else:
            raise DamagedDescription(f"shortcut {number} has an unknown target kind {kind}")
        result.shortcuts.append(Shortcut(folder, joined(ids, f"shortcut {number}"),
                                         target_kind, target_path, counts_end))
        at += 12 + used
    return result


def cab_members(cab):
    """The names of the files in cab, in the cab's order (cabextract -l)."""
    listing = cabextract("-l", cab)
    if listing.returncode != 0:
        raise CabReadError(f"cabextract cannot list {cab}: {listing.stderr.strip()}")
    rows = [line.split("|") for line in listing.stdout.splitlines() if line.count("|") == 2]
    return [row[2].strip() for row in rows[1:]]


def extract(cab, folder):
    """Extracts cab into folder; returns {file number: path} and the description."""
    done = cabextract("-q", "-d", folder, cab)
    if done.returncode != 0:
        raise CabReadError(f"cabextract cannot extract {cab}: {done.stderr.strip()}")
    numbered = {}
    for path in Path(folder).iterdir():
        suffix = path.suffix[1:]
        if len(suffix) == 3 and suffix.isdigit():
            numbered[int(suffix)] = path
    if 0 not in numbered:
        raise DamagedDescription(f"{cab} holds no .000 setup description")
    return numbered, read_description(numbered[0].read_bytes())


def main(argv):
    if len(argv) != 1:
        print("usage: cab_reader.py CAB", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as folder:
        try:
            numbered, setup = extract(argv[0], folder)
        except CabReadError as error:
            print(f"cab_reader: {error}", file=sys.stderr)
            return 1
        print(f"{setup.app_name} by {setup.provider}, processor {setup.processor}, "
              f"Windows CE {setup.min_version[0]}.{setup.min_version[1]:02d} and later")
        for f in setup.files:
            size = numbered[f.number].stat().st_size if f.number in numbered else "missing"
            print(f"file {f.number}: {f.folder}\\{f.name} (flags 0x{f.flags:08X}, {size} bytes)")
        for v in setup.registry:
            shown = v.data.hex(" ") if isinstance(v.data, bytes) else repr(v.data)
            print(f"registry: {v.key}\\{v.name} = {shown} ({v.type})")
        for s in setup.shortcuts:
            print(f"shortcut: {s.folder}\\{s.name} -> {s.target}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

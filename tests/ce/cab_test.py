#!/usr/bin/env python3
"""The device cabs: what cabextract lists, what the separately written reader of the setup
description finds in them, the programs inside byte for byte, and what the cab maker
(packaging/make_cab.py, run as a user runs it) does with bad input.

    python3 tests/ce/cab_test.py [--exe build-ce/kurvix.exe] [--cab-dir build-ce]
                                 [--ini examples/Kurvix.ini] [--install-dir '\\Speicher\\Kurvix']

The first group reads the cabs of the CE build (ce/build-ce.sh makes them); the
others make their own cabs from a stand-in program in a temporary folder.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.dont_write_bytecode = True

from cab_reader import DamagedDescription, cab_members, extract, read_description  # noqa: E402

MAKE_CAB = ROOT / "packaging" / "make_cab.py"
READER = ROOT / "tests" / "ce" / "cab_reader.py"
EXAMPLE_INI = ROOT / "examples" / "Kurvix.ini"
ARGS = argparse.Namespace(exe=ROOT / "build-ce" / "kurvix.exe", cab_dir=ROOT / "build-ce",
                          ini=EXAMPLE_INI, install_dir="\\Speicher\\Kurvix")

REPLACE_WHATEVER_DATE = 0x40000000
NEVER_SKIP = 0x00000002
NEVER_OVERWRITE = 0x00000010
# Square screens and screen rotation: later Pocket PCs install without "designed for a
# previous version".
COPES_WITH_ANY_SCREEN = 0xE0000000


def expected_variants(install_dir, launch=90):
    """What each cab must install, said here apart from the writer's own description."""
    program = install_dir + "\\kurvix.exe"
    return [
        ("kurvix.cab", [], [("\\Windows\\StartUp", "Kurvix.lnk", "file", program)]),
        ("kurvix-registry.cab", [
            ("HKEY_LOCAL_MACHINE\\Init", f"Launch{launch}", "string", "%InstallDir%\\kurvix.exe",
             True, True),
            ("HKEY_LOCAL_MACHINE\\Init", f"Depend{launch}", "binary", b"\x32\x00", False, True)],
         []),
    ]


def utf16(text):
    return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")


def stand_in_program(machine=0x01C0, size=4096):
    """The bytes of a PE file for machine, enough for the cab maker's check."""
    data = bytearray(os.urandom(size))
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x80)
    data[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", data, 0x84, machine)
    # Distinct last bytes: a cab's checksum takes the last one to three bytes of its data in
    # an order of their own, and equal bytes would hide a wrong one.
    data[-3:] = b"\x01\x02\x03"
    return bytes(data)


def make_cab(*args, env=None):
    return subprocess.run([sys.executable, str(MAKE_CAB), *map(str, args)],
                          capture_output=True, text=True, env=env)


class CabFolder:
    """A temporary folder with a stand-in kurvix.exe and Kurvix.ini, and the cabs made from them."""

    def __init__(self, test):
        folder = tempfile.TemporaryDirectory()
        test.addCleanup(folder.cleanup)
        self.root = Path(folder.name)
        self.exe = self.root / "kurvix.exe"
        self.exe.write_bytes(stand_in_program())
        self.ini = EXAMPLE_INI
        self.out = self.root / "out"

    def make(self, install_dir=None, env=None, exe=None, ini=None, more=(), ignore=True):
        # The example's NewIni names a file it does not bring: packed only when told so.
        args = ["--exe", exe or self.exe, "--ini", ini or self.ini, "--out-dir", self.out,
                *more] + ["--ignore-findings"] * ignore
        if install_dir is not None:
            args += ["--install-dir", install_dir]
        return make_cab(*args, env=env)

    def read(self, cab):
        target = Path(tempfile.mkdtemp(dir=self.root))
        return extract(self.out / cab, target)

    def snapshot(self):
        return {p.name: p.read_bytes() for p in self.out.iterdir()} if self.out.exists() else {}


class BuiltCabsTest(unittest.TestCase):
    """The cabs next to the device build, read back as a device would find them."""

    def setUp(self):
        for path in [ARGS.exe] + [ARGS.cab_dir / cab for cab, _, _ in expected_variants("")]:
            if not Path(path).is_file():
                self.fail(f"{path} is missing: ce/build-ce.sh makes it")
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)

    def test_each_cab_installs_the_build_and_starts_it_at_boot(self):
        for cab, registry, shortcuts in expected_variants(ARGS.install_dir):
            with self.subTest(cab):
                members = cab_members(ARGS.cab_dir / cab)
                numbers = [int(name.rsplit(".", 1)[1]) for name in members]
                self.assertTrue(members[0].endswith(".000"), members)
                self.assertEqual(numbers, [0, 2, 1], members)
                self.assertTrue(all(len(name.split(".")[0]) <= 8 for name in members), members)

                numbered, setup = extract(ARGS.cab_dir / cab, self.folder / cab)
                self.assertEqual((setup.app_name, setup.provider, setup.unsupported),
                                 ("Kurvix", "Kurvix", []))
                self.assertEqual(setup.processor, 0)
                self.assertEqual((setup.min_version, setup.max_version, setup.build_bounds),
                                 ((4, 20), (0, 0), (0, COPES_WITH_ANY_SCREEN)))
                self.assertEqual(setup.folders, {1: ARGS.install_dir})
                self.assertEqual([(f.number, f.folder, f.name, f.flags) for f in setup.files], [
                    (1, ARGS.install_dir, "kurvix.exe", REPLACE_WHATEVER_DATE | NEVER_SKIP),
                    (2, ARGS.install_dir, "Kurvix.ini", NEVER_OVERWRITE)])
                self.assertEqual([(v.key, v.name, v.type, v.data, v.substitute, v.keep_existing)
                                  for v in setup.registry], registry)
                self.assertEqual([(s.folder, s.name, s.target_kind, s.target)
                                  for s in setup.shortcuts], shortcuts)
                self.assertTrue(all(not s.spec_length_counts_end for s in setup.shortcuts))
                self.assertEqual(numbered[1].read_bytes(), Path(ARGS.exe).read_bytes())
                self.assertEqual(numbered[2].read_bytes(), Path(ARGS.ini).read_bytes())


class InstallFolderTest(unittest.TestCase):
    # (--install-dir, the folder the reader finds; None: the default)
    ROWS = [
        (None, "\\Speicher\\Kurvix"),
        ("\\Flash File Store\\Kurvix\\", "\\Flash File Store\\Kurvix"),
        ("\\Storage Card\\Werkzeuge\\Kurvix 2", "\\Storage Card\\Werkzeuge\\Kurvix 2"),
        ("%CE1%\\Kurvix", "\\Program Files\\Kurvix"),
        ("\\K", "\\K"),
    ]

    def test_the_folder_setting_reaches_files_shortcut_and_registry(self):
        for install_dir, folder in self.ROWS:
            with self.subTest(install_dir):
                cabs = CabFolder(self)
                done = cabs.make(install_dir)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("installs into", done.stdout)
                _, startup = cabs.read("kurvix.cab")
                _, registry = cabs.read("kurvix-registry.cab")
                for setup in (startup, registry):
                    self.assertEqual({f.folder for f in setup.files}, {folder})
                self.assertEqual(startup.shortcuts[0].target, folder + "\\kurvix.exe")
                launch = registry.registry[0]
                self.assertTrue(launch.substitute)
                self.assertEqual(launch.data.replace("%InstallDir%", folder),
                                 folder + "\\kurvix.exe")

    def test_a_new_build_replaces_the_cabs(self):
        cabs = CabFolder(self)
        self.assertEqual(cabs.make().returncode, 0)
        newer = stand_in_program(size=6000)
        cabs.exe.write_bytes(newer)
        self.assertEqual(cabs.make().returncode, 0)
        numbered, _ = cabs.read("kurvix.cab")
        self.assertEqual(numbered[1].read_bytes(), newer)
        self.assertEqual(sorted(cabs.snapshot()), ["kurvix-registry.cab", "kurvix.cab"])


class CabinetTest(unittest.TestCase):
    """The cabinet around the files: data blocks of at most 32 KiB, each with its checksum,
    read back by cabextract, which refuses a block whose checksum is wrong."""

    # (what, the program's size)
    ROWS = [
        ("a small program", 200),
        ("data ending in one to three bytes after whole words", 4099),
        ("one block's worth", 32768),
        ("more than two blocks", 70001),
    ]

    def test_every_size_is_read_back_whole(self):
        for what, size in self.ROWS:
            with self.subTest(what):
                cabs = CabFolder(self)
                program = stand_in_program(size=size)
                cabs.exe.write_bytes(program)
                self.assertEqual(cabs.make().returncode, 0)
                for cab in ("kurvix.cab", "kurvix-registry.cab"):
                    numbered, _ = cabs.read(cab)
                    self.assertEqual(numbered[1].read_bytes(), program)
                    self.assertEqual(numbered[2].read_bytes(), EXAMPLE_INI.read_bytes())


class FleetCabTest(unittest.TestCase):
    """A fleet's cabs: the night file a NewIni names travels beside Kurvix.ini, a Launch
    number of the administrator's choice, and the set checked as it lies on the device."""

    DAY = utf16("SETTINGS\nCheckIntervall=50\nElapseTime=800\n\nKURVIX Nacht\n"
                "KeyCode=193\nNewIni=\\Speicher\\Kurvix\\Nacht.ini\n")
    NIGHT = utf16("SETTINGS\nCheckIntervall=50\nElapseTime=800\n\nKURVIX Tag\n"
                  "KeyCode=193\nNewIni=\\Speicher\\Kurvix\\Kurvix.ini\n")

    # (what, further files, --launch, the files installed after the program, Launch number)
    ROWS = [
        ("the night file", ["Nacht.ini"], None, ["Kurvix.ini", "Nacht.ini"], 90),
        ("two further files", ["Nacht.ini", "Wochenende.ini"], None,
         ["Kurvix.ini", "Nacht.ini", "Wochenende.ini"], 90),
        ("the first number after the shell", ["Nacht.ini"], 51, ["Kurvix.ini", "Nacht.ini"], 51),
        ("the last two-digit number", ["Nacht.ini"], 99, ["Kurvix.ini", "Nacht.ini"], 99),
    ]

    def test_further_files_and_the_launch_number_reach_the_cabs(self):
        for what, extras, launch, installed, number in self.ROWS:
            with self.subTest(what):
                cabs = CabFolder(self)
                cabs.ini = cabs.root / "Kurvix.ini"
                cabs.ini.write_bytes(self.DAY)
                sources = {"Kurvix.ini": self.DAY}
                for name in extras:
                    sources[name] = self.NIGHT
                    (cabs.root / name).write_bytes(self.NIGHT)
                more = [a for name in extras for a in ("--extra", cabs.root / name)]
                more += ["--launch", str(launch)] if launch else []
                # Checked and found clean: the day file's NewIni finds the night file beside it.
                done = cabs.make(more=more, ignore=False)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stderr, "")
                for cab, registry, _ in expected_variants("\\Speicher\\Kurvix", number):
                    numbered, setup = cabs.read(cab)
                    self.assertEqual([(f.number, f.name, f.flags) for f in setup.files[1:]],
                                     [(i, name, NEVER_OVERWRITE)
                                      for i, name in enumerate(installed, 2)])
                    for i, name in enumerate(installed, 2):
                        self.assertEqual(numbered[i].read_bytes(), sources[name], name)
                    self.assertEqual([(v.key, v.name, v.type, v.data, v.substitute,
                                       v.keep_existing) for v in setup.registry], registry)
                members = cab_members(cabs.out / "kurvix.cab")
                self.assertEqual([int(m.rsplit(".", 1)[1]) for m in members],
                                 [0] + list(range(len(installed) + 1, 0, -1)))

    def test_a_finding_in_the_night_file_stops_the_packing(self):
        cabs = CabFolder(self)
        cabs.ini = cabs.root / "Kurvix.ini"
        cabs.ini.write_bytes(self.DAY)
        (cabs.root / "Nacht.ini").write_bytes(self.NIGHT.replace(
            "Kurvix.ini".encode("utf-16-le"), "Wochenende.ini".encode("utf-16-le")))
        done = cabs.make(more=["--extra", cabs.root / "Nacht.ini"], ignore=False)
        self.assertEqual(done.returncode, 1)
        self.assertIn("not packed", done.stderr)
        self.assertIn("Nacht.ini:7: warning: binding 1: the NewIni file", done.stderr)
        self.assertFalse(cabs.out.exists())

    def test_a_device_message_is_named_with_its_box_and_meaning(self):
        cabs = CabFolder(self)
        cabs.ini = cabs.root / "Kurvix.ini"
        cabs.ini.write_bytes(utf16("KURVIX\nKeyCode=193\nfoo\n"))
        done = cabs.make(ignore=False)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Kurvix.ini:3: warning: Kurvix - Ignoriere unbekannten Wert: foo (ignoring an "
                      "unknown key", done.stderr)


class BadInputTest(unittest.TestCase):
    """Each refusal names the problem, and the cabs of the last good build stay as they were."""

    # (what, a change of the arguments, a text of the message)
    ROWS = [
        ("no program", dict(exe="missing.exe"), "cannot read the program"),
        ("a folder as program", dict(exe="."), "cannot read the program"),
        ("the desktop program", dict(exe="desktop.exe"), "machine 0x14C, not for Windows CE on ARM"),
        ("a text as program", dict(exe="text.exe"), "is not a Windows program"),
        ("no configuration", dict(ini="missing.ini"), "cannot read the configuration"),
        ("a configuration in UTF-8", dict(ini="utf8.ini"), "not UTF-16LE with a byte-order mark"),
        ("a relative folder", dict(install_dir="Speicher\\Kurvix"), "absolute device path"),
        ("a network folder", dict(install_dir="\\\\server\\Kurvix"), "network path"),
        ("the root folder", dict(install_dir="\\"), "cannot be the root folder"),
        ("an empty folder name", dict(install_dir="\\Speicher\\\\Kurvix"), "empty or invalid"),
        ("a parent folder", dict(install_dir="\\Speicher\\.."), "empty or invalid"),
        ("an umlaut", dict(install_dir="\\Speicher\\Ger\u00e4te"), "plain ASCII"),
        ("a wildcard", dict(install_dir="\\Speicher\\K*"), "plain ASCII"),
        ("a variable", dict(install_dir="\\Speicher\\%AppName%"), "plain ASCII"),
        ("an unknown standard folder", dict(install_dir="%CE18%\\Kurvix"), "absolute device path"),
        ("a folder too long", dict(install_dir="\\" + "x" * 250), "too long"),
        ("a folder too long for a long extra name",
         dict(install_dir="\\" + "x" * 230, more=["--extra", "{root}/" + "n" * 30 + ".ini"]),
         "too long"),
        ("findings, not told to pack anyway", dict(ignore=False),
         "errors or warnings, so it is not packed"),
        ("the shell's Launch number", dict(more=["--launch", "50"]), "from 51 to 99"),
        ("a Launch number of three digits", dict(more=["--launch", "100"]), "from 51 to 99"),
        ("a second Kurvix.ini", dict(more=["--extra", "{root}/other/kurvix.INI"]),
         "in the cab twice"),
        ("a further file in UTF-8", dict(more=["--extra", "{root}/utf8.ini"]), "not UTF-16LE"),
        ("a further file with an umlaut in its name",
         dict(more=["--extra", "{root}/N\u00e4chte.ini"]), "plain ASCII names"),
        ("a further file missing", dict(more=["--extra", "{root}/missing.ini"]),
         "cannot read the configuration"),
        ("no kurvix-check", dict(more=["--kurvix-check", "{root}/missing"]),
         "kurvix-check is not at"),
    ]

    def test_bad_input_is_refused_with_a_message_and_loses_nothing(self):
        cabs = CabFolder(self)
        self.assertEqual(cabs.make().returncode, 0)
        before = cabs.snapshot()
        (cabs.root / "desktop.exe").write_bytes(stand_in_program(machine=0x014C))
        (cabs.root / "text.exe").write_text("not a program\n")
        (cabs.root / "utf8.ini").write_text("[Settings]\n", encoding="utf-8")
        (cabs.root / "other").mkdir()
        for name in ("other/kurvix.INI", "N\u00e4chte.ini", "n" * 30 + ".ini"):
            (cabs.root / name).write_bytes(EXAMPLE_INI.read_bytes())
        for what, change, message in self.ROWS:
            with self.subTest(what):
                paths = {k: cabs.root / v for k, v in change.items() if k in ("exe", "ini")}
                more = [arg.format(root=cabs.root) for arg in change.get("more", [])]
                done = cabs.make(change.get("install_dir"), more=more,
                                 ignore=change.get("ignore", True), **paths)
                self.assertEqual(done.returncode, 1, done.stdout)
                self.assertIn(message, done.stderr)
                self.assertTrue(done.stderr.startswith("make_cab: "), done.stderr)
                self.assertNotIn("Traceback", done.stderr)
                self.assertEqual(cabs.snapshot(), before)

    def test_a_failing_packer_leaves_no_half_written_cab(self):
        # A cab writer (node running device_cab.js) that writes half a cabinet and fails: for
        # every cab, or only for the second.
        node = subprocess.run(["sh", "-c", "command -v node"], capture_output=True,
                              text=True).stdout.strip()
        for fails_on in ("", "registry"):
            with self.subTest(fails_on=fails_on or "every cab"):
                cabs = CabFolder(self)
                self.assertEqual(cabs.make().returncode, 0)
                before = cabs.snapshot()
                tools = cabs.root / "tools"
                tools.mkdir()
                fake = tools / "node"
                fake.write_text(
                    "#!/bin/sh\n"
                    f'case "$2" in *{fails_on}*) printf MSCF; '
                    'echo "disk full" >&2; exit 1;; esac\n'
                    f'exec {node} "$@"\n')
                fake.chmod(0o755)
                env = dict(os.environ, PATH=f"{tools}:{os.environ['PATH']}")
                cabs.exe.write_bytes(stand_in_program(size=5000))
                done = cabs.make(env=env)
                self.assertEqual(done.returncode, 1)
                self.assertIn("could not write kurvix", done.stderr)
                self.assertIn("disk full", done.stderr)
                self.assertEqual(cabs.snapshot(), before)


class ReaderTest(unittest.TestCase):
    """The reader refuses a damaged description with a message, and reads both readings of
    a shortcut's name length."""

    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            (folder / "kurvix.exe").write_bytes(stand_in_program())
            done = make_cab("--exe", folder / "kurvix.exe", "--ini", EXAMPLE_INI,
                            "--out-dir", folder, "--ignore-findings")
            assert done.returncode == 0, done.stderr
            numbered, _ = extract(folder / "kurvix.cab", folder / "x")
            cls.good = numbered[0].read_bytes()

    def changed(self, offset, fmt, value, data=None):
        data = bytearray(self.good if data is None else data)
        struct.pack_into(fmt, data, offset, value)
        return bytes(data)

    def test_damaged_descriptions_are_refused_with_a_message(self):
        good = self.good
        strings_at = struct.unpack_from("<I", good, 60)[0]
        files_at = struct.unpack_from("<I", good, 68)[0]
        rows = [
            ("another signature", b"MSCF" + good[4:], "does not begin with MSCE"),
            ("cut short in the header", good[:60], "shorter than the 100-byte header"),
            ("cut short after it", self.changed(8, "<I", len(good) - 10)[:-10], "beyond the end"),
            ("a wrong length", self.changed(8, "<I", len(good) + 1), "gives the file's length"),
            ("strings beyond the end", self.changed(60, "<I", len(good) + 4),
             "strings section's offset"),
            ("files inside the header", self.changed(68, "<I", 10), "files section's offset 10"),
            ("too many files", self.changed(52, "<H", 3), "files section at offset"),
            ("a file in no folder", self.changed(files_at + 2, "<H", 9),
             "goes into folder 9, which does not exist"),
            ("an application name without its 0", self.changed(86, "<H", 6),
             "application name at offset 100 is not one text closed by a 0"),
            ("a string that is not ASCII", self.changed(strings_at + 4, "<B", 0xE4),
             "is not ASCII"),
        ]
        for what, data, message in rows:
            with self.subTest(what):
                with self.assertRaises(DamagedDescription) as caught:
                    read_description(data)
                self.assertIn(message, str(caught.exception))

    def test_a_damaged_cab_is_reported_by_the_reader_command(self):
        with tempfile.TemporaryDirectory() as folder:
            folder = Path(folder)
            (folder / "00Kurvix.000").write_bytes(b"MSCF" + self.good[4:])
            subprocess.run(["gcab", "-c", "-n", str(folder / "bad.cab"),
                            str(folder / "00Kurvix.000")], check=True)
            done = subprocess.run([sys.executable, str(READER), str(folder / "bad.cab")],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 1)
            self.assertIn("cab_reader: the file does not begin with MSCE", done.stderr)

    def test_a_shortcut_name_length_is_read_with_or_without_its_closing_0(self):
        links_at = struct.unpack_from("<I", self.good, 80)[0]
        entry = self.good[links_at:]
        name_length = struct.unpack_from("<H", entry, 10)[0]
        for counts_end in (False, True):
            with self.subTest(counts_end=counts_end):
                first = self.changed(10, "<H", name_length + 2 * counts_end, entry)
                # A second shortcut after the first, in \Windows\Desktop (%CE3%): it is read
                # right only when the first one's end was found right.
                second = self.changed(0, "<H", 2, self.changed(4, "<H", 3, entry))
                data = bytearray(self.good[:links_at] + first + second)
                struct.pack_into("<I", data, 8, len(data))
                struct.pack_into("<H", data, 58, 2)
                setup = read_description(bytes(data))
                self.assertEqual([(s.folder, s.name, s.spec_length_counts_end)
                                  for s in setup.shortcuts],
                                 [("\\Windows\\StartUp", "Kurvix.lnk", counts_end),
                                  ("\\Windows\\Desktop", "Kurvix.lnk", False)])

    def test_a_name_list_without_its_closing_0_is_refused(self):
        links_at = struct.unpack_from("<I", self.good, 80)[0]
        name_length = struct.unpack_from("<H", self.good, links_at + 10)[0]
        data = self.changed(links_at + 12 + name_length, "<H", 7)
        with self.assertRaises(DamagedDescription) as caught:
            read_description(data)
        self.assertIn("shortcut 1 at offset", str(caught.exception))
        self.assertIn("does not end in 0", str(caught.exception))


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--exe", type=Path, default=ARGS.exe)
    parser.add_argument("--cab-dir", type=Path, default=ARGS.cab_dir)
    parser.add_argument("--ini", type=Path, default=ARGS.ini)
    parser.add_argument("--install-dir", default=ARGS.install_dir)
    known, rest = parser.parse_known_args()
    vars(ARGS).update(vars(known))
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()

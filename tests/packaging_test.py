"""The device packaging: the CAB Wizard file installs what the build makes and the program
reads, and the StartUp shortcut script writes the bytes a Windows CE shell reads.

    python3 -m unittest tests/packaging_test.py      (from the source folder)
"""

import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "packaging"))
sys.dont_write_bytecode = True

from make_shortcut import shortcut_bytes  # noqa: E402
import kurvix_setup  # noqa: E402
from make_inf import inf_text  # noqa: E402

SCRIPT = ROOT / "packaging" / "make_shortcut.py"
COPYFLG_NO_OVERWRITE = 0x00000010
COPYFLG_NOSKIP = 0x00000002


def read_inf(path):
    """{section: [entry, ...]}: entries without comments, each split at its commas (or
    kept as "key = value" text split at the equals sign)."""
    sections, current = {}, None
    for line in path.read_text(encoding="ascii").splitlines():
        line = line.split(";", 1)[0].strip()
        if not line:
            continue
        if line.startswith("["):
            current = sections.setdefault(line.strip("[]"), [])
        else:
            current.append(line)
    return sections


def fields(entry):
    return [part.strip() for part in entry.split(",")]


def assignments(entries):
    return dict((part.strip() for part in entry.split("=", 1)) for entry in entries)


def built_program_name():
    """The executable the Windows build makes: the target of add_executable(... WIN32 ...)."""
    text = (ROOT / "cmake" / "windows-program.cmake").read_text()
    return re.search(r"add_executable\((\w+) WIN32", text).group(1) + ".exe"


def read_configuration_name():
    """The file name the program reads beside itself."""
    text = (ROOT / "config" / "reader.cpp").read_text()
    return re.search(r'copyText\(TEXT\("([^"]+)"\), path \+ nameStart', text).group(1)


class CabWizFileTest(unittest.TestCase):
    def setUp(self):
        self.inf = read_inf(ROOT / "packaging" / "kurvix.inf")
        self.install = assignments(self.inf["DefaultInstall"])
        self.destinations = {name: fields(value)
                             for name, value in assignments(self.inf["DestinationDirs"]).items()}
        self.copied = {}
        for section in fields(self.install["CopyFiles"]):
            for entry in self.inf[section]:
                name, _, _, flags = fields(entry)
                self.copied[name] = (section, int(flags, 16))

    def test_it_names_exactly_the_files_the_build_makes_and_the_program_reads(self):
        wanted = {built_program_name(), read_configuration_name()}
        self.assertEqual(wanted, {"kurvix.exe", "Kurvix.ini"})
        self.assertEqual(set(assignments(self.inf["SourceDisksFiles"])), wanted)
        self.assertEqual(set(self.copied), wanted)

    def test_both_files_go_into_the_one_install_folder(self):
        for name, (section, _) in self.copied.items():
            self.assertEqual(self.destinations[section], ["0", "%InstallDir%"], name)
        self.assertIn("InstallDir", assignments(self.inf["CEStrings"]))

    def test_an_update_replaces_the_program_and_keeps_the_configuration(self):
        _, program_flags = self.copied["kurvix.exe"]
        _, configuration_flags = self.copied["Kurvix.ini"]
        self.assertTrue(configuration_flags & COPYFLG_NO_OVERWRITE)
        self.assertFalse(program_flags & COPYFLG_NO_OVERWRITE)
        # A running program cannot be replaced: the installer must say so, not skip it.
        self.assertTrue(program_flags & COPYFLG_NOSKIP)

    def test_a_shortcut_to_the_program_goes_into_startup(self):
        section = self.install["CEShortcuts"]
        self.assertEqual(self.destinations[section], ["0", "%CE4%"])
        (shortcut,) = self.inf[section]
        _, kind, target = fields(shortcut)
        self.assertEqual((kind, target), ("0", "kurvix.exe"))


class GeneratedInformationFilesTest(unittest.TestCase):
    def test_the_committed_files_are_what_the_installation_description_makes(self):
        for variant in kurvix_setup.VARIANTS:
            committed = (ROOT / "packaging" / variant.inf).read_text(encoding="ascii")
            self.assertEqual(committed, inf_text(variant),
                             f"{variant.inf} is out of date: run python3 packaging/make_inf.py")

    def test_the_registry_variant_starts_the_program_after_the_shell(self):
        inf = read_inf(ROOT / "packaging" / "kurvix-registry.inf")
        self.assertNotIn("CEShortcuts", assignments(inf["DefaultInstall"]))
        section = assignments(inf["DefaultInstall"])["AddReg"]
        self.assertEqual([fields(entry) for entry in inf[section]], [
            ["HKLM", "Init", "Launch90", "0x00000002", "%InstallDir%\\kurvix.exe"],
            ["HKLM", "Init", "Depend90", "0x00000003", "32", "00"]])


class ShortcutTest(unittest.TestCase):
    def test_count_quotes_and_no_line_end(self):
        for path in [r"\Speicher\Kurvix\kurvix.exe", r"\kurvix.exe",
                     r"\Storage Card\Mein Ordner\kurvix.exe"]:
            data = shortcut_bytes(path)
            count, rest = data.split(b"#", 1)
            self.assertEqual(rest, b'"' + path.encode("ascii") + b'"')
            self.assertEqual(int(count), len(rest))
        self.assertEqual(shortcut_bytes(r"\Speicher\Kurvix\kurvix.exe"),
                         b'29#"\\Speicher\\Kurvix\\kurvix.exe"')

    def test_umlauts_take_one_byte_each_in_the_devices_code_page(self):
        data = shortcut_bytes("\\Speicher\\Ger\u00e4te\\kurvix.exe")
        self.assertEqual(data, b'29#"\\Speicher\\Ger\xe4te\\kurvix.exe"')

    def test_a_count_of_two_digits_and_more(self):
        path = "\\" + "x" * 200 + "\\kurvix.exe"
        self.assertTrue(shortcut_bytes(path).startswith(f"{len(path) + 2}#".encode()))

    def test_paths_a_shortcut_cannot_hold_are_refused(self):
        for path in ["kurvix.exe", "Speicher\\kurvix.exe", "\\\\server\\kurvix.exe", "",
                     '\\Spei"cher\\kurvix.exe', "\\Speicher\nx\\kurvix.exe",
                     "\\\u03a9\\kurvix.exe"]:
            with self.assertRaises(ValueError, msg=repr(path)):
                shortcut_bytes(path)

    def test_the_script_writes_the_file_or_says_why_not(self):
        with tempfile.TemporaryDirectory() as folder:
            link = Path(folder) / "Kurvix.lnk"
            done = subprocess.run([sys.executable, str(SCRIPT), r"\Speicher\kurvix.exe", str(link)],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(link.read_bytes(), b'22#"\\Speicher\\kurvix.exe"')
            refused = Path(folder) / "refused.lnk"
            done = subprocess.run([sys.executable, str(SCRIPT), "kurvix.exe", str(refused)],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 1)
            self.assertIn("not an absolute device path", done.stderr)
            self.assertFalse(refused.exists())


if __name__ == "__main__":
    unittest.main()

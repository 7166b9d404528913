"""tests/ce/check_pe.py can fail: each check, fed a copy of build-ce/kurvix.exe doctored in one
way, must name that fault, and the undoctored program must pass. Needs ce/build-ce.sh
and the desktop program (build-win64) built first; runs with /usr/bin/python3 (pefile)."""
import contextlib
import importlib.util
import io
import pathlib
import shutil
import tempfile
import unittest

import pefile

ROOT = pathlib.Path(__file__).resolve().parents[2]
CE_EXE = ROOT / "build-ce" / "kurvix.exe"
DESKTOP_EXE = ROOT / "build-win64" / "kurvix.exe"
EXPORTS = ROOT / "ce" / "coredll-exports.txt"
OBJDUMP = ROOT / "build-ce-toolchain" / "bin" / "arm-mingw32ce-objdump"

_spec = importlib.util.spec_from_file_location("check_pe", ROOT / "tests" / "ce" / "check_pe.py")
check_pe = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_pe)


def header(change):
    """A doctor that changes parsed header fields and writes the file back."""
    def doctor(path):
        pe = pefile.PE(str(path))
        change(pe)
        data = pe.write()
        pe.close()
        path.write_bytes(data)
    return doctor


def replace_bytes(old, new):
    """A doctor that replaces the first occurrence of OLD (which must exist) with NEW."""
    def doctor(path):
        data = path.read_bytes()
        assert old in data and len(old) == len(new), old
        path.write_bytes(data.replace(old, new, 1))
    return doctor


def resource_byte(type_id):
    """A doctor that inverts one byte in the middle of the first resource of a type."""
    def doctor(path):
        pe = pefile.PE(str(path))
        kind = next(entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == type_id)
        data = kind.directory.entries[0].directory.entries[0].data.struct
        offset = pe.get_offset_from_rva(data.OffsetToData + data.Size // 2)
        pe.close()
        content = bytearray(path.read_bytes())
        content[offset] ^= 0xFF
        path.write_bytes(bytes(content))
    return doctor


def instructions_at_entry(words):
    """A doctor that writes ARM instruction words over the entry point's first ones."""
    def doctor(path):
        pe = pefile.PE(str(path))
        offset = pe.get_offset_from_rva(pe.OPTIONAL_HEADER.AddressOfEntryPoint)
        pe.close()
        content = bytearray(path.read_bytes())
        for index, word in enumerate(words):
            content[offset + 4 * index:offset + 4 * index + 4] = word.to_bytes(4, "little")
        path.write_bytes(bytes(content))
    return doctor


def instruction_at_entry(word):
    return instructions_at_entry([word])


def set_field(structure, name, value):
    return header(lambda pe: setattr(getattr(pe, structure), name, value))


def no_relocations(pe):
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    directory.VirtualAddress = 0
    directory.Size = 0


def grown(path):
    with open(path, "ab") as file:
        file.write(bytes(32 * 1024))


# (fault, doctor, what the check must say)
DOCTORED = [
    ("Thumb machine type", set_field("FILE_HEADER", "Machine", 0x1C2), "machine is 0x1C2, not 0x1C0 (ARM)"),
    ("desktop GUI subsystem", set_field("OPTIONAL_HEADER", "Subsystem", 2), "subsystem is 2, not 9"),
    ("subsystem version", set_field("OPTIONAL_HEADER", "MajorSubsystemVersion", 5),
     "subsystem version is 5.20, not 4.20"),
    ("OS version", set_field("OPTIONAL_HEADER", "MinorOperatingSystemVersion", 21),
     "OS version is 4.21, not 4.20"),
    ("no base relocations", header(no_relocations), "no base relocations"),
    ("Thumb entry point", header(lambda pe: setattr(pe.OPTIONAL_HEADER, "AddressOfEntryPoint",
                                                    pe.OPTIONAL_HEADER.AddressOfEntryPoint | 1)),
     "is Thumb code"),
    ("changed icon", resource_byte(3), "differs from the desktop program's"),
    ("changed version resource", resource_byte(16), "the version 1 (language 0x0407) differs"),
    ("another DLL", replace_bytes(b"COREDLL.dll", b"COREDLX.dll"),
     "imports from COREDLX.dll, not COREDLL.dll alone"),
    ("a name coredll lacks", replace_bytes(b"GetTickCount\0", b"GetTickCounX\0"),
     "imports GetTickCounX, which coredll does not export"),
    ("desktop tray function name", replace_bytes(b"Shell_NotifyIcon\0\0", b"Shell_NotifyIconW\0"),
     "imports Shell_NotifyIconW, which Windows CE calls Shell_NotifyIcon"),
    ("desktop start function name", replace_bytes(b"ShellExecuteEx\0\0", b"ShellExecuteExW\0"),
     "does not import ShellExecuteEx"),
    ("bx lr", instruction_at_entry(0xE12FFF1E), "instruction bx at"),
    ("bx lr after the test alone, without moveq pc, lr",
     instructions_at_entry([0xE31E0001, 0xE1A00000, 0xE12FFF1E]), "instruction bx at"),
    ("bx r3 after the test of lr", instructions_at_entry([0xE31E0001, 0x01A0F00E, 0xE12FFF13]),
     "instruction bx at"),
    ("blx r3", instruction_at_entry(0xE12FFF33), "instruction blx at"),
    ("clz r0, r0", instruction_at_entry(0xE16F0F10), "instruction clz at"),
    ("ldrd r0, [r1]", instruction_at_entry(0xE1C100D0), "instruction ldrd at"),
    ("strd r0, [r1]", instruction_at_entry(0xE1C100F0), "instruction strd at"),
    ("32 KiB or more", grown, "not under 32768"),
]


def run_check(exe):
    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        code = check_pe.main(["check_pe.py", str(exe), str(DESKTOP_EXE), str(EXPORTS), str(OBJDUMP)])
    return code, output.getvalue()


class CheckOfTheWindowsCeProgram(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for needed in (CE_EXE, DESKTOP_EXE, OBJDUMP):
            if not needed.exists():
                raise AssertionError("%s is missing: run ce/build-ce.sh and build "
                                     "build-win64's kurvix first (tests/ce/check_exe.sh does)" % needed)

    def test_the_built_program_passes(self):
        code, output = run_check(CE_EXE)
        self.assertEqual(code, 0, output)
        self.assertIn("bytes, ", output)

    def test_each_doctored_copy_fails_naming_its_fault(self):
        with tempfile.TemporaryDirectory() as folder:
            for fault, doctor, expected in DOCTORED:
                with self.subTest(fault):
                    copy = pathlib.Path(folder) / "kurvix.exe"
                    shutil.copyfile(CE_EXE, copy)
                    doctor(copy)
                    code, output = run_check(copy)
                    self.assertEqual(code, 1, output)
                    self.assertIn(expected, output)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""Checks the structure and the instruction set of the Windows CE program.

    check_pe.py CE_EXE DESKTOP_EXE EXPORTS OBJDUMP

CE_EXE is build-ce/kurvix.exe, DESKTOP_EXE the desktop program (build-win64/kurvix.exe),
EXPORTS the names coredll exports (ce/coredll-exports.txt), OBJDUMP the arm-mingw32ce
objdump. Prints the size and one line per failed check; exits 1 if any failed.

What Windows CE 4.2 on an ARMv4 needs of a program, checked here:
- an ARM PE (machine 0x1C0) for the Windows CE GUI subsystem (9), subsystem and OS version
  4.20, with base relocations, since the loader may place it elsewhere than its base;
- the desktop program's icons and version resource, byte for byte;
- imports from COREDLL.dll alone, by name, each a name coredll exports, the shell functions
  under their Windows CE names (without W);
- no instruction that ARMv4 lacks, but for the `bx lr` of a return that only a Thumb caller
  reaches: `tst lr, #1; moveq pc, lr; bx lr` (tests/ce/check_returns.py checks the returns
  themselves). The program's own Thumb code would need another bx or a blx to be entered;
  with neither, an even entry point and the ARM machine type, every instruction of the
  program runs in ARM state;
- under 32 KiB.

Needs Debian's python3-pefile (this file runs with /usr/bin/python3).
"""
import re
import subprocess
import sys

import pefile

MACHINE_ARM = 0x1C0
SUBSYSTEM_WINDOWS_CE_GUI = 9
SIZE_LIMIT = 32 * 1024
SHELL_CE_NAMES = {"ShellExecuteExW": "ShellExecuteEx", "Shell_NotifyIconW": "Shell_NotifyIcon"}
# Resource types compared with the desktop program: icons, icon groups, version.
RESOURCE_TYPES = {3: "icon", 14: "icon group", 16: "version"}

# Instructions of later architectures than ARMv4: interworking branches (ARMv4T, ARMv5),
# ARMv5's clz, bkpt and preload, ARMv5TE's doubleword and DSP instructions, ARMv6's.
LATER_INSTRUCTIONS = re.compile(
    r"^(bx|blx|bxj|clz|bkpt|pld|ldrd|strd|mcrr|mrrc|q(d)?(add|sub)|smla[bwt]|smul[bwt]"
    r"|smlal[bt]|ldrex|strex|rev|sxt|uxt|cps|srs|rfe|setend|ldc2|stc2|mcr2|mrc2|cdp2)")
DISASSEMBLY_LINE = re.compile(r"^\s*([0-9a-f]+):\s+([0-9a-f]{8})\s+(\S+)")
# A load relative to the program counter; objdump names the word it reads after the @.
LITERAL_LOAD = re.compile(r"\[pc(?:, #-?\d+)?\]\s*@ 0x([0-9a-f]+)")


def resources(pe):
    """{(type name, id, language): bytes} of the compared resource types."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id not in RESOURCE_TYPES:
            continue
        for item in kind.directory.entries:
            for language in item.directory.entries:
                data = language.data.struct
                found[(RESOURCE_TYPES[kind.id], item.id, language.id)] = pe.get_data(
                    data.OffsetToData, data.Size)
    return found


def check_header(pe):
    failures = []
    machine = pe.FILE_HEADER.Machine
    if machine != MACHINE_ARM:
        failures.append("machine is 0x%X, not 0x1C0 (ARM)" % machine)
    optional = pe.OPTIONAL_HEADER
    if optional.Subsystem != SUBSYSTEM_WINDOWS_CE_GUI:
        failures.append("subsystem is %d, not 9 (Windows CE GUI)" % optional.Subsystem)
    for what, major, minor in (
            ("subsystem", optional.MajorSubsystemVersion, optional.MinorSubsystemVersion),
            ("OS", optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion)):
        if (major, minor) != (4, 20):
            failures.append("%s version is %d.%d, not 4.20" % (what, major, minor))
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    stripped = pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]
    if relocations.Size == 0 or stripped or not getattr(pe, "DIRECTORY_ENTRY_BASERELOC", None):
        failures.append("no base relocations")
    if optional.AddressOfEntryPoint & 1:
        failures.append("the entry point 0x%X is Thumb code" % optional.AddressOfEntryPoint)
    return failures


def check_resources(pe, desktop):
    failures = []
    ours, theirs = resources(pe), resources(desktop)
    if not theirs:
        failures.append("the desktop program has no icons or version resource to compare with")
    for key in sorted(set(ours) | set(theirs), key=str):
        what = "%s %s (language 0x%04X)" % key
        if key not in ours:
            failures.append("the %s of the desktop program is missing" % what)
        elif key not in theirs:
            failures.append("the %s is not in the desktop program" % what)
        elif ours[key] != theirs[key]:
            failures.append("the %s differs from the desktop program's" % what)
    return failures


def check_imports(pe, exports):
    failures = []
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    if not entries:
        failures.append("imports nothing from COREDLL.dll")
    names = set()
    for entry in entries:
        dll = entry.dll.decode("ascii", "replace")
        if dll != "COREDLL.dll":
            failures.append("imports from %s, not COREDLL.dll alone" % dll)
        for function in entry.imports:
            if function.name is None:
                failures.append("imports ordinal %d from %s, not a name" % (function.ordinal, dll))
                continue
            name = function.name.decode("ascii", "replace")
            names.add(name)
            if name in SHELL_CE_NAMES:
                failures.append("imports %s, which Windows CE calls %s" % (name, SHELL_CE_NAMES[name]))
            elif name not in exports:
                failures.append("imports %s, which coredll does not export" % name)
    for ce_name in SHELL_CE_NAMES.values():
        if ce_name not in names:
            failures.append("does not import %s" % ce_name)
    return failures, names


def check_instructions(path, objdump):
    """Failures for instructions ARMv4 lacks. The words of the literal pools between the
    functions are data, which the disassembly shows as instructions too: a word that a
    pc-relative load reads is data, not checked."""
    failures = []
    listing = subprocess.run([objdump, "-d", path], check=True, capture_output=True, text=True).stdout
    lines = listing.splitlines()
    literals = {int(match.group(1), 16) for match in map(LITERAL_LOAD.search, lines) if match}
    count = 0
    previous = []
    for line in lines:
        match = DISASSEMBLY_LINE.match(line)
        if not match or int(match.group(1), 16) in literals:
            continue
        count += 1
        address, word, mnemonic = match.groups()
        text = " ".join(line.split("\t")[2:4]).split("@")[0].strip()
        guarded = text == "bx lr" and previous[-2:] == ["tst lr, #1", "moveq pc, lr"]
        previous.append(text)
        if LATER_INSTRUCTIONS.match(mnemonic) and not guarded:
            failures.append("instruction %s at 0x%s (%s) is not ARMv4" % (mnemonic, address, word))
    if count == 0:
        failures.append("the disassembly holds no instructions")
    return failures, count


def main(argv):
    if len(argv) != 5:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    exe, desktop_exe, exports_file, objdump = argv[1:]
    with open(exports_file, encoding="utf-8") as file:
        exports = {line.strip() for line in file if line.strip() and not line.startswith("#")}
    with open(exe, "rb") as file:
        size = len(file.read())
    pe = pefile.PE(exe)
    desktop = pefile.PE(desktop_exe)

    failures = check_header(pe) + check_resources(pe, desktop)
    import_failures, imports = check_imports(pe, exports)
    instruction_failures, instructions = check_instructions(exe, objdump)
    failures += import_failures + instruction_failures
    if size >= SIZE_LIMIT:
        failures.append("the program is %d bytes, not under %d" % (size, SIZE_LIMIT))

    print("%s: %d bytes, %d functions imported from COREDLL.dll, %d instructions" %
          (exe, size, len(imports), instructions))
    for failure in failures:
        print("FAILED: %s: %s" % (exe, failure))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

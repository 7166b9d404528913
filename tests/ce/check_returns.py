#!/usr/bin/python3
"""Checks that every return to the system reaches a Thumb caller in Thumb state, on every
processor Windows CE 4.2 runs on.

    check_returns.py SYMBOLS_EXE EXE OBJDUMP

SYMBOLS_EXE is the same link as EXE (build-ce/kurvix.exe) with its symbol table
(build-ce/kurvix-symbols.exe); OBJDUMP the arm-mingw32ce objdump. Prints the functions it
checks and one line per fault, naming the function; exits 1 if there is any.

The system enters the program at its entry and at every function whose address the program
hands over (window and timer procedures: their addresses stand as words in the image), and
from such a function a tail branch (`b` to another function) hands the return on to the
function branched to. On ARMV4I systems and ARMv5 processors the caller may be Thumb code,
with an odd return address. What each way of returning does then:
- `tst rM, #1; moveq pc, rM; bx rM`: back to an ARM caller without `bx` (the StrongARM has
  none), to a Thumb caller by `bx`, which switches to Thumb on ARMv4T and ARMv5 alike: sound.
- a load into pc (`ldm`/`pop`/`ldr pc`): switches to Thumb from ARMv5T on, but not on an
  ARMv4T such as the ARM920T: a fault.
- a data-processing write of pc (`mov pc, lr`): never switches: a fault.
- a bare `bx`: undefined on the StrongARM: a fault.
A call through a register (`mov lr, pc` before the write of pc) and a jump table (a write of
pc that reads pc) are no returns. The import thunks jump into coredll, which returns itself.
"""
import re
import subprocess
import sys

import pefile

from check_pe import DISASSEMBLY_LINE

# A load relative to pc; with symbols objdump names the word it reads without "0x".
LITERAL_LOAD = re.compile(r"\[pc(?:, #-?\d+)?\]\s*@ (?:0x)?([0-9a-f]+)")
FUNCTION = re.compile(r"^([0-9a-f]+) <(.+)>:$")
OPERANDS = re.compile(r"^\s*[0-9a-f]+:\s+[0-9a-f]{8}\s+\S+\s*([^@;]*)")
BRANCH = re.compile(r"^b(eq|ne|cs|cc|hs|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?$")
TARGET = re.compile(r"^([0-9a-f]+)\b")
CONDITION = r"(eq|ne|cs|cc|hs|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?"
LOADS = re.compile(r"^(pop|ldm\w*|ldr)" + CONDITION + r"$")


class Instruction:
    def __init__(self, address, mnemonic, operands):
        self.address, self.mnemonic, self.operands = address, mnemonic, operands.strip()

    def writes_pc(self):
        if self.mnemonic.startswith(("pop", "ldm")):
            return re.search(r"\bpc\}", self.operands) is not None
        return self.operands.startswith("pc,") or self.operands == "pc"


def disassemble(path, objdump):
    """[(start, name, [Instruction])] of every function, in address order; the words of
    literal pools, which the disassembly shows as instructions too, left out."""
    listing = subprocess.run([objdump, "-d", "-C", path], check=True, capture_output=True,
                             text=True).stdout.splitlines()
    literals = {int(m.group(1), 16) for m in map(LITERAL_LOAD.search, listing) if m}
    functions = []
    for line in listing:
        header = FUNCTION.match(line)
        if header:
            functions.append((int(header.group(1), 16), header.group(2), []))
            continue
        match = DISASSEMBLY_LINE.match(line)
        if not match or not functions or int(match.group(1), 16) in literals:
            continue
        operands = OPERANDS.match(line).group(1)
        functions[-1][2].append(Instruction(int(match.group(1), 16), match.group(3), operands))
    return [f for f in functions if not f[1].startswith(".")]


def is_import_thunk(instructions):
    return [i.mnemonic for i in instructions] == ["ldr", "ldr"] and \
        instructions[1].operands == "pc, [ip]"


def handed_over(pe, starts):
    """The function starts that stand as a word anywhere in the image."""
    found = set()
    for section in pe.sections:
        data = section.get_data()
        for offset in range(0, len(data) - 3, 4):
            value = int.from_bytes(data[offset:offset + 4], "little")
            if value in starts:
                found.add(value)
    return found


def return_faults(instructions):
    """(address, what is wrong) for each way the function can leave that is no sound return."""
    faults = []
    for index, instruction in enumerate(instructions):
        mnemonic, operands = instruction.mnemonic, instruction.operands
        before = [i.mnemonic + " " + i.operands for i in instructions[max(index - 2, 0):index]]
        if mnemonic.startswith("bx") or mnemonic.startswith("blx"):
            register = operands
            if mnemonic != "bx" or before != ["tst %s, #1" % register, "moveq pc, %s" % register]:
                faults.append((instruction.address, "%s %s, which the StrongARM lacks, without "
                               "the test that keeps an ARM caller from reaching it"
                               % (mnemonic, operands)))
            continue
        if not instruction.writes_pc():
            continue
        after = instructions[index + 1] if index + 1 < len(instructions) else None
        guard = (mnemonic == "moveq" and before[-1:] == ["tst %s, #1" % operands[4:]] and
                 after is not None and after.mnemonic == "bx" and after.operands == operands[4:])
        call = before[-1:] == ["mov lr, pc"]
        # A switch's jump: pc from a table or a sum that reads pc (never a pop's list).
        sources = operands[3:] if operands.startswith("pc,") else ""
        jump_table = re.search(r"\bpc\b", sources) is not None
        if guard or call or jump_table:
            continue
        if LOADS.match(mnemonic):
            faults.append((instruction.address, "returns by a load into pc (%s %s), which "
                           "switches to Thumb from ARMv5T on but not on an ARMv4T (ARM920T)"
                           % (mnemonic, operands)))
        else:
            faults.append((instruction.address, "returns by a data-processing write of pc "
                           "(%s %s), which never switches to Thumb" % (mnemonic, operands)))
    return faults


def tail_branches(start, end, instructions):
    """The addresses outside the function that its branches (not calls) go to."""
    targets = []
    for instruction in instructions:
        if BRANCH.match(instruction.mnemonic):
            target = TARGET.match(instruction.operands)
            address = int(target.group(1), 16) if target else None
            if address is not None and not start <= address < end:
                targets.append(address)
    return targets


def check(symbols_exe, exe, objdump):
    """(the checked functions with the reason each is checked, faults)."""
    faults = []
    linked, shipped = pefile.PE(symbols_exe), pefile.PE(exe)
    code = {s.Name.rstrip(b"\0"): s.get_data() for s in linked.sections}
    for section in shipped.sections:
        name = section.Name.rstrip(b"\0")
        if name in (b".text", b".rdata") and code.get(name) != section.get_data():
            faults.append("the %s of %s differs from %s's: the check would not see the "
                          "program that ships" % (name.decode(), symbols_exe, exe))
    functions = disassemble(symbols_exe, objdump)
    ends = [start for start, _, _ in functions[1:]] + [functions[-1][2][-1].address + 4
                                                          if functions[-1][2] else 0]
    by_start = {start: (name, instructions, end)
                for (start, name, instructions), end in zip(functions, ends)}
    base = linked.OPTIONAL_HEADER.ImageBase
    entry = base + linked.OPTIONAL_HEADER.AddressOfEntryPoint
    reasons = {entry: "the entry"}
    for start in sorted(handed_over(linked, set(by_start)) - {entry}):
        reasons[start] = "its address is handed over"
    pending = list(reasons)
    while pending:
        start = pending.pop()
        name, instructions, end = by_start[start]
        if is_import_thunk(instructions):
            continue
        for target in tail_branches(start, end, instructions):
            if target not in by_start:
                faults.append("%s branches to 0x%x, which starts no function" % (name, target))
            elif target not in reasons:
                reasons[target] = "reached by a tail branch from " + name
                pending.append(target)
    checked = []
    for start in sorted(reasons):
        name, instructions, _ = by_start.get(start, ("0x%x" % start, [], 0))
        if not instructions or is_import_thunk(instructions):
            continue
        checked.append("%s (%s)" % (name, reasons[start]))
        for address, what in return_faults(instructions):
            faults.append("%s (%s) at 0x%x %s" % (name, reasons[start], address, what))
    return checked, faults


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip().splitlines()[3].strip(), file=sys.stderr)
        return 2
    checked, faults = check(*argv[1:])
    print("%s: the returns of the %d functions the system can enter:" % (argv[2], len(checked)))
    for line in checked:
        print("  " + line)
    for fault in faults:
        print("FAILED: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

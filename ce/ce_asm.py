#!/usr/bin/env python3
"""Turns the ARM assembly that arm-linux-gnueabi-g++ writes (ELF directives) into assembly
that the Windows CE assembler (arm-mingw32ce-as, PE/COFF) reads.

    ce_asm.py INPUT.s OUTPUT.s

Instructions and labels pass unchanged. Directives are translated from a closed list: the
ones without meaning in COFF (attributes, symbol types and sizes) are dropped, sections are
mapped onto COFF's four (.text, .rdata, .data, .bss), a section of a comdat group (inline
functions, templates) becomes a section of its own that the linker keeps once
(.linkonce discard), and a file-local common symbol becomes zeroed space of its own in .bss
(COFF's .lcomm takes no alignment). Anything else is
refused with its file and line: passing an unknown directive on could build a program that
looks right and is not (a constructor list that nothing runs, Thumb code on an ARMv4).

Returns. The compiler writes ARMv4T code, whose every return is `bx lr`: it switches back to
Thumb when the caller was Thumb code (lr odd), as the system of an ARMV4I or ARMv5 device may
be. The StrongARM (ARMv4) has no `bx`, so each `bx lr` becomes
`tst lr, #1; moveq pc, lr; bx lr`: an ARM caller (always, on a StrongARM) is returned to by
the `mov`, and only a Thumb caller reaches the `bx`. A conditional `bx` is skipped by the
opposite branch first. A `bx` or `blx` of any other register (a call through a pointer, which
on a StrongARM would be an undefined instruction) is refused.
"""
import re
import sys

# No meaning in a PE/COFF object.
DROPPED = {".eabi_attribute", ".fpu", ".arch", ".cpu", ".type", ".size", ".ident", ".file"}
# Read alike by both assemblers.
KEPT = {".p2align", ".global", ".globl", ".word", ".4byte",
        ".short", ".hword", ".2byte", ".byte", ".ascii", ".asciz", ".string", ".space",
        ".zero", ".set", ".syntax", ".arm", ".ltorg", ".pool"}
# ELF section name prefixes and the COFF section each goes to.
SECTION_PREFIXES = ((".text", ".text", "x"), (".rodata", ".rdata", "dr"),
                    (".data", ".data", "d"), (".bss", ".bss", "b"))
DROPPED_SECTIONS = {".note.GNU-stack"}

LABEL = re.compile(r"^\s*[A-Za-z_.$][\w.$]*:")
CONDITIONS = {"eq": "ne", "ne": "eq", "cs": "cc", "cc": "cs", "hs": "lo", "lo": "hs",
              "mi": "pl", "pl": "mi", "vs": "vc", "vc": "vs", "hi": "ls", "ls": "hi",
              "ge": "lt", "lt": "ge", "gt": "le", "le": "gt", "": None, "al": None}
BRANCH_EXCHANGE = re.compile(r"^\s*(bx|blx)(\w*)\s+(\S+)\s*(@.*)?$")
DIRECTIVE = re.compile(r"^\s*(\.[A-Za-z_][\w.]*)\s*(.*?)\s*$")


class Refusal(Exception):
    pass


def split_operands(text):
    """The comma-separated operands of a directive, quotes respected."""
    operands, current, quoted = [], "", False
    for char in text:
        if char == '"':
            quoted = not quoted
        if char == "," and not quoted:
            operands.append(current.strip())
            current = ""
        else:
            current += char
    if current.strip():
        operands.append(current.strip())
    return operands


def comdat_groups(lines):
    """The names of the comdat groups the file's sections belong to."""
    groups = set()
    for line in lines:
        match = DIRECTIVE.match(line)
        if match and match.group(1) == ".section":
            operands = split_operands(match.group(2))
            if len(operands) == 5 and operands[4] == "comdat":
                groups.add(operands[3])
    return groups


def translate_section(operands):
    """The COFF lines for an ELF .section directive, or None for a section to drop."""
    name = operands[0]
    if name in DROPPED_SECTIONS:
        return None
    for prefix, coff_name, flags in SECTION_PREFIXES:
        if name == prefix or name.startswith(prefix + "."):
            break
    else:
        raise Refusal("unknown section " + name)
    if len(operands) == 5 and operands[4] == "comdat":
        return ['\t.section\t%s$%s,"%s"' % (coff_name, operands[3], flags), "\t.linkonce\tdiscard"]
    if len(operands) > 4 or (len(operands) >= 2 and "G" in operands[1]):
        raise Refusal("unknown section group in " + name)
    if coff_name in (".text", ".data", ".bss"):
        return ["\t" + coff_name]
    return ['\t.section\t%s,"%s"' % (coff_name, flags)]


def local_common(operands, section):
    """The COFF lines for ".local NAME" + ".comm NAME,SIZE,ALIGNMENT": the space in .bss,
    then back to SECTION, the section switch in force before."""
    name, size = operands[0], operands[1]
    text = operands[2] if len(operands) == 3 else "1"
    alignment = int(text) if text.isdigit() else 0
    if alignment == 0 or alignment & (alignment - 1):
        raise Refusal("alignment is not a power of two")
    return ["\t.bss", "\t.p2align\t%d" % (alignment.bit_length() - 1), name + ":",
            "\t.space\t" + size, section]


def interworking_return(match, label):
    """The lines for `bx<cond> lr`: a return that reaches a Thumb caller in Thumb state
    and an ARM caller without `bx`."""
    mnemonic, condition, register = match.group(1), match.group(2), match.group(3)
    if mnemonic != "bx" or condition not in CONDITIONS:
        raise Refusal("%s, which the StrongARM lacks" % mnemonic)
    if register != "lr":
        raise Refusal("bx of %s, not a return: a call through a pointer" % register)
    sequence = ["\ttst\tlr, #1", "\tmoveq\tpc, lr", "\tbx\tlr"]
    skip = CONDITIONS[condition]
    if skip is None:
        return sequence
    return ["\tb%s\t%s" % (skip, label)] + sequence + [label + ":"]


def translate(lines):
    """The COFF lines for the ELF lines; Refusal(line number, reason) on what is unknown."""
    groups = comdat_groups(lines)
    output = []
    local_symbols = set()
    in_dropped_section = False
    section = "\t.text"
    for number, line in enumerate(lines, 1):
        try:
            stripped = line.strip()
            if not stripped or stripped.startswith("@"):
                output.append(line)
                continue
            exchange = BRANCH_EXCHANGE.match(line)
            if exchange:
                output.extend(interworking_return(exchange, ".Lkurvix_return%d" % number))
                continue
            match = DIRECTIVE.match(line)
            if not match or LABEL.match(line):
                if in_dropped_section:
                    raise Refusal("content in a dropped section")
                output.append(line)
                continue
            directive, rest = match.group(1), match.group(2)
            operands = split_operands(rest)
            if directive == ".section":
                translated = translate_section(operands)
                in_dropped_section = translated is None
                if translated:
                    section = translated[0]
                    output.extend(translated)
            elif directive in (".text", ".data", ".bss"):
                in_dropped_section = False
                section = line
                output.append(line)
            elif in_dropped_section:
                raise Refusal("content in a dropped section")
            elif directive in DROPPED:
                continue
            elif directive in KEPT:
                output.append(line)
            elif directive == ".align":
                # ELF's ARM .align counts powers of two; .p2align says so in every format.
                output.append("\t.p2align\t" + rest)
            elif directive == ".weak" and len(operands) == 1 and operands[0] in groups:
                # The one copy the linker keeps of a comdat section is an ordinary global.
                output.append("\t.global\t" + operands[0])
            elif directive == ".local" and len(operands) == 1:
                local_symbols.add(operands[0])
            elif directive == ".comm" and len(operands) in (2, 3) and operands[0] in local_symbols:
                output.extend(local_common(operands, section))
            else:
                raise Refusal("unknown directive")
        except Refusal as refusal:
            raise Refusal((number, "%s: %s" % (refusal.args[0], stripped)))
    return output


def main(argv):
    if len(argv) != 3:
        print("usage: ce_asm.py INPUT.s OUTPUT.s", file=sys.stderr)
        return 2
    source, target = argv[1], argv[2]
    with open(source, encoding="utf-8") as file:
        lines = file.read().splitlines()
    try:
        output = translate(lines)
    except Refusal as refusal:
        number, reason = refusal.args[0]
        print("%s:%d: %s" % (source, number, reason), file=sys.stderr)
        return 1
    with open(target, "w", encoding="utf-8") as file:
        file.write("\n".join(output) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

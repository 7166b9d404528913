"""ce/ce_asm.py: each ELF directive the compiler writes and what it becomes for the Windows
CE assembler, and the refusal, naming file and line, of everything else. Driven through the
tool's command-line entry, with files, as the build runs it."""
import contextlib
import importlib.util
import io
import pathlib
import tempfile
import unittest

TOOL = pathlib.Path(__file__).resolve().parents[2] / "ce" / "ce_asm.py"
_spec = importlib.util.spec_from_file_location("ce_asm", TOOL)
ce_asm = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(ce_asm)


def run_tool(source):
    """(exit code, output lines, error text) of the tool on SOURCE."""
    with tempfile.TemporaryDirectory() as folder:
        given = pathlib.Path(folder) / "given.s"
        written = pathlib.Path(folder) / "written.s"
        given.write_text(source, encoding="utf-8")
        error = io.StringIO()
        with contextlib.redirect_stderr(error):
            code = ce_asm.main(["ce_asm.py", str(given), str(written)])
        output = written.read_text(encoding="utf-8").splitlines() if written.exists() else None
        return code, output, error.getvalue().replace(str(given), "given.s")


def meaningful(lines):
    return [line.strip() for line in lines if line.strip()]


# (what, ELF input, the COFF lines it must become)
TRANSLATED = [
    ("attributes dropped", "\t.eabi_attribute 20, 1\n\t.fpu softvfp\n\t.arch armv4\n\t.cpu arm7tdmi\n", []),
    ("file and ident dropped", '\t.file\t"a.cpp"\n\t.ident\t"GCC: 12"\n', []),
    ("symbol type and size dropped", "\t.type\tf, %function\n\t.size\tf, .-f\n", []),
    ("alignment as a power of two", "\t.align\t2\n", [".p2align\t2"]),
    ("kept directives unchanged",
     "\t.syntax unified\n\t.arm\n\t.global\tf\n\t.word\t.L3\n\t.short\t5\n\t.byte\t1\n"
     '\t.ascii\t"a\\000"\n\t.space\t4\n\t.set\t.LANCHOR0,. + 0\n\t.ltorg\n',
     [".syntax unified", ".arm", ".global\tf", ".word\t.L3", ".short\t5", ".byte\t1",
      '.ascii\t"a\\000"', ".space\t4", ".set\t.LANCHOR0,. + 0", ".ltorg"]),
    ("labels and instructions unchanged", "f:\n.L3:\n\tldr\tr3, .L2\n\tmov\tpc, lr\n\t@ a comment\n",
     ["f:", ".L3:", "ldr\tr3, .L2", "mov\tpc, lr", "@ a comment"]),
    ("a return that reaches a Thumb caller without bx on ARM callers", "f:\n\tbx\tlr\n",
     ["f:", "tst\tlr, #1", "moveq\tpc, lr", "bx\tlr"]),
    ("a conditional return, skipped by the opposite branch", "\tcmp\tr0, #0\n\tbxeq\tlr\n\tnop\n",
     ["cmp\tr0, #0", "bne\t.Lkurvix_return2", "tst\tlr, #1", "moveq\tpc, lr", "bx\tlr",
      ".Lkurvix_return2:", "nop"]),
    ("every condition's opposite", "\tbxhi\tlr\n\tbxls\tlr\n\tbxge\tlr\n\tbxlt\tlr\n",
     ["bls\t.Lkurvix_return1", "tst\tlr, #1", "moveq\tpc, lr", "bx\tlr", ".Lkurvix_return1:",
      "bhi\t.Lkurvix_return2", "tst\tlr, #1", "moveq\tpc, lr", "bx\tlr", ".Lkurvix_return2:",
      "blt\t.Lkurvix_return3", "tst\tlr, #1", "moveq\tpc, lr", "bx\tlr", ".Lkurvix_return3:",
      "bge\t.Lkurvix_return4", "tst\tlr, #1", "moveq\tpc, lr", "bx\tlr", ".Lkurvix_return4:"]),
    ("plain section switches", "\t.text\n\t.data\n\t.bss\n", [".text", ".data", ".bss"]),
    ("code sections", '\t.section\t.text.f,"ax",%progbits\n\t.section\t.text.startup,"ax",%progbits\n',
     [".text", ".text"]),
    ("read-only data to .rdata", '\t.section\t.rodata.str2.2,"aMS",%progbits,2\n\t.section\t.rodata\n',
     ['.section\t.rdata,"dr"', '.section\t.rdata,"dr"']),
    ("data and zeroed data", '\t.section\t.data.x,"aw"\n\t.section\t.bss.y,"aw",%nobits\n', [".data", ".bss"]),
    ("comdat code", '\t.weak\tf\n\t.section\t.text.f,"axG",%progbits,f,comdat\nf:\n',
     [".global\tf", '.section\t.text$f,"x"', ".linkonce\tdiscard", "f:"]),
    ("comdat data", '\t.weak\tv\n\t.section\t.data.v,"awG",%progbits,v,comdat\n',
     [".global\tv", '.section\t.data$v,"d"', ".linkonce\tdiscard"]),
    ("comdat constants", '\t.section\t.rodata.k,"aG",%progbits,k,comdat\n',
     ['.section\t.rdata$k,"dr"', ".linkonce\tdiscard"]),
    ("local common: aligned space in .bss, then back", "\t.data\n\t.local\tcounter\n\t.comm\tcounter,4,4\n\t.word\t1\n",
     [".data", ".bss", ".p2align\t2", "counter:", ".space\t4", ".data", ".word\t1"]),
    ("local common back into a comdat section",
     '\t.section\t.rodata.k,"aG",%progbits,k,comdat\n\t.local\tc\n\t.comm\tc,8,16\n',
     ['.section\t.rdata$k,"dr"', ".linkonce\tdiscard", ".bss", ".p2align\t4", "c:", ".space\t8",
      '.section\t.rdata$k,"dr"']),
    ("local common without alignment", "\t.local\tc\n\t.comm\tc,2\n",
     [".bss", ".p2align\t0", "c:", ".space\t2", ".text"]),
    ("the stack note dropped", '\t.text\n\tnop\n\t.section\t.note.GNU-stack,"",%progbits\n', [".text", "nop"]),
    ("back to code after the stack note", '\t.section\t.note.GNU-stack,"",%progbits\n\t.text\n\tnop\n',
     [".text", "nop"]),
]

# (what, ELF input, the error the tool must print)
REFUSED = [
    ("Thumb code", "\t.text\n\t.thumb\n", "given.s:2: unknown directive: .thumb"),
    ("Thumb function", "\t.thumb_func\n", "given.s:1: unknown directive: .thumb_func"),
    ("a call through a pointer by bx", "\tmov\tlr, pc\n\tbx\tr3\n",
     "given.s:2: bx of r3, not a return: a call through a pointer: bx\tr3"),
    ("blx, which ARMv5 brought", "\tblx\tr3\n", "given.s:1: blx, which the StrongARM lacks: blx\tr3"),
    ("unwinding tables", "\t.fnstart\n", "given.s:1: unknown directive: .fnstart"),
    ("hidden symbol", "\t.hidden\tf\n", "given.s:1: unknown directive: .hidden"),
    ("global common symbol", "\t.comm\tz,4,4\n", "given.s:1: unknown directive: .comm\tz,4,4"),
    ("weak symbol outside a comdat group", "\t.weak\tf\n", "given.s:1: unknown directive: .weak\tf"),
    ("static constructors", '\tnop\n\t.section\t.init_array,"aw"\n',
     'given.s:2: unknown section .init_array: .section\t.init_array,"aw"'),
    ("thread-local data", '\t.section\t.tbss,"awT",%nobits\n', "given.s:1: unknown section .tbss"),
    ("a section named like a known one", '\t.section\t.textual,"ax"\n', "given.s:1: unknown section .textual"),
    ("a group that is not comdat", '\t.section\t.text.f,"axG",%progbits,f\n',
     "given.s:1: unknown section group in .text.f"),
    ("content in the dropped stack note", '\t.section\t.note.GNU-stack,"",%progbits\n\t.word\t1\n',
     "given.s:2: content in a dropped section: .word\t1"),
    ("section stack", "\t.pushsection\t.text\n", "given.s:1: unknown directive: .pushsection"),
    ("local common with an odd alignment", "\t.local\tc\n\t.comm\tc,4,3\n",
     "given.s:2: alignment is not a power of two: .comm\tc,4,3"),
    ("local common with an alignment that is no number", "\t.local\tc\n\t.comm\tc,4,x\n",
     "given.s:2: alignment is not a power of two: .comm\tc,4,x"),
]


class Translation(unittest.TestCase):
    def test_known_directives(self):
        for what, source, expected in TRANSLATED:
            with self.subTest(what):
                code, output, error = run_tool(source)
                self.assertEqual((code, error), (0, ""))
                self.assertEqual(meaningful(output), expected)

    def test_refusals_name_the_line_and_write_nothing(self):
        for what, source, expected in REFUSED:
            with self.subTest(what):
                code, output, error = run_tool(source)
                self.assertEqual(code, 1)
                self.assertIn(expected, error)
                self.assertIsNone(output)


if __name__ == "__main__":
    unittest.main()

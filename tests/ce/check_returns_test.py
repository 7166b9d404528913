"""tests/ce/check_returns.py can fail: small programs built as the device program is, but
with one fault each, must fail naming the function, and the build's own way must pass.
Needs ce/build-ce.sh run first (its binutils); runs with /usr/bin/python3 (pefile)."""
import contextlib
import importlib.util
import io
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOLS = ROOT / "build-ce-toolchain" / "bin"
OBJDUMP = TOOLS / "arm-mingw32ce-objdump"
sys.path.insert(0, str(ROOT / "tests" / "ce"))
_spec = importlib.util.spec_from_file_location("check_returns", ROOT / "tests" / "ce" / "check_returns.py")
check_returns = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_returns)

# A program whose window procedure's address is handed over and which, for one message,
# returns what a small helper returns: GCC makes that a tail branch to the helper.
PROGRAM = """
__attribute__((noinline)) int helper(int x) { return x * 3 + 1; }
__attribute__((noinline)) int other(int x) { return x ^ 5; }
int windowProcedure(int message, int value) {
  if (message == 7) return helper(value);
  return 0;
}
int (*volatile handedOver)(int, int);
extern "C" int WinMain(void*, void*, wchar_t*, int show) {
  handedOver = windowProcedure;
  return other(show) + other(show + 1);
}
"""
COMPILER_OPTIONS = ["-std=c++98", "-Os", "-marm", "-mfloat-abi=soft", "-fshort-wchar",
                    "-fno-pic", "-fno-exceptions", "-fno-rtti", "-fno-unwind-tables",
                    "-fno-asynchronous-unwind-tables", "-fno-stack-protector", "-nostdinc"]
LINKER_OPTIONS = ["--subsystem", "wince:4.20", "--entry", "WinMain", "--enable-reloc-section"]


def build(folder, architecture, translate_returns=True):
    """(the linked program with symbols, the same stripped) of PROGRAM."""
    source, elf_assembly = folder / "program.cpp", folder / "program.s"
    coff_assembly, program_object = folder / "program.coff.s", folder / "program.o"
    source.write_text(PROGRAM)
    subprocess.run(["arm-linux-gnueabi-g++", *COMPILER_OPTIONS, "-march=" + architecture,
                    "-S", str(source), "-o", str(elf_assembly)], check=True)
    if translate_returns:
        subprocess.run([sys.executable, str(ROOT / "ce" / "ce_asm.py"), str(elf_assembly),
                        str(coff_assembly)], check=True)
    else:
        # The translation of the directives only, for a build that keeps the bare bx.
        spec = importlib.util.spec_from_file_location("ce_asm", ROOT / "ce" / "ce_asm.py")
        ce_asm = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(ce_asm)
        ce_asm.BRANCH_EXCHANGE = ce_asm.re.compile(r"(?!)")
        lines = ce_asm.translate(elf_assembly.read_text().splitlines())
        coff_assembly.write_text("\n".join(lines) + "\n")
    subprocess.run([str(TOOLS / "arm-mingw32ce-as"), "-march=armv4t", "-o", str(program_object),
                    str(coff_assembly)], check=True)
    linked, stripped = folder / "symbols.exe", folder / "program.exe"
    subprocess.run([str(TOOLS / "arm-mingw32ce-ld"), *LINKER_OPTIONS, "-o", str(linked),
                    str(program_object)], check=True)
    subprocess.run([str(TOOLS / "arm-mingw32ce-ld"), *LINKER_OPTIONS, "--strip-all", "-o",
                    str(stripped), str(program_object)], check=True)
    return linked, stripped


def run_check(linked, stripped):
    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        code = check_returns.main(["check_returns.py", str(linked), str(stripped), str(OBJDUMP)])
    return code, output.getvalue()


# (build, architecture, returns translated, the faults the check must name; none: it passes)
BUILDS = [
    ("the device program's way: ARMv4T code, every bx lr guarded", "armv4t", True, []),
    ("ARMv4 code: the helper a window procedure tail-branches to returns by mov pc, lr",
     "armv4", False,
     ["helper(int) (reached by a tail branch from windowProcedure(int, int)) at 0x",
      "returns by a data-processing write of pc (mov pc, lr), which never switches to Thumb",
      "windowProcedure(int, int) (its address is handed over) at 0x",
      "WinMain (the entry) at 0x",
      "returns by a load into pc (pop {r4, pc}), which switches to Thumb from ARMv5T on but "
      "not on an ARMv4T (ARM920T)"]),
    ("ARMv4T code with its bare bx lr, which the StrongARM lacks", "armv4t", False,
     ["helper(int) (reached by a tail branch from windowProcedure(int, int)) at 0x",
      "bx lr, which the StrongARM lacks, without the test that keeps an ARM caller from "
      "reaching it"]),
]


class CheckOfTheReturnsToTheSystem(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not OBJDUMP.exists():
            raise AssertionError("%s is missing: run ce/build-ce.sh first" % OBJDUMP)

    def test_builds(self):
        for what, architecture, translated, faults in BUILDS:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                code, output = run_check(*build(pathlib.Path(folder), architecture, translated))
                self.assertEqual(code, 1 if faults else 0, output)
                for fault in faults:
                    self.assertIn(fault, output)
                self.assertIn("helper(int) (reached by a tail branch from windowProcedure", output)

    def test_the_device_program_passes(self):
        code, output = run_check(ROOT / "build-ce" / "kurvix-symbols.exe",
                                 ROOT / "build-ce" / "kurvix.exe")
        self.assertEqual(code, 0, output)
        for function in ("WinMain (the entry)", "MainWndProc(HWND__*, unsigned int, unsigned "
                         "int, long) (its address is handed over)"):
            self.assertIn(function, output)

    def test_a_link_that_is_not_the_shipped_program(self):
        with tempfile.TemporaryDirectory() as folder:
            linked, _ = build(pathlib.Path(folder), "armv4t")
            code, output = run_check(linked, ROOT / "build-ce" / "kurvix.exe")
        self.assertEqual(code, 1, output)
        self.assertIn("differs from", output)


if __name__ == "__main__":
    unittest.main()

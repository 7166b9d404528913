"""The cost bench's own counting, checked on the real build-ce/kurvix.exe: the instruction
count, the quiet minutes, the runs that must give no figures, and the functions' names.

    /usr/bin/python3 bench/ce_costs_test.py [-v]
"""
import os
import sys
import tempfile
import unittest

from unicorn import UC_HOOK_CODE

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ce_costs  # noqa: E402
from ce_costs import DOCS_BEGIN, DOCS_END, INI_PATH, LONG_PRESS, QUIET, Run, RunFailed  # noqa: E402

EXE = os.path.join(ce_costs.ROOT, "build-ce", "kurvix.exe")
MAP = os.path.join(ce_costs.ROOT, "build-ce", "kurvix.map")


class InstructionCountTest(unittest.TestCase):
    def test_blocks_count_every_instruction_inside_the_exe_once(self):
        """The block hook's sum against a hook on every single instruction of the image."""
        for bindings, presses in ((1, False), (10, True)):
            with self.subTest(bindings=bindings, presses=presses):
                stepped = []

                def count_each(machine):
                    image = machine.image
                    machine.uc.hook_add(UC_HOOK_CODE, lambda *_: stepped.append(1),
                                        begin=image.base, end=image.base + image.size - 1)
                run = Run(EXE, bindings, presses=presses, instrument=count_each)
                self.assertEqual(run.failures(), [])
                self.assertGreater(run.counter.total, 1000)
                self.assertEqual(run.counter.total, len(stepped))


class QuietMinutesTest(unittest.TestCase):
    def test_only_a_held_key_keeps_the_program_awake(self):
        """A key held down and never let go is polled: the quiet spans see its ticks, and
        the program never waits idle again."""
        for held_from, awake in ((None, False), (QUIET // 2, True)):
            with self.subTest(held_from=held_from):
                run = Run(EXE, 10, presses=False, held_from=held_from)
                instructions, wake_ups = run.between_events()
                self.assertEqual((instructions > 0, wake_ups > 0), (awake, awake))
                idle_since_held = [wait[0] for wait in run.device.idle
                                   if held_from is not None and wait[0] > held_from]
                self.assertEqual(idle_since_held, [])
                if awake:
                    # Polled every CheckIntervall (50 ms) for the last half minute, at least.
                    self.assertGreater(wake_ups, (QUIET // 2) // 50 // 2)


class FailedRunTest(unittest.TestCase):
    def test_a_run_that_never_gets_idle_gives_no_figures(self):
        no_file = {}
        no_bindings = {INI_PATH: b"\xff\xfe" + "; nichts\r\n".encode("utf-16-le")}
        for name, files, bindings, expected in (
                ("no Kurvix.ini", no_file, 1, ["never waited in GetMessageW",
                                               "exit code 1", "Datei nicht gefunden:"]),
                ("a file without bindings", no_bindings, 1, ["registered 0 keys, not 1"]),
                ("the generated file", None, 10, [])):
            with self.subTest(name):
                problems = "; ".join(Run(EXE, bindings, presses=False, files=files).failures())
                for part in expected:
                    self.assertIn(part, problems)
                if not expected:
                    self.assertEqual(problems, "")


class FunctionNamesTest(unittest.TestCase):
    def test_each_press_runs_its_own_functions(self):
        """Attribution by the link map and the objects' symbols: the functions a start-up,
        a long press and a short press must run are the ones named."""
        symbols = ce_costs.function_symbols(MAP)
        run = Run(EXE, 10, presses=False, held_from=LONG_PRESS[0])
        functions = ce_costs.per_function(run.start_up_blocks(), symbols, run.image)
        everything = ce_costs.per_function(run.counter.per_block(), symbols, run.image)
        for name, at_start_up, in_the_run in (
                ("WinMain", True, True),
                ("BindingTable::load(wchar_t const*)", True, True),
                ("(anonymous namespace)::reportLine(wchar_t const*, wchar_t const*)", False,
                 False),
                ("(anonymous namespace)::notifyShell(unsigned long, HWND__*, unsigned int, "
                 "unsigned int, HICON__*)", True, True),
                ("KeyBinding::launch()", False, True),
                ("ShellExecuteEx (import thunk)", False, True),
                ("BindingTable::onTimer(unsigned int)", False, True)):
            with self.subTest(name):
                self.assertEqual(functions.get(name, 0) > 0, at_start_up)
                self.assertEqual(everything.get(name, 0) > 0, in_the_run)
        self.assertEqual([name for name in everything if name.startswith("0x")], [])
        self.assertEqual(sum(everything.values()), run.counter.total)
        self.assertIn((run.image.entry, "WinMain"), symbols)


class DocumentedFiguresTest(unittest.TestCase):
    def test_the_check_passes_only_the_figures_written(self):
        figures = ["| 10 | 21,657 instructions |", "", "| 1,000 | 17,334,786 instructions |"]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "performance.md")
            for name, text, passes in (
                    ("as written", None, True),
                    ("one figure other", f"# P\n{DOCS_BEGIN}\n| 10 | 21,658 instructions |\n\n"
                     f"| 1,000 | 17,334,786 instructions |\n{DOCS_END}\n", False),
                    ("a figure missing", f"{DOCS_BEGIN}\n| 10 | 21,657 instructions |\n"
                     f"{DOCS_END}\n", False),
                    ("no markers", "# P\n| 10 | 21,657 instructions |\n", False)):
                with self.subTest(name):
                    with open(path, "w", encoding="utf-8") as file:
                        file.write(text if text is not None else
                                   f"# P\n\nbefore\n{DOCS_BEGIN}\nold\n{DOCS_END}\nafter\n")
                    if text is None:
                        ce_costs.write_documented(figures, path)
                        with open(path, encoding="utf-8") as file:
                            written = file.read()
                        self.assertTrue(written.startswith("# P\n\nbefore\n"))
                        self.assertTrue(written.endswith(f"{DOCS_END}\nafter\n"))
                    if passes:
                        ce_costs.check_documented(figures, path)
                    else:
                        with self.assertRaises(RunFailed):
                            ce_costs.check_documented(figures, path)


if __name__ == "__main__":
    if not os.path.exists(EXE):
        sys.exit(f"{EXE} does not exist: build it first with ce/build-ce.sh")
    unittest.main()

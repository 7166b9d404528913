"""The real Windows CE kurvix.exe on an emulated StrongARM SA-1110 and XScale PXA270.

Each scenario loads the exe (at its preferred base and relocated), binds its imports to the
coredll model, calls its entry with WinMain's arguments and drives the program through its
own message loop and window procedure with input as a user makes it, to its exit code.

    /usr/bin/python3 tests/ce/emulate/scenarios_test.py [build-ce/kurvix.exe] [-v] [TestName]
KURVIX_CHECK names kurvix-check (default build/kurvix-check) for the comparison of
message boxes with the simulated device; SCENARIO_RUN names scenario_run (default
build/tests/scenario_run), which runs the scenarios of tests/scenarios/ on the simulated
device: each run here is compared with that run's trace, times included.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import unittest

from unicorn.arm_const import UC_CPU_ARM_PXA270, UC_CPU_ARM_SA1110, UC_CPU_ARM_TI925T

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "ce", "emulator"))
sys.path.insert(0, os.path.join(ROOT, "tests", "scenarios"))
import scenarios  # noqa: E402
from arm_machine import EmulationFault, LoadedImage, Machine  # noqa: E402
from coredll_model import (IDYES, NIF_ICON, NIF_MESSAGE, NIM_ADD, NIM_DELETE,  # noqa: E402
                           NIM_MODIFY, SEE_MASK_NOCLOSEPROCESS, Coredll)

EXE = os.path.join(ROOT, "build-ce", "kurvix.exe")
KURVIX_CHECK = os.environ.get("KURVIX_CHECK", os.path.join(ROOT, "build", "kurvix-check"))
INI_PATH = "\\Windows\\Kurvix.ini"
CALENDAR = "\\Windows\\Kalender.exe"
KEYEVENTF_SILENT, KEYEVENTF_KEYUP = 4, 2
ICON_ON, ICON_OFF = 102, 103
# (name, processor, whether the system calls the program from Thumb code). The TI925T is
# Unicorn's ARMv4T core, the architecture of the ARM920T.
CPUS = (("StrongARM SA-1110", UC_CPU_ARM_SA1110, False),
        ("XScale PXA270", UC_CPU_ARM_PXA270, False),
        ("XScale PXA270, Thumb callers", UC_CPU_ARM_PXA270, True),
        ("ARMv4T TI925T", UC_CPU_ARM_TI925T, False),
        ("ARMv4T TI925T, Thumb callers", UC_CPU_ARM_TI925T, True))
RELOCATED_BASE = 0x01000000
timings = []


with open(os.path.join(ROOT, "examples", "Kurvix.ini"), "rb") as example:
    EXAMPLE = example.read()


def show_and_close(model, at):
    """A tap on the tray icon shows the window; its close button ends the program."""
    model.at(at, model.tap_tray_icon)
    model.at(at + 200, model.close)


def run_program(files, cpu=UC_CPU_ARM_SA1110, base=None, setup=None, thumb_callers=False,
                image=None, **model_options):
    """Runs the exe to its end; returns (exit code, model, machine, seconds)."""
    image = image or LoadedImage(EXE, base)
    model = Coredll(files, **model_options)
    if setup:
        setup(model)
    machine = Machine(image, cpu, model, thumb_callers)
    started = time.perf_counter()
    exit_code = machine.run(image.entry, machine.entry_arguments())
    return exit_code, model, machine, time.perf_counter() - started


# ---- what each scenario must leave behind ------------------------------------------------

def hot_key_codes(model, name):
    return [arguments[3] if name == "RegisterHotKey" else arguments[1]
            for call, arguments in model.calls_named(name)]


def switched_off(model):
    """The tray icon's changes to the olive picture (a load also sets the red one again)."""
    return [(c["cbSize"], c["flags"]) for c in model.tray_calls
            if c["message"] == NIM_MODIFY and c["icon"] == ICON_OFF]


def expect_started_and_closed(test, model):
    registered = hot_key_codes(model, "RegisterHotKey")
    test.assertEqual(registered[:3], [193, 194, 195])
    first = model.tray_calls[0]
    test.assertEqual((first["message"], first["cbSize"], first["flags"], first["icon"]),
                     (NIM_ADD, 152, NIF_MESSAGE | NIF_ICON, ICON_ON))
    test.assertIn("dr\u00fccken Sie eine Taste f\u00fcr deren Key-Code", model.drawn)
    test.assertEqual([w.title for w in model.windows.values()], ["Kurvix (3)"])
    test.assertEqual(switched_off(model), [])
    test.assertEqual(model.programs, [])
    test.assertEqual(model.injected_keys, [])


def expect_key_code_shown_and_switched_off_by_tap(test, model):
    test.assertIn("der Key-Code der letzten Taste ist 65", model.drawn)
    # The "D" square was tapped: the bindings went off and the "E" square took its place.
    test.assertEqual(model.drawn[-1], "E")
    test.assertEqual(sorted(set(hot_key_codes(model, "UnregisterHotKey"))), [193, 194, 195])
    test.assertEqual(model.programs, [])
    test.assertEqual(model.injected_keys, [])


def expect_second_file_loaded(test, model):
    test.assertEqual(hot_key_codes(model, "RegisterHotKey"), [193, 194, 195, 196])
    test.assertEqual([w.title for w in model.windows.values()], ["Kurvix (1)"])
    test.assertEqual([p["file"] for p in model.programs], ["\\Windows\\Notizen.exe"])
    test.assertEqual(model.boxes, [])


def expect_nothing_done(test, model):
    test.assertEqual((model.boxes, model.tray_calls, model.calls_named("CreateWindowExW")),
                     ([], [], []))


def expect_calendar_started(test, model):
    test.assertEqual(len(model.programs), 1, model.programs)
    program = model.programs[0]
    test.assertEqual((program["file"], program["verb"], program["cbSize"], program["fMask"]),
                     (CALENDAR, "Open", 60, SEE_MASK_NOCLOSEPROCESS))
    # Pressed at 1000 ms, ElapseTime 800: started by the first poll from 1800 ms on.
    test.assertGreaterEqual(program["at"], 1800)
    test.assertLessEqual(program["at"], 1900)
    test.assertEqual(model.injected_keys, [])


def expect_handed_back(test, model):
    test.assertEqual(model.programs, [])
    around = [(name, arguments[1] if name == "UnregisterHotKey" else
               arguments[3] if name == "RegisterHotKey" else arguments[:3])
              for name, arguments in model.calls_named("UnregisterHotKey", "keybd_event",
                                                       "RegisterHotKey")][3:7]
    test.assertEqual(around, [("UnregisterHotKey", 193),
                              ("keybd_event", (193, 0, KEYEVENTF_SILENT)),
                              ("keybd_event", (193, 0, KEYEVENTF_KEYUP)),
                              ("RegisterHotKey", 193)])
    # Released at 1250 ms: handed back by the next poll, CheckIntervall 50 ms later at most.
    test.assertTrue(all(1250 <= key[3] <= 1300 for key in model.injected_keys), model.injected_keys)
    # The window is in the tray: the keys went on to whatever program has the focus.
    test.assertEqual([event[:3] for event in model.keys_to_others if event[3]],
                     [(193, True, KEYEVENTF_SILENT), (193, False, KEYEVENTF_KEYUP)])


def expect_switched_off(test, model):
    unregistered = hot_key_codes(model, "UnregisterHotKey")
    test.assertEqual(sorted(set(unregistered)), [193, 194, 195])
    test.assertEqual(switched_off(model), [(152, NIF_ICON)])
    test.assertIn("E", model.drawn)
    test.assertNotIn("D", model.drawn)
    test.assertEqual(model.programs, [])
    test.assertEqual(model.injected_keys, [])


def expect_unknown_line_reported(test, model):
    shown = [(b["caption"], b["text"], b["type"]) for b in model.boxes]
    configuration = scenarios.files(scenarios.load("unknown-line-reported.json"))[INI_PATH]
    test.assertEqual(shown, [(m["caption"], m["text"], m["type"])
                             for m in check_messages(configuration)])
    test.assertEqual(shown[0][0], "Kurvix - Ignoriere unbekannten Typ:")
    # Reading went on: the binding after the unknown line works.
    test.assertEqual(hot_key_codes(model, "RegisterHotKey")[:1], [193])
    expect_calendar_started(test, model)


def expect_question_answered_while_keys_pressed(test, model):
    test.assertEqual([b["caption"] for b in model.boxes], ["Terminieren?"])
    test.assertEqual(model.boxes[0]["answer"], IDYES)
    # The box's own loop took the press of 194: the bindings went off while it was open.
    test.assertEqual(switched_off(model), [(152, NIF_ICON)])
    test.assertEqual(len(model.programs), 1)
    test.assertFalse(model.programs[0]["running"], "the answer Yes ends the program")
    terminated = model.calls_named("TerminateProcess")
    test.assertEqual(len(terminated), 1)


def expect_missing_file(test, model):
    test.assertEqual([(b["caption"], b["text"]) for b in model.boxes],
                     [("Datei nicht gefunden:", INI_PATH)])
    test.assertEqual(model.calls_named("RegisterHotKey"), [])
    test.assertEqual([c for c in model.tray_calls if c["message"] != NIM_DELETE], [])


def expect_press_during_the_taken_key_box_handed_back(test, model):
    test.assertEqual([(b["caption"], b["text"]) for b in model.boxes],
                     [("Kurvix - Taste belegt:", "195")])
    # 193 was registered before the box opened: its short press meanwhile is handed back.
    test.assertEqual([event[:3] for event in model.keys_to_others if event[3]],
                     [(193, True, KEYEVENTF_SILENT), (193, False, KEYEVENTF_KEYUP)])
    test.assertEqual(model.programs, [])


def expect_key_of_a_half_read_block_never_caught(test, model):
    test.assertEqual([b["text"] for b in model.boxes], ["bad line"])
    # 195, let go and pressed again while the box was open, was never registered for the block
    # whose KeyCode then became 196: no press of it is left to tick, and 196 works.
    test.assertEqual(hot_key_codes(model, "RegisterHotKey"), [195, 196])
    test.assertEqual([p["file"] for p in model.programs], ["\\c.exe"])
    test.assertEqual(model.timers, {}, "a poll timer ticks on")
    test.assertEqual(model.injected_keys, [])


def check_messages(data):
    """The message boxes the simulated device shows for the same file (kurvix-check --json)."""
    with tempfile.NamedTemporaryFile(suffix=".ini", delete=False) as file:
        file.write(data)
    try:
        result = subprocess.run([KURVIX_CHECK, "--json", file.name], capture_output=True,
                                check=False)
    finally:
        os.unlink(file.name)
    return json.loads(result.stdout)["messages"]


# ---- scenarios written as data (tests/scenarios/), run here and on the simulated device ----

def scenario_input(scenario):
    """The scenario's script as calls of the model, after what other programs hold."""
    def drive(model):
        for key in scenario.get("hotKeysHeld", []):
            model.hold_hot_key(key)
        for name in scenario.get("mutexesHeld", []):
            model.mutexes[model.new_handle()] = name
        for event in scenario["script"]:
            kind, arguments = event[0], event[1:]
            if kind == "press":
                model.press(*arguments)
            elif kind == "tapTray":
                model.at(arguments[0], model.tap_tray_icon)
            elif kind == "tap":
                model.at(arguments[0], lambda x=arguments[1], y=arguments[2]: model.tap(x, y))
            elif kind == "close":
                model.at(arguments[0], model.close)
            else:
                raise ValueError(f"{scenario['name']}: no such event {kind}")
    return drive


def from_data(file_name, expect):
    """A row of SCENARIOS from a scenario file; its name is the file's."""
    scenario = scenarios.load(file_name)
    boxes = tuple((open_ms, answer) for open_ms, answer in scenario["boxes"])
    options = {"tick_start": scenario["tickStart"]} if "tickStart" in scenario else {}
    return (file_name, scenarios.files(scenario), scenario_input(scenario), boxes, options,
            scenario["exitCode"], expect)


def comparable_emulated(exit_code, model):
    return scenarios.comparable(
        exit_code, [dict(box, at=box["opened"]) for box in model.boxes], model.programs,
        [{"key": key, "down": down, "flags": flags, "at": at}
         for key, down, flags, at in model.injected_keys])


# name, files, input (model -> None), boxes (ms open, answer), options, exit code, expectation
SCENARIOS = tuple(from_data(file_name, expect) for file_name, expect in (
    ("start-show-close.json", expect_started_and_closed),
    ("long-press-starts-the-calendar.json", expect_calendar_started),
    ("long-press-across-the-tick-wrap.json", expect_calendar_started),
    ("short-press-is-handed-back.json", expect_handed_back),
    ("long-press-switches-off.json", expect_switched_off),
    ("unknown-line-reported.json", expect_unknown_line_reported),
    ("question-open-while-a-key-is-held.json", expect_question_answered_while_keys_pressed),
    ("key-code-shown-and-d-tapped.json", expect_key_code_shown_and_switched_off_by_tap),
    ("another-file-loaded.json", expect_second_file_loaded),
    ("second-instance-ends-at-once.json", expect_nothing_done),
    ("taken-key-box-open-while-a-key-is-tapped.json", expect_press_during_the_taken_key_box_handed_back),
    ("reload-block-changes-its-key-code.json", expect_key_of_a_half_read_block_never_caught),
    ("no-configuration.json", expect_missing_file),
))


class EmulatedRunTest(unittest.TestCase):
    """Every scenario on each processor, called from ARM and from Thumb code, at the exe's
    base and relocated, with either reading of GetAsyncKeyState's narrow result."""

    def test_scenarios(self):
        self.assertEqual(sorted(name for name, *_ in SCENARIOS), scenarios.file_names(),
                         "a scenario file that the emulated run leaves out")
        simulated = {name: scenarios.comparable_simulated(scenarios.simulated_trace(scenarios.load(name)))
                     for name, *_ in SCENARIOS}
        for cpu_name, cpu, thumb_callers in CPUS:
            for base_name, base in (("at its base", None), ("relocated", RELOCATED_BASE)):
                for sign_extend in (False, True):
                    for name, files, drive, boxes, options, exit_code, expect in SCENARIOS:
                        label = (f"{name} on {cpu_name}, {base_name}, GetAsyncKeyState "
                                 f"{'sign' if sign_extend else 'zero'}-extended")
                        with self.subTest(label):
                            code, model, machine, seconds = run_program(
                                files, cpu, base, drive, boxes=boxes,
                                module_path=scenarios.MODULE_PATH,
                                sign_extend_short=sign_extend, thumb_callers=thumb_callers,
                                **options)
                            timings.append((cpu_name, seconds, machine.stand_in_calls))
                            # Beside the entry, the window procedure was entered (from Thumb
                            # code, where the callers are Thumb) whenever a window was made.
                            self.assertEqual(machine.calls_entered > 1, bool(model.windows))
                            self.assertEqual(code, exit_code)
                            expect(self, model)
                            self.assertEqual(scenarios.differences(simulated[name],
                                                                   comparable_emulated(code, model)),
                                             [], "the simulated device's run differs")
                            self.assertEqual(model.hot_keys, [], "a key stays registered")
                            self.assertEqual(model.tray_icons, {}, "the tray icon stays")
                            self.assertEqual(model.blocks, {}, "memory is not freed")
                            self.assertEqual(model.misuses, [])
                            self.assertEqual(model.gdi_errors, [])
                            self.assertEqual(model.open_files, {}, "a file stays open")


class MachineTest(unittest.TestCase):
    """The emulated machine: which processor it is, and what stops a run (naming the
    function or the address)."""

    def test_import_without_stand_in(self):
        class WithoutHotKeys(Coredll):
            RegisterHotKey = None
        image = LoadedImage(EXE)
        model = WithoutHotKeys({INI_PATH: EXAMPLE})
        machine = Machine(image, UC_CPU_ARM_SA1110, model)
        with self.assertRaisesRegex(EmulationFault, "called RegisterHotKey, which the coredll"):
            machine.run(image.entry, machine.entry_arguments())

    def test_relocated_without_applying_relocations(self):
        image = LoadedImage(EXE, RELOCATED_BASE, apply_relocations=False)
        model = Coredll({INI_PATH: EXAMPLE})
        machine = Machine(image, UC_CPU_ARM_SA1110, model)
        with self.assertRaisesRegex(EmulationFault, "memory fault: .* at 0x[0-9A-F]{8}"):
            machine.run(image.entry, machine.entry_arguments())

    def test_the_processors_are_the_ones_named(self):
        """clz came with ARMv5: the StrongARM lacks it, the XScale has it."""
        clz_r0_r0, return_to_caller = 0xE16F0F10, 0xE1A0F00E
        for cpu, counts_zero_bits in ((UC_CPU_ARM_SA1110, False), (UC_CPU_ARM_PXA270, True)):
            with self.subTest(cpu=cpu):
                image = LoadedImage(EXE)
                machine = Machine(image, cpu, Coredll({}))
                machine.write_words(image.entry, [clz_r0_r0, return_to_caller])
                arguments = machine.entry_arguments()
                if counts_zero_bits:
                    self.assertEqual(machine.run(image.entry, arguments),
                                     32 - image.base.bit_length())
                else:
                    with self.assertRaisesRegex(EmulationFault, "undefined instruction 0xE16F0F10"):
                        machine.run(image.entry, arguments)

    def test_returns_to_arm_and_thumb_callers(self):
        """How each way of returning reaches an ARM and a Thumb caller on each architecture:
        the evidence for the device program's tst lr, #1; moveq pc, lr; bx lr."""
        mov_pc_lr = [0xE1A0F00E]
        pop_pc = [0xE52DE004, 0xE49DF004]              # str lr, [sp, #-4]!; ldr pc, [sp], #4
        bare_bx_lr = [0xE12FFF1E]
        guarded = [0xE31E0001, 0x01A0F00E, 0xE12FFF1E]  # tst lr, #1; moveq pc, lr; bx lr
        in_arm_state = "the return from the entry to a Thumb caller arrived in ARM state"
        rows = (  # (return, processor, Thumb callers, the fault, or None for a sound return)
            ("mov pc, lr", mov_pc_lr, UC_CPU_ARM_SA1110, False, None),
            ("load into pc", pop_pc, UC_CPU_ARM_SA1110, False, None),
            ("bare bx lr", bare_bx_lr, UC_CPU_ARM_SA1110, False, "undefined instruction 0xE12FFF1E"),
            ("guarded bx lr", guarded, UC_CPU_ARM_SA1110, False, None),
            ("mov pc, lr", mov_pc_lr, UC_CPU_ARM_PXA270, True, in_arm_state),
            ("load into pc", pop_pc, UC_CPU_ARM_PXA270, True, None),
            ("guarded bx lr", guarded, UC_CPU_ARM_PXA270, True, None),
            ("guarded bx lr", guarded, UC_CPU_ARM_PXA270, False, None),
            ("mov pc, lr", mov_pc_lr, UC_CPU_ARM_TI925T, True, in_arm_state),
            ("load into pc", pop_pc, UC_CPU_ARM_TI925T, True, in_arm_state),
            ("bare bx lr", bare_bx_lr, UC_CPU_ARM_TI925T, True, None),
            ("guarded bx lr", guarded, UC_CPU_ARM_TI925T, True, None),
            ("guarded bx lr", guarded, UC_CPU_ARM_TI925T, False, None),
        )
        for what, words, cpu, thumb_callers, fault in rows:
            with self.subTest(f"{what}, cpu {cpu}, {'Thumb' if thumb_callers else 'ARM'} caller"):
                image = LoadedImage(EXE)
                machine = Machine(image, cpu, Coredll({}), thumb_callers)
                machine.write_words(image.entry, words)
                arguments = machine.entry_arguments()
                if fault is None:
                    self.assertEqual(machine.run(image.entry, arguments), image.base)
                else:
                    with self.assertRaisesRegex(EmulationFault, fault):
                        machine.run(image.entry, arguments)

    def test_strict_icons_and_reserved_tray_ids(self):
        """The model refuses what the strict device refuses: an icon group without an image
        of the system's size (release 1.2.0's tray icons), and the shell's reserved ids."""
        image = LoadedImage(EXE)
        image.icon_sizes = {group: [size for size in sizes if size != (32, 32)]
                            for group, sizes in image.icon_sizes.items()}
        code, model, _, _ = run_program({INI_PATH: EXAMPLE}, image=image,
                                        setup=lambda m: show_and_close(m, 1000))
        self.assertEqual(code, 0)
        self.assertEqual([call["icon"] for call in model.tray_calls][:1], [0])
        self.assertIn("Shell_NotifyIcon given no icon: the tray would show nothing to tap",
                      model.misuses)
        for icon_id, added in ((0, False), (1, False), (12, False), (13, True), (100, True)):
            with self.subTest(icon_id=icon_id):
                machine = Machine(LoadedImage(EXE), UC_CPU_ARM_SA1110, Coredll({}))
                data = machine.model.system_alloc(152)
                machine.write_words(data, [152, 0x1234, icon_id, NIF_MESSAGE, 0x8001, 0])
                self.assertEqual(machine.model.Shell_NotifyIcon(NIM_ADD, data), int(added))
                self.assertEqual(bool(machine.model.misuses), not added, machine.model.misuses)

    def test_undefined_instruction(self):
        image = LoadedImage(EXE)
        model = Coredll({INI_PATH: EXAMPLE})
        machine = Machine(image, UC_CPU_ARM_SA1110, model)
        machine.write_u32(image.entry, 0xE7F000F0)
        with self.assertRaisesRegex(EmulationFault,
                                    f"undefined instruction 0xE7F000F0 at 0x{image.entry:08X}"):
            machine.run(image.entry, machine.entry_arguments())


def print_timings():
    """The emulated runs' times, each from the entry's call to its return."""
    if not timings:
        return
    print("\nemulated runs of the real kurvix.exe (entry called to exit code):", file=sys.stderr)
    for cpu_name, _, _ in CPUS:
        runs = sorted(seconds for name, seconds, _ in timings if name == cpu_name)
        calls = sum(count for name, _, count in timings if name == cpu_name)
        print(f"  {cpu_name}: {len(runs)} runs, {1000 * runs[0]:.0f} / "
              f"{1000 * statistics.median(runs):.0f} / {1000 * runs[-1]:.0f} ms per run "
              f"(min / median / max), {sum(runs):.2f} s in all, {calls} coredll calls",
              file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1].lower().endswith(".exe"):
        EXE = os.path.abspath(sys.argv.pop(1))
    if not os.path.exists(EXE):
        sys.exit(f"{EXE} does not exist: build it first with ce/build-ce.sh")
    program = unittest.main(exit=False)
    print_timings()
    sys.exit(0 if program.result.wasSuccessful() else 1)

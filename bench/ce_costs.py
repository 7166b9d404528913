"""What the real Windows CE kurvix.exe costs on the emulated StrongARM SA-1110, counted.

The exe runs on the emulator and coredll model of ce/emulator. A block hook over the
exe's own image counts every ARM instruction the processor executes there (a conditional
instruction whose condition fails counts too: it takes its cycle); the model's stand-ins,
written in Python, execute none. The model's malloc and free give the live heap bytes.

Virtual time moves only inside GetMessageW (or a message box's loop) while nothing is due,
so the instructions executed at each virtual instant are exact: a program with no timer
and nothing posted waits in GetMessageW from one input to the next and executes nothing
in between. That is what "idle" means below, and the bench fails if a run never gets
there or executes anything between events while no key is held.

    /usr/bin/python3 bench/ce_costs.py [--exe build-ce/kurvix.exe] [--map build-ce/kurvix.map]
                                       [--check-docs | --write-docs]
"""
import argparse
import bisect
import os
import re
import subprocess
import sys

from unicorn import UC_HOOK_BLOCK
from unicorn.arm_const import UC_CPU_ARM_SA1110

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "ce", "emulator"))
import arm_machine  # noqa: E402
import coredll_model  # noqa: E402
from arm_machine import LoadedImage, Machine  # noqa: E402
from coredll_model import KEYEVENTF_KEYUP, SYSTEM_MEMORY, Coredll  # noqa: E402

# The model's 1 MiB heap never hands a freed block out again (so that a use after free reads
# the fill); the table's array, copied on every append, passes that at about 700 bindings.
# The bench gives the heap the 16 MiB up to the model's own memory, as a device's 32 MiB
# process slot would; the peak heap it reports counts live blocks only.
arm_machine.HEAP_SIZE = coredll_model.HEAP_SIZE = SYSTEM_MEMORY - arm_machine.HEAP_BASE

INI_PATH = "\\Windows\\Kurvix.ini"
MODULE_PATH = "\\Windows\\Kurvix.exe"
TABLE_SIZES = (1, 10, 100, 1000)
FIRST_KEY = 193
ELAPSE_TIME, CHECK_INTERVAL = 800, 50
# Inputs a minute apart: long enough that any timer left running would show between them.
QUIET = 60000
LONG_PRESS = (QUIET, QUIET + 1300)          # held past ElapseTime: its program starts
SHORT_PRESS = (2 * QUIET, 2 * QUIET + 250)  # let go before ElapseTime: handed back
CLOSE_AT = 3 * QUIET
# The StrongARM runs most instructions in one cycle; taken branches, loads used at once,
# ldm/stm and cache misses cost more. Two cycles on average is an assumption, not a count.
CLOCK_HZ, CYCLES_PER_INSTRUCTION = 206_000_000, 2
DOCS = os.path.join(ROOT, "docs", "performance.md")
DOCS_BEGIN = "<!-- figures ce-costs: written by bench/ce_costs.py -->"
DOCS_END = "<!-- end of figures ce-costs -->"


def configuration(bindings):
    """A Kurvix.ini with `bindings` bindings of distinct keys, each starting a program."""
    lines = ["SETTINGS", f"CheckIntervall={CHECK_INTERVAL}", f"ElapseTime={ELAPSE_TIME}", ""]
    for index in range(bindings):
        lines += [f"KURVIX App{index}", f"KeyCode={FIRST_KEY + index}",
                  f"Command=\\Programme\\App{index}.exe", ""]
    return b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le")


class RunFailed(Exception):
    """A run that gives no figures, and why."""


class InstructionCounter:
    """Counts the instructions executed inside the image, per basic block."""

    def __init__(self, machine):
        self.total = 0
        self.blocks = {}   # block address -> [times executed, instructions in it]
        image = machine.image
        machine.uc.hook_add(UC_HOOK_BLOCK, self._on_block, begin=image.base,
                            end=image.base + image.size - 1)

    def _on_block(self, uc, address, size, data):
        block = self.blocks.get(address)
        if block is None:
            block = self.blocks[address] = [0, size // 4]   # ARM state: 4 bytes each
        block[0] += 1
        self.total += block[1]

    def per_block(self):
        return {address: count * length for address, (count, length) in self.blocks.items()}


class CountedDevice(Coredll):
    """The coredll model, noting the instruction count and live heap at each call, each
    input and each idle wait."""

    def __init__(self, files):
        super().__init__(files, module_path=MODULE_PATH)
        self.counter = None
        self.live_bytes = self.peak_bytes = 0
        self.noted = {}         # what -> instructions when it first happened
        self.arrivals = []      # (virtual time, instructions) each time the clock moves on
        # (virtual time, instructions, peak heap bytes, instructions per block) per idle wait
        self.idle = []
        self.blocks_at_key_down = {}   # virtual time -> instructions per block
        self.registered_at_start_up = None

    def note(self, what):
        self.noted.setdefault(what, self.counter.total)

    def stand_in(self, name):
        call = super().stand_in(name)
        if call is None:
            return None

        def noted(machine):
            self.note(name)
            return call(machine)
        return noted

    def _take_due(self, with_quit):
        message = super()._take_due(with_quit)
        # Only GetMessageW takes WM_QUIT: a box's own loop waiting is not the idle loop.
        if message is None and with_quit and not any(self.live(window)
                                                     for window, _ in self.timers):
            if not self.idle:
                self.registered_at_start_up = len(self.hot_keys)
            self.idle.append((self.now, self.counter.total, self.peak_bytes,
                              self.counter.per_block()))
        return message

    def _advance(self, time):
        moves = time > self.now
        super()._advance(time)
        if moves:
            self.arrivals.append((self.now, self.counter.total))

    def _allocate(self, size, fill):
        address = super()._allocate(size, fill)
        if address:
            self.live_bytes += size
            self.peak_bytes = max(self.peak_bytes, self.live_bytes)
        return address

    def _free(self, address, name):
        self.live_bytes -= self.blocks.get(address, 0)
        return super()._free(address, name)

    def key_down(self, key):
        self.note(f"key-down at {self.now}")
        self.blocks_at_key_down.setdefault(self.now, self.counter.per_block())
        super().key_down(key)

    def keybd_event(self, virtual_key, scan_code, flags, extra):
        if flags & KEYEVENTF_KEYUP:
            self.note(f"key-up {virtual_key} handed back")
        return super().keybd_event(virtual_key, scan_code, flags, extra)
    keybd_event.argument_count = Coredll.keybd_event.argument_count


def executed_between(arrivals, after, before):
    """(instructions, wake-ups) at the virtual instants strictly between two times: the
    instructions executed at an instant are those from the clock's arrival there to its
    next move; a wake-up is an instant at which the program executed any."""
    instructions = wake_ups = 0
    for (time, total), (_, next_total) in zip(arrivals, arrivals[1:]):
        if after < time < before and next_total > total:
            instructions += next_total - total
            wake_ups += 1
    return instructions, wake_ups


class Run:
    """One run of the exe on the SA-1110: start-up, then (with presses) a long press of the
    first key and a short one a minute apart, then a tap on the tray icon and a close."""

    def __init__(self, exe, bindings, presses=True, held_from=None, files=None,
                 instrument=None):
        self.bindings = bindings
        self.image = LoadedImage(exe)
        device = self.device = CountedDevice(
            {INI_PATH: configuration(bindings)} if files is None else files)
        if presses:
            device.press(FIRST_KEY, *LONG_PRESS)
            device.press(FIRST_KEY, *SHORT_PRESS)
        if held_from is not None:   # and never let go
            device.at(held_from, lambda: device.key_down(FIRST_KEY))
        device.at(CLOSE_AT, device.tap_tray_icon)
        device.at(CLOSE_AT + 200, device.close)
        machine = Machine(self.image, UC_CPU_ARM_SA1110, device)
        self.counter = device.counter = InstructionCounter(machine)
        if instrument:
            instrument(machine)
        self.exit_code = machine.run(self.image.entry, machine.entry_arguments())

    def failures(self):
        """Why this run gives no figures; it must reach the idle loop before any input."""
        device = self.device
        problems = []
        if not device.idle or device.idle[0][0] != 0:
            problems.append("it never waited in GetMessageW with nothing due and no timer "
                            "before the first input")
        if self.exit_code != 0:
            problems.append(f"it ended with exit code {self.exit_code}")
        if device.boxes:
            problems.append("it showed " + ", ".join(repr(box["caption"]) for box in device.boxes))
        registered = device.registered_at_start_up or 0
        if registered < self.bindings:
            problems.append(f"it registered {registered} keys, not {self.bindings}")
        return problems

    def start_up(self):
        """(instructions, peak heap bytes) from the entry to the first idle wait."""
        _, instructions, peak, _ = self.device.idle[0]
        return instructions, peak

    def start_up_blocks(self):
        return self.device.idle[0][3]

    def idle_again(self, down_at, up_at):
        """The first idle wait after a key went up: (instructions, instructions per block)."""
        wait = next((wait for wait in self.device.idle if wait[0] >= up_at), None)
        if wait is None:
            raise RunFailed(f"{self.bindings} bindings: after the press at {down_at} ms the "
                            "program never waited idle again")
        return wait[1], wait[3]

    def press_blocks(self, down_at, up_at):
        """Instructions per block from a key-down to the first idle wait after it went up."""
        before = self.device.blocks_at_key_down[down_at]
        return {block: count - before.get(block, 0)
                for block, count in self.idle_again(down_at, up_at)[1].items()}

    def press(self, down_at, up_at, acted):
        """(instructions from the key-down at `down_at` to the first `acted` call, from
        that key-down to the first idle wait after the key went up)."""
        noted = self.device.noted
        down = noted[f"key-down at {down_at}"]
        if acted not in noted:
            raise RunFailed(f"{self.bindings} bindings: the press at {down_at} ms never "
                            f"reached {acted}")
        return noted[acted] - down, self.idle_again(down_at, up_at)[0] - down

    def between_events(self):
        """(instructions, wake-ups) in the quiet minutes, while no key is held: from the
        start-up or from the first poll that can see a key let go, to the next input."""
        spans = ((0, LONG_PRESS[0]), (LONG_PRESS[1] + CHECK_INTERVAL, SHORT_PRESS[0]),
                 (SHORT_PRESS[1] + CHECK_INTERVAL, CLOSE_AT))
        results = [executed_between(self.device.arrivals, after, before)
                   for after, before in spans]
        return sum(r[0] for r in results), sum(r[1] for r in results)


# ---- functions ---------------------------------------------------------------------------

def tool(name):
    return os.path.join(ROOT, "build-ce-toolchain", "bin", f"arm-mingw32ce-{name}")


def function_symbols(map_path):
    """(address, name) of every function in the link's code, sorted by address: the link
    map names each object's code and the global functions in it; each object's own symbol
    table adds its file-local ones."""
    symbols, objects = [], []
    in_code, thunks = False, False
    with open(map_path, encoding="utf-8", errors="replace") as link_map:
        for line in link_map:
            if re.match(r"^\.\w", line):
                in_code = line.startswith(".text ")
                continue
            if not in_code:
                continue
            section = re.match(r"^ \.text\s+0x([0-9a-f]+)\s+0x[0-9a-f]+\s+(\S+)$", line)
            if section:
                # An archive's member: the import library's thunks, each an ldr into pc.
                thunks = "(" in section.group(2)
                if not thunks:
                    objects.append((int(section.group(1), 16), section.group(2)))
                continue
            symbol = re.match(r"^\s+0x([0-9a-f]+)\s+([^=\s][^=]*)$", line)
            if symbol:
                name = symbol.group(2).strip()
                symbols.append((int(symbol.group(1), 16),
                                f"{name} (import thunk)" if thunks else name))
    local = []
    for base, path in objects:
        listing = subprocess.run([tool("objdump"), "-t", os.path.join(ROOT, path)],
                                 capture_output=True, text=True, check=True).stdout
        # Storage class 6 is a file-local label: a function of an anonymous namespace.
        local += [(base + int(offset, 16), name) for offset, name in re.findall(
            r"^\[\s*\d+\]\(sec\s+1\)\(fl [^)]*\)\(ty\s+\w+\)\(scl\s+6\) \(nx 0\) 0x([0-9a-f]+) (\S+)$",
            listing, re.MULTILINE)]
    if local:
        names = subprocess.run(["c++filt"], input="\n".join(name for _, name in local),
                               capture_output=True, text=True, check=True).stdout.splitlines()
        symbols += [(address, name) for (address, _), name in zip(local, names)]
    return sorted(set(symbols))


def per_function(blocks, symbols, image):
    """Instructions per function: each block belongs to the last symbol at or before it."""
    addresses = [address - image.preferred_base + image.base for address, _ in symbols]
    totals = {}
    for block, instructions in blocks.items():
        index = bisect.bisect_right(addresses, block) - 1
        name = symbols[index][1] if index >= 0 else f"0x{block:08X}"
        totals[name] = totals.get(name, 0) + instructions
    return totals


def growing_functions(small_run, large_run, blocks, symbols, per_binding):
    """(name, figure at the small table, at the large one) of every function whose
    instructions in the blocks `blocks(run)` gives (divided by the bindings when
    `per_binding`) at least double from one table to the other."""
    def figures(run):
        divisor = run.bindings if per_binding else 1
        return {name: count / divisor
                for name, count in per_function(blocks(run), symbols, run.image).items()}
    small, large = figures(small_run), figures(large_run)
    rows = [(name, small.get(name, 0), after) for name, after in large.items()
            if after >= 2 * small.get(name, 0) and after >= 1]
    return sorted(rows, key=lambda row: -row[2])


# ---- the report --------------------------------------------------------------------------

def estimate(instructions):
    """The time on a 206 MHz StrongARM at the assumed cycles per instruction."""
    seconds = instructions * CYCLES_PER_INSTRUCTION / CLOCK_HZ
    return f"{seconds * 1e3:,.2f} ms" if seconds >= 1e-3 else f"{seconds * 1e6:,.0f} µs"


def report(runs, symbols, top=10):
    """The figures as Markdown lines, as docs/performance.md holds them."""
    by_size = {run.bindings: run for run in runs}
    lines = [
        "Instructions executed inside `build-ce/kurvix.exe` on the emulated StrongARM SA-1110, "
        f"counted by `bench/ce_costs.py`; the times are estimates for {CLOCK_HZ // 1_000_000} "
        f"MHz at an assumed {CYCLES_PER_INSTRUCTION} cycles per instruction.",
        "",
        "| Bindings | Start-up to the idle message loop | Per binding | Estimated on the device "
        "| Peak heap |",
        "|---|---|---|---|---|"]
    for run in runs:
        instructions, peak = run.start_up()
        lines.append(f"| {run.bindings:,} | {instructions:,} instructions "
                     f"| {instructions // run.bindings:,} | {estimate(instructions)} "
                     f"| {peak:,} bytes |")
    small, large = by_size[10], by_size[1000]
    ratio = (large.start_up()[0] / 1000) / (small.start_up()[0] / 10)
    lines += ["", f"Start-up per binding at 1,000 bindings is {ratio:.1f} times that at 10 "
              "(the goal: at most 3).", ""]
    header = "| One press (instructions, estimate) | " + " | ".join(
        f"{run.bindings:,} binding{'s' if run.bindings > 1 else ''}" for run in runs) + " |"
    lines += [header, "|---|" + "---|" * len(runs)]
    long_press = [run.press(*LONG_PRESS, "ShellExecuteEx") for run in runs]
    short_press = [run.press(*SHORT_PRESS, f"key-up {FIRST_KEY} handed back") for run in runs]
    for label, figures in (
            ("Long press: key-down to the start of its program", [f[0] for f in long_press]),
            ("Long press: key-down to idle again, the key let go after 1,300 ms",
             [f[1] for f in long_press]),
            ("Short press: key-down to the key-up handed back", [f[0] for f in short_press]),
            ("Short press: key-down to idle again, the key let go after 250 ms",
             [f[1] for f in short_press])):
        lines.append(f"| {label} | " + " | ".join(
            f"{count:,} ({estimate(count)})" for count in figures) + " |")
    lines.append("| Between events while no key is held: instructions (wake-ups) in the "
                 "three quiet minutes | " + " | ".join(
                     "{:,} ({:,})".format(*run.between_events()) for run in runs) + " |")
    lines += ["", "The functions whose start-up instructions per binding at least double from "
              "10 to 1,000 bindings (the heavier ones first):", "",
              "| Function | Per binding at 10 | Per binding at 1,000 |", "|---|---|---|"]
    for name, before, after in growing_functions(small, large, Run.start_up_blocks, symbols,
                                                 per_binding=True):
        lines.append(f"| `{name}` | {before:,.0f} | {after:,.0f} |")
    lines += ["", "The functions whose instructions in one long press, key-down to idle again, "
              "at least double from 10 to 1,000 bindings:", "",
              "| Function | At 10 bindings | At 1,000 bindings |", "|---|---|---|"]
    for name, before, after in growing_functions(
            small, large, lambda run: run.press_blocks(*LONG_PRESS), symbols, per_binding=False):
        lines.append(f"| `{name}` | {before:,.0f} | {after:,.0f} |")
    totals = per_function(large.start_up_blocks(), symbols, large.image)
    lines += ["", f"The {top} functions that execute the most at start-up with 1,000 bindings:",
              "", "| Function | Instructions | Share |", "|---|---|---|"]
    everything = sum(totals.values())
    for name, count in sorted(totals.items(), key=lambda item: -item[1])[:top]:
        lines.append(f"| `{name}` | {count:,} | {100 * count / everything:.1f} % |")
    return lines


def documented(path):
    """The lines between the markers in docs/performance.md, and the text around them."""
    with open(path, encoding="utf-8") as file:
        text = file.read()
    if DOCS_BEGIN not in text or DOCS_END not in text:
        raise RunFailed(f"{path} lacks the markers {DOCS_BEGIN!r} and {DOCS_END!r}")
    before, rest = text.split(DOCS_BEGIN, 1)
    inside, after = rest.split(DOCS_END, 1)
    return inside.strip("\n").split("\n"), before, after


def check_documented(lines, path=DOCS):
    if documented(path)[0] != lines:
        raise RunFailed(f"{path} holds other figures than this run: run "
                        "bench/ce_costs.sh --write-docs and commit what it writes")


def write_documented(lines, path=DOCS):
    _, before, after = documented(path)
    with open(path, "w", encoding="utf-8") as file:
        file.write(before + DOCS_BEGIN + "\n" + "\n".join(lines) + "\n" + DOCS_END + after)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--exe", default=os.path.join(ROOT, "build-ce", "kurvix.exe"))
    parser.add_argument("--map", default=os.path.join(ROOT, "build-ce", "kurvix.map"))
    docs = parser.add_mutually_exclusive_group()
    docs.add_argument("--check-docs", action="store_true",
                      help="fail unless docs/performance.md holds these figures")
    docs.add_argument("--write-docs", action="store_true",
                      help="write these figures into docs/performance.md")
    arguments = parser.parse_args()
    try:
        symbols = function_symbols(arguments.map)
        entry = LoadedImage(arguments.exe).entry
        if (entry, "WinMain") not in symbols:
            raise RunFailed(f"{arguments.map} is not the link map of {arguments.exe}: its "
                            f"WinMain is not at the entry 0x{entry:08X}")
        runs = []
        for bindings in TABLE_SIZES:
            run = Run(arguments.exe, bindings)
            problems = run.failures()
            if problems:
                raise RunFailed(f"{bindings} bindings: " + "; ".join(problems))
            runs.append(run)
        lines = report(runs, symbols)
        print("\n".join(lines))
        quiet = [run.between_events() for run in runs]
        if any(instructions or wake_ups for instructions, wake_ups in quiet):
            raise RunFailed("the program executed instructions between events while no key "
                            "was held: a timer or a posted message keeps it awake")
        if arguments.write_docs:
            write_documented(lines)
            print(f"\nwritten into {DOCS}")
        elif arguments.check_docs:
            check_documented(lines)
    except RunFailed as failure:
        sys.exit(f"bench/ce_costs.py: {failure}")


if __name__ == "__main__":
    main()

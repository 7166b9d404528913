"""Benchmarks of the real kurvix.exe under Wine. They print what they measure and judge
nothing: no figure is compared with a limit.

footprint  kurvix.exe's size and the DLLs it imports, x86_64 and i686
presses    long and short presses of hardware-button keys at two settings: how long after
           the key-down the command starts, the shortest hold that starts it, that every
           press counts exactly once (started or passed through), and the platform's own
           delays (hot-key delivery, program start)
idle       kurvix.exe with a few bindings beside idle_minimal.exe, both left alone: CPU
           time and wake-ups over the same window, and their working sets
load       load_bench.exe (bench/load_bench.cpp built for Windows) on real files

The idle programs run in a Wine session of their own (X display, prefix and wineserver)
while the presses run in another, so the idle window adds no time: the sessions share only
the processors, and another session's work neither wakes an idle program nor counts in its
CPU time. The prefixes are kept in build-win64/bench/wine between runs.

Needs build-win64 with its helpers and build-win32 (bench/run builds them). Linux only:
the figures of the Wine processes come from /proc.

    python3 bench/wine_bench.py [--quick]    (--quick: a smoke run of the same steps)
"""

import collections
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scripts"))

from wineenv import (BUILD_DIR, CLASS_NAME, HELPER_DIR, ROOT, Session, WinePrefix,  # noqa: E402
                     complete_lines, end_process, wait_until, windows_path, witness_starts,
                     write_ini)

KURVIX_EXE = BUILD_DIR / "kurvix.exe"
KURVIX_EXE_I686 = ROOT / "build-win32" / "kurvix.exe"
WITNESS_EXE = HELPER_DIR / "witness.exe"
BENCH_EXE_DIR = BUILD_DIR / "bench" / "windows"
IDLE_MINIMAL_EXE = BENCH_EXE_DIR / "idle_minimal.exe"
LOAD_BENCH_EXE = BENCH_EXE_DIR / "load_bench.exe"
PREFIXES = BUILD_DIR / "bench" / "wine"

IDLE_SETTLE_S = 5

# Hardware-button codes stay held while windows come and go under Wine. Each key's binding
# starts its own copy of witness.exe, so every start is known by its key.
KEYS = list(range(0xC1, 0xDB))
SETTINGS = [(1000, 100), (300, 50)]  # (ElapseTime, CheckIntervall)
# Time for the last start or pass-through of a batch of presses to arrive.
BATCH_SETTLE_S = 0.6

# DLLs that every Windows installation brings.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "advapi32.dll",
               "comctl32.dll", "msvcrt.dll"}

# How much each benchmark does; samples is per platform delay.
Extent = collections.namedtuple("Extent", "idle_window_s long_presses short_repeats "
                                "sweep_trials samples load_args")
FULL = Extent(60, 50, 4, 3, 10, [])
QUICK = Extent(10, 4, 1, 1, 3, ["--quick"])


def spread(values, digits=0):
    """min / median / max of milliseconds."""
    if not values:
        return "no samples"
    return (f"min {min(values):.{digits}f} / median {statistics.median(values):.{digits}f} / "
            f"max {max(values):.{digits}f} ms  (n={len(values)})")


# ---- /proc figures of a Wine process --------------------------------------------------------

def proc_figures(pid):
    """CPU time (utime + stime, and the scheduler's exact run time), wake-ups (voluntary
    context switches) summed over the process's threads, and memory of a Unix process."""
    stat = Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2:].split()
    ticks = int(fields[11]) + int(fields[12])
    figures = {"cpu_ms": ticks * 1000 / os.sysconf("SC_CLK_TCK"), "run_us": 0, "wakeups": 0,
               "threads": 0}
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            status = (task / "status").read_text()
            run_ns = int((task / "schedstat").read_text().split()[0])
        except FileNotFoundError:
            continue  # the thread ended meanwhile
        figures["threads"] += 1
        figures["run_us"] += run_ns / 1000
        figures["wakeups"] += status_value(status, "voluntary_ctxt_switches")
    status = Path(f"/proc/{pid}/status").read_text()
    figures["hwm_kib"] = status_value(status, "VmHWM")
    figures["rss_kib"] = status_value(status, "VmRSS")
    return figures


def status_value(status, name):
    for line in status.splitlines():
        if line.startswith(name + ":"):
            return int(line.split()[1])
    raise KeyError(name)


# ---- footprint --------------------------------------------------------------------------------

def footprint():
    lines = ["Footprint of kurvix.exe"]
    for arch, exe, objdump in [("x86_64", KURVIX_EXE, "x86_64-w64-mingw32-objdump"),
                               ("i686", KURVIX_EXE_I686, "i686-w64-mingw32-objdump")]:
        if not exe.exists():
            lines.append(f"  {arch:7} {exe} is missing")
            continue
        size = exe.stat().st_size
        dump = subprocess.run([objdump, "-p", str(exe)], check=True, capture_output=True,
                              text=True).stdout
        dlls = [line.split(":", 1)[1].strip() for line in dump.splitlines()
                if line.strip().startswith("DLL Name:")]
        kind = ("system DLLs only" if all(dll.lower() in SYSTEM_DLLS for dll in dlls)
                else "NOT only system DLLs")
        lines.append(f"  {arch:7} {size:7,} bytes ({size / 1024:.1f} KiB)  imports "
                     f"{', '.join(dlls)}  ({kind})")
    return lines


# ---- idle ---------------------------------------------------------------------------------------

def idle(session, workdir, extent):
    """kurvix.exe with three bindings and idle_minimal.exe, started together, left alone
    for a while once settled."""
    kurvix_dir, minimal_dir = workdir / "kurvix", workdir / "minimal"
    for directory, exe in [(kurvix_dir, KURVIX_EXE), (minimal_dir, IDLE_MINIMAL_EXE)]:
        directory.mkdir(parents=True)
        shutil.copy(exe, directory)
    write_ini(kurvix_dir / "Kurvix.ini", ["SETTINGS", "CheckIntervall=100", "ElapseTime=1000"] + [
        line for key in KEYS[:3] for line in
        ["", "KURVIX", f"KeyCode={key}", f"Command={windows_path(WITNESS_EXE)}"]])
    driver = session.driver
    programs = {"kurvix.exe": session.prefix.start(kurvix_dir / "kurvix.exe", kurvix_dir),
                "idle_minimal.exe": session.prefix.start(minimal_dir / "idle_minimal.exe",
                                                         minimal_dir)}
    try:
        for window in [(CLASS_NAME, "--title", "Kurvix (3)"), ("KvIdle.Class",)]:
            found = driver("window", *window, "--timeout", 30000)
            if not found["ok"]:
                raise RuntimeError(f"idle: no window {window[0]}: {found}")
        time.sleep(IDLE_SETTLE_S)
        before = {name: proc_figures(p.pid) for name, p in programs.items()}
        start = time.monotonic()
        time.sleep(extent.idle_window_s)
        after = {name: proc_figures(p.pid) for name, p in programs.items()}
        window_s = time.monotonic() - start
    finally:
        driver.close()
        driver.close("KvIdle.Class")
        for process in programs.values():
            end_process(process, 10)

    lines = [f"Idle under Wine: {window_s:.1f} s window, {IDLE_SETTLE_S} s after both windows "
             "existed; kurvix.exe has 3 bindings, no key held",
             f"  {'program':17} {'CPU ms':>7} {'run ms':>8} {'wake-ups':>9} {'threads':>8} "
             f"{'VmHWM KiB':>10} {'VmRSS KiB':>10}"]
    for name in programs:
        b, a = before[name], after[name]
        lines.append(f"  {name:17} {a['cpu_ms'] - b['cpu_ms']:7.0f} "
                     f"{(a['run_us'] - b['run_us']) / 1000:8.3f} {a['wakeups'] - b['wakeups']:9} "
                     f"{a['threads']:8} {a['hwm_kib']:10,} {a['rss_kib']:10,}")
    lines.append("  CPU ms: utime + stime (/proc/PID/stat, 10 ms steps); run ms: the scheduler's "
                 "run time (schedstat);")
    lines.append("  wake-ups: voluntary context switches of all threads; VmHWM: peak resident "
                 "set of the whole Wine process")
    return lines


# ---- presses ------------------------------------------------------------------------------------

class PressBench:
    """One Wine session with a focused key sink; kurvix.exe runs once per setting."""

    def __init__(self, session, workdir, extent):
        self.session = session
        self.driver = session.driver
        self.dir = workdir
        self.extent = extent
        self.seen = {}  # witness -> its starts read so far
        self.sink_log = workdir / "sink.log"
        self.sink_log.touch()
        self.sink, ready = self.driver.start("sink", self.sink_log, "--timeout", 900000)
        if not ready["ok"]:
            raise RuntimeError(f"presses: no key sink: {ready}")
        self.focus_sink()

    def close(self):
        self.driver.close("KvSink.Class")
        end_process(self.sink, 10)

    def focus_sink(self):
        focus = self.driver("foreground", "--set", "KvSink.Class")
        if not focus["ok"]:
            raise RuntimeError(f"presses: the key sink cannot be focused: {focus}")

    def witness(self, name):
        """A copy of witness.exe in a directory of its own: its log tells its starts apart."""
        directory = self.dir / name
        if not directory.exists():
            directory.mkdir()
            shutil.copy(WITNESS_EXE, directory)
        return directory / "witness.exe"

    def new_starts(self, witness):
        """(pid, tick) of each start of this witness not read before."""
        starts = witness_starts(witness.parent / "witness.log")
        seen = self.seen.get(witness, 0)
        self.seen[witness] = len(starts)
        return [(pid, tick) for pid, tick, _, _ in starts[seen:]]

    def sink_downs(self, vk, since):
        """Ticks of the key-downs of vk the focused window received from tick `since` on."""
        downs = []
        for line in complete_lines(self.sink_log):
            kind, key, tick = line.split()
            if kind == "down" and int(key) == vk and int(tick) >= since:
                downs.append(int(tick))
        return downs

    def open_program(self, exe):
        """kvdriver open; its answer comes through a file, since the program started
        inherits kvdriver's output and would hold a pipe open for its whole life."""
        answer = self.dir / "open.json"
        with open(answer, "w") as output:
            done = subprocess.run(self.driver.command("open", windows_path(exe)),
                                  env=self.session.prefix.env, stdin=subprocess.DEVNULL,
                                  stdout=output, stderr=subprocess.DEVNULL, timeout=60)
        return self.driver.parse(["open"], done.returncode, answer.read_text(), "")

    def kill(self, pids):
        if pids:
            self.driver("kill", *pids)

    # -- the platform's own delays, with no kurvix.exe running --

    def platform_delays(self):
        hotkey = []
        for _ in range(self.extent.samples):
            listener, first = self.driver.start("hotkey", KEYS[0], "--wait", 5000)
            if not first["free"]:
                raise RuntimeError(f"another program holds key {KEYS[0]} as a hot key")
            press = self.driver("press", KEYS[0], 30)
            taken = self.driver.finish(listener)
            if taken["ok"]:
                hotkey.append((taken["us"] - press["down_us"]) / 1000)
        witness = self.witness("open")
        start, call, pids = [], [], []
        for _ in range(self.extent.samples):
            opened = self.open_program(witness)
            starts = wait_until(lambda: self.new_starts(witness), 5)
            start += [tick - opened["tick"] for _, tick in starts]
            call.append(opened["call_us"] / 1000)
            pids += [pid for pid, _ in starts]
        self.kill(pids)
        return [f"  hot-key delivery, key-down injected -> WM_HOTKEY taken by another process: "
                f"{spread(hotkey, 2)}",
                f"  ShellExecuteEx of witness.exe, time until the call returns: {spread(call, 1)}",
                f"  ShellExecuteEx called -> witness.exe running (ticks): {spread(start)}"]

    # -- presses at one setting --

    def run_setting(self, elapse, interval):
        run_dir = self.dir / f"kurvix-{elapse}-{interval}"
        run_dir.mkdir()
        shutil.copy(KURVIX_EXE, run_dir)
        witnesses = {key: self.witness(f"witness-{key:02X}") for key in KEYS}
        lines = ["SETTINGS", f"CheckIntervall={interval}", f"ElapseTime={elapse}"]
        for key in KEYS:
            lines += ["", "KURVIX", f"KeyCode={key}", f"Command={windows_path(witnesses[key])}"]
        write_ini(run_dir / "Kurvix.ini", lines)
        kurvix = self.session.prefix.start(run_dir / "kurvix.exe", run_dir, run_dir / "wine.log")
        try:
            window = self.driver("window", CLASS_NAME, "--title", f"Kurvix ({len(KEYS)})",
                                 "--timeout", 30000)
            if not window["ok"]:
                raise RuntimeError(f"presses: kurvix.exe did not start: {window}")
            self.focus_sink()
            results = self.press_all(self.plan(elapse, interval), witnesses, interval)
            box = self.driver("box", "--timeout", 0)
            if box["ok"]:
                self.driver("box", "--press", "no")
            ended = kurvix.poll()
            peak = proc_figures(kurvix.pid)["hwm_kib"] if ended is None else None
        finally:
            self.driver.close()
            end_process(kurvix, 10)
        if ended is not None:
            raise RuntimeError(f"presses: kurvix.exe ended with exit code {ended} during the "
                               f"presses; Wine's output: {(run_dir / 'wine.log').read_text()!r}")
        return self.report(elapse, interval, self.gap(interval), results, box["ok"], peak)

    def plan(self, elapse, interval):
        """(kind, hold ms) of every press: long ones held past ElapseTime + CheckIntervall
        and the delivery; short ones up to ElapseTime - CheckIntervall; a sweep around the
        threshold. Mixed in a fixed order so that no hold value gets one stretch of time."""
        presses = [("long", elapse + interval + 50)] * self.extent.long_presses
        presses += [("short", hold) for hold in (30, elapse // 2, elapse - interval)
                    for _ in range(self.extent.short_repeats)]
        step = 10 if interval >= 100 else 5
        presses += [("sweep", hold)
                    for hold in range(elapse - 2 * step, elapse + interval + 21, step)
                    for _ in range(self.extent.sweep_trials)]
        random.Random(1).shuffle(presses)
        return presses

    @staticmethod
    def gap(interval):
        """Time between presses: enough for the last poll, the start or pass-through."""
        return interval + 150

    def press_all(self, plan, witnesses, interval):
        """Presses in batches, one key each, so that each start and each passed key is
        known by its key; the started witnesses end after each batch."""
        gap = self.gap(interval)
        results = []
        for first in range(0, len(plan), len(KEYS)):
            batch = plan[first:first + len(KEYS)]
            args = ["press"]
            for key, (_, hold) in zip(KEYS, batch):
                args += [key, hold]
            done = self.session.prefix.capture(self.driver.command(*args, "--gap", gap),
                                               timeout=120)
            answers = [json.loads(line) for line in done.stdout.splitlines()
                       if line.startswith("{")]
            if len(answers) != len(batch):
                raise RuntimeError(f"presses: kvdriver press answered {done.stdout!r}")
            time.sleep(BATCH_SETTLE_S)
            pids = []
            for key, (kind, hold), answer in zip(KEYS, batch, answers):
                starts = self.new_starts(witnesses[key])
                pids += [pid for pid, _ in starts]
                results.append({"kind": kind, "hold": hold, "down": answer["down_tick"],
                                "up": answer["up_tick"], "down_us": answer["down_us"],
                                "starts": [t for _, t in starts],
                                "passes": self.sink_downs(key, answer["down_tick"])})
            self.kill(pids)
        return results

    @staticmethod
    def report(elapse, interval, gap, results, box_left, peak_kib):
        def once(r):
            return len(r["starts"]) + len(r["passes"]) == 1

        longs = [r for r in results if r["kind"] == "long"]
        shorts = [r for r in results if r["kind"] == "short"]
        sweep = [r for r in results if r["kind"] == "sweep"]
        fired = [r for r in results if len(r["starts"]) == 1 and not r["passes"]]
        long_ok = sum(1 for r in longs if len(r["starts"]) == 1 and not r["passes"])
        short_ok = sum(1 for r in shorts if len(r["passes"]) == 1 and not r["starts"])
        odd = [r for r in results if not once(r)]
        lines = [f"Presses under Wine: ElapseTime {elapse} ms, CheckIntervall {interval} ms "
                 f"({len(results)} presses, {gap} ms apart)",
                 f"  long presses (hold {longs[0]['hold']} ms) that started the command exactly "
                 f"once and were not passed: {long_ok} of {len(longs)}",
                 f"  short presses (holds {sorted({r['hold'] for r in shorts})} ms) passed "
                 f"through exactly once, nothing started: {short_ok} of {len(shorts)}",
                 f"  presses counted other than exactly once (started + passed != 1): {len(odd)}"
                 + (f" {[(r['kind'], r['hold'], len(r['starts']), len(r['passes'])) for r in odd]}"
                    if odd else ""),
                 f"  key-down -> command running, long presses:  "
                 f"{spread([r['starts'][0] - r['down'] for r in longs if r['starts']])}",
                 f"  key-down -> command running, every start:   "
                 f"{spread([r['starts'][0] - r['down'] for r in fired])}",
                 f"  key-up -> passed key-down at the focused window, short presses: "
                 f"{spread([r['passes'][0] - r['up'] for r in shorts if r['passes']])}"]
        # How coarse the ticks behind these figures are: against an exact clock.
        offsets = [r["down_us"] / 1000 - r["down"] for r in results]
        lines.append(f"  (GetTickCount differences; its offset from QueryPerformanceCounter varied "
                     f"by {max(offsets) - min(offsets):.1f} ms across the key-downs)")
        holds = sorted({r["hold"] for r in sweep})
        started_holds = [r["hold"] for r in sweep if r["starts"]]
        passed_holds = [r["hold"] for r in sweep if r["passes"]]
        lines.append("  sweep, hold ms: started/trials  " + "  ".join(
            f"{hold}:{sum(1 for r in sweep if r['hold'] == hold and r['starts'])}/"
            f"{sum(1 for r in sweep if r['hold'] == hold)}" for hold in holds))
        always = [hold for hold in holds
                  if all(r["starts"] for r in sweep if r["hold"] >= hold)]
        lines.append(f"  shortest hold that started: {min(started_holds, default='none')} ms; "
                     f"longest hold passed through: {max(passed_holds, default='none')} ms; "
                     f"every hold from {min(always, default='none')} ms on started")
        lines.append(f"  message box left open afterwards: {'yes' if box_left else 'no'}; "
                     f"kurvix.exe peak working set (VmHWM) after these presses: {peak_kib:,} KiB")
        return lines


# ---- configuration load ---------------------------------------------------------------------

def load(prefix, workdir, extent):
    # load_bench.exe writes its files into the current directory.
    done = subprocess.run(["wine", str(LOAD_BENCH_EXE)] + extent.load_args, cwd=workdir,
                          env=prefix.env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=900)
    if done.returncode != 0:
        raise RuntimeError(f"load_bench.exe: exit {done.returncode}: {done.stderr}")
    return ["Configuration load under Wine (load_bench.exe, real files, device code as in "
            "kurvix.exe: -Os)"] + ["  " + line for line in done.stdout.splitlines()]


# ---- the run ------------------------------------------------------------------------------

class Timed:
    def __init__(self):
        self.times = {}

    def run(self, name, function, *args):
        start = time.monotonic()
        try:
            return function(*args)
        finally:
            self.times[name] = time.monotonic() - start


def show(lines):
    print("\n".join(lines) + "\n", flush=True)


def start_session(name, hold_s):
    path = PREFIXES / name
    if WinePrefix(path, None).exists():
        WinePrefix(path, None).stop_server()  # left over from an interrupted run
    return Session(path, hold_s).start(announce=lambda text: print(text, flush=True))


def idle_in_own_session(workdir, extent, outcome, timed):
    try:
        session = start_session("idle", 300)
        try:
            outcome["lines"] = timed.run("idle", idle, session, workdir, extent)
        finally:
            session.stop()
    except BaseException as error:  # reported by the main thread
        outcome["error"] = error


def main():
    extent = QUICK if sys.argv[1:] == ["--quick"] else FULL
    for program in (KURVIX_EXE, WITNESS_EXE, IDLE_MINIMAL_EXE, LOAD_BENCH_EXE,
                    HELPER_DIR / "kvdriver.exe"):
        if not program.exists():
            raise SystemExit(f"{program} is missing: build build-win64 first")
    timed = Timed()
    workdir = Path(tempfile.mkdtemp(prefix="kurvix-bench-"))
    try:
        show(footprint())

        idle_dir = workdir / "idle"
        idle_outcome = {}
        idle_thread = threading.Thread(target=idle_in_own_session,
                                       args=(idle_dir, extent, idle_outcome, timed))
        idle_thread.start()

        session = start_session("presses", 900)
        try:
            press_dir = workdir / "presses"
            press_dir.mkdir()
            bench = PressBench(session, press_dir, extent)
            try:
                lines = ["Platform delays under Wine (ticks: GetTickCount differences "
                         "between processes; the rest QueryPerformanceCounter)"]
                show(lines + timed.run("platform delays", bench.platform_delays))
                for elapse, interval in SETTINGS:
                    show(timed.run(f"presses {elapse}/{interval}", bench.run_setting, elapse,
                                   interval))
            finally:
                bench.close()

            idle_thread.join()
            if "error" in idle_outcome:
                raise idle_outcome["error"]
            show(idle_outcome["lines"])

            load_dir = workdir / "load"
            load_dir.mkdir()
            loaded = timed.run("load", load, session.prefix, load_dir, extent)
        finally:
            session.stop()
        show(loaded)
        print("Wine benchmark times: " + ", ".join(f"{name} {seconds:.0f} s"
                                                   for name, seconds in timed.times.items()))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Runs the desktop kurvix.exe under Wine beside examples/desktop/Kurvix.ini.

With a reachable X display Kurvix simply runs there, in a Wine prefix of its own under
~/.cache/kurvix, until it is closed. Without one, a short demonstration runs on a private
Xvfb display: it opens the status window, presses a key, takes a screenshot, makes a
short and a long press and says what happened, then closes Kurvix.

Called by ./run.sh once build-win64 is built.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

# No __pycache__ beside the shared module in the source tree.
sys.dont_write_bytecode = True

from wineenv import BUILD_DIR, CLASS_NAME, ROOT, Picture, Session, WinePrefix, wait_until  # noqa: E402
from device_facts import LAYOUT, TEXTS  # noqa: E402

EXAMPLE_INI = ROOT / "examples" / "desktop" / "Kurvix.ini"
DESKTOP_DIR = BUILD_DIR / "desktop"
KEY_A = 0x41
SEPARATOR = (0x60, 0x60, 0x60)
# Windows that are not a program a binding started: ours, and Wine's desktop and taskbar.
TERMINATE = TEXTS["TERMINATE_CAPTION"].german
OWN_CLASSES = (CLASS_NAME, "KvSink.Class", "#32769", "Shell_TrayWnd")


def read_example():
    """The example's ElapseTime and its bindings, each a dict of its key lines."""
    elapse, bindings, block = 1000, [], None
    for line in EXAMPLE_INI.read_bytes()[2:].decode("utf-16-le").split("\r\n"):
        name, _, value = (part.strip() for part in line.partition("="))
        if not line:
            block = None
        elif line.startswith("SETTINGS"):
            block = "SETTINGS"
        elif line.startswith("KURVIX"):
            block = "KURVIX"
            bindings.append({})
        elif block == "SETTINGS" and name == "ElapseTime":
            elapse = int(value)
        elif block == "KURVIX":
            bindings[-1][name] = value
    return elapse, bindings


def install_program():
    DESKTOP_DIR.mkdir(parents=True, exist_ok=True)
    shutil.copy(BUILD_DIR / "kurvix.exe", DESKTOP_DIR)
    shutil.copy(EXAMPLE_INI, DESKTOP_DIR)
    return DESKTOP_DIR / "kurvix.exe"


def display_reachable():
    if not os.environ.get("DISPLAY") or shutil.which("xdpyinfo") is None:
        return False
    try:
        return subprocess.run(["xdpyinfo"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=10).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def run_on_display():
    cache = Path(os.environ.get("XDG_CACHE_HOME", Path.home() / ".cache"))
    prefix = WinePrefix(cache / "kurvix" / "wineprefix", os.environ["DISPLAY"])
    if not prefix.exists():
        print(f"Preparing a Wine prefix in {prefix.path} (once, about 10 s) ...", flush=True)
        prefix.create(virtual_desktop=False)
    exe = install_program()
    print(f"Kurvix runs under Wine on {os.environ['DISPLAY']} with {DESKTOP_DIR / 'Kurvix.ini'}.")
    print("Its icon sits in the notification area; a click on it opens the status window.")
    print("Closing the status window ends Kurvix.", flush=True)
    process = prefix.start(exe, DESKTOP_DIR)
    try:
        return process.wait()
    except KeyboardInterrupt:
        process.terminate()
        return process.wait()


class Demonstration:
    """Drives Kurvix from outside and says in plain words what happened."""

    def __init__(self, session):
        self.xvfb = session.xvfb
        self.prefix = session.prefix
        self.driver = session.driver
        self.elapse, self.bindings = read_example()
        command = next(b for b in self.bindings if "Command" in b)
        self.key, self.command = int(command["KeyCode"]), command["Command"]
        self.switch_key = int(next(b for b in self.bindings if b.get("Disable") == "1")["KeyCode"])
        self.all_well = True

    def say(self, text, well=True):
        self.all_well = self.all_well and bool(well)
        print(text if well else "UNEXPECTED: " + text, flush=True)

    def expect(self, answer, what):
        if not answer.get("ok"):
            raise RuntimeError(f"{what}: {answer}")
        return answer

    def long_press(self, key):
        self.driver("press", key, self.elapse + 500)

    def started_program(self):
        """The foreground window once it belongs to a program other than ours, or None."""
        def other():
            window = self.driver("foreground")
            return window if window["found"] and window["class"] not in OWN_CLASSES else None
        return wait_until(other, 5, 0.1)

    def run(self):
        kurvix = self.prefix.start(install_program(), DESKTOP_DIR, DESKTOP_DIR / "kurvix.log")
        try:
            self.show_start()
            self.show_status_window()
            self.show_presses()
            self.driver.close()
            code = kurvix.wait(10)
            self.say(f"Kurvix closed, exit code {code}", code == 0)
        finally:
            if kurvix.poll() is None:
                kurvix.kill()
                kurvix.wait()
        return 0 if self.all_well else 1

    def show_start(self):
        title = f"Kurvix ({len(self.bindings)})"
        self.expect(self.driver("window", CLASS_NAME, "--title", title), "start")
        box = self.driver("box", "--timeout", 300)
        if box["ok"]:
            raise RuntimeError(f"Kurvix reports: {box['caption']} {box['text']}")
        self.say(f"Kurvix started with the {len(self.bindings)} bindings of "
                 f"{EXAMPLE_INI.relative_to(ROOT)}: window \"{title}\" hidden, icon in the tray")

    def show_status_window(self):
        self.expect(self.driver.tap_tray_icon(), "tray icon")
        window = self.expect(self.driver("window", CLASS_NAME, "--visible", 1), "show")
        self.expect(self.driver("foreground", "--set", CLASS_NAME), "focus")
        shot = DESKTOP_DIR / "status-window.png"
        w, h = window["client_size"]
        client = (*window["client_origin"], w, h)

        def picture():
            return Picture(self.xvfb.screenshot(shot), client)

        def painted():
            # The separator left of the letter column is drawn with the rest.
            first = picture()
            return first.pixel(w - LAYOUT["COLUMN_WIDTH"], 0) == SEPARATOR and first

        before = wait_until(painted, 3, 0.1)
        self.driver("press", KEY_A, 30)
        changed = wait_until(lambda: before and picture().pixels != before.pixels, 3, 0.2)
        self.say("status window opened by a tap on the tray icon; key A pressed in it, its "
                 f"text changed to the key code; screenshot saved to {shot}", changed)
        self.driver.tap(w - 1, h - 1)
        hidden = self.driver("window", CLASS_NAME, "--visible", 0)["ok"]
        self.say("status window hidden again by a tap on its corner mark", hidden)

    def show_presses(self):
        sink_log = DESKTOP_DIR / "sink.log"
        sink_log.write_text("")
        sink, _ = self.driver.start("sink", sink_log, "--timeout", 60000)
        try:
            self.expect(self.driver("foreground", "--set", "KvSink.Class"), "focus")
            self.driver("press", self.key, 30)
            passed = wait_until(lambda: f"down {self.key} " in sink_log.read_text(), 3)
            self.say(f"short press of key {self.key}: passed on to the focused window "
                     "as an ordinary key", passed)

            self.long_press(self.key)
            started = self.started_program()
            self.say(f"long press of key {self.key}: {self.command} started"
                     + (f" (window \"{started['title']}\")" if started else ""), started)
            if started:
                self.long_press(self.key)
                box = self.driver("box", "--caption", TERMINATE, "--press", "yes")
                ended = box["ok"] and self.driver("window", started["class"], "--gone", 1)["ok"]
                self.say(f"long press of key {self.key} again: Kurvix asked \"{TERMINATE}\", "
                         "answered Yes, the program ended", ended)

            self.long_press(self.switch_key)
            off = wait_until(lambda: self.driver("hotkey", self.key)["free"], 3)
            self.say(f"long press of key {self.switch_key}: all bindings switched off", off)
        finally:
            self.driver.close("KvSink.Class")
            sink.communicate(timeout=10)


def run_demonstration():
    print("No display: a short demonstration on a private Xvfb display.", flush=True)
    session = Session(DESKTOP_DIR / "wineprefix", hold_s=300).start()
    try:
        return Demonstration(session).run()
    finally:
        session.stop()


def main():
    return run_on_display() if display_reachable() else run_demonstration()


if __name__ == "__main__":
    sys.exit(main())

"""Wine on a private X display, for Kurvix's end-to-end tests and desktop demonstration.

Xvfb          a private X server on a display number it chooses itself (-displayfd)
WinePrefix    a Wine prefix of our own, with Wine's virtual desktop switched on
Driver        runs kvdriver.exe (tests/e2e/driver.cpp) and returns its JSON answers
Session       an Xvfb and a prefix on it, with Wine's desktop kept open until stop()
Picture       pixels of a screenshot taken with ImageMagick

Also write_ini (Kurvix.ini as UTF-16LE with BOM and CR LF), windows_path, and the readers
of the logs other programs append to (complete_lines, witness_starts).
Standard library only.
"""

import ctypes
import json
import os
import select
import shutil
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]

from device_facts import CLASS_NAME, TRAY  # noqa: E402  (beside this module in scripts/)

BUILD_DIR = Path(os.environ.get("KURVIX_BUILD_DIR", ROOT / "build-win64"))
HELPER_DIR = BUILD_DIR / "tests" / "e2e"
WINE_FONTS = Path("/usr/share/wine/fonts")  # Debian's fonts-wine

DESKTOP_SIZE = (1024, 768)
# Without a window manager on Xvfb, every hide stalls a program for seconds; Wine's own
# desktop avoids that. A crashing program must end instead of opening a dialog.
PREFIX_SETTINGS = f"""REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="{DESKTOP_SIZE[0]}x{DESKTOP_SIZE[1]}"

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000
"""

WM_KEYDOWN = 0x0100
WM_CLOSE = 0x0010
WM_LBUTTONDOWN = 0x0201


# With the kernel's address randomisation, about one Wine start in 3,000 ends at once with
# exit code 1 ("failed to map the shared user data": the loader's heap was placed across the
# address Windows reserves for it). Without randomisation, not one of 5,833 starts did.
ADDR_NO_RANDOMIZE = 0x0040000


def start_children_without_address_randomisation():
    """Every program this process starts from now on (Wine's, and the programs they start in
    turn) lays out its memory without randomisation."""
    libc = ctypes.CDLL(None, use_errno=True)
    current = libc.personality(0xFFFFFFFF)
    if current != -1:
        libc.personality(current | ADDR_NO_RANDOMIZE)


def windows_path(path):
    """The Windows name of a Linux file under Wine's Z: drive."""
    return "Z:" + str(Path(path).absolute()).replace("/", "\\")


def write_ini(path, lines):
    """Writes a Kurvix configuration: UTF-16LE with a byte order mark, CR LF line ends."""
    Path(path).write_bytes(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))


def complete_lines(path):
    """The lines of a log that another program appends to; a line still being written
    is left for the next read."""
    text = path.read_text() if path.exists() else ""
    return text[:text.rfind("\n") + 1].splitlines()


def witness_starts(log):
    """(pid, tick, created, path) of each start that witness.exe (tests/e2e/witness.cpp) wrote
    to this witness.log, in order: the ticks at which it ran and at which its process was
    created."""
    starts = []
    for line in complete_lines(log):
        pid, tick, created, path = line.split(" ", 3)
        starts.append((int(pid), int(tick), int(created), path))
    return starts


def make_lparam(x, y):
    return (y & 0xFFFF) << 16 | (x & 0xFFFF)


def end_process(process, timeout):
    """Waits for a process that was asked to end, kills it if it lingers; returns its output."""
    try:
        return process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.communicate()


def wait_until(condition, timeout, interval=0.05):
    """Polls condition until it returns a true value or timeout seconds pass; returns the
    last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def wait_for(get, wanted, timeout, interval=0.05):
    """Polls get() until it returns wanted or timeout seconds pass; returns the last value."""
    last = []

    def matches():
        last[:] = [get()]
        return last[0] == wanted

    wait_until(matches, timeout, interval)
    return last[0]


class Xvfb:
    """A private X server on a display number that the server itself chooses: with
    -displayfd it takes the first free number and writes it to a pipe once it accepts
    clients, so two runs never race for the same number."""

    def __init__(self):
        self.process = None
        self.display = None

    def start(self, timeout=30):
        reader, writer = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(writer), "-screen", "0",
                 f"{DESKTOP_SIZE[0]}x{DESKTOP_SIZE[1]}x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=(writer,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            os.close(writer)
            writer = None
            number = self._read_number(reader, timeout)
        finally:
            if writer is not None:
                os.close(writer)
            os.close(reader)
        if number is None:
            self.stop()
            raise RuntimeError("Xvfb did not start (no display number on -displayfd)")
        self.display = f":{number}"
        return self

    @staticmethod
    def _read_number(reader, timeout):
        """The display number Xvfb writes, ended by a line break; None when the server
        ends or the time runs out first."""
        text = b""
        deadline = time.monotonic() + timeout
        while not text.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([reader], [], [], remaining)[0]:
                return None
            chunk = os.read(reader, 16)
            if not chunk:
                return None
            text += chunk
        return int(text.strip())

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            end_process(self.process, 5)
            self.process = None

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        return Path(path)


class WinePrefix:
    """A Wine prefix of our own on one display; its wineserver is ours to end."""

    def __init__(self, path, display):
        self.path = Path(path)
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": str(self.path),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        })
        if display is not None:
            self.env["DISPLAY"] = display
        start_children_without_address_randomisation()

    def exists(self):
        """Made, and with Marlett: a prefix from before that gets it from create() too."""
        return (self.path / "system.reg").exists() and (self.fonts / "marlett.ttf").exists()

    @property
    def fonts(self):
        return self.path / "drive_c" / "windows" / "Fonts"

    def create(self, virtual_desktop=True):
        """Initialises the prefix; with virtual_desktop, Wine draws its own desktop."""
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self.run(["wineboot", "-i"], timeout=180)
        # Debian's Wine does not find the fonts of its fonts-wine package, and without
        # Marlett a caption's close button shows the letter "r": the prefix gets its own copy.
        shutil.copy(WINE_FONTS / "marlett.ttf", self.fonts)
        if virtual_desktop:
            settings = self.path / "kurvix-settings.reg"
            settings.write_text(PREFIX_SETTINGS.replace("\n", "\r\n"))
            self.run(["wine", "reg", "import", windows_path(settings)], timeout=60)
        # The desktop reads its settings when it starts: end this first session now.
        self.stop_server()
        return self

    def run(self, args, timeout=60, cwd=None):
        return subprocess.run(args, env=self.env, cwd=cwd, check=True, timeout=timeout,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)

    def capture(self, args, timeout=60):
        """Runs a program to its end; returns the finished process with its output."""
        return subprocess.run(args, env=self.env, timeout=timeout, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def start(self, exe, cwd, log=None):
        """Starts a Windows program; the process returned is the Windows process."""
        output = open(log, "ab") if log is not None else subprocess.DEVNULL
        try:
            return subprocess.Popen(["wine", str(exe)], cwd=cwd, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=output, stderr=output)
        finally:
            if log is not None:
                output.close()

    def stop_server(self):
        """Ends every program of this prefix and its wineserver."""
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run(["wineserver", "-w"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


class DriverError(RuntimeError):
    pass


class Driver:
    """kvdriver.exe in one prefix. Each call returns the subcommand's last JSON answer;
    a failed condition comes back as {"ok": false, ...}, not as an exception."""

    def __init__(self, prefix, exe=HELPER_DIR / "kvdriver.exe"):
        self.prefix = prefix
        self.exe = Path(exe)

    def command(self, *args):
        return ["wine", str(self.exe)] + [str(arg) for arg in args]

    def __call__(self, *args, timeout=60):
        result = self.prefix.capture(self.command(*args), timeout)
        return self.parse(args, result.returncode, result.stdout, result.stderr)

    @staticmethod
    def parse(args, returncode, stdout, stderr):
        lines = [line for line in stdout.splitlines() if line.startswith("{")]
        if returncode not in (0, 1) or not lines:
            raise DriverError(f"kvdriver {' '.join(map(str, args))}: exit {returncode}, "
                              f"output {stdout!r} {stderr!r}")
        return json.loads(lines[-1])

    def start(self, *args):
        """Starts a subcommand that keeps running (sink, watch); returns the process and
        its first answer."""
        process = subprocess.Popen(self.command(*args), env=self.prefix.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
        first = process.stdout.readline()
        if not first.startswith("{"):
            process.wait(10)
            raise DriverError(f"kvdriver {' '.join(map(str, args))}: exit {process.returncode}")
        return process, json.loads(first)

    def finish(self, process, timeout=30):
        """The last answer of a subcommand started with start()."""
        stdout, _ = process.communicate(timeout=timeout)
        return self.parse(["(started)"], process.returncode, stdout, "")

    # Named forms of the messages Kurvix's window understands; all but the last return
    # once the window has handled them.
    def tap_tray_icon(self):
        return self("send", CLASS_NAME, TRAY["WM_APP_TRAY"], TRAY["TRAY_ICON_ID"], WM_LBUTTONDOWN)

    def tap(self, x, y):
        return self("send", CLASS_NAME, WM_LBUTTONDOWN, 0, make_lparam(x, y))

    def key_down(self, vk):
        return self("send", CLASS_NAME, WM_KEYDOWN, vk, 1)

    def close(self, window_class=CLASS_NAME):
        return self("post", window_class, WM_CLOSE)


class Session:
    """A private Xvfb display and a Wine prefix on it (made when missing), with Wine's
    desktop kept open for at most hold_s seconds or until stop()."""

    def __init__(self, prefix_path, hold_s=600):
        self.prefix_path = Path(prefix_path)
        self.hold_s = hold_s
        self.xvfb = None
        self.prefix = None
        self.driver = None
        self.desktop = None

    def start(self, announce=print):
        try:
            self.xvfb = Xvfb().start()
            self.prefix = WinePrefix(self.prefix_path, self.xvfb.display)
            if not self.prefix.exists():
                announce(f"Preparing a Wine prefix in {self.prefix_path} (about 10 s) ...")
                self.prefix.create()
            self.driver = Driver(self.prefix)
            self.desktop, _ = self.driver.start("desktop", "--hold", self.hold_s * 1000)
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        if self.prefix is not None:
            self.prefix.stop_server()
        if self.desktop is not None:
            self.desktop.communicate(timeout=30)
        if self.xvfb is not None:
            self.xvfb.stop()


class Picture:
    """An RGB picture read through ImageMagick; pixel(x, y) gives (r, g, b)."""

    def __init__(self, path, crop=None):
        args = ["convert", str(path)]
        if crop is not None:
            left, top, width, height = crop
            args += ["-crop", f"{width}x{height}+{left}+{top}", "+repage"]
        data = subprocess.run(args + ["-depth", "8", "ppm:-"], check=True, timeout=30,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE).stdout
        # The header is four fields, each ended by one white-space byte; then the pixels.
        fields, position = [], 0
        while len(fields) < 4:
            end = position
            while end < len(data) and not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end + 1
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError(f"unexpected picture format from {path}")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[position:]

    def pixel(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self.pixels[offset:offset + 3])

    def region(self, left, top, right, bottom):
        """Pixels of left <= x < right, top <= y < bottom, row by row."""
        return [self.pixel(x, y) for y in range(top, bottom) for x in range(left, right)]

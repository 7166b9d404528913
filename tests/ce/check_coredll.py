#!/usr/bin/env python3
"""Checks that the device code calls only functions that Windows CE's coredll exports.

Usage: check_coredll.py WINDOWS_BUILD LINUX_BUILD [EXPORTS]

Three readings of the built code, each for what it shows best:

- The Windows build (mingw-w64, x86_64): the objects of kurvix.exe name every system
  function the device code calls as an import symbol (__imp_NAME), and every C library
  function it calls by its plain name.
- The Linux build: the device library is the device code compiled along platform.h's
  Windows CE path, against the simulated device. The functions it takes from the
  simulated device are the functions the Windows CE build calls.
- kurvix.exe's import table: what the desktop program takes from the system's DLLs. What
  its own objects do not call there belongs to the compiler's runtime (mingw-w64's
  start-up code and C library, msvcrt); a Windows CE toolchain links its own runtime, so
  those imports are listed apart and not held against coredll.

Each function the Windows CE path calls must be exported by coredll under its Windows CE
name. The desktop objects must call exactly the same system functions, apart from those
named desktop-only below, which the Windows CE path must not call.
"""
import collections
import pathlib
import re
import subprocess
import sys

# Desktop name -> Windows CE name, where Windows CE exports a function under another name.
# The shell functions take only wide text on Windows CE and carry no W.
CE_NAMES = {
    "ShellExecuteExW": "ShellExecuteEx",
    "Shell_NotifyIconW": "Shell_NotifyIcon",
}

# Called by the desktop build only, each with its reason. The desktop's narrower font needs no
# entry: it is selected with GetStockObject and SelectObject, which the Windows CE path calls
# too (the class brush, the pens); its DEFAULT_GUI_FONT is a constant, not an export, and the
# simulated device does not even define it, so the Windows CE path cannot refer to it.
DESKTOP_ONLY = {
    "malloc": "platform/mingw/memory.cpp serves the device code's nothrow new from the C "
              "runtime in the mingw-w64 build, so that no exception runtime is linked; a "
              "Windows CE toolchain's own runtime provides new and delete",
    "free": "platform/mingw/memory.cpp's delete, as malloc",
}

DEVICE_FOLDERS = ("config", "engine", "shell", "platform")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


NM_LINE = re.compile(r"^(.*?):\s*(?:[0-9a-f]+\s+)?[A-Za-z?-]\s+(\S+)$")


def symbols(tool, files, kind):
    """{symbol: {file, ...}} of the undefined ('-u') or defined ('--defined-only') symbols;
    an archive's member is named as "archive:member"."""
    found = collections.defaultdict(set)
    for line in run(tool, "-A", kind, *map(str, files)).splitlines():
        if m := NM_LINE.match(line):
            found[m.group(2)].add(m.group(1))
    return found


def desktop_calls(windows_build):
    """System and C library functions the desktop objects call: {name: [object, ...]}."""
    root = pathlib.Path(windows_build, "CMakeFiles", "kurvix.dir")
    objects = sorted(o for folder in DEVICE_FOLDERS for o in (root / folder).glob("*.obj"))
    if not objects:
        sys.exit(f"no objects of kurvix.exe under {root}: build the Windows program first")
    tool = "x86_64-w64-mingw32-nm"
    defined = symbols(tool, objects, "--defined-only")
    calls, runtime = {}, set()
    for symbol, users in symbols(tool, objects, "-u").items():
        if symbol in defined:
            continue
        users = sorted(str(pathlib.Path(u).relative_to(root)).removesuffix(".obj") for u in users)
        if symbol.startswith("__imp_"):
            calls[symbol.removeprefix("__imp_")] = users
        elif symbol.startswith("_Z"):
            runtime.add(symbol)  # the C++ runtime: std::nothrow, operator new and delete
        else:
            calls[symbol] = users
    return calls, runtime


def ce_path_calls(linux_build):
    """Functions the device library of the Linux build takes from the simulated device."""
    device = pathlib.Path(linux_build, "libkurvix_device.a")
    sim = pathlib.Path(linux_build, "libkurvix_sim.a")
    for library in (device, sim):
        if not library.exists():
            sys.exit(f"{library} is missing: build the Linux program first")
    provided = symbols("nm", [sim], "--defined-only")
    needed = symbols("nm", [device], "-u")
    inside = symbols("nm", [device], "--defined-only")
    names = run("c++filt", *provided.keys()).splitlines()
    demangled = dict(zip(provided.keys(), names))
    calls = {}
    for symbol, users in needed.items():
        if symbol in provided and symbol not in inside:
            calls[re.sub(r"\(.*", "", demangled[symbol])] = sorted(
                u.rsplit(":", 1)[-1].removesuffix(".o") for u in users)
    return calls


def imports(exe):
    """{dll: [function, ...]} from the import table of a PE file."""
    table, dll = collections.defaultdict(list), None
    for line in run("x86_64-w64-mingw32-objdump", "-p", str(exe)).splitlines():
        if m := re.match(r"\s*DLL Name: (\S+)", line):
            dll = m.group(1).upper()
        elif dll and (m := re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)$", line)):
            table[dll].append(m.group(1))
        elif not line.strip():
            dll = None
    return table


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.split("\n\n")[1])
    windows_build, linux_build = sys.argv[1], sys.argv[2]
    exports_file = sys.argv[3] if len(sys.argv) == 4 else (
        pathlib.Path(__file__).resolve().parents[2] / "ce" / "coredll-exports.txt")
    exports = {line.strip() for line in open(exports_file)
               if line.strip() and not line.startswith("#")}

    desktop, language_runtime = desktop_calls(windows_build)
    ce = ce_path_calls(linux_build)
    table = imports(pathlib.Path(windows_build, "kurvix.exe"))
    problems = []

    if not ce:
        problems.append("the Windows CE path calls no function of the simulated device: "
                        "the Linux build's libraries were not read right")
    for name in sorted(ce):
        ce_name = CE_NAMES.get(name, name)
        shown = name if ce_name == name else f"{name} (on Windows CE: {ce_name})"
        if ce_name in exports:
            print(f"  coredll exports {shown}")
        else:
            problems.append(f"coredll does not export {shown}, called by "
                            f"{', '.join(ce[name])}")

    for name in sorted(set(desktop) - set(ce)):
        if name in DESKTOP_ONLY:
            print(f"  desktop only: {name}, in {', '.join(desktop[name])}: {DESKTOP_ONLY[name]}")
        else:
            problems.append(f"{name} is called by the desktop build ({', '.join(desktop[name])}) "
                            "but not along the Windows CE path: name it desktop-only with its "
                            "reason, or call it on both")
    for name in sorted(set(DESKTOP_ONLY) & set(ce)):
        problems.append(f"{name} is desktop-only but the Windows CE path calls it, in "
                        f"{', '.join(ce[name])}")
    for name in sorted(set(ce) - set(desktop)):
        problems.append(f"{name} is called along the Windows CE path ({', '.join(ce[name])}) "
                        "but not by the desktop build, so the two builds differ unnoticed")

    imported = {name for names in table.values() for name in names}
    for name in sorted(set(desktop) - imported):
        problems.append(f"{name} is called by {', '.join(desktop[name])} but kurvix.exe does "
                        "not import it: the objects read are not the program's")
    if language_runtime:
        names = run("x86_64-w64-mingw32-c++filt", *sorted(language_runtime)).split("\n")
        print(f"  C++ runtime, each toolchain's own: {', '.join(filter(None, names))}")
    for dll, names in sorted(table.items()):
        runtime = sorted(set(names) - set(desktop))
        if runtime:
            lacking = [n for n in runtime if CE_NAMES.get(n, n) not in exports]
            print(f"  compiler runtime, not the device code's: {dll}: {' '.join(runtime)}"
                  + (f" (coredll lacks {' '.join(lacking)})" if lacking else ""))

    if problems:
        print("FAILED:")
        for problem in problems:
            print(f"  {problem}")
        return 1
    print(f"ok: {len(ce)} functions of the Windows CE path, all exported by coredll")
    return 0


if __name__ == "__main__":
    sys.exit(main())

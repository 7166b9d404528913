#!/usr/bin/env python3
"""Makes the installation cabs for Windows CE devices: kurvix.cab (starts Kurvix from
\\Windows\\StartUp) and kurvix-registry.cab (starts it from HKLM\\Init), as kurvix_setup.py
describes them.

    packaging/make_cab.py --exe build-ce/kurvix.exe --ini examples/Kurvix.ini \\
        --out-dir build-ce [--install-dir '\\Speicher\\Kurvix'] [--extra Nacht.ini ...] \\
        [--launch 90] [--kurvix-check build/kurvix-check] [--ignore-findings]

The configuration files (Kurvix.ini and every --extra file, installed under its own name)
are checked together with kurvix-check, as they will lie in the install folder, before
anything is packed: errors or warnings stop it unless --ignore-findings says to pack anyway.

The cabs are written by packaging/device_cab.js (run with node), the writer the companion
page carries too, so the page and this script make the same bytes.

A failed run leaves the cabs in --out-dir as they were: both are made in a temporary folder
there and renamed into place only when both are complete.
"""

import argparse
import base64
import json
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import kurvix_setup as setup

ROOT = Path(__file__).resolve().parents[1]
WRITER = Path(__file__).resolve().parent / "device_cab.js"
PE_MACHINE_ARM = 0x01C0
# Where ./test.sh and docs/building.md build kurvix-check.
BUILT_CHECK = ROOT / "build" / "kurvix-check"


def check_program(path):
    try:
        data = path.read_bytes()
    except OSError as error:
        raise ValueError(f"cannot read the program {path}: {error.strerror}") from None
    pe = struct.unpack_from("<I", data, 0x3C)[0] if len(data) >= 0x40 and data[:2] == b"MZ" else 0
    if pe == 0 or len(data) < pe + 6 or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is not a Windows program (no PE header)")
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    if machine != PE_MACHINE_ARM:
        raise ValueError(f"{path} is a program for machine 0x{machine:X}, not for Windows CE "
                         f"on ARM (0x{PE_MACHINE_ARM:X}): give the device build, "
                         f"build-ce/kurvix.exe (ce/build-ce.sh makes it)")


def read_configuration(path):
    try:
        return path.read_bytes()
    except OSError as error:
        raise ValueError(f"cannot read the configuration {path}: {error.strerror}") from None


def find_tool(name, package):
    """name's path; installs Debian's package when it is missing."""
    if shutil.which(name) is None:
        subprocess.run(["bash", "-c", 'source "$1" && ensure_packages "$2"', "bash",
                        str(ROOT / "scripts" / "packages.sh"), package], check=False)
    found = shutil.which(name)
    if found is None:
        raise ValueError(f"{name} is missing and could not be installed: "
                         f"sudo apt-get install {package}")
    return found


def find_check(given):
    if given is not None:
        if not given.is_file():
            raise ValueError(f"kurvix-check is not at {given}")
        return str(given)
    found = str(BUILT_CHECK) if BUILT_CHECK.is_file() else shutil.which("kurvix-check")
    if found is None:
        raise ValueError("kurvix-check checks the configuration before it is packed, and it is "
                         "not built: cmake -S . -B build && cmake --build build --target "
                         "kurvix-check (or give --kurvix-check PATH)")
    return found


def findings(report):
    """The errors and warnings of one file's kurvix-check --json report and of the files its
    NewIni bindings name, as "file:line: grade: text" lines."""
    found = []
    if report.get("result", 0) != 0:
        found.append(f"{report.get('file')}: error: the device does not load it")
    for item in report.get("messages", []) + report.get("hints", []):
        if item.get("severity") in ("error", "warning"):
            where = f"{report.get('file')}:{item['line']}" if "line" in item else report.get("file")
            # A device message: its box's caption and text, and what they mean.
            said = (f"{item['caption']} {item['text']} ({item['explanation']})"
                    if "caption" in item else item["text"])
            found.append(f"{where}: {item['severity']}: {said}")
    for named in report.get("newIniFiles", []):
        found += findings(named)
    return found


def check_configurations(check, configurations, ignore_findings):
    """Runs kurvix-check on Kurvix.ini as it will lie in the install folder, beside the other
    files, so that a NewIni naming one of them finds it. Raises ValueError on findings."""
    with tempfile.TemporaryDirectory(prefix="kurvix-check-") as folder:
        for name, data in configurations:
            (Path(folder) / name).write_bytes(data)
        main_file = Path(folder) / configurations[0][0]
        done = subprocess.run([check, "--json", str(main_file)], capture_output=True, text=True)
        try:
            report = json.loads(done.stdout)
        except ValueError:
            raise ValueError(f"kurvix-check could not check the configuration: "
                             f"{done.stderr.strip()}") from None
    found = [line.replace(str(Path(folder)) + "/", "") for line in findings(report)]
    if found and not ignore_findings:
        raise ValueError("the configuration has errors or warnings, so it is not packed "
                         "(--ignore-findings packs it anyway):\n  " + "\n  ".join(found))
    return found


def write_cab(node, variant, files, install_dir, launch):
    """The bytes of variant's cab, from device_cab.js."""
    request = {"installation": setup.description(),
               "files": [[name, base64.b64encode(data).decode("ascii")] for name, data in files],
               "options": {"installDir": install_dir, "launch": launch}}
    done = subprocess.run([node, str(WRITER), variant.name], input=json.dumps(request).encode(),
                          capture_output=True)
    if done.returncode != 0:
        raise ValueError(f"could not write {variant.cab}: "
                         f"{done.stderr.decode('utf-8', 'replace').strip()}")
    return done.stdout


def make_cabs(exe, ini, out_dir, install_dir, extras=(), launch=None, check=None,
              ignore_findings=False):
    """Writes both cabs into out_dir; returns their paths and the findings packed anyway.
    Raises ValueError."""
    check_program(exe)
    configurations = [(setup.CONFIGURATION, read_configuration(ini))]
    configurations += [(path.name, read_configuration(path)) for path in extras]
    files = [(setup.PROGRAM, exe.read_bytes())] + configurations
    # The writer refuses what a cab cannot hold before kurvix-check looks at the contents.
    node = find_tool("node", "nodejs")
    cabs = [(variant, write_cab(node, variant, files, install_dir, launch))
            for variant in setup.VARIANTS]
    found = check_configurations(find_check(check), configurations, ignore_findings)
    out_dir.mkdir(parents=True, exist_ok=True)
    made = []
    with tempfile.TemporaryDirectory(prefix=".cab-", dir=out_dir) as temporary:
        for variant, data in cabs:
            (Path(temporary) / variant.cab).write_bytes(data)
        for variant, _ in cabs:
            (Path(temporary) / variant.cab).replace(out_dir / variant.cab)
            made.append(out_dir / variant.cab)
    return made, found


def main(argv):
    parser = argparse.ArgumentParser(
        description="Make the Windows CE installation cabs of Kurvix.",
        epilog="kurvix.cab starts Kurvix from \\Windows\\StartUp, kurvix-registry.cab from "
               "HKEY_LOCAL_MACHINE\\Init.")
    parser.add_argument("--exe", type=Path, required=True, help="the device build of kurvix.exe")
    parser.add_argument("--ini", type=Path, required=True,
                        help="the configuration to install as Kurvix.ini (kept if one is there)")
    parser.add_argument("--out-dir", type=Path, required=True, help="where the cabs go")
    parser.add_argument("--install-dir", default=setup.DEFAULT_INSTALL_DIR,
                        help="the folder on the device, on persistent storage "
                             "(default: %(default)s)")
    parser.add_argument("--extra", type=Path, action="append", default=[], metavar="FILE",
                        help="a further configuration file (one a NewIni names), installed "
                             "under its own name beside Kurvix.ini (kept if one is there)")
    parser.add_argument("--launch", type=int, default=setup.DEFAULT_LAUNCH, metavar="N",
                        help="kurvix-registry.cab starts Kurvix as HKLM\\Init LaunchN, "
                             f"a free number from {setup.LAUNCH_RANGE[0]} to "
                             f"{setup.LAUNCH_RANGE[1]} (default: %(default)s)")
    parser.add_argument("--kurvix-check", type=Path, metavar="PATH",
                        help="the kurvix-check that checks the configuration "
                             "(default: build/kurvix-check, else the one on the PATH)")
    parser.add_argument("--ignore-findings", action="store_true",
                        help="pack a configuration that has errors or warnings")
    args = parser.parse_args(argv)
    try:
        made, found = make_cabs(args.exe, args.ini, args.out_dir, args.install_dir,
                                args.extra, args.launch, args.kurvix_check, args.ignore_findings)
    except (ValueError, OSError) as error:
        print(f"make_cab: {error}", file=sys.stderr)
        return 1
    for line in found:
        print(f"make_cab: packed although kurvix-check found: {line}", file=sys.stderr)
    for cab in made:
        print(f"{cab}: {cab.stat().st_size} bytes, installs into {args.install_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

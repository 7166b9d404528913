#!/usr/bin/env python3
"""Writes the CAB Wizard information files (kurvix.inf, kurvix-registry.inf) from the
installation's one description, kurvix_setup.py. The files are committed; a test checks
that they equal what this script writes, so change kurvix_setup.py and run:

    python3 packaging/make_inf.py            (writes packaging/*.inf)
"""

import sys
from pathlib import Path

import kurvix_setup as setup

HERE = Path(__file__).resolve().parent


def inf_text(variant, install_dir=setup.DEFAULT_INSTALL_DIR):
    boot = "\n; ".join(variant.boot)
    lines = [
        "; Kurvix for Windows CE: the information file for the SDK's CAB Wizard (cabwiz.exe).",
        "; Made by packaging/make_inf.py from packaging/kurvix_setup.py: change that, not this.",
        "; Put kurvix.exe (the device build) and the Kurvix.ini for the devices beside this file,",
        f"; then:   cabwiz {variant.inf} /cpu ARMV4",
        ";",
        "; Installing the cab puts kurvix.exe into the install folder and",
        f"; {boot}",
        "; Kurvix.ini is copied only when the install folder has none: an update of the program",
        "; keeps the configuration on the device. To replace the configuration, copy the new",
        "; Kurvix.ini over the old one.",
        ";",
        "; InstallDir is on persistent storage: a cold boot of many Windows CE 4.2 devices wipes",
        "; the RAM object store, including \\Program Files. Set it to the device's flash folder.",
        "",
        "[Version]",
        'Signature   = "$Windows NT$"',
        f'Provider    = "{setup.PROVIDER}"',
        'CESignature = "$Windows CE$"',
        "",
        "[CEStrings]",
        f'AppName     = "{setup.APP_NAME}"',
        f"InstallDir  = {install_dir}",
        "",
        "[CEDevice]",
        "VersionMin  = %d.%02d" % setup.MIN_CE_VERSION,
        f"BuildMax    = 0x{setup.BUILD_BOUNDS[1]:08X}",
        "",
        "[DefaultInstall]",
        "CopyFiles   = " + ", ".join(f.section for f in setup.FILES),
    ]
    if variant.shortcut:
        lines.append("CEShortcuts = Shortcuts.StartUp")
    if variant.registry:
        lines.append("AddReg      = Registry.Launch")
    lines += ["", "[SourceDisksNames]", '1 = , "Kurvix", , .', "", "[SourceDisksFiles]"]
    lines += [f"{f.name} = 1" for f in setup.FILES]
    lines += ["", "[DestinationDirs]"]
    width = max(len(f.section) for f in setup.FILES) + 1
    lines += [f"{f.section:<{width}}= 0, %InstallDir%" for f in setup.FILES]
    if variant.shortcut:
        lines.append(f"{'Shortcuts.StartUp':<{width}}= 0, %CE{setup.STARTUP_FOLDER}%")
    for f in setup.FILES:
        lines += ["", f"; 0x{f.flags:08X} ({f.flag_name}): {f.why}.", f"[{f.section}]", f"{f.name}, , , 0x{f.flags:08X}"]
    if variant.shortcut:
        lines += ["", "; %CE4% is \\Windows\\StartUp: the shell starts what it finds there once it is",
                  "; running, so the tray icon has its notification area.",
                  "[Shortcuts.StartUp]", f"{setup.SHORTCUT_NAME}, 0, {setup.PROGRAM}"]
    if variant.registry:
        lines += ["", "; Launch50 is the shell: Depend90 (the word 50) starts Kurvix after it.",
                  "; 0x00000002 (FLG_ADDREG_NOCLOBBER): a device's own Launch90 is kept; where",
                  "; a device uses 90, take a free number from 51 to 99 in both names.",
                  "[Registry.Launch]"]
        for value in variant.registry:
            if value.type == setup.REG_TYPE_BINARY:
                data = ",".join(f"{byte:02X}" for byte in value.data)
            else:
                data = value.data
            lines.append(f"HKLM,{value.key},{value.name},0x{value.type | value.flags:08X},{data}")
    return "\n".join(lines) + "\n"


def main():
    for variant in setup.VARIANTS:
        (HERE / variant.inf).write_text(inf_text(variant), encoding="ascii")
    return 0


if __name__ == "__main__":
    sys.exit(main())

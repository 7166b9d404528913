"""What installing Kurvix on a device does, said once.

Both installation cabs (make_cab.py and the companion page, through the one cab writer
device_cab.js, which reads this description as `kurvix_setup.py --json` prints it) and the
CAB Wizard files kurvix.inf and kurvix-registry.inf (make_inf.py) are made from this
description, so the Debian route, the page and the Visual Studio route install the same
files, with the same flags, into the same folder.

Two ways to start at boot, one cab each:
- "startup": a shortcut in \\Windows\\StartUp (%CE4%); the shell starts it once it runs.
- "registry": HKLM\\Init LaunchN = the program, DependN = 50 (after the shell, Launch50),
  N 90 unless the administrator picks another free number from 51 to 99. For devices whose
  cold boot wipes \\Windows\\StartUp but keeps the registry.

Further configuration files (a night file that a NewIni names) travel beside Kurvix.ini with
its flags: none of them replaces a file already on the device.

The install folder is a build setting. Its default is on persistent storage: a cold boot of
many Windows CE 4.2 devices wipes the RAM object store, and with it \\Program Files.
"""

import json
import sys
from collections import namedtuple

APP_NAME = "Kurvix"
PROVIDER = "Kurvix"

# \Speicher is where German handhelds mount their flash store; other makers name it
# differently (\Flash File Store, \Built-in Storage, \IPSM): give that folder at build time.
DEFAULT_INSTALL_DIR = "\\Speicher\\Kurvix"

PROGRAM = "kurvix.exe"
CONFIGURATION = "Kurvix.ini"

# The processor a cab is meant for. 0 is "any": the program is plain ARMv4 code, which
# StrongARM, ARM920 and XScale devices all run, while each of them reports its own
# processor number, and a cab marked for one is refused by the others.
PROCESSOR_ANY = 0

# Windows CE 4.2 is version 4.20; the program's header asks for it too. No upper version
# (0.0: not checked), so later Windows CE and Windows Mobile versions install it too.
MIN_CE_VERSION = (4, 20)
MAX_CE_VERSION = (0, 0)
# The highest build number field carries, from Windows Mobile 2003 Second Edition on, what the
# program copes with: 0xE0000000 says square screens and screen rotation (CAB Wizard's
# [CEDevice] BuildMax). Without it those versions warn that the program "was designed for a
# previous version" and may not show properly; the status window places itself in the work
# area of any screen. The lowest build: 0, not checked.
BUILD_BOUNDS = (0, 0xE0000000)

# File copy flags (CopyFiles in an information file, the file flags in a cab).
CE_COPYFLG_NODATECHECK = 0x40000000   # replace the file whatever its date
COPYFLG_NOSKIP = 0x00000002           # a file that cannot be copied cannot be skipped
COPYFLG_NO_OVERWRITE = 0x00000010     # never replace an existing file

# Registry value types (AddReg in an information file, the value flags in a cab).
REG_TYPE_SZ = 0x00000000
REG_TYPE_BINARY = 0x00000001
REG_NOCLOBBER = 0x00000002            # an existing value is kept

InstalledFile = namedtuple("InstalledFile", "name flags flag_name section why")
FILES = (
    InstalledFile(PROGRAM, CE_COPYFLG_NODATECHECK | COPYFLG_NOSKIP,
                  "CE_COPYFLG_NODATECHECK | COPYFLG_NOSKIP", "Files.Program",
                  "an update replaces the program whatever its date;\n"
                  "; while the old one runs, the installer says it cannot, instead of skipping it"),
    InstalledFile(CONFIGURATION, COPYFLG_NO_OVERWRITE, "COPYFLG_NO_OVERWRITE",
                  "Files.Configuration",
                  "an existing configuration is never replaced"),
)

# %CE4% is \Windows\StartUp.
STARTUP_FOLDER = 4
SHORTCUT_NAME = APP_NAME

# A value of a registry key under HKEY_LOCAL_MACHINE; %InstallDir% in text stands for the
# folder the program is installed into. The launch values never replace existing ones: a
# device that already starts one of its own programs as number 90 keeps it, so the
# administrator picks a number that is free on the fleet's devices.
RegistryValue = namedtuple("RegistryValue", "key name type flags data")
INSTALL_DIR_VARIABLE = "%InstallDir%"
LAUNCH_KEY = "Init"
DEFAULT_LAUNCH = 90
# Launch50 is the shell: the tray icon needs its notification area. Init starts LaunchN in
# the order of N, so Kurvix's number comes after the shell's as its DependN waits for it.
SHELL_LAUNCH = 50
LAUNCH_RANGE = (51, 99)
LAUNCH_VALUES = (
    RegistryValue(LAUNCH_KEY, f"Launch{DEFAULT_LAUNCH}", REG_TYPE_SZ, REG_NOCLOBBER,
                  INSTALL_DIR_VARIABLE + "\\" + PROGRAM),
    RegistryValue(LAUNCH_KEY, f"Depend{DEFAULT_LAUNCH}", REG_TYPE_BINARY, REG_NOCLOBBER,
                  SHELL_LAUNCH.to_bytes(2, "little")),
)

Variant = namedtuple("Variant", "name cab inf shortcut registry boot")
VARIANTS = (
    Variant("startup", "kurvix.cab", "kurvix.inf", True, (),
            ("a shortcut to it into \\Windows\\StartUp, so Kurvix starts at every boot.",)),
    Variant("registry", "kurvix-registry.cab", "kurvix-registry.inf", False, LAUNCH_VALUES,
            ("HKEY_LOCAL_MACHINE\\Init values that start it at every boot after the shell",
             "(Launch90 and Depend90), for devices whose cold boot wipes \\Windows\\StartUp",
             "but keeps the registry.")),
)

MAX_PATH = 260
FORBIDDEN_IN_NAMES = '<>:"/|?*%'


def description():
    """What device_cab.js needs to know, as JSON-ready data."""
    configuration = FILES[[f.name for f in FILES].index(CONFIGURATION)]
    program = FILES[[f.name for f in FILES].index(PROGRAM)]
    return {
        "appName": APP_NAME, "provider": PROVIDER, "processor": PROCESSOR_ANY,
        "minVersion": MIN_CE_VERSION, "maxVersion": MAX_CE_VERSION, "buildBounds": BUILD_BOUNDS,
        "defaultInstallDir": DEFAULT_INSTALL_DIR,
        "program": {"name": program.name, "flags": program.flags},
        "configuration": {"name": configuration.name, "flags": configuration.flags},
        "startupFolder": STARTUP_FOLDER, "shortcutName": SHORTCUT_NAME,
        "launch": {"key": LAUNCH_KEY, "default": DEFAULT_LAUNCH, "least": LAUNCH_RANGE[0],
                   "most": LAUNCH_RANGE[1], "shell": SHELL_LAUNCH, "flags": REG_NOCLOBBER},
        "variants": [{"name": v.name, "cab": v.cab, "shortcut": v.shortcut,
                      "registry": bool(v.registry)} for v in VARIANTS],
        "maxPath": MAX_PATH, "forbiddenInNames": FORBIDDEN_IN_NAMES,
    }


if __name__ == "__main__":
    if sys.argv[1:] != ["--json"]:
        sys.exit("usage: kurvix_setup.py --json   (prints the description device_cab.js reads)")
    print(json.dumps(description()))

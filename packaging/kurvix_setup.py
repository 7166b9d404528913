"""What installing Kurvix on a device does, said once.

Both installation cabs (make_cab.py) and the CAB Wizard files kurvix.inf and
kurvix-registry.inf (make_inf.py) are made from this description, so the Debian route and
the Visual Studio route install the same files, with the same flags, into the same folder.

Two ways to start at boot, one cab each:
- "startup": a shortcut in \\Windows\\StartUp (%CE4%); the shell starts it once it runs.
- "registry": HKLM\\Init Launch90 = the program, Depend90 = 50 (after the shell, Launch50).
  For devices whose cold boot wipes \\Windows\\StartUp but keeps the registry.

The install folder is a build setting. Its default is on persistent storage: a cold boot of
many Windows CE 4.2 devices wipes the RAM object store, and with it \\Program Files.
"""

import re
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

# Windows CE 4.2 is version 4.20; the program's header asks for it too. No upper bound.
MIN_CE_VERSION = (4, 20)

# File copy flags (CopyFiles in an information file, the file flags in a cab).
CE_COPYFLG_NODATECHECK = 0x40000000   # replace the file whatever its date
COPYFLG_NO_OVERWRITE = 0x00000010     # never replace an existing file

# Registry value types (AddReg in an information file, the value flags in a cab).
REG_TYPE_SZ = 0x00000000
REG_TYPE_BINARY = 0x00000001
REG_NOCLOBBER = 0x00000002            # an existing value is kept

InstalledFile = namedtuple("InstalledFile", "name flags flag_name section why")
FILES = (
    InstalledFile(PROGRAM, CE_COPYFLG_NODATECHECK, "CE_COPYFLG_NODATECHECK", "Files.Program",
                  "an update replaces the program whatever its date"),
    InstalledFile(CONFIGURATION, COPYFLG_NO_OVERWRITE, "COPYFLG_NO_OVERWRITE",
                  "Files.Configuration",
                  "an existing configuration is never replaced"),
)

# %CE4% is \Windows\StartUp.
STARTUP_FOLDER = 4
SHORTCUT_NAME = APP_NAME

# A value of a registry key under HKEY_LOCAL_MACHINE; %InstallDir% in text stands for the
# folder the program is installed into. The launch values never replace existing ones: a
# device that already starts one of its own programs as number 90 keeps it.
RegistryValue = namedtuple("RegistryValue", "key name type flags data")
INSTALL_DIR_VARIABLE = "%InstallDir%"
LAUNCH_VALUES = (
    RegistryValue("Init", "Launch90", REG_TYPE_SZ, REG_NOCLOBBER,
                  INSTALL_DIR_VARIABLE + "\\" + PROGRAM),
    # Launch50 is the shell: the tray icon needs its notification area.
    RegistryValue("Init", "Depend90", REG_TYPE_BINARY, REG_NOCLOBBER, bytes([0x32, 0x00])),
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
STANDARD_FOLDER = re.compile(r"%CE([1-9]|1[0-7])%$")
FORBIDDEN_IN_NAMES = set('<>:"/|?*%')


def install_dir_parts(install_dir):
    """The parts of install_dir that a cab joins with backslashes: for an absolute device
    path the folder names, the first with its leading backslash (\\Speicher, Kurvix); for
    one in a standard folder "%CEn%" and the folder names (%CE1%, Kurvix). Raises
    ValueError saying what a cab cannot hold."""
    path = install_dir[:-1] if install_dir.endswith("\\") and len(install_dir) > 1 else install_dir
    if path.startswith("\\\\"):
        raise ValueError(f"a network path cannot be an install folder: {install_dir}")
    if path.startswith("\\"):
        parts = path[1:].split("\\")
        first = 0
    elif STANDARD_FOLDER.match(path.split("\\")[0]):
        parts = path.split("\\")
        first = 1
    else:
        raise ValueError(f"the install folder must be an absolute device path such as "
                         f"\\Speicher\\Kurvix (or %CE1%\\Kurvix): {install_dir!r}")
    if parts == [""]:
        raise ValueError("the install folder cannot be the root folder: name a folder, "
                         "such as \\Speicher\\Kurvix")
    for part in parts[first:]:
        bad = sorted(set(part) & FORBIDDEN_IN_NAMES) + [c for c in part if not " " <= c <= "~"]
        if not part or part in (".", "..") or part.endswith((" ", ".")):
            raise ValueError(f"the install folder has an empty or invalid folder name "
                             f"({part!r}): {install_dir!r}")
        if bad:
            raise ValueError(f"a cab holds folder names in plain ASCII without "
                             f"{''.join(sorted(FORBIDDEN_IN_NAMES))}; {bad[0]!r} in "
                             f"{install_dir!r} cannot be installed")
    longest = max(len(f.name) for f in FILES)
    if len(path) + 1 + longest >= MAX_PATH:
        raise ValueError(f"the install folder is too long for Windows CE: the path of a "
                         f"file in it must stay under {MAX_PATH} characters: {install_dir!r}")
    return parts if first else ["\\" + parts[0]] + parts[1:]


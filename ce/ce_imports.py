#!/usr/bin/env python3
"""Writes the .def file of the coredll functions that the Windows CE program's objects call.

    ce_imports.py NM EXPORTS OBJECT...

Every symbol that an object uses and no object defines must be one that coredll exports
(EXPORTS lists them, one a line); a symbol that is not is named with the objects that use
it, and nothing is written, since the link would fail or, worse, bind to nothing on the
device.
"""
import subprocess
import sys


def symbols(nm, obj):
    """The (defined, undefined) symbol names of one object."""
    listing = subprocess.run([nm, "-P", obj], check=True, capture_output=True, text=True).stdout
    defined, undefined = set(), set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) >= 2:
            (undefined if fields[1] == "U" else defined).add(fields[0])
    return defined, undefined


def main(argv):
    if len(argv) < 4:
        print("usage: ce_imports.py NM EXPORTS OBJECT...", file=sys.stderr)
        return 2
    nm, exports_file, objects = argv[1], argv[2], argv[3:]
    with open(exports_file, encoding="utf-8") as file:
        exports = {line.strip() for line in file if line.strip() and not line.startswith("#")}
    defined, users = set(), {}
    for obj in objects:
        obj_defined, obj_undefined = symbols(nm, obj)
        defined |= obj_defined
        for name in obj_undefined:
            users.setdefault(name, []).append(obj)
    imports = sorted(name for name in users if name not in defined)
    missing = [name for name in imports if name not in exports]
    for name in missing:
        print("coredll does not export %s, used by %s" % (name, ", ".join(users[name])),
              file=sys.stderr)
    if missing:
        return 1
    print("LIBRARY COREDLL.dll\nEXPORTS")
    for name in imports:
        print("  " + name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

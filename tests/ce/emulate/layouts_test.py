"""The coredll model against the device program's declarations: every structure the model
reads or writes (coredll_model.STRUCTURES) has, in platform/wince/coredll.h compiled as the
device build compiles it, each field at the model's offset and the model's size; every
constant the model shares with the declarations has their value.

    /usr/bin/python3 -m unittest tests/ce/emulate/layouts_test.py
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "ce", "emulator"))
import coredll_model  # noqa: E402

CXX = "arm-linux-gnueabi-g++"
HEADERS = ("platform/wince/coredll.h", "platform/wince/winapi.h", "sim/winapi.h")


def layout_failures(structures):
    """What the device build's compiler says of the structures' fields, offsets and sizes."""
    lines = ['#include "platform/platform.h"']
    for name, (fields, size) in structures.items():
        lines.append(f'static_assert(sizeof({name}) == {size}, "{name} is not {size} bytes");')
        for index, field in enumerate(fields):
            lines.append(f'static_assert(offsetof({name}, {field}) == {4 * index}, '
                         f'"{name}.{field} is not at {4 * index}");')
    include = subprocess.run([CXX, "-print-file-name=include"], capture_output=True, text=True,
                             check=True).stdout.strip()
    with tempfile.NamedTemporaryFile("w", suffix=".cpp") as source:
        source.write("\n".join(lines) + "\n")
        source.flush()
        # As ce/build-ce.mk compiles the device code: 16-bit wchar_t, no Linux headers.
        result = subprocess.run(
            [CXX, "-std=c++11", "-marm", "-fshort-wchar", "-fsigned-char", "-nostdinc",
             "-isystem", include, "-I", ROOT, "-DKURVIX_CE_OWN_DECLARATIONS", "-fsyntax-only",
             source.name], capture_output=True, text=True)
    return sorted(set(re.findall(r'static assertion failed: (.*)', result.stderr))) or (
        [result.stderr] if result.returncode else [])


def declared_numbers():
    """Every constant the headers define as a plain number."""
    numbers = {}
    for header in HEADERS:
        with open(os.path.join(ROOT, header), encoding="utf-8") as text:
            for name, value in re.findall(r"^#define (\w+) (0x[0-9A-Fa-f]+|\d+)[uL]*$",
                                          text.read(), re.MULTILINE):
                numbers[name] = int(value, 0)
    return numbers


class LayoutsTest(unittest.TestCase):
    def test_the_models_structures_are_the_declarations(self):
        self.assertEqual(layout_failures(coredll_model.STRUCTURES), [])

    def test_a_model_that_differs_is_named(self):
        fields, size = coredll_model.STRUCTURES["MSG"]
        swapped = fields[:2] + (fields[3], fields[2]) + fields[4:]
        self.assertEqual(layout_failures({"MSG": (swapped, size + 4)}),
                         ['MSG is not 32 bytes', 'MSG.lParam is not at 8',
                          'MSG.wParam is not at 12'])

    def test_the_models_constants_are_the_declarations(self):
        numbers = declared_numbers()
        shared = {name: getattr(coredll_model, name) for name in numbers
                  if isinstance(getattr(coredll_model, name, None), int)}
        self.assertGreaterEqual(len(shared), 30, sorted(shared))
        self.assertEqual({name: hex(value) for name, value in shared.items()},
                         {name: hex(numbers[name]) for name in shared})


if __name__ == "__main__":
    unittest.main()

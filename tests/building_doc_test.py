"""docs/building.md's commands for building kurvix-check alone work as they stand.

The commands are read from the document's section and run with its build folder and home
folder moved into a temporary folder: the tool must install with its manual page, and the
build must be optimised although the commands name no build type."""

import os
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
DOCUMENT = os.path.join(ROOT, "docs", "building.md")
SECTION = "### kurvix-check alone"
BUILD_FOLDER = re.compile(r"(?<=\s)build(?=\s|$)")


def section_commands(markdown, heading):
    """The lines of the first ```sh block after heading."""
    rest = markdown[markdown.index(heading):]
    block = re.search(r"```sh\n(.*?)```", rest, re.S)
    return [line for line in block.group(1).splitlines() if line.strip()]


def moved(command, folder):
    """command with the build folder argument `build` in folder."""
    return BUILD_FOLDER.sub(os.path.join(folder, "build"), command)


class CommandsTest(unittest.TestCase):
    def test_build_folder_is_moved_and_nothing_else(self):
        self.assertEqual(moved("cmake -S . -B build -DX=1 && cmake --build build --target build-x", "/t"),
                         "cmake -S . -B /t/build -DX=1 && cmake --build /t/build --target build-x")
        self.assertEqual(moved("cmake --install build", "/t"), "cmake --install /t/build")

    def test_documented_commands_build_and_install(self):
        with open(DOCUMENT, encoding="utf-8") as document:
            commands = section_commands(document.read(), SECTION)
        self.assertTrue(any("--install" in command for command in commands), commands)
        with tempfile.TemporaryDirectory() as folder:
            environment = dict(os.environ, HOME=folder)
            for command in commands:
                run = subprocess.run(["bash", "-c", moved(command, folder)], cwd=ROOT, env=environment,
                                     capture_output=True, text=True)
                self.assertEqual(run.returncode, 0, f"{command}\n{run.stdout}\n{run.stderr}")
            tool = os.path.join(folder, ".local", "bin", "kurvix-check")
            version = subprocess.run([tool, "--version"], capture_output=True, text=True, check=True)
            self.assertTrue(version.stdout.startswith("kurvix-check (Kurvix) "), version.stdout)
            page = os.path.join(folder, ".local", "share", "man", "man1", "kurvix-check.1")
            with open(page, encoding="utf-8") as manual:
                self.assertIn("kurvix-check \\- check Kurvix configuration files", manual.read())
            flags = os.path.join(folder, "build", "CMakeFiles", "kurvix-check.dir", "flags.make")
            with open(flags, encoding="utf-8") as made:
                self.assertRegex(made.read(), r"CXX_FLAGS = .*-O2", "kurvix-check is built unoptimised")


if __name__ == "__main__":
    unittest.main()

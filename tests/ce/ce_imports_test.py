"""ce/ce_imports.py on the objects of build-ce/kurvix.exe: the import definition names
exactly the coredll functions the objects call, and a function that coredll lacks stops the
build with its name and its callers. Needs ce/build-ce.sh run first."""
import contextlib
import importlib.util
import io
import pathlib
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
NM = ROOT / "build-ce-toolchain" / "bin" / "arm-mingw32ce-nm"
EXPORTS = ROOT / "ce" / "coredll-exports.txt"
OBJECTS = sorted(str(path) for path in (ROOT / "build-ce" / "obj").rglob("*.o") if path.name != "kurvix.res.o")

_spec = importlib.util.spec_from_file_location("ce_imports", ROOT / "ce" / "ce_imports.py")
ce_imports = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(ce_imports)

# (what, names taken out of coredll's exports, what must be said)
LACKING = [
    ("a kernel function", ["GetTickCount"],
     "coredll does not export GetTickCount, used by %s" % (ROOT / "build-ce/obj/engine/key_binding.o")),
    ("the tray function", ["Shell_NotifyIcon"], "coredll does not export Shell_NotifyIcon, used by"),
    ("the allocator", ["malloc"], "coredll does not export malloc, used by"),
]


def run(exports):
    output, error = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(output), contextlib.redirect_stderr(error):
        code = ce_imports.main(["ce_imports.py", str(NM), str(exports)] + OBJECTS)
    return code, output.getvalue(), error.getvalue()


class ImportDefinition(unittest.TestCase):
    def test_names_the_called_functions_and_not_the_programs_own(self):
        self.assertTrue(OBJECTS, "no objects in build-ce/obj: run ce/build-ce.sh first")
        code, output, error = run(EXPORTS)
        self.assertEqual((code, error), (0, ""))
        names = output.split()
        self.assertEqual(names[:3], ["LIBRARY", "COREDLL.dll", "EXPORTS"])
        for called in ("ShellExecuteEx", "Shell_NotifyIcon", "GetAsyncKeyState", "keybd_event", "malloc"):
            self.assertIn(called, names)
        for own in ("WinMain", "__aeabi_uidiv", "_ZnwjRKSt9nothrow_t"):
            self.assertNotIn(own, names)

    def test_a_function_coredll_lacks_is_named_with_its_callers(self):
        lines = EXPORTS.read_text(encoding="utf-8").splitlines()
        with tempfile.TemporaryDirectory() as folder:
            for what, removed, expected in LACKING:
                with self.subTest(what):
                    reduced = pathlib.Path(folder) / "exports.txt"
                    reduced.write_text("\n".join(line for line in lines if line not in removed) + "\n")
                    code, output, error = run(reduced)
                    self.assertEqual((code, output), (1, ""))
                    self.assertIn(expected, error)


if __name__ == "__main__":
    unittest.main()

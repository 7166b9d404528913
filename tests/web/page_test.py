"""The configuration companion page, build-web/kurvix.html, in headless Chromium from the file
system: its JavaScript interface against the real kurvix-check, and the page used as a person
uses it (open, read, click, type, try presses, save, the keyboard, a narrow window).

Run with Debian's Python: /usr/bin/python3 -m unittest tests/web/page_test.py
(KURVIX_CHECK names the native kurvix-check, default build/kurvix-check).
"""
import base64
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

# The cab test's reader of the setup description, written apart from the cab writer.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "ce"))
from cab_reader import extract  # noqa: E402
# The page, the browser and the device's file format, shared with the page's benchmark.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
from page_browser import PAGE, ROOT, device_file, start_browser  # noqa: E402

from device_facts import ICONS, TEXTS  # noqa: E402

SCREENSHOT = ROOT / "build-web" / "page.png"
KURVIX_CHECK = pathlib.Path(os.environ.get("KURVIX_CHECK", ROOT / "build" / "kurvix-check"))

browser = None
scratch = None


def setUpModule():
    global browser, scratch
    for needed in (PAGE, KURVIX_CHECK):
        if not needed.exists():
            raise unittest.SkipTest(f"{needed} is missing: build it first")
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="kurvix-page-"))
    (scratch / "downloads").mkdir()
    browser = start_browser(scratch)


def tearDownModule():
    if browser is not None:
        browser.quit()
    if scratch is not None:
        shutil.rmtree(scratch, ignore_errors=True)


def generated_files():
    """Configurations that reach the reader's and the hints' corner cases."""
    long_command = "Command=" + "c" * 251  # 259 units: an extra empty line follows
    return {
        "only-mark.ini": b"\xff\xfe",
        "empty.ini": b"",
        "one-byte.ini": b"\xff",
        "big-endian.ini": b"\xfe\xff" + "KURVIX\r\nKeyCode=65\r\n".encode("utf-16-be"),
        "utf8.ini": "KURVIX\nKeyCode=65\nCommand=\\Programme\\Grüße.exe\n".encode(),
        "utf8-bom.ini": b"\xef\xbb\xbfKURVIX\r\nKeyCode=65\r\n",
        "no-mark.ini": "SETTINGS\r\nElapseTime=800\r\n".encode("utf-16-le"),
        "bad-lines.ini": device_file("KURVIX", "KeyCode=65", "Command=", "keycode=5", "", "foo \"x\"\\",
                                     "   ", "SETTINGS", "ElapseTime", "CheckIntervall=20", "Elapse=3"),
        "line-ends.ini": device_file("KURVIX", "KeyCode=193", "Command=a  ", "", "KURVIX", "KeyCode=194",
                                     "Disable=y", end="\n") + "\r\rKURVIX\rKeyCode=195\n\r".encode("utf-16-le"),
        "long-lines.ini": device_file("KURVIX", long_command, "; 4", "KURVIX", "KeyCode=1", "bad",
                                      "", "KURVIX", "Command=" + "d" * 300, "KeyCode=7", "x" * 258, "y"),
        "numbers.ini": device_file("KURVIX", "KeyCode=-1", "", "KURVIX", "KeyCode=4294967295", "",
                                   "KURVIX", "KeyCode=2147483648", "", "KURVIX", "KeyCode = 0x41", "",
                                   "KURVIX", "KeyCode\t=\t+5", "", "KURVIX", "KeyCodeX=65abc"),
        "values.ini": device_file("KURVIX", "KeyCode=5", "NewIni=a", "NewIni=ab", "Disable=",
                                  "Disable=yes", "Command= ", "NewIni=   ", "", "KURVIX",
                                  "KeyCode=5", "KeyCode 6"),
        "hints.ini": device_file("SETTINGS", "elapsetime=5", "", "kurvix", "", "KURVIX", "KeyCode=193",
                                 "", "KURVIX", "KeyCode=193", "command=x", "", "KURVIX",
                                 "NewIni=\\Speicher\\hints.ini"),
        "surrogates.ini": b"\xff\xfe" + "KURVIX\r\nCommand=a\r\nNewIni=".encode("utf-16-le") + b"\x00\xd8b\x00",
        "umlauts.ini": device_file("KURVIX Kalender", "KeyCode=193", "Command=\\Programme\\Übersicht.exe",
                                   "", "KURVIX", "KeyCode=195", "NewIni=\\Speicher\\Zweite Datei.ini",
                                   "", "ungültig"),
        "odd-byte.ini": device_file("KURVIX", "KeyCode=65", "Command=x") + b"A",
        "nul.ini": device_file("KURVIX", "KeyCode=65", "\x00KeyCode=66", "KeyCode=67"),
    }


def all_configuration_files(directory):
    """Every configuration file the project's tests use, under the names to check them by."""
    files = {str(path): path.read_bytes() for path in sorted(ROOT.glob("examples/**/*.ini"))}
    files.update({str(path): path.read_bytes()
                  for path in sorted((ROOT / "tests" / "fuzz" / "corpus" / "reader").iterdir())})
    for name, data in generated_files().items():
        path = directory / name
        path.write_bytes(data)
        files[str(path)] = data
    return files


def cli_json(*arguments):
    run = subprocess.run([str(KURVIX_CHECK), "--json", *arguments], capture_output=True, timeout=60)
    return run.stdout.decode("utf-8", "surrogatepass")


class PageTest(unittest.TestCase):
    def setUp(self):
        # Each test starts with no draft kept from an earlier one.
        browser.get(PAGE.as_uri())
        browser.execute_script("localStorage.clear();")
        self.load_page()
        self.dir = pathlib.Path(tempfile.mkdtemp(dir=scratch))

    def load_page(self):
        browser.get(PAGE.as_uri())
        browser.execute_async_script("kurvix.ready.then(arguments[0], e => arguments[0](String(e)))")

    def page_json(self, expression, data, *arguments):
        """JSON.stringify of expression, with `bytes` the given file and `args` the rest."""
        return browser.execute_script(
            "const bytes = Uint8Array.from(atob(arguments[0]), c => c.charCodeAt(0));"
            "const args = arguments[1];"
            f"return JSON.stringify({expression});",
            base64.b64encode(data).decode(), list(arguments))

    def wait(self, condition, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            result = condition()
            if result:
                return result
            time.sleep(0.05)
        self.fail("timed out waiting")

    def open_file(self, path):
        browser.execute_script("document.getElementById('file-info').textContent = '';")
        browser.find_element(By.ID, "open").send_keys(str(path))
        self.wait(lambda: path.name in browser.find_element(By.ID, "file-info").text)

    def save_whole_page(self, path):
        size = browser.execute_cdp_cmd("Page.getLayoutMetrics", {})["cssContentSize"]
        shot = browser.execute_cdp_cmd("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}})
        path.write_bytes(base64.b64decode(shot["data"]))

    def alert(self):
        try:
            return browser.switch_to.alert
        except Exception:
            return None

    def text(self, element_id):
        """What the element shows now (read in one step: the page may redraw it meanwhile)."""
        return browser.execute_script("return document.getElementById(arguments[0]).innerText;", element_id)

    def press_all(self, *presses):
        """Clears the presses, adds these as a person types them, runs them; what the device did."""
        browser.find_element(By.ID, "press-clear").click()
        for key, ms in presses:
            for field, value in (("press-key", key), ("press-ms", ms)):
                element = browser.find_element(By.ID, field)
                element.clear()
                element.send_keys(str(value))
            browser.find_element(By.ID, "press-add").click()
        browser.find_element(By.ID, "press-run").click()
        return self.text("press-steps")

    def hints_text(self):
        """Every hint the page shows, those beside a device message included."""
        return browser.execute_script(
            "return Array.from(document.querySelectorAll('li.hint-item'), li => li.innerText).join('\\n');")

    def editor_line_of_caret(self):
        return browser.execute_script(
            "const e = document.getElementById('editor');"
            "return document.activeElement === e ? e.value.slice(0, e.selectionStart).split('\\n').length : 0;")


class ScriptingInterfaceTest(PageTest):
    def test_check_gives_what_kurvix_check_prints_for_every_configuration_file(self):
        files = all_configuration_files(self.dir)
        self.assertGreater(len(files), 150)
        for name, data in files.items():
            with self.subTest(file=name):
                page = json.loads(self.page_json("kurvix.check(bytes, args[0])", data, name))
                self.assertEqual(page, json.loads(cli_json(name)))

    def test_press_gives_what_kurvix_check_prints_for_the_same_presses(self):
        files = generated_files()
        # A binding whose NewIni names its own file: both find it beside the file checked.
        files["self.ini"] = device_file("SETTINGS", "ElapseTime=300", "", "KURVIX", "KeyCode=195",
                                        "NewIni=\\Speicher\\self.ini", "", "KURVIX", "KeyCode=193",
                                        "Command=\\Windows\\Kalender.exe", "", "KURVIX", "KeyCode=194",
                                        "Disable=1", "", "bad")
        runs = [
            (str(ROOT / "examples" / "Kurvix.ini"), ROOT.joinpath("examples", "Kurvix.ini").read_bytes(),
             [[193, 1200], [193, 1200], [193, 300], [194, 1200], [193, 1200], [195, 1200], [65, 50]]),
            ("self.ini", files["self.ini"], [[193, 400], [195, 400], [193, 2000], [194, 100], [194, 86400000]]),
            ("bad-lines.ini", files["bad-lines.ini"], [[65, 1], [65, 5000], [66, 5000]]),
            ("utf8.ini", files["utf8.ini"], [[65, 1200]]),
            ("numbers.ini", files["numbers.ini"], [[254, 1200], [1, 1200], [65, 0]]),
        ]
        for name, data, presses in runs:
            path = self.dir / pathlib.Path(name).name if not os.path.isabs(name) else pathlib.Path(name)
            if not os.path.isabs(name):
                path.write_bytes(data)
            with self.subTest(file=name):
                page = json.loads(self.page_json("kurvix.press(bytes, args[1], args[0])", data, str(path), presses))
                arguments = [str(path)] + [a for key, ms in presses for a in ("--press", f"{key}:{ms}")]
                self.assertEqual(page, json.loads(cli_json(*arguments)))
                self.assertTrue(any(event["press"] == len(presses) for event in page) or
                                all(event["press"] == 0 for event in page))

    def test_explain_gives_what_kurvix_check_prints_for_every_hint(self):
        usage = subprocess.run([str(KURVIX_CHECK), "--help"], capture_output=True, text=True).stdout
        ids = re.findall(r"^  ([a-z0-9-]+)  +\S", usage.split("\nHints", 1)[1], re.MULTILINE)
        self.assertGreater(len(ids), 20)
        for hint_id in ids:
            with self.subTest(id=hint_id):
                cli = subprocess.run([str(KURVIX_CHECK), "--explain", hint_id], capture_output=True, text=True).stdout
                self.assertEqual(browser.execute_script("return kurvix.explain(arguments[0]);", hint_id), cli)
        error = browser.execute_script("try { kurvix.explain('no-such-hint'); return ''; } catch (e) { return e.message; }")
        self.assertIn("no hint has the id", error)

    def test_a_newini_finds_the_files_beside_as_kurvix_check_finds_them(self):
        night = device_file("SETTINGS", "ElapseTime=300", "", "KURVIX", "KeyCode=193", "Command=\\Windows\\b.exe")
        # (the NewIni of the day file, the set's files beside it, the file the NewIni finds or None)
        rows = (("\\Programme\\Nacht.ini", {"Nacht.ini": night}, "Nacht.ini"),
                ("\\Speicher\\Kurvix\\NACHT.INI", {"nacht.ini": night}, "nacht.ini"),
                ("Nacht.ini", {"Nacht.ini": night}, None),  # without a folder: the device's root
                ("\\Programme\\Tag.ini", {"Nacht.ini": night}, None),
                ("\\Programme\\Kurvix.ini", {"Nacht.ini": night}, None))  # the file itself
        for newini, beside, found in rows:
            with self.subTest(newini=newini):
                day = device_file("KURVIX", "KeyCode=195", "NewIni=" + newini)
                folder = pathlib.Path(tempfile.mkdtemp(dir=self.dir))
                (folder / "Kurvix.ini").write_bytes(day)
                for name, data in beside.items():
                    (folder / name).write_bytes(data)
                encoded = {name: base64.b64encode(data).decode() for name, data in beside.items()}
                files = "Object.fromEntries(Object.entries(args[1]).map(([n, b]) => " \
                        "[n, Uint8Array.from(atob(b), c => c.charCodeAt(0))]))"
                # Under the host path, exactly what kurvix-check prints there.
                page = json.loads(self.page_json(f"kurvix.check(bytes, args[0], {files})", day,
                                                 str(folder / "Kurvix.ini"), encoded))
                self.assertEqual(page, json.loads(cli_json(str(folder / "Kurvix.ini"))))
                presses = [[195, 1200], [193, 400]]
                page = json.loads(self.page_json(f"kurvix.press(bytes, args[2], args[0], {files})", day,
                                                 str(folder / "Kurvix.ini"), encoded, presses))
                self.assertEqual(page, json.loads(cli_json(str(folder / "Kurvix.ini"), "--press", "195:1200",
                                                           "--press", "193:400")))
                # As the page checks its own set: by name, in a folder that is not the root.
                checked = json.loads(self.page_json(f"kurvix.check(bytes, 'Kurvix.ini', {files})", day, "", encoded))
                self.assertEqual([f["file"] for f in checked["newIniFiles"]], [found] if found else [])
                self.assertEqual(any(h["id"] == "newini-missing" for h in checked["hints"]),
                                 found is None and "Kurvix.ini" not in newini)

    def test_the_program_starts_and_runs_presses_in_the_page(self):
        # The program's window class is named by a string in static data: the page must not
        # take it for an integer resource id, or the program cannot start.
        events = json.loads(self.page_json("kurvix.press(bytes, [[193, 1200], [193, 100]])",
                                           ROOT.joinpath("examples", "Kurvix.ini").read_bytes()))
        self.assertEqual([e["event"] for e in events], ["started", "passed-through"])
        self.assertEqual(events[0]["file"], "\\Windows\\Kalender.exe")

    def test_the_page_is_one_file_that_loads_nothing_else(self):
        loaded = browser.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name).filter(n => !n.startsWith('data:'));")
        self.assertEqual(loaded, [])
        self.assertEqual(browser.execute_script("return document.getElementById('status').textContent;"),
                         "Ready. The device runs in this page.")

    def test_the_page_names_the_devices_texts_and_icons_as_the_device_code_does(self):
        shown = browser.execute_script("return Array.from(document.querySelectorAll('[data-device-text]'))"
                                       ".map(e => [e.dataset.deviceText, e.textContent]);")
        self.assertEqual(shown, [["TERMINATE_CAPTION", "Terminieren?"]])
        facts = browser.execute_script("return kurvix.deviceFacts();")
        self.assertEqual(sorted(facts["texts"]), sorted(TEXTS))
        self.assertEqual(facts["trayIcons"], {"enabled": ICONS["IDI_TRAY_ENABLED"],
                                              "disabled": ICONS["IDI_TRAY_DISABLED"]})

    def test_wrong_presses_are_refused_with_an_error(self):
        for call in ("press", "timeline"):
            for presses in ("[]", "[[193]]", "[[0, 5]]", "[[255, 5]]", "[[193, 1.5]]", "[[193, -1]]",
                            "[[193, 1000000000]]", "'193:5'"):
                with self.subTest(call=call, presses=presses):
                    error = browser.execute_script(
                        f"try {{ kurvix.{call}(new Uint8Array([255, 254]), {presses}); return ''; }}"
                        "catch (e) { return e.message; }")
                    self.assertIn("press", error)
        # A tap is a point in the window's client area or the tray icon.
        for taps in ("[[1]]", "[[-1, 5]]", "[[1.5, 2]]", "['icon']", "[[40000, 1]]"):
            with self.subTest(taps=taps):
                error = browser.execute_script(
                    f"try {{ kurvix.statusWindow(new Uint8Array([255, 254]), 0, [240, 320], {taps}); return ''; }}"
                    "catch (e) { return e.message; }")
                self.assertIn("a tap must be", error)
        for screen in ("[240]", "[0, 320]", "[240, 26]", "[240.5, 320]", "[5000, 320]", "'240x320'"):
            with self.subTest(screen=screen):
                error = browser.execute_script(
                    f"try {{ kurvix.statusWindow(new Uint8Array([255, 254]), 0, {screen}); return ''; }}"
                    "catch (e) { return e.message; }")
                self.assertIn("a screen must be", error)


class PageUseTest(PageTest):
    def test_a_bad_line_is_shown_in_german_explained_and_leads_to_its_line(self):
        # The device cuts line 2 after 259 units and reads an extra empty line, so the bad
        # line is the device's line 7 but the editor's line 6.
        path = self.dir / "Kurvix.ini"
        path.write_bytes(device_file("KURVIX", "Command=" + "c" * 251, "; 3", "KURVIX", "KeyCode=1", "keycode=5"))
        self.open_file(path)
        messages = browser.find_elements(By.CSS_SELECTOR, "#messages > li")
        self.assertEqual(len(messages), 1)
        self.assertIn("Kurvix - Ignoriere unbekannten Wert: \u201ekeycode=5\u201c", messages[0].text)
        self.assertIn("begins with none of KeyCode, Command, NewIni, Disable", messages[0].text)
        self.assertIn("Line 6", messages[0].text)
        messages[0].find_element(By.TAG_NAME, "button").click()
        self.assertEqual(self.editor_line_of_caret(), 6)
        hints = {li.text: li for li in browser.find_elements(By.CSS_SELECTOR, "li.hint-item")}
        # (line, what the hint says, its id, whether it stands with the device's message of its line)
        for line, says, hint_id, with_message in (
                (6, "\"keycode\" differs from \"KeyCode\" only in case", "near-miss", True),
                (2, "the device reads this line as two", "long-line", False),
                (1, "binding 1 has no KeyCode", "no-keycode", False)):
            with self.subTest(line=line):
                hint = next(item for text, item in hints.items() if text.startswith(f"Line {line}: ") and says in text)
                self.assertIn(f"[{hint_id}]", hint.text)
                self.assertEqual(messages[0].find_elements(By.CSS_SELECTOR, "li.hint-item") == [hint], with_message)
                hint.find_element(By.TAG_NAME, "button").click()
                self.assertEqual(self.editor_line_of_caret(), line)

    def test_typing_checks_as_one_types_and_fills_the_table(self):
        editor = browser.find_element(By.ID, "editor")
        editor.send_keys("KURVIX\nKeyCode=193\nCommand=\\Windows\\Kalender.exe\n\nKURVIX\nKeyCode=194\nDisable=1")
        table = self.wait(lambda: "194" in self.text("bindings") and self.text("bindings"))
        self.assertIn("1\t193\tVK_APP1\topens \u201e\\Windows\\Kalender.exe\u201c", table)
        self.assertIn("2\t194\tVK_APP2\tswitches all bindings off", table)
        self.assertIn("without a message", browser.find_element(By.ID, "load-result").text)
        self.assertEqual(self.text("summary"), "2 bindings, 0 messages, 0 hints.")
        editor.send_keys("\nCommand\n")
        self.wait(lambda: "Kurvix - Ignoriere Fehler:" in self.text("messages"))
        self.assertIn("Line 8", self.text("messages"))
        self.assertTrue(self.text("summary").startswith("2 bindings, 1 message, "), self.text("summary"))

    def test_files_in_desktop_encodings_open_and_save_in_the_device_format(self):
        text = "; Tasten für Grüße\nKURVIX\nKeyCode=193\nCommand=\\Programme\\Grüße.exe\n"
        expected = b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")
        for name, data in (("utf8.ini", text.encode()), ("cp1252.ini", text.encode("cp1252")),
                           ("nomark.ini", text.encode("utf-16-le")), ("device.ini", expected)):
            with self.subTest(file=name):
                path = self.dir / name
                path.write_bytes(data)
                self.open_file(path)
                self.assertEqual(browser.find_element(By.ID, "editor").get_property("value"), text)
                refused = name != "device.ini"
                self.assertEqual("refuses" in browser.find_element(By.ID, "load-result").text, refused)
                saved = scratch / "downloads" / "Kurvix.ini"  # the device's name, whatever was opened
                if saved.exists():
                    saved.unlink()
                browser.find_element(By.ID, "save").click()
                self.wait(lambda: saved.exists() and saved.stat().st_size == len(expected))
                self.assertEqual(saved.read_bytes(), expected)
                self.wait(lambda: "without a message" in browser.find_element(By.ID, "load-result").text)

    def test_a_file_dropped_on_the_page_is_opened(self):
        for target in ("editor", "h-press"):
            with self.subTest(dropped_on=target):
                name = f"dropped-{target}.ini"
                browser.execute_script("""
                    const bytes = Uint8Array.from(atob(arguments[0]), c => c.charCodeAt(0));
                    const transfer = new DataTransfer();
                    transfer.items.add(new File([bytes], arguments[1]));
                    const target = document.getElementById(arguments[2]);
                    for (const type of ['dragenter', 'dragover', 'drop']) {
                      target.dispatchEvent(new DragEvent(type, {dataTransfer: transfer, bubbles: true, cancelable: true}));
                    }""", base64.b64encode(device_file("KURVIX", "KeyCode=196", "Command=\\Windows\\Notiz.exe")).decode(),
                    name, target)
                self.wait(lambda: name in self.text("file-info"))
                self.assertEqual(browser.current_url, PAGE.as_uri())
                self.assertIn("196\tVK_APP4\topens \u201e\\Windows\\Notiz.exe\u201c", self.text("bindings"))
                self.assertEqual(browser.find_element(By.ID, "editor").get_property("value"),
                                 "KURVIX\nKeyCode=196\nCommand=\\Windows\\Notiz.exe")
        # Several files dropped at once join the set; Kurvix.ini keeps its text.
        night = device_file("KURVIX", "KeyCode=193", "Disable=1")
        browser.execute_script("""
            const bytes = Uint8Array.from(atob(arguments[0]), c => c.charCodeAt(0));
            const transfer = new DataTransfer();
            for (const name of ['Nacht.ini', 'Zweite.ini']) transfer.items.add(new File([bytes], name));
            document.getElementById('editor').dispatchEvent(
              new DragEvent('drop', {dataTransfer: transfer, bubbles: true, cancelable: true}));""",
            base64.b64encode(night).decode())
        self.wait(lambda: browser.execute_script("return Object.keys(kurvix.fileSet()).join();") ==
                  "Kurvix.ini,Nacht.ini,Zweite.ini")
        self.wait(lambda: browser.execute_script("return Array.from(kurvix.fileSet()['Zweite.ini']);") == list(night))
        self.assertEqual(browser.execute_script("return Array.from(kurvix.fileSet()['Kurvix.ini']);"),
                         list(device_file("KURVIX", "KeyCode=196", "Command=\\Windows\\Notiz.exe")))

    def test_the_encoding_can_be_chosen_by_hand(self):
        path = self.dir / "latin.ini"
        path.write_bytes("KURVIX\r\nCommand=Ärger.exe\r\n".encode("utf-8"))
        self.open_file(path)
        editor = browser.find_element(By.ID, "editor")
        self.assertIn("Command=Ärger.exe", editor.get_property("value"))
        browser.find_element(By.ID, "encoding").send_keys("Windows-1252")
        self.wait(lambda: "Command=Ã„rger.exe" in editor.get_property("value"))
        self.assertIn("Windows-1252", browser.find_element(By.ID, "file-info").text)
        # A Windows-1252 file read as UTF-8 cannot be shown; Save then writes nothing.
        path = self.dir / "unreadable.ini"
        path.write_bytes("KURVIX\r\nCommand=Ärger.exe\r\n".encode("cp1252"))
        Select(browser.find_element(By.ID, "encoding")).select_by_visible_text("UTF-8")
        self.open_file(path)
        self.assertIn("byte 0xC4", self.text("status"))
        self.assertEqual(editor.get_property("value"), "")
        browser.find_element(By.ID, "save").click()
        self.assertIn("Nothing saved", self.text("status"))
        time.sleep(0.5)
        self.assertFalse((scratch / "downloads" / "unreadable.ini").exists())
        browser.find_element(By.ID, "encoding").send_keys("Windows-1252")
        self.wait(lambda: "Command=Ärger.exe" in editor.get_property("value"))

    def test_presses_run_all_at_once_and_step_by_step(self):
        path = self.dir / "Kurvix.ini"
        path.write_bytes(ROOT.joinpath("examples", "Kurvix.ini").read_bytes())
        self.open_file(path)
        for key, ms in ((193, 1200), (193, 300), (194, 1200)):
            for field, value in (("press-key", key), ("press-ms", ms)):
                element = browser.find_element(By.ID, field)
                element.clear()
                element.send_keys(str(value))
            browser.find_element(By.ID, "press-add").click()
        self.assertEqual(len(browser.find_elements(By.CSS_SELECTOR, "#press-list li")), 3)
        browser.find_element(By.ID, "press-run").click()
        steps = [li.text for li in browser.find_elements(By.CSS_SELECTOR, "#press-steps li")]
        # The command line's words for the same presses.
        self.assertEqual(steps, [
            "Press 1 (key 193, 1200 ms): started \"\\Windows\\Kalender.exe\"",
            "Press 2 (key 193, 300 ms): passed the key through to the program in front",
            "Press 3 (key 194, 1200 ms): switched the bindings off"])
        cli = subprocess.run([str(KURVIX_CHECK), str(path), "--press", "193:1200", "--press", "193:300",
                              "--press", "194:1200"], capture_output=True, text=True).stdout
        for step in steps:
            self.assertIn(step.split(": ", 1)[1], cli)
        browser.find_element(By.ID, "press-clear").click()
        for key, ms in ((193, 1200), (193, 1200)):
            browser.find_element(By.ID, "press-key").clear()
            browser.find_element(By.ID, "press-key").send_keys(str(key))
            browser.find_element(By.ID, "press-ms").clear()
            browser.find_element(By.ID, "press-ms").send_keys(str(ms))
            browser.find_element(By.ID, "press-add").click()
        step = browser.find_element(By.ID, "press-step")
        step.click()
        self.assertEqual([li.text for li in browser.find_elements(By.CSS_SELECTOR, "#press-steps li")],
                         ["Press 1 (key 193, 1200 ms): started \"\\Windows\\Kalender.exe\""])
        step.click()
        second = browser.find_element(By.ID, "press-steps").text
        self.assertTrue(second.startswith("Press 2 (key 193, 1200 ms): asked whether to end the program"), second)
        self.assertNotIn("Press 1", second)
        # Start-up belongs to the first step only.
        editor = browser.find_element(By.ID, "editor")
        editor.send_keys(Keys.CONTROL + Keys.END)
        editor.send_keys("\nbad")
        self.wait(lambda: "Line 17" in self.text("messages"))
        step.click()
        self.assertTrue(self.text("press-steps").startswith("Start-up: message Kurvix - Ignoriere unbekannten Wert:"))
        step.click()
        self.assertTrue(self.text("press-steps").startswith("Press 2 (key 193, 1200 ms): asked"), self.text("press-steps"))

    def test_the_status_window_is_drawn_as_the_program_paints_it(self):
        path = self.dir / "Kurvix.ini"
        path.write_bytes(ROOT.joinpath("examples", "Kurvix.ini").read_bytes())
        self.open_file(path)
        picture = browser.find_element(By.ID, "window-picture")
        self.assertEqual(picture.get_attribute("aria-label"),
                         "The status window \"Kurvix (3)\", showing: drücken Sie eine Taste für deren Key-Code"
                         " | Kontakt: kurvix@example.org | D")
        # The separator at x = W - 18 of the client area, in the device's dark grey: the
        # window of a device 240 pixels wide is as wide as its screen.
        pixel = browser.execute_script(
            "const c = document.getElementById('window-picture'); const g = c.getContext('2d');"
            "const x = 2 * (1 + 238 - 18), y = 2 * (1 + 26 + 30);"
            "return Array.from(g.getImageData(x, y, 1, 1).data).concat(Array.from(g.getImageData(x - 2, y, 1, 1).data));")
        self.assertEqual(pixel, [0x60, 0x60, 0x60, 255, 0xC0, 0xC0, 0xC0, 255])
        browser.find_element(By.ID, "last-key").send_keys("65")
        self.wait(lambda: "der Key-Code der letzten Taste ist 65" in picture.get_attribute("aria-label"))
        # A short press of a bound key is handed on to the window in front: the window itself.
        browser.find_element(By.ID, "last-key").clear()
        browser.find_element(By.ID, "last-key").send_keys("193")
        self.wait(lambda: "der Key-Code der letzten Taste ist 193" in picture.get_attribute("aria-label"))
        path.write_bytes(b"KURVIX")
        self.open_file(path)
        self.assertIn("program ends", picture.get_attribute("aria-label"))

    def test_the_key_code_helper_shows_desktop_key_codes_and_handheld_buttons(self):
        probe = browser.find_element(By.ID, "key-probe")
        probe.send_keys("a")
        self.assertEqual(browser.find_element(By.ID, "key-probe-out").text, "a: key code 65 (0x41)")
        probe.send_keys(Keys.F2)
        self.assertEqual(browser.find_element(By.ID, "key-probe-out").text, "F2: key code 113 (0x71)")
        self.assertEqual(probe.get_property("value"), "")
        table = browser.find_element(By.ID, "key-table").text
        for name, code in (("VK_APP1", 193), ("VK_APP6", 198)):
            self.assertIn(f"{name} {code}", table)
        # Tab leaves the field: it is no trap for the keyboard.
        probe.send_keys(Keys.TAB)
        self.assertNotEqual(browser.switch_to.active_element.get_attribute("id"), "key-probe")


def settings_file(check_interval, elapse_time):
    return device_file("SETTINGS", f"CheckIntervall={check_interval}", f"ElapseTime={elapse_time}", "",
                       "KURVIX", "KeyCode=193", "Command=\\Windows\\Kalender.exe", "",
                       "KURVIX", "KeyCode=194", "Disable=1")


class PressTimelineTest(PageTest):
    def timeline_and_events(self, data, presses):
        both = json.loads(self.page_json("[kurvix.timeline(bytes, args[0]), kurvix.press(bytes, args[0])]",
                                         data, presses))
        return both[0], both[1]

    def test_a_hold_of_the_promised_length_always_counts_and_a_short_one_is_handed_back(self):
        # (CheckIntervall, ElapseTime): the sentence promises that a hold of their sum runs the
        # action, whatever the two are; a release before the first poll is handed back then.
        for check_interval, elapse_time in ((100, 1000), (50, 800), (300, 1000), (100, 250), (250, 100),
                                            (7, 1000), (1000, 1000)):
            with self.subTest(check_interval=check_interval, elapse_time=elapse_time):
                promised = elapse_time + check_interval
                short = max(check_interval // 2, 1)
                timelines, events = self.timeline_and_events(
                    settings_file(check_interval, elapse_time), [[193, promised], [193, short], [65, 300]])
                long, quick, unbound = timelines
                self.assertEqual([t["press"] for t in timelines], [1, 2, 3])
                self.assertEqual(long["holdAtLeast"], promised)
                self.assertEqual((long["outcome"], long["up"]), ("ran", promised))
                self.assertGreaterEqual(long["outcomeAt"], elapse_time)
                self.assertLessEqual(long["outcomeAt"], promised)
                # The action ran at a poll that found the key down: never after its release.
                self.assertIn(long["outcomeAt"], long["polls"])
                self.assertEqual(quick["outcome"], "handed-back")
                self.assertGreaterEqual(quick["outcomeAt"], quick["up"])
                self.assertEqual(quick["outcomeAt"], quick["polls"][-1])
                self.assertEqual((unbound["outcome"], unbound["polls"]), (None, []))
                # The same run, read the command line's way, agrees.
                kinds = {press: [e["event"] for e in events if e["press"] == press] for press in (1, 2, 3)}
                self.assertEqual(kinds, {1: ["started"], 2: ["passed-through"], 3: ["not-caught"]})
                self.assertEqual([e.get("atMs") for e in events], [long["outcomeAt"], quick["outcomeAt"], None])

    def test_repeats_and_polls_are_those_of_the_run(self):
        # A key held on repeats after 500 ms, every 40 ms; the program looks at it every
        # CheckIntervall until it is up. A hold of over a minute is read in sweeps.
        for hold, repeats, polls in ((1200, 18, 12), (499, 0, 5), (130000, 3238, 1300)):
            with self.subTest(hold=hold):
                timelines, _ = self.timeline_and_events(settings_file(100, 1000), [[193, hold]])
                timeline = timelines[0]
                self.assertEqual((timeline["repeatCount"], timeline["pollCount"]), (repeats, polls))
                self.assertEqual(timeline["repeats"][:2], [500, 540][:repeats])
                self.assertEqual(len(timeline["polls"]), min(polls, 1000))
                self.assertTrue(all(b - a == 100 for a, b in zip(timeline["polls"], timeline["polls"][1:])))
                self.assertTrue(all(ms < hold for ms in timeline["repeats"]))

    def test_each_press_is_drawn_as_a_strip_with_the_hold_that_is_sure(self):
        path = self.dir / "Kurvix.ini"
        path.write_bytes(settings_file(100, 1000))
        self.open_file(path)
        self.press_all((193, 1100), (193, 60), (194, 1500))
        strips = browser.find_elements(By.CSS_SELECTOR, "#press-timelines figure")
        self.assertEqual(len(strips), 3)
        captions = [strip.find_element(By.TAG_NAME, "figcaption").text for strip in strips]
        for caption in captions:
            self.assertIn("Hold at least 1100 ms to be sure.", caption)
        self.assertIn("the binding\u2019s actions ran at 1000 ms", captions[0])
        self.assertIn("the key was handed back at 100 ms", captions[1])
        self.assertIn("up at 1500 ms, 25 repeats, 15 polls (every 100 ms)", captions[2])
        # The hold is drawn in blue from key-down to key-up, and the poll ticks below it.
        canvas = strips[0].find_element(By.TAG_NAME, "canvas")
        colours = browser.execute_script(
            "const g = arguments[0].getContext('2d');"
            "const at = (x, y) => Array.from(g.getImageData(x, y, 1, 1).data.slice(0, 3));"
            "return [at(2 * 20, 2 * 20), at(2 * 630, 2 * 20)];", canvas)
        self.assertEqual(colours, [[0x0B, 0x5C, 0xAD], [255, 255, 255]])
        browser.find_element(By.ID, "h-press").location_once_scrolled_into_view
        self.save_whole_page(SCREENSHOT.with_name("page-timeline.png"))
        # Stepping shows the strip of that press alone.
        browser.find_element(By.ID, "press-step").click()
        browser.find_element(By.ID, "press-step").click()
        strips = browser.find_elements(By.CSS_SELECTOR, "#press-timelines figure")
        self.assertEqual([s.find_element(By.TAG_NAME, "figcaption").text[:7] for s in strips], ["Press 2"])


class FileSetTest(PageTest):
    DAY = "KURVIX\nKeyCode=195\nNewIni=\\Programme\\Nacht.ini\n\nKURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe"
    # Typed at the end of the night file: a way back to the day file, and a misspelt key.
    NIGHT_TAIL = "\nKURVIX\nKeyCode=196\nNewIni=\\Programme\\kurvix.INI\nkeycode=7"

    def file_set(self):
        return browser.execute_script(
            "const set = kurvix.fileSet(); return Object.keys(set).map(n => [n, Array.from(set[n])]);")

    def test_a_night_file_made_from_the_template_is_found_by_the_day_files_newini(self):
        editor = browser.find_element(By.ID, "editor")
        editor.send_keys(self.DAY)
        self.wait(lambda: "[newini-missing]" in self.hints_text())
        # The page's words, no host path: the set is where it looks.
        self.assertIn("no file of the set has its name", self.hints_text())
        self.assertNotRegex(self.hints_text(), r"/Programme|/kurvix-page|looked for at")
        self.assertIn("could not load \\Programme\\Nacht.ini", self.press_all((195, 1200)))
        name = browser.find_element(By.ID, "new-name")
        name.clear()
        name.send_keys("Nacht.ini")
        browser.find_element(By.ID, "new-file").click()
        template = editor.get_property("value")
        self.assertIn("SETTINGS", template)
        self.wait(lambda: "0 messages, 0 hints" in self.text("summary"))  # the template loads without a word
        self.assertEqual(Select(browser.find_element(By.ID, "file-choice")).first_selected_option.text, "Nacht.ini")
        editor.send_keys(Keys.CONTROL + Keys.END)
        editor.send_keys(self.NIGHT_TAIL)
        Select(browser.find_element(By.ID, "file-choice")).select_by_index(0)
        self.wait(lambda: editor.get_property("value") == self.DAY)
        self.wait(lambda: "[newini-missing]" not in self.hints_text())
        # What the night file holds is told beside the day file's own findings.
        self.assertEqual(self.text("set-findings"), "Nacht.ini, which a NewIni loads: 1 message, 1 hint. "
                         "Choose it under \u201cFile of the set\u201d to see them.")
        # The day file's long press loads the night file, whose own NewIni goes back.
        steps = self.press_all((195, 1200), (196, 1200), (193, 1200))
        self.assertIn("loaded \\Programme\\Nacht.ini: 3 bindings", steps)
        self.assertIn("loaded \\Programme\\kurvix.INI: 2 bindings", steps)
        self.assertIn("started \"\\Windows\\a.exe\"", steps)
        # The set for a cab: Kurvix.ini first, each file in the device's format.
        expected = [["Kurvix.ini", self.DAY], ["Nacht.ini", template + self.NIGHT_TAIL]]
        self.assertEqual(self.file_set(), [[n, list(device_file(*t.split("\n")))] for n, t in expected])
        # A name the set holds already, or one a file cannot have, makes no file.
        for refused, why in (("NACHT.ini", "already holds Nacht.ini"), ("a/b.ini", "cannot hold"), ("", "Name the file"),
                             ("42", "not a number"), ("..", "dots alone")):
            with self.subTest(name=refused):
                name.clear()
                name.send_keys(refused)
                browser.find_element(By.ID, "new-file").click()
                self.assertIn(why, self.text("status"))
                self.assertEqual(len(self.file_set()), 2)
        # The set is the draft: both files come back after a reload.
        time.sleep(0.3)
        self.load_page()
        self.assertIn("Kurvix.ini, 7 lines; Nacht.ini, 18 lines", self.text("draft-info"))
        browser.find_element(By.ID, "draft-restore").click()
        self.assertEqual([n for n, _ in self.file_set()], ["Kurvix.ini", "Nacht.ini"])
        self.assertEqual(browser.find_element(By.ID, "editor").get_property("value"), self.DAY)

    def test_files_added_join_the_set_and_replace_a_file_of_their_name(self):
        night = self.dir / "nacht.ini"
        night.write_bytes(device_file("KURVIX", "KeyCode=193", "Command=\\Windows\\b.exe"))
        day = self.dir / "kurvix.INI"
        day.write_bytes(device_file(*self.DAY.split("\n")))
        # (files added together, the set's names afterwards, the first file's text afterwards)
        rows = (([night], ["Kurvix.ini", "nacht.ini"], ""),
                ([day, night], ["Kurvix.ini", "nacht.ini"], self.DAY))
        for added, names, first in rows:
            with self.subTest(added=[p.name for p in added]):
                browser.find_element(By.ID, "add-files").send_keys("\n".join(str(p) for p in added))
                first_bytes = list(device_file(*first.split("\n"))) if first else list(device_file(""))
                self.wait(lambda: self.file_set() == [[n, first_bytes if n == "Kurvix.ini" else list(night.read_bytes())]
                                                      for n in names])
        Select(browser.find_element(By.ID, "file-choice")).select_by_index(0)
        self.wait(lambda: "\\Programme\\Nacht.ini" in self.text("bindings"))
        self.assertNotIn("[newini-missing]", self.hints_text())
        # The file the device loads stays; another leaves the set.
        self.assertFalse(browser.find_element(By.ID, "remove-file").is_enabled())
        Select(browser.find_element(By.ID, "file-choice")).select_by_index(1)
        browser.find_element(By.ID, "remove-file").click()
        self.assertEqual([n for n, _ in self.file_set()], ["Kurvix.ini"])
        self.wait(lambda: "[newini-missing]" in self.hints_text())


class StripTest(PageTest):
    def run_presses(self, data, *presses):
        path = self.dir / "Kurvix.ini"
        path.write_bytes(data)
        self.open_file(path)
        self.press_all(*presses)
        return browser.find_elements(By.CSS_SELECTOR, "#press-timelines figure")

    def brown_columns(self, canvas, top, bottom):
        """The canvas columns (CSS pixels) with ElapseTime's brown, or text antialiased from it, between top and bottom."""
        return browser.execute_script(
            "const c = arguments[0], g = c.getContext('2d');"
            "const d = g.getImageData(0, 2 * arguments[1], c.width, 2 * (arguments[2] - arguments[1])).data;"
            "const found = new Set();"
            "for (let i = 0; i < d.length; i += 4) if (d[i] - d[i + 2] > 40) found.add(Math.floor((i / 4) % c.width / 2));"
            "return Array.from(found).sort((a, b) => a - b);", canvas, top, bottom)

    def test_after_a_failed_load_no_strip_promises_a_hold(self):
        # The example's key 195 loads a file that is not there: afterwards nothing is bound.
        example = ROOT.joinpath("examples", "Kurvix.ini").read_bytes()
        strips = self.run_presses(example, (193, 1200), (195, 1200), (193, 1200), (65, 1200))
        # (press, what its caption promises or says, whether the ElapseTime mark is drawn)
        rows = ((1, "Hold at least 850 ms to be sure.", True),
                (2, "Hold at least 850 ms to be sure.", True),
                (3, "since the load of \\Speicher\\Zweite.ini failed, so no hold makes it act", False),
                (4, "since the load of \\Speicher\\Zweite.ini failed", False))
        self.assertEqual(len(strips), len(rows))
        for press, says, marked in rows:
            with self.subTest(press=press):
                strip = strips[press - 1]
                caption = strip.find_element(By.TAG_NAME, "figcaption").text
                self.assertIn(says, caption)
                self.assertEqual("Hold at least" in caption, marked)
                self.assertEqual(bool(self.brown_columns(strip.find_element(By.TAG_NAME, "canvas"), 0, 50)), marked)
        # Without a failed load, a key no binding has: said so, and no promise either.
        strips = self.run_presses(example, (65, 1200))
        caption = strips[-1].find_element(By.TAG_NAME, "figcaption").text
        self.assertIn("no binding has key 65, or the bindings are off", caption)
        self.assertNotIn("Hold at least", caption)

    def test_the_elapse_time_label_is_whole_inside_the_strip(self):
        # (CheckIntervall, ElapseTime, hold): the ElapseTime mark near the strip's right end
        # and in its middle.
        for check_interval, elapse_time, hold in ((7, 1000, 1000), (1, 2000, 2000), (100, 1000, 2500)):
            with self.subTest(check_interval=check_interval, elapse_time=elapse_time):
                strip = self.run_presses(settings_file(check_interval, elapse_time), (193, hold))[-1]
                canvas = strip.find_element(By.TAG_NAME, "canvas")
                label_width = browser.execute_script(
                    "const g = document.createElement('canvas').getContext('2d');"
                    "g.font = '10px system-ui, sans-serif'; return g.measureText(arguments[0]).width;",
                    f"ElapseTime {elapse_time}")
                columns = self.brown_columns(canvas, 1, 13)  # the label's row, and its mark
                width = browser.execute_script("return arguments[0].width / 2;", canvas)
                self.assertGreaterEqual(columns[-1] - columns[0] + 1, label_width - 2)
                self.assertLess(columns[-1], width - 1)
        self.save_whole_page(SCREENSHOT.with_name("page-timeline-right-edge.png"))


class DeviceScreenTest(PageTest):
    def screen_pixel(self, x, y):
        return browser.execute_script(
            "const g = document.getElementById('screen-picture').getContext('2d');"
            "return Array.from(g.getImageData(2 * arguments[0], 2 * arguments[1], 1, 1).data.slice(0, 3));", x, y)

    def tap_screen(self, x, y):
        """A real click on the screen picture at the device's pixel (x, y)."""
        canvas = browser.find_element(By.ID, "screen-picture")
        left, top = browser.execute_script(
            "const c = arguments[0]; c.scrollIntoView({block: 'center'}); const b = c.getBoundingClientRect();"
            "const scale = c.clientWidth / (c.width / 2);"  # drawn at twice the device's size, shown scaled
            "return [b.left + c.clientLeft + (arguments[1] + 0.5) * scale,"
            "        b.top + c.clientTop + (arguments[2] + 0.5) * scale];", canvas, x, y)
        actions = ActionBuilder(browser)
        actions.pointer_action.move_to_location(round(left), round(top)).click()
        actions.perform()

    def window_state(self):
        return json.loads(browser.execute_script(
            "return JSON.stringify(kurvix.statusWindow(kurvix.deviceFormat(document.getElementById('editor').value),"
            " 0, arguments[0], []));", [int(n) for n in Select(browser.find_element(By.ID, "screen"))
                                        .first_selected_option.get_attribute("value").split("x")]))

    def test_the_window_is_placed_on_each_screen_as_the_program_places_it(self):
        path = self.dir / "Kurvix.ini"
        path.write_bytes(ROOT.joinpath("examples", "Kurvix.ini").read_bytes())
        self.open_file(path)
        for screen, width, height in (("640x480", 640, 480), ("320x240", 320, 240), ("240x320", 240, 320)):
            with self.subTest(screen=screen):
                Select(browser.find_element(By.ID, "screen")).select_by_value(screen)
                self.wait(lambda: f"A {width} x {height} screen" in self.text("screen-info"))
                window = self.window_state()
                self.assertEqual(window["workArea"], [0, 0, width, height - 26])
                # The task bar along the foot, the caption where the program put the window.
                self.assertEqual(self.screen_pixel(width // 2, height - 13), [0xD4, 0xD0, 0xC8])
                self.assertEqual(self.screen_pixel(max(window["x"], 0) + 30, window["y"] + 5), [0x0A, 0x24, 0x6A])
                self.assertEqual(self.screen_pixel(max(window["x"], 0) + 30, window["y"] - 2), [0x3A, 0x6E, 0xA5])
                inside = window["x"] >= 0 and window["x"] + window["width"] <= width and \
                    window["y"] >= 0 and window["y"] + window["height"] <= height - 26
                self.assertEqual("partly outside" in self.text("screen-info"), not inside)
                if width >= window["width"]:
                    # Room enough: centred in the work area.
                    self.assertEqual(window["x"], (width - window["width"]) // 2)
                    self.assertTrue(inside)
                self.save_whole_page(SCREENSHOT.with_name(f"page-screen-{screen}.png"))

    def test_taps_on_the_screen_reach_the_program(self):
        path = self.dir / "Kurvix.ini"
        path.write_bytes(ROOT.joinpath("examples", "Kurvix.ini").read_bytes())
        self.open_file(path)
        Select(browser.find_element(By.ID, "screen")).select_by_value("320x240")
        window = self.window_state()
        border = (window["width"] - window["client"][2]) // 2
        left = window["x"] + border
        top = window["y"] + window["height"] - window["client"][3] - border
        right = left + window["client"][2]
        bottom = top + window["client"][3]
        tray = (320 - 16 - 6 + 8, 240 - 13)
        # (what the user taps, on screen, what the screen then says, tray icon colour or None)
        steps = (((right - 9, top + 9), "the window \"Kurvix (3)\"", None),              # D: bindings off
                 ((right - 9, bottom - 9), "the window is hidden", [0x80, 0x80, 0x00]),  # the corner mark
                 ((left + 30, top + 30), "the window is hidden", [0x80, 0x80, 0x00]),    # nothing there now
                 (tray, "the window \"Kurvix (3)\"", None),                             # the tray icon
                 ((right - 9, top + 27), "the window \"Kurvix (3)\"", None),             # E: bindings on
                 ((right - 9, bottom - 9), "the window is hidden", [0xD0, 0x00, 0x00]))
        for number, (point, says, icon) in enumerate(steps, 1):
            with self.subTest(tap=number):
                self.tap_screen(*point)
                self.wait(lambda: says in self.text("screen-info"))
                self.assertEqual("tray icon shows" in self.text("screen-info"), icon is not None)
                if icon is not None:
                    self.assertEqual(self.screen_pixel(tray[0] - 6, tray[1] - 6), icon)
                if number == 1:
                    self.assertIn("| E", browser.find_element(By.ID, "window-picture").get_attribute("aria-label"))
                if number == 2:
                    self.save_whole_page(SCREENSHOT.with_name("page-screen-hidden.png"))
        # The same from the keyboard: the buttons tap the tray icon, then D.
        for button, label in (("tap-tray", "| D"), ("tap-switch", "| E"), ("tap-restart", "| D")):
            browser.find_element(By.ID, button).send_keys(Keys.ENTER)
            self.wait(lambda: label in browser.find_element(By.ID, "window-picture").get_attribute("aria-label"))


class NeverLoseWorkTest(PageTest):
    TEXT = "KURVIX\nKeyCode=193\nCommand=\\Windows\\Kalender.exe"

    def type_text(self, text):
        browser.find_element(By.ID, "editor").send_keys(text)
        self.wait(lambda: "193" in self.text("bindings"))
        time.sleep(0.3)  # the draft is kept with the check, a moment after the last key

    def test_the_draft_is_offered_back_after_a_reload(self):
        self.type_text(self.TEXT)
        self.load_page()
        self.assertEqual(browser.find_element(By.ID, "editor").get_property("value"), "")
        offer = browser.find_element(By.ID, "draft")
        self.assertTrue(offer.is_displayed())
        self.assertIn("Kurvix.ini, 3 lines", offer.text)
        self.save_whole_page(SCREENSHOT.with_name("page-draft.png"))
        # Typing while the offer stands does not replace the kept draft.
        browser.find_element(By.ID, "editor").send_keys("something else")
        time.sleep(0.5)
        self.load_page()
        browser.find_element(By.ID, "draft-restore").send_keys(Keys.ENTER)
        self.assertEqual(browser.find_element(By.ID, "editor").get_property("value"), self.TEXT)
        self.assertFalse(browser.find_element(By.ID, "draft").is_displayed())
        self.wait(lambda: "VK_APP1" in self.text("bindings"))
        self.load_page()
        browser.find_element(By.ID, "draft-discard").click()
        self.load_page()
        self.assertFalse(browser.find_element(By.ID, "draft").is_displayed())

    def test_opening_a_file_over_edited_text_asks_first(self):
        other = self.dir / "other.ini"
        other.write_bytes(device_file("KURVIX", "KeyCode=196", "Disable=1"))
        self.type_text(self.TEXT)
        # (answer to the question, the editor's text afterwards)
        for accept, expected in ((False, self.TEXT), (True, "KURVIX\nKeyCode=196\nDisable=1")):
            with self.subTest(accept=accept):
                browser.find_element(By.ID, "open").send_keys(str(other))
                alert = self.wait(lambda: self.alert())
                self.assertIn("changes that were not saved", alert.text)
                self.assertIn("other.ini", alert.text)
                alert.accept() if accept else alert.dismiss()
                self.wait(lambda: browser.find_element(By.ID, "editor").get_property("value") == expected)
        # The opened file is not edited work: opening another asks nothing.
        third = self.dir / "third.ini"
        third.write_bytes(device_file("KURVIX", "KeyCode=197"))
        self.open_file(third)
        self.assertIsNone(self.alert())

    def test_save_writes_the_name_given_and_shows_what_it_writes(self):
        path = self.dir / "Abend.ini"
        path.write_bytes("KURVIX\r\nKeyCode=193\r\nCommand=Grüße.exe\r\n".encode("cp1252"))
        self.open_file(path)
        expected = device_file("KURVIX", "KeyCode=193", "Command=Grüße.exe", "")
        # (the name typed, the file that appears, or the reason nothing is saved)
        for name, saved, refusal in ((None, "Kurvix.ini", None), ("", None, "Name the file first"),
                                     ("Speicher/nacht.ini", None, "cannot hold"), ("nacht.ini", "nacht.ini", None)):
            with self.subTest(name=name):
                field = browser.find_element(By.ID, "save-name")
                if name is not None:
                    field.send_keys(Keys.CONTROL + "a")
                    field.send_keys(Keys.BACKSPACE + name)
                else:
                    self.assertEqual(field.get_property("value"), "Kurvix.ini")
                preview = self.text("save-preview")
                browser.find_element(By.ID, "save").click()
                if refusal:
                    self.assertIn(refusal, preview)
                    self.assertIn("Nothing saved", self.text("status"))
                    continue
                target = scratch / "downloads" / saved
                self.wait(lambda: target.exists() and target.stat().st_size == len(expected))
                self.assertEqual(target.read_bytes(), expected)
                self.assertIn(f"writes {saved}: {len(expected)} bytes, UTF-16LE with byte-order mark, "
                              "line ends CR LF (3); it begins FF FE 4B 00 55 00 52 00 56 00 49 00 58 00 0D 00", preview)
                self.assertIn(f"Saved {saved}: {len(expected)} bytes", self.text("status"))
                target.unlink()
        self.assertEqual(sorted(p.name for p in (scratch / "downloads").iterdir() if p.suffix == ".ini"
                                and p.name.startswith(("Abend", "Speicher"))), [])


class DeviceCabTest(PageTest):
    """The page's device cabs: the writer and the program of ce/build-ce.sh, so the
    same configuration gives the same bytes; a set with findings is packed only when told."""

    EXAMPLE = ROOT / "examples" / "Kurvix.ini"
    CLEAN = device_file("SETTINGS", "CheckIntervall=50", "ElapseTime=800", "", "KURVIX Nacht",
                        "KeyCode=193", "NewIni=\\Speicher\\Kurvix\\Kurvix.ini", "")
    # A day file whose key loads the night file; the night file's key loads the day file again.
    DAY = CLEAN.replace("Kurvix.ini".encode("utf-16-le"), "Nacht.ini".encode("utf-16-le"))

    def device_cab(self, files, options):
        """{name, bytes} or {error, findings} of kurvix.deviceCab(files, options)."""
        result = browser.execute_script(
            "const files = {};"
            "for (const [name, b64] of arguments[0]) files[name] = Uint8Array.from(atob(b64), c => c.charCodeAt(0));"
            "try { const cab = kurvix.deviceCab(files, arguments[1]);"
            "  let text = ''; cab.bytes.forEach(b => { text += String.fromCharCode(b); });"
            "  return {name: cab.name, bytes: btoa(text)}; }"
            "catch (e) { return {error: e.message, findings: e.findings || null}; }",
            [[name, base64.b64encode(data).decode()] for name, data in files], options)
        if "bytes" in result:
            result["bytes"] = base64.b64decode(result["bytes"])
        return result

    def read_cab(self, data):
        cab = self.dir / "read.cab"
        cab.write_bytes(data)
        return extract(cab, pathlib.Path(tempfile.mkdtemp(dir=self.dir)))

    def test_the_example_alone_gives_the_cabs_of_the_device_build_byte_for_byte(self):
        for variant, cab in (("startup", "kurvix.cab"), ("registry", "kurvix-registry.cab")):
            with self.subTest(variant):
                built = ROOT / "build-ce" / cab
                if not built.exists():
                    self.fail(f"{built} is missing: ce/build-ce.sh makes it")
                # The example's NewIni names a file it does not bring: build-ce.sh packs it anyway.
                made = self.device_cab([("Kurvix.ini", self.EXAMPLE.read_bytes())],
                                       {"variant": variant, "ignoreFindings": True})
                self.assertEqual(made.get("name"), cab, made.get("error"))
                self.assertEqual(made["bytes"], built.read_bytes())

    # (what, files, options, the error's text or None, the files installed or the findings)
    ROWS = [
        ("the example's warning stops it", [("Kurvix.ini", None)], {},
         "not packed", ["Kurvix.ini:16: warning: binding 3: the NewIni file"]),
        ("a day file and the night file its NewIni names", [("Kurvix.ini", DAY), ("Nacht.ini", CLEAN)], {},
         None, ["kurvix.exe", "Kurvix.ini", "Nacht.ini"]),
        ("a NewIni file missing from the set", [("Kurvix.ini", DAY)], {},
         "not packed", ['Kurvix.ini:7: warning: binding 1: the NewIni file "\\Speicher\\Kurvix\\Nacht.ini" '
                        'is not found (no file of the set has its name']),
        ("Kurvix.ini not first", [("Nacht.ini", CLEAN), ("Kurvix.ini", CLEAN)], {},
         "Kurvix.ini first", None),
        ("a second Kurvix.ini", [("Kurvix.ini", CLEAN), ("KURVIX.INI", CLEAN)], {},
         "in the cab twice", None),
        ("a relative install folder", [("Kurvix.ini", CLEAN)], {"installDir": "Speicher\\Kurvix"},
         "absolute device path", None),
        ("the shell's Launch number", [("Kurvix.ini", CLEAN)], {"variant": "registry", "launch": 50},
         "from 51 to 99", None),
        ("an unknown variant", [("Kurvix.ini", CLEAN)], {"variant": "desktop"},
         "must be one of startup, registry", None),
        ("no byte-order mark, packed anyway", [("Kurvix.ini", "KURVIX\r\nKeyCode=65\r\n".encode("utf-16-le"))],
         {"ignoreFindings": True}, "not UTF-16LE with a byte-order mark", None),
    ]

    def test_what_is_packed_and_what_is_refused(self):
        for what, files, options, error, expected in self.ROWS:
            with self.subTest(what):
                files = [(n, d if d is not None else self.EXAMPLE.read_bytes()) for n, d in files]
                made = self.device_cab(files, options)
                if error:
                    self.assertIn(error, made.get("error") or "")
                    if expected:
                        self.assertTrue(any(f.startswith(expected[0]) for f in made["findings"]),
                                        made["findings"])
                    continue
                self.assertNotIn("error", made)
                numbered, setup = self.read_cab(made["bytes"])
                self.assertEqual([f.name for f in setup.files], expected)
                self.assertEqual(numbered[3].read_bytes(), files[1][1])

    def test_the_button_asks_before_packing_findings_and_saves_the_cab(self):
        self.open_file(self.EXAMPLE)
        target = scratch / "downloads" / "kurvix-registry.cab"
        Select(browser.find_element(By.ID, "cab-variant")).select_by_value("registry")
        launch = browser.find_element(By.ID, "cab-launch")
        launch.send_keys(Keys.CONTROL + "a")
        launch.send_keys(Keys.BACKSPACE + "91")
        # (answer to the question, whether the cab is saved)
        for accept in (False, True):
            with self.subTest(accept=accept):
                browser.find_element(By.ID, "cab-download").click()
                alert = self.wait(lambda: self.alert())
                self.assertIn("errors or warnings in this configuration (1)", alert.text)
                self.assertIn("Kurvix.ini:16: warning", alert.text)
                alert.accept() if accept else alert.dismiss()
                if not accept:
                    self.assertIn("No cab made", self.text("status"))
                    self.assertFalse(target.exists())
        self.wait(lambda: target.exists() and "Saved" in self.text("status"))
        self.wait(lambda: target.stat().st_size > 0 and not (scratch / "downloads" / (target.name + ".crdownload")).exists())
        _, setup = self.read_cab(target.read_bytes())
        self.assertEqual([v.name for v in setup.registry], ["Launch91", "Depend91"])
        self.assertEqual(setup.folders, {1: "\\Speicher\\Kurvix"})
        self.assertIn("kurvix-registry.cab: ", self.text("cab-info"))
        target.unlink()


class PageWordsTest(PageTest):
    def test_hints_say_how_to_fix_the_encoding_in_the_page(self):
        text = "KURVIX\r\nKeyCode=193\r\nCommand=\\Programme\\Grüße.exe\r\n"
        # (file, what the page's hint tells to read it as)
        for name, data, reading in (("ansi.ini", text.encode("cp1252"), "read it as Windows-1252"),
                                    ("utf8.ini", text.encode(), None),
                                    ("be.ini", text.encode("utf-16-be"), "read it as UTF-16BE")):
            with self.subTest(file=name):
                path = self.dir / name
                path.write_bytes(data)
                self.open_file(path)
                hints = self.hints_text()
                self.assertNotIn("kurvix-check", hints)
                self.assertNotIn("--from", self.text("file-info"))
                self.assertIn("then press \u201cSave for the device\u201d", hints)
                if reading:
                    self.assertIn(reading, hints)
                if name == "ansi.ini":
                    self.save_whole_page(SCREENSHOT.with_name("page-words.png"))
                if name == "be.ini":
                    Select(browser.find_element(By.ID, "encoding")).select_by_visible_text("UTF-16BE")
                # Doing what it says gives a file the device loads without a word.
                browser.find_element(By.ID, "save").click()
                self.wait(lambda: "without a message" in self.text("load-result"))
                self.assertIn("Grüße.exe", self.text("bindings"))
                Select(browser.find_element(By.ID, "encoding")).select_by_value("auto")

    def test_no_hint_in_the_page_sends_one_to_the_command_line(self):
        files = all_configuration_files(self.dir)
        sending = [name for name, data in files.items() if "kurvix-check" in self.page_json(
            "kurvix.check(bytes, args[0]).hints.map(h => h.text)", data, name)]
        self.assertGreaterEqual(len(sending), 5)
        for name in sending:
            with self.subTest(file=name):
                self.open_file(pathlib.Path(name))
                # Neither a hint nor its explanation, opened as a reader opens it.
                for summary in browser.find_elements(By.CSS_SELECTOR, "li.hint-item summary"):
                    summary.click()
                self.assertNotIn("kurvix-check", self.hints_text())
                self.assertIn("Save for the device", self.hints_text())


class AccessibilityTest(PageTest):
    def test_every_control_has_a_label_and_keyboard_focus_is_visible(self):
        unlabelled = browser.execute_script(
            "return Array.from(document.querySelectorAll('input, select, textarea, button'))"
            ".filter(e => !(e.labels && e.labels.length) && !e.getAttribute('aria-label') && !e.textContent.trim())"
            ".map(e => e.id || e.outerHTML);")
        self.assertEqual(unlabelled, [])
        seen = []
        for _ in range(12):
            webdriver.ActionChains(browser).send_keys(Keys.TAB).perform()
            active = browser.switch_to.active_element
            seen.append(active.get_attribute("id") or active.tag_name)
            self.assertNotEqual(active.value_of_css_property("outline-style"), "none", seen[-1])
        for expected in ("open", "encoding", "save", "editor"):
            self.assertIn(expected, seen)
        self.assertLess(seen.index("open"), seen.index("save"))
        self.assertLess(seen.index("save"), seen.index("editor"))

    def test_readable_at_200_percent_zoom_without_sideways_scrolling(self):
        path = self.dir / "Kurvix.ini"
        path.write_bytes(ROOT.joinpath("examples", "Kurvix.ini").read_bytes())
        self.open_file(path)
        editor = browser.find_element(By.ID, "editor")
        editor.send_keys(Keys.CONTROL + Keys.END)
        editor.send_keys("\nbad line")
        self.wait(lambda: browser.find_elements(By.CSS_SELECTOR, "#messages li"))
        browser.find_element(By.ID, "press-add").click()
        browser.find_element(By.ID, "press-run").click()
        self.save_whole_page(SCREENSHOT)
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                {"width": 640, "height": 900, "deviceScaleFactor": 2, "mobile": False})
        try:
            overflow = browser.execute_script(
                "return document.documentElement.scrollWidth - document.documentElement.clientWidth;")
            self.assertLessEqual(overflow, 0)
            self.save_whole_page(SCREENSHOT.with_name("page-200.png"))
        finally:
            browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


if __name__ == "__main__":
    unittest.main()

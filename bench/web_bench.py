"""Prints the figures of build-web/kurvix.html (see bench/web_bench.sh); judges nothing."""
import base64
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "scripts"))
from page_browser import PAGE, ROOT, device_file, start_browser  # noqa: E402

KURVIX_CHECK = ROOT / "build-release" / "kurvix-check"


def thousand_bindings():
    lines = ["SETTINGS", "CheckIntervall=50", "ElapseTime=800", ""]
    for i in range(1000):
        lines += ["KURVIX", f"KeyCode={1 + i % 254}", f"Command=\\Programme\\Werkzeug {i}.exe", ""]
    return device_file(*lines)


def figures(values):
    return f"{min(values):.1f} / {statistics.median(values):.1f} / {max(values):.1f} ms"


def main():
    rounds = 3 if "--quick" in sys.argv else 10
    data = thousand_bindings()
    size = PAGE.stat().st_size
    print(f"page: {PAGE.relative_to(ROOT)}, {size:,} bytes ({size / 1048576:.2f} MiB), one file")
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="kurvix-bench-"))
    (scratch / "downloads").mkdir()
    browser = start_browser(scratch)
    try:
        encoded = base64.b64encode(data).decode()
        ready, first = [], []
        for _ in range(rounds):
            browser.get(PAGE.as_uri())
            ready.append(browser.execute_async_script(
                "const done = arguments[0]; kurvix.ready.then(() => done(performance.now()));"))
            first.append(browser.execute_script(
                "const bytes = Uint8Array.from(atob(arguments[0]), c => c.charCodeAt(0));"
                "const t = performance.now(); kurvix.check(bytes, 'Kurvix.ini'); return performance.now() - t;",
                encoded))
        print(f"time to ready, from navigation start (min / median / max of {rounds}): {figures(ready)}")
        print(f"first kurvix.check of the 1,000-binding file after ready: {figures(first)}")
        timings = browser.execute_script("""
            const bytes = Uint8Array.from(atob(arguments[0]), c => c.charCodeAt(0));
            const rounds = arguments[1];
            const time = f => { const t = performance.now(); f(); return performance.now() - t; };
            const out = {check: [], window: [], press: [], timeline: [], convert: []};
            const text = new TextDecoder('utf-16le').decode(bytes.subarray(2));
            for (let i = 0; i < rounds; ++i) {
              out.check.push(time(() => kurvix.check(bytes, 'Kurvix.ini')));
              out.window.push(time(() => kurvix.statusWindow(bytes, 0)));
              out.press.push(time(() => kurvix.press(bytes, [[193, 1200]], 'Kurvix.ini')));
              out.timeline.push(time(() => kurvix.timeline(bytes, [[193, 1200]], 'Kurvix.ini')));
              out.convert.push(time(() => kurvix.deviceFormat(text)));
            }
            out.bindings = kurvix.check(bytes, 'Kurvix.ini').bindings.length;
            return out;""", encoded, rounds)
        print(f"file: {timings['bindings']} bindings, {len(data):,} bytes")
        print(f"kurvix.check in the page, later calls (min / median / max of {rounds}): {figures(timings['check'])}")
        print(f"status window picture (program started, window shown): {figures(timings['window'])}")
        print(f"kurvix.press, one long press: {figures(timings['press'])}")
        print(f"kurvix.timeline, the same press over time: {figures(timings['timeline'])}")
        print(f"conversion of the editor's text to the device's format: {figures(timings['convert'])}")
    finally:
        browser.quit()
        shutil.rmtree(scratch, ignore_errors=True)
    if KURVIX_CHECK.exists():
        path = scratch.with_suffix(".ini")
        path.write_bytes(data)
        native = []
        for _ in range(rounds):
            started = time.monotonic()
            subprocess.run([str(KURVIX_CHECK), "--json", str(path)], capture_output=True, check=False)
            native.append(1000 * (time.monotonic() - started))
        path.unlink()
        print(f"for comparison, native kurvix-check --json, whole process: {figures(native)}")


if __name__ == "__main__":
    main()

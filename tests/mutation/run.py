#!/usr/bin/env python3
"""Puts each fault of faults.txt into a copy of the tree, rebuilds what the simulated device's
tests need (incrementally, in one build folder), runs those tests and prints which faults no
test noticed. Exit status 1 when any fault went unnoticed or did not apply.

    python3 tests/mutation/run.py [--work DIR] [NUMBER ...]

NUMBER picks faults by their place in the list (from 1); without, all of them run. The copy
and its build stay in DIR (default build-mutation/) for the next run.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
TESTS = ["config_reader_test", "binding_table_test", "press_handling_test", "shell_test"]


def read_faults():
    faults = []
    for line in (REPO / "tests/mutation/faults.txt").read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        fields = [f.replace(r"\|", "|").replace(r"\n", "\n") for f in re.split(r" (?<!\\)\| ", line)]
        if len(fields) != 4:
            sys.exit(f"faults.txt: not four fields: {line}")
        faults.append(dict(zip(("path", "find", "becomes", "what"), fields)))
    return faults


def copy_tree(source):
    """The tracked files as they are in the work tree now."""
    files = subprocess.run(["git", "ls-files", "-z"], cwd=REPO, check=True, capture_output=True).stdout
    for name in files.decode().split("\0"):
        if not name or not (REPO / name).is_file():
            continue
        target = source / name
        target.parent.mkdir(parents=True, exist_ok=True)
        if not target.exists() or target.read_bytes() != (REPO / name).read_bytes():
            shutil.copy2(REPO / name, target)


def build(source, build_dir):
    result = subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", *TESTS],
                            capture_output=True, text=True)
    return result.returncode == 0


def tests_pass(build_dir):
    for test in TESTS:
        result = subprocess.run([str(build_dir / "tests" / test), "--gtest_brief=1", "--gtest_fail_fast"],
                                capture_output=True, timeout=300)
        if result.returncode != 0:
            return False
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", default=str(REPO / "build-mutation"))
    parser.add_argument("numbers", nargs="*", type=int)
    options = parser.parse_args()
    work = Path(options.work)
    source, build_dir = work / "src", work / "build"
    copy_tree(source)
    subprocess.run(["cmake", "-S", str(source), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Debug"],
                   check=True, capture_output=True)
    if not build(source, build_dir) or not tests_pass(build_dir):
        sys.exit("the tests fail without any fault: nothing to measure")

    faults = read_faults()
    picked = options.numbers or range(1, len(faults) + 1)
    unnoticed = 0
    for number in picked:
        fault = faults[number - 1]
        path = source / fault["path"]
        original = path.read_text()
        if original.count(fault["find"]) != 1:
            print(f"{number:3} DOES NOT APPLY  {fault['path']}: found {original.count(fault['find'])} times")
            unnoticed += 1
            continue
        path.write_text(original.replace(fault["find"], fault["becomes"]))
        try:
            if not build(source, build_dir):
                verdict = "DOES NOT BUILD"
            else:
                try:
                    verdict = "caught" if not tests_pass(build_dir) else "NOT NOTICED"
                except subprocess.TimeoutExpired:
                    verdict = "caught (hangs)"
        finally:
            path.write_text(original)
        unnoticed += verdict in ("NOT NOTICED", "DOES NOT BUILD")
        print(f"{number:3} {verdict:17} {fault['path']}: {fault['what']}", flush=True)
    print(f"{len(picked) - unnoticed} of {len(picked)} faults caught")
    return 1 if unnoticed else 0


if __name__ == "__main__":
    sys.exit(main())

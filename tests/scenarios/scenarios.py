"""The scenario files of this folder, for every layer that runs them (the emulated Windows CE
run, the desktop program under Wine): their reader, the simulated device's trace of each
(scenario_run, the reference), and the comparison of a layer's trace with that one.

A scenario file holds:
  name          what it shows
  files         each device path with a file of the tree ({"path": ...}) or a text in the
                device's format ({"text": ...})
  script        events at milliseconds from the program's start: ["press", KEY, DOWN, UP]
                (held keys repeat), ["tapTray", T], ["tap", T, X, Y], ["close", T]
  boxes         [OPEN_MS, ANSWER] for the boxes the program opens, in turn: each stays open
                that long and is then answered (null: OK, so only a box with an OK button may go
                without one); later boxes are answered at once
  hotKeysHeld   keys another program holds; mutexesHeld: names other programs hold
  tickStart     where the tick counter starts
  exitCode      the program's
  deviceOnly    where the desktop program under Wine cannot run it: the reason
Every scenario's program file is MODULE_PATH.
"""
import json
import os
import subprocess
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCENARIO_DIR = os.path.dirname(os.path.abspath(__file__))
SCENARIO_RUN = os.environ.get("SCENARIO_RUN", os.path.join(ROOT, "build", "tests", "scenario_run"))
MODULE_PATH = "\\Windows\\Kurvix.exe"


def file_names():
    return sorted(name for name in os.listdir(SCENARIO_DIR) if name.endswith(".json"))


def load(file_name):
    with open(os.path.join(SCENARIO_DIR, file_name), encoding="utf-8") as scenario:
        return json.load(scenario)


def ini(text):
    """A text as the device reads its files: UTF-16LE with a byte order mark, CR LF."""
    return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")


def files(scenario):
    """Each device path with its bytes."""
    found = {}
    for path, source in scenario["files"].items():
        if "path" in source:
            with open(os.path.join(ROOT, source["path"]), "rb") as file:
                found[path] = file.read()
        else:
            found[path] = ini(source["text"])
    return found


def script_arguments(scenario, drive=""):
    """What other programs hold, the boxes' answers and the script, as scenario_run and the
    Wine driver both take them. A layer whose paths stand on a drive gives it: a name made
    from the program's path (the mutex a running instance holds) has it too."""
    arguments = []
    for key in scenario.get("hotKeysHeld", []):
        arguments += ["--hold-hot-key", str(key)]
    for name in scenario.get("mutexesHeld", []):
        arguments += ["--hold-mutex", name.replace(":/", f":{drive}/", 1)]
    for open_ms, answer in scenario["boxes"]:
        arguments += ["--box", f"{open_ms}:{'' if answer is None else answer}"]
    options = {"press": "--press", "tapTray": "--tap-tray", "tap": "--tap", "close": "--close"}
    for event in scenario["script"]:
        if event[0] not in options:
            raise ValueError(f"{scenario['name']}: no such event {event[0]}")
        arguments += [options[event[0]], ":".join(str(value) for value in event[1:])]
    return arguments


def simulated_trace(scenario):
    """The trace of the scenario's run on the simulated device (tests/scenario_run.cpp)."""
    arguments = [SCENARIO_RUN, "--module", MODULE_PATH]
    with tempfile.TemporaryDirectory() as folder:
        for number, (path, data) in enumerate(files(scenario).items()):
            host_file = os.path.join(folder, f"{number}.ini")
            with open(host_file, "wb") as file:
                file.write(data)
            arguments += ["--file", f"{path}={host_file}"]
        if "tickStart" in scenario:
            arguments += ["--tick-start", str(scenario["tickStart"])]
        result = subprocess.run(arguments + script_arguments(scenario), capture_output=True,
                                check=True)
    return json.loads(result.stdout)


def comparable(exit_code, boxes, started, injected):
    """What every layer sees: the exit code, the boxes with their answers, the programs
    started, the keys handed back, each event a tuple with its time first."""
    return {"exitCode": exit_code,
            "boxes": [(b["at"], b["caption"], b["text"], b["type"], b["answer"]) for b in boxes],
            "started": [(p["at"], p["file"], p["parameters"] or "") for p in started],
            "injected": [(k["at"], k["key"], k["down"], k["flags"]) for k in injected]}


def comparable_simulated(trace):
    return comparable(trace["exitCode"], trace["boxes"], trace["started"], trace["injected"])


def differences(expected, actual, tolerance_ms=0):
    """How one layer's comparable trace differs from another's: each list must hold the same
    events in the same order, each at most tolerance_ms from the other's time; anything else
    must be equal. An empty list when they agree."""
    found = []
    for key, wanted in expected.items():
        got = actual[key]
        if not isinstance(wanted, list):
            if got != wanted:
                found.append(f"{key}: {got!r}, not {wanted!r}")
        elif [event[1:] for event in got] != [event[1:] for event in wanted]:
            found.append(f"{key}: {got!r}, not {wanted!r}")
        else:
            found += [f"{key}[{number}] {event[1:]!r}: at {event[0]} ms, not {other[0]} ms"
                      f" (more than {tolerance_ms} ms apart)"
                      for number, (event, other) in enumerate(zip(got, wanted))
                      if abs(event[0] - other[0]) > tolerance_ms]
    return found

"""Runs the preflight tool on a fixture and compares its report with the fixture's "expected".

  run_fixture.py fixture TOOL FIXTURE_FOLDER   check a copy of the fixture's update folder
  run_fixture.py roundtrip TOOL                encode then decode gives the same bytes
  run_fixture.py usage TOOL                    bad usage ends with exit code 2

A fixture folder holds update/ (the update folder), install/ (a copy of the installed game,
optional: without it no --install is given) and "expected", whose lines are:
  exit N            the tool's exit code
  forecast N        the updater's exit code in the JSON forecast
  boxes A | B       the captions of the forecast's boxes, in order
  readonly PATH     before the run, take the write permission away from PATH (git keeps no
                    such bit; the tool and Wine read a file without it as read-only)
  args ...          more arguments for check
  line TEXT         TEXT appears in the text report, after the previous "line" (in order)
Python 3 standard library only."""

import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
from pathlib import Path


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return result.returncode, result.stdout.decode("utf-8", "replace"), result.stderr.decode("utf-8", "replace")


def read_expected(fixture):
    expected = {"lines": [], "readonly": [], "args": []}
    for raw in (fixture / "expected").read_text(encoding="utf-8").splitlines():
        if not raw or raw.startswith("#"):
            continue
        word, _, rest = raw.partition(" ")
        if word == "line":
            expected["lines"].append(rest)
        elif word == "readonly":
            expected["readonly"].append(rest)
        elif word == "args":
            expected["args"] += rest.split()
        elif word in ("exit", "forecast"):
            expected[word] = int(rest)
        elif word == "boxes":
            expected["boxes"] = [c.strip() for c in rest.split("|")]
        else:
            fail(f"expected: unknown line {raw!r}")
    return expected


def check_fixture(tool, fixture):
    expected = read_expected(fixture)
    work = Path(tempfile.mkdtemp(prefix="preflight-fixture-"))
    try:
        shutil.copytree(fixture / "update", work / "update")
        command = [tool, "check", str(work / "update")]
        if (fixture / "install").is_dir():
            shutil.copytree(fixture / "install", work / "install")
            command += ["--install", str(work / "install")]
        for path in expected["readonly"]:
            target = work / path
            target.chmod(target.stat().st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))
        command += expected["args"]

        code, text, err = run(command)
        print(text)
        if code != expected["exit"]:
            fail(f"exit code {code}, expected {expected['exit']}; stderr: {err}")
        position = 0
        for line in expected["lines"]:
            found = text.find(line, position)
            if found < 0:
                where = "anywhere" if text.find(line) < 0 else "after the previous expected line"
                fail(f"report line not found {where}: {line!r}")
            position = found + len(line)

        code, out, err = run(command + ["--json"])
        if code != expected["exit"]:
            fail(f"--json: exit code {code}, expected {expected['exit']}; stderr: {err}")
        report = json.loads(out)
        if report["exitCode"] != expected["exit"]:
            fail(f"--json: exitCode {report['exitCode']}, expected {expected['exit']}")
        if report["forecast"]["exitCode"] != expected["forecast"]:
            fail(f"--json: forecast exitCode {report['forecast']['exitCode']}, expected {expected['forecast']}")
        captions = [box["caption"] for box in report["forecast"]["boxes"]]
        if captions != expected["boxes"]:
            fail(f"--json: forecast boxes {captions}, expected {expected['boxes']}")
    finally:
        for root, dirs, files in os.walk(work):
            for name in files:
                os.chmod(os.path.join(root, name), 0o644)
        shutil.rmtree(work)
    print("PASS")


def check_roundtrip(tool):
    work = Path(tempfile.mkdtemp(prefix="preflight-roundtrip-"))
    try:
        # Every byte value, and a list the updater can read.
        plain = b"lowVersion 3\r\nmiddleVersion 2\r\nhighVersion 0\r\n" + bytes(range(256))
        (work / "game.xtx").write_bytes(plain)
        code, out, err = run([tool, "encode", str(work / "game.xtx")])
        print(out, err)
        encoded = (work / "game.fxf").read_bytes()
        if encoded != bytes(255 - b for b in plain):
            fail("encode: game.fxf is not the byte-wise complement of game.xtx")
        if "middleVersion 2" not in out:
            fail("encode: the list's values are not shown")
        code, out, err = run([tool, "decode", str(work / "game.fxf"), "-o", str(work / "back.xtx")])
        print(out, err)
        if (work / "back.xtx").read_bytes() != plain:
            fail("decode: back.xtx differs from the original")
        code, out, err = run([tool, "decode", str(work / "game.fxf"), "-o", str(work / "game.fxf")])
        if code != 2 or encoded != (work / "game.fxf").read_bytes():
            fail(f"decode onto its own input: exit code {code}, expected 2 and the file unchanged")
        code, out, err = run([tool, "encode", str(work / "absent.xtx")])
        if code != 1:
            fail(f"encode of a missing file: exit code {code}, expected 1")
    finally:
        shutil.rmtree(work)
    print("PASS")


def check_usage(tool):
    cases = [
        ([], 2), (["frobnicate"], 2), (["check"], 2), (["check", "a", "b"], 2),
        (["check", ".", "--install"], 2), (["check", ".", "--bogus"], 2),
        (["check", "/nonexistent-update-folder"], 2), (["encode"], 2), (["--help"], 0),
    ]
    for args, want in cases:
        code, out, err = run([tool] + args)
        if code != want:
            fail(f"preflight {' '.join(args)}: exit code {code}, expected {want}")
        if want == 2 and "--help" not in err:
            fail(f"preflight {' '.join(args)}: the message does not point to --help: {err!r}")
    code, out, err = run([tool, "--help"])
    for needed in ("check UPDATE_FOLDER", "--install", "--json", "encode FILE", "Exit codes"):
        if needed not in out:
            fail(f"--help lacks {needed!r}")
    print("PASS")


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    mode, tool = sys.argv[1], sys.argv[2]
    if mode == "fixture":
        check_fixture(tool, Path(sys.argv[3]))
    elif mode == "roundtrip":
        check_roundtrip(tool)
    elif mode == "usage":
        check_usage(tool)
    else:
        fail(f"unknown mode {mode}")


if __name__ == "__main__":
    main()

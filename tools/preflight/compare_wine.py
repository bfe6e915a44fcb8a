#!/usr/bin/env python3
"""The preflight's forecast against the real updater, on the same fixtures, under Wine.

For each fixture that has an install folder, the Windows build of the preflight tool checks the
update folder (reading the real registry and short paths of the prefix), then the real update.exe
runs on the same folders through the end-to-end driver, every question answered as the forecast
answers it (OK or Yes). Both must agree on the exit code and on every box, caption and text.

    python3 tools/preflight/compare_wine.py [--build-dir DIR] [--keep]

A destination the fixture marks read-only is also held open by the driver until its prompt, so
that the first copy fails as it does on Windows (Wine run as root would overwrite it).
Python 3 standard library only; prints one PASS/FAIL line per fixture and a summary line.
"""

import argparse
import json
import shutil
import subprocess
import sys
from pathlib import Path

sys.dont_write_bytecode = True
ROOT = Path(__file__).resolve().parents[2]
FIXTURES = ROOT / "tools" / "preflight" / "fixtures"
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402

HIVES = {"HKEY_CURRENT_USER": "HKCU", "HKEY_LOCAL_MACHINE": "HKLM"}


def read_expected(fixture):
    readonly = []
    for line in (fixture / "expected").read_text(encoding="utf-8").splitlines():
        if line.startswith("readonly "):
            readonly.append(line.split(" ", 1)[1].strip())
    return readonly


def host_registry(host_tool, update):
    """Hive and subkey the updater will open, as the host build of the tool reads info.txt."""
    result = subprocess.run([str(host_tool), "check", str(update), "--json"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, timeout=120)
    registry = json.loads(result.stdout.decode("utf-8"))["registry"]
    return HIVES[registry["hive"]], registry["subkey"]


def windows_forecast(session, build_dir, case_dir, update_win):
    log = case_dir / "preflight.json"
    session.run_wine([build_dir / "tools" / "preflight" / "preflight.exe", "check", update_win, "--json"],
                     timeout=120, log_path=log)
    text = log.read_bytes().decode("utf-8", errors="replace")
    return json.loads(text[text.index("{"):text.rindex("}") + 1])["forecast"]


def run_fixture(session, build_dir, host_tool, fixture, index):
    name = fixture.name
    case_dir = session.drive_c / "pf" / f"f{index:02d}"
    update = case_dir / "update"
    game = case_dir / "game"
    shutil.copytree(fixture / "update", update)
    shutil.copytree(fixture / "install", game)
    update_win = f"C:\\pf\\f{index:02d}\\update"
    game_win = f"C:\\pf\\f{index:02d}\\game"

    hive, subkey = host_registry(host_tool, fixture / "update")
    readonly = [game_win + "\\" + rel.split("/", 1)[1].replace("/", "\\") for rel in read_expected(fixture)]
    session.run_wine(["reg", "add", f"{hive}\\{subkey}", "/v", "installdirectory", "/d", game_win, "/f"],
                     timeout=120, log_path=case_dir / "reg.log")
    for path in readonly:
        session.run_wine(["attrib", "+r", path], timeout=120, log_path=case_dir / "attrib.log")

    forecast = windows_forecast(session, build_dir, case_dir, update_win)

    lines = [["updater", harness.wine_path(build_dir / "update.exe")], ["workdir", update_win],
             ["timeout_ms", "20000"], ["reg", hive, subkey, game_win]]
    lines += [["hold_file", path] for path in readonly]
    for box in forecast["boxes"]:
        answer = "YES" if box["answer"] in ("YES", "Yes") else "OK"
        lines.append(["box", answer] + (["release_files"] if answer == "YES" else []))
    harness.write_scenario(case_dir / "scenario.txt", lines)
    _, events = harness.run_driver(session, build_dir, case_dir / "scenario.txt", case_dir / "trace.jsonl", 20000)

    real_boxes = [(e["caption"], e["text"]) for e in events if e["ev"] == "box"]
    real_exit = next((e["code"] for e in events if e["ev"] == "exit" and e.get("proc", 0) == 0), None)
    predicted = [(b["caption"], b["text"]) for b in forecast["boxes"]]
    problems = []
    if real_exit != forecast["exitCode"]:
        problems.append(f"exit code: forecast {forecast['exitCode']}, real {real_exit}")
    if real_boxes != predicted:
        problems.append(f"boxes: forecast {predicted}, real {real_boxes}")
    return name, problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "{arch}"))
    parser.add_argument("--host-tool", default=str(ROOT / "build" / "host" / "tools" / "preflight" / "preflight"),
                        help="the host build of the tool, built when missing")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args(argv)

    arch, why = harness.choose_arch("auto")
    print(f"compare: {arch}: {why}")
    build_dir = harness.build(arch, args.build_dir, log=lambda m: print("compare: " + m))
    subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", "preflight"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    host_tool = Path(args.host_tool)
    if not host_tool.exists():
        subprocess.run(["cmake", "--build", str(host_tool.parents[2]), "-j2", "--target", "preflight"],
                       cwd=ROOT, check=True, stdout=subprocess.DEVNULL)

    fixtures = sorted(f for f in FIXTURES.iterdir() if (f / "install").is_dir() and (f / "update").is_dir())
    session = harness.WineSession(arch)
    failed = 0
    try:
        session.start(log=lambda m: print("compare: " + m))
        for index, fixture in enumerate(fixtures):
            name, problems = run_fixture(session, build_dir, host_tool, fixture, index)
            print(("PASS " if not problems else "FAIL ") + name)
            for problem in problems:
                print("    " + problem)
            failed += bool(problems)
    finally:
        session.stop()
        if not args.keep and not failed:
            session.remove()
    print(f"{len(fixtures) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

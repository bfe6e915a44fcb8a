#!/usr/bin/env python3
"""Demo: applies the sample update of examples/ to a sample game under Wine.

Lays out the game (examples/game) in "C:\\Games\\Sample Game", its registry key, and the update
(examples/update: info.txt and the files folder) as the working folder; makes the game's
config.ini read-only and keeps it open for a moment so that the player is asked about it; then
runs update.exe, answers every box as a player would, prints each box in the terminal, saves a
screenshot of each under build/demo/, and lists what was copied.

    scripts/demo.sh [--display] [--arch auto|win32|win64] [--build-dir DIR]

--display shows the windows on the current $DISPLAY instead of a private Xvfb screen.
"""

import argparse
import hashlib
import json
import os
import shutil
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

INSTALL = "C:\\Games\\Sample Game"
REGISTRY_KEY = "Software\\Example Studio\\Sample Game"  # from companyName and reg in info.txt
LOCKED_FILE = "data\\config.ini"
SHOT_NAMES = {"確認": "confirmation", "読み取り専用です": "read-only-prompt", "正常終了": "report"}
BUTTON_NAMES = {"OK": "OK", "CANCEL": "キャンセル", "YES": "はい", "NO": "いいえ"}
ANSWERS = ["OK", "YES", "OK"]  # confirm the folder, allow replacing config.ini, close the report


def tree(root):
    """Relative path -> digest of every file under root."""
    return {str(p.relative_to(root)): hashlib.sha256(p.read_bytes()).hexdigest()
            for p in sorted(root.rglob("*")) if p.is_file()}


def complete_events(trace_path):
    """The events of the lines written so far; a line still being written is left for later."""
    if not trace_path.exists():
        return []
    text = trace_path.read_text(encoding="utf-8", errors="replace")
    return [json.loads(line) for line in text.split("\n")[:-1] if line.strip()]


def show_box(event, progress):
    buttons = " / ".join(BUTTON_NAMES.get(b, b) for b in event["buttons"])
    icon = ", 警告アイコン (warning icon)" if event["icon"] else ""
    print(f"\n[box {event['n']}] 「{event['caption']}」  buttons: {buttons}{icon}")
    for line in event["text"].split("\n"):
        print(f"    {line}")
    if progress and progress.get("present"):
        state = "shown" if progress["visible"] else "hidden"
        detail = ""
        if progress.get("readable"):
            detail = f": {progress['label']}  bars {progress['tick']}% / {progress['overall']}%"
        print(f"    (progress window {state}{detail})")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--display", action="store_true", help="use $DISPLAY instead of a private Xvfb")
    parser.add_argument("--arch", choices=["auto", "win32", "win64"], default="auto")
    parser.add_argument("--build-dir")
    args = parser.parse_args()
    if args.display and not os.environ.get("DISPLAY"):
        parser.error("--display needs $DISPLAY")

    arch, why = harness.choose_arch(args.arch)
    print(f"demo: {arch}: {why}")
    build_dir = harness.build(arch, args.build_dir, log=lambda m: print(f"demo: {m}"))
    shots = harness.ROOT / "build" / "demo"
    shots.mkdir(parents=True, exist_ok=True)
    session = harness.WineSession(arch, display=os.environ["DISPLAY"] if args.display else None)
    code = 1
    try:
        session.start(log=lambda m: print(f"demo: {m}"))
        work = session.root / "update"
        shutil.copytree(harness.ROOT / "examples" / "update", work)
        install_host = session.drive_c / "Games" / "Sample Game"
        shutil.copytree(harness.ROOT / "examples" / "game", install_host)
        before = tree(install_host)

        trace = session.root / "trace.jsonl"
        lines = [["updater", harness.wine_path(build_dir / "update.exe")], ["workdir", harness.wine_path(work)],
                 ["timeout_ms", "90000"], ["reg", "HKCU", REGISTRY_KEY, INSTALL],
                 ["attrib", f"{INSTALL}\\{LOCKED_FILE}", "R"], ["hold_file", f"{INSTALL}\\{LOCKED_FILE}"]]
        for number, answer in enumerate(ANSWERS, 1):
            done = harness.wine_path(session.root / f"shot{number}.done")
            # The prompt moves below the progress window so that the screenshot shows both.
            extra = ["release_files", "move_to=340,520"] if answer == "YES" else []
            lines.append(["box", answer, f"wait_for={done}"] + extra)
        harness.write_scenario(session.root / "scenario.txt", lines)

        print(f"demo: game in {INSTALL}, registry HKCU\\{REGISTRY_KEY}, update from examples/update")
        driver = session.spawn_wine(harness.driver_command(build_dir, session.root / "scenario.txt", trace),
                                    log_path=session.root / "driver.log")
        deadline = time.monotonic() + 120
        shown = 0
        while driver.poll() is None and time.monotonic() < deadline:
            events = complete_events(trace)
            boxes = [e for e in events if e["ev"] == "box"]
            for box in boxes[shown:]:
                progress = next((e for e in events if e["ev"] == "progress" and e["at"] == f"box {box['n']}"),
                                None)
                if progress is None:
                    break  # its progress sample is not written yet
                show_box(box, progress)
                time.sleep(0.7)  # let Wine move and paint the box
                name = shots / f"{box['n']}-{SHOT_NAMES.get(box['caption'], 'box')}.png"
                if session.screenshot(name):
                    print(f"    screenshot: {name.relative_to(harness.ROOT)}")
                (session.root / f"shot{box['n']}.done").touch()
                shown += 1
            time.sleep(0.05)
        if driver.poll() is None:
            driver.kill()
            print("demo: the run did not end in time")
        events = complete_events(trace)
        for event in events:
            if event["ev"] == "answer":
                print(f"demo: box answered {event['answer']} ({event['via']})")
            if event["ev"] == "exit":
                print(f"\ndemo: update.exe ended with exit code {event['code']}")
                code = 0 if event["code"] == 0 else 1
            if event["ev"] in ("error", "timeout"):
                print(f"demo: driver reported {event}")

        after = tree(install_host)
        print(f"demo: in {INSTALL}:")
        for rel in sorted(after):
            if rel not in before:
                print(f"    added     {rel}")
            elif before[rel] != after[rel]:
                print(f"    replaced  {rel}")
            else:
                print(f"    unchanged {rel}")
    finally:
        session.stop()
        session.remove()
    return code


if __name__ == "__main__":
    sys.exit(main())

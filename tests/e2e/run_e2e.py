#!/usr/bin/env python3
"""End-to-end tests: update.exe under Wine, driven through its windows by e2e_driver.exe.

Each case builds its own working folder (info.txt and an update tree), installation folder,
registry key and mutex name, lets the driver play the run and answer the boxes, then checks the
boxes the player saw (caption, text, buttons, icon), the exit code and the files on disk.

    python3 tests/e2e/run_e2e.py [--build-dir DIR] [--arch auto|win32|win64] [-k FILTER] [--keep]

The 32-bit product runs under 32-bit Wine where this kernel can execute i386 programs; elsewhere
the same sources built for win64 run under wine64. The first lines say which.
"""

import argparse
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Dict, List, Optional

sys.dont_write_bytecode = True  # keep the source tree free of caches
sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

# ---- What the player reads, written out here in UTF-8 -------------------------------------

CONFIRM = ("確認", "以下のディレクトリーを修正してよろしいですか?\n発見した場所:{install}")
ABORTED = ("中止", "中止しました")
NO_INFO = ("ERROR", "インフォメーションファイル info.txt がみつかりません")
NO_REG = ("ERROR", "info.txt に、レジストリーの指定がありません")
ALREADY_RUNNING = ("Error", "二重起動及び、ゲーム動作中は起動できません")
COPY_FAILED = ("重大エラー", "ファイルのコピーに失敗しました\nこの状態ではゲームは正しく遊べません\n"
               "再度修正プログラムを実行してください")
REPORT_CAPTION = "正常終了"
REPORT = "アップデートは正常に終了しました"
REPORT_COUNT = "{}個のファイルを修正又は追加しました。\nアップデートは正常に終了しました"
READ_ONLY_PROMPT = ("読み取り専用です", "コピー先のファイルが読み取り専用になっています\n{short}\\{file}\n\n上書きしますか?")
HIDDEN_PROMPT = ("隠しファイルです", "コピー先のファイルが隠しファイルになっています\n{short}\\{file}\n\n上書きしますか?")
SYSTEM_PROMPT = ("システムファイルです", "コピー先のファイルはシステムファイルです\n{short}\\{file}\n\n上書きしますか(非推奨)?")


def not_installed(game):
    return ("ERROR", f"「{game}」がインストールされていません")


def warning(box):  # MB_ICONWARNING: one OK button and the warning icon
    return {"caption": box[0], "text": box[1], "buttons": ["OK"], "icon": True}


def ok(box):
    return {"caption": box[0], "text": box[1], "buttons": ["OK"], "icon": False}


def ok_cancel(box):
    return {"caption": box[0], "text": box[1], "buttons": ["OK", "CANCEL"], "icon": False}


def yes_no(box, file):
    return {"caption": box[0], "text": box[1].replace("{file}", file), "buttons": ["YES", "NO"], "icon": False}


def report(count=None):
    return ok((REPORT_CAPTION, REPORT if count is None else REPORT_COUNT.format(count)))


# ---- Cases ----------------------------------------------------------------------------------

OLD = b"old contents\r\n"
UPDATE = {"a.txt": b"new a\r\n", "sub/b.txt": b"new b\r\n", "sub/deeper/c.txt": b"new c\r\n"}
INSTALLED = {"a.txt": OLD, "sub/b.txt": OLD, "sub/deeper/keep.txt": OLD}
UPDATED = {"a.txt": b"new a\r\n", "sub/b.txt": b"new b\r\n", "sub/deeper/c.txt": b"new c\r\n",
           "sub/deeper/keep.txt": OLD}
UNCHANGED = {"a.txt": OLD, "sub/b.txt": OLD, "sub/deeper/c.txt": None}


@dataclass
class Case:
    name: str
    # info.txt lines, or None for no info.txt. "{reg}", "{mutex}" are filled in per case.
    info: Optional[List[str]]
    answers: List[List[str]]
    boxes: Optional[List[dict]]  # None: the case's own check looks at the boxes
    exit: int
    # (hive, subkey, data or None for the key alone); data "{install}" is the install folder.
    registry: List[tuple] = field(default_factory=lambda: [("HKLM", "Software\\kiv\\{reg}", "{install}")])
    install_name: str = "game"
    installed: Dict[str, bytes] = field(default_factory=lambda: dict(INSTALLED))
    update: Dict[str, bytes] = field(default_factory=lambda: dict(UPDATE))
    setup: List[List[str]] = field(default_factory=list)  # extra driver lines (attrib, hold_file...)
    after: Dict[str, Optional[bytes]] = field(default_factory=dict)  # install files afterwards; None = absent
    check: Optional[Callable] = None


def base_info(*extra):
    return ["reg {reg}"] + list(extra)


# Checks on the trace beyond the boxes, exit code and files.

def window_never_opened(ctx):
    shown = [e for e in ctx.events if e["ev"] == "progress" and e["present"]]
    return ["the progress window opened"] if shown else []


def mutex_probe(ctx, exists, free=None):
    probes = [e for e in ctx.events if e["ev"] == "mutex_probe"]
    if len(probes) != 1:
        return [f"expected one mutex probe, got {probes}"]
    probe = probes[0]
    if probe["exists"] != exists or (free is not None and probe.get("free") != free):
        return [f"mutex probe: expected exists={exists} free={free}, got {probe}"]
    return []


def progress_at_box(ctx, number):
    for e in ctx.events:
        if e["ev"] == "progress" and e["at"] == f"box {number}":
            return e
    return None


def window_absent_at(number):
    def check(ctx):
        sample = progress_at_box(ctx, number)
        return [] if sample and not sample["present"] else [f"progress window at box {number}: {sample}"]
    return check


def window_shown_at(number):
    def check(ctx):
        sample = progress_at_box(ctx, number)
        ok_ = sample and sample["present"] and sample["visible"]
        return [] if ok_ else [f"progress window not shown at box {number}: {sample}"]
    return check


def label_and_bars_at(number, label, overall):
    def check(ctx):
        sample = progress_at_box(ctx, number) or {}
        got = (sample.get("label"), sample.get("overall"))
        return [] if got == (label, overall) else [f"progress at box {number}: {got}, expected {(label, overall)}"]
    return check


def attributes_after(path_suffix, **expected):
    def check(ctx):
        for e in ctx.events:
            if e["ev"] == "attributes" and e["path"].endswith(path_suffix):
                got = {k: e.get(k) for k in expected}
                return [] if got == expected else [f"attributes of {path_suffix}: expected {expected}, got {e}"]
        return [f"no attributes recorded for {path_suffix}"]
    return check


def all_of(*checks):
    def check(ctx):
        return [problem for c in checks for problem in c(ctx)]
    return check


def aborted_case(name, answer):
    return Case(
        name, base_info("mutex {mutex}", "dir upd", "result on"),
        answers=[[answer], ["OK", "probe_mutex={mutex}"]],
        boxes=[ok_cancel(CONFIRM), ok(ABORTED)], exit=-1, after=UNCHANGED,
        # No lock, no window, no copy after a refusal.
        check=all_of(window_never_opened, lambda ctx: mutex_probe(ctx, exists=False)))


def centred_mid_copy(ctx):
    """At the prompt for c.dat: the label names its source, the bars match its place in the
    listing (n-th file: tick 10(n-1), overall 100n/4), and the window is centred."""
    sample = progress_at_box(ctx, 2)
    if not (sample and sample["present"] and sample["visible"] and sample["readable"]):
        return [f"progress window not readable at the prompt: {sample}"]
    problems = []
    if sample["label"] != "copy:upd\\c.dat":
        problems.append(f"label {sample['label']!r}")
    n = sample["tick"] // 10 + 1
    if sample["tick"] % 10 or not 1 <= n <= 4 or sample["overall"] != n * 100 // 4:
        problems.append(f"bars tick={sample['tick']} overall={sample['overall']}")
    left, top, right, bottom = sample["rect"]
    width, height = ctx.screen
    if (left, top) != (int((width - (right - left)) / 2), int((height - (bottom - top)) / 2)):
        problems.append(f"not centred: {sample['rect']} on {ctx.screen}")
    return problems


ELEVEN = [f"f{i:02d}.dat" for i in range(1, 12)]


def progress_per_file(ctx):
    """Every file of eleven prompts for its read-only destination, in whatever order the listing
    gives them. At the k-th prompt the window shows that file: "copy:" and its source path
    ("コピー中 " for the tenth), the tick bar 10(k-1) modulo 100, the overall bar 100k/11."""
    boxes = [e for e in ctx.events if e["ev"] == "box"]
    if len(boxes) != 13:
        return [f"expected 13 boxes, got {len(boxes)}"]
    problems = []
    if boxes[0]["caption"] != CONFIRM[0] or boxes[-1]["text"] != REPORT_COUNT.format(11):
        problems.append(f"first or last box wrong: {boxes[0]['caption']}, {boxes[-1]['text']!r}")
    names = []
    for k in range(1, 12):
        box = boxes[k]
        name = next((n for n in ELEVEN if box["text"].endswith(f"\\{n}\n\n上書きしますか?")), None)
        want = yes_no(READ_ONLY_PROMPT, name or "?")
        want["text"] = fill(want["text"], {"short": ctx.short})
        if name is None or {k_: box[k_] for k_ in want} != want:
            problems.append(f"prompt {k}: {box}")
            continue
        names.append(name)
        sample = progress_at_box(ctx, k + 1) or {}
        label = ("コピー中 " if k == 10 else "copy:") + "upd\\" + name
        got = (sample.get("label"), sample.get("tick"), sample.get("overall"))
        if got != (label, 10 * ((k - 1) % 10), k * 100 // 11):
            problems.append(f"progress at prompt {k}: {got}, expected {(label, 10 * ((k - 1) % 10), k * 100 // 11)}")
    if sorted(names) != ELEVEN:
        problems.append(f"prompted files {names}")
    return problems


LONG_VALUE = "C:\\games\\" + "v" * 246  # 255 bytes
TOO_LONG_VALUE = LONG_VALUE + "w"       # 256 bytes: with its terminator it does not fit

CASES = [
    # -- Start: settings file and "reg" --
    Case("start/no-info-file", None, answers=[["OK"]], boxes=[warning(NO_INFO)], exit=1, after=UNCHANGED),
    Case("start/no-reg-setting", ["mutex {mutex}", "dir upd", "result on"],
         answers=[["OK", "probe_mutex={mutex}"]], boxes=[warning(NO_REG)], exit=2, after=UNCHANGED,
         check=lambda ctx: mutex_probe(ctx, exists=False)),

    # -- Install directory lookup --
    Case("lookup/key-missing-named-game", base_info("gamename テストゲーム", "dir upd"), registry=[],
         answers=[["OK"]], boxes=[warning(not_installed("テストゲーム"))], exit=3, after=UNCHANGED),
    Case("lookup/value-missing", base_info("dir upd"), registry=[("HKLM", "Software\\kiv\\{reg}", None)],
         answers=[["OK"]], boxes=[warning(not_installed("ゲーム"))], exit=3, after=UNCHANGED),
    Case("lookup/value-256-bytes", base_info("dir upd"),
         registry=[("HKLM", "Software\\kiv\\{reg}", TOO_LONG_VALUE)],
         answers=[["OK"]], boxes=[warning(not_installed("ゲーム"))], exit=3, after=UNCHANGED),
    Case("lookup/value-255-bytes-found", base_info("result on"),
         registry=[("HKLM", "Software\\kiv\\{reg}", LONG_VALUE)], answers=[["OK"], ["OK"]],
         boxes=[ok_cancel((CONFIRM[0], CONFIRM[1].replace("{install}", LONG_VALUE))), report(0)], exit=0),
    Case("lookup/current-user", base_info("currentUser 0", "dir upd", "result on"),
         registry=[("HKCU", "Software\\kiv\\{reg}", "{install}")], answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), report(3)], exit=0, after=UPDATED),
    Case("lookup/hklm-not-read-for-current-user", base_info("currentUser 1", "dir upd"),
         answers=[["OK"]], boxes=[warning(not_installed("ゲーム"))], exit=3, after=UNCHANGED),
    Case("lookup/company-name-with-spaces", ["companyName Studio?One", "reg Game?Two{reg}", "dir upd"],
         registry=[("HKLM", "Software\\Studio One\\Game Two{reg}", "{install}")], answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), report()], exit=0, after=UPDATED),
    Case("lookup/long-folder-name-shown-copied-to-short-form", base_info("dir upd", "result ON"),
         install_name="Long Folder Name", answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), report(3)], exit=0, after=UPDATED,
         check=lambda ctx: [] if ctx.short and ctx.short != ctx.install
         else [f"short form {ctx.short!r} does not differ from {ctx.install!r}"]),

    # -- Confirmation refused: Cancel, Esc, closing the box --
    aborted_case("confirm/cancel", "CANCEL"),
    aborted_case("confirm/esc-key", "ESCKEY"),
    aborted_case("confirm/esc-command", "ESC"),
    aborted_case("confirm/close-box", "CLOSE"),

    # -- Single-instance lock --
    Case("lock/mutex-already-held", base_info("mutex {mutex}", "dir upd", "result on"),
         setup=[["hold_mutex", "{mutex}"]], answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), warning(ALREADY_RUNNING)], exit=8, after=UNCHANGED, check=window_never_opened),

    # -- Final report --
    # Dot-named files and folders are neither copied nor counted (the folder .svn is missing from
    # the install folder: visiting it would fail the copy).
    Case("report/count-and-copy-with-lock", base_info("mutex {mutex}", "dir upd", "result On"),
         update=dict(UPDATE, **{".hidden.txt": b"x", ".svn/entries": b"x"}),
         answers=[["OK"], ["OK", "probe_mutex={mutex}"]], boxes=[ok_cancel(CONFIRM), report(3)], exit=0,
         after=dict(UPDATED, **{".hidden.txt": None}),
         # The window is gone and the lock released (the mutex itself still open) at the report.
         check=all_of(window_absent_at(2), lambda ctx: mutex_probe(ctx, exists=True, free=True))),
    Case("report/plain-when-result-off", base_info("dir upd", "result off"), answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), report()], exit=0, after=UPDATED),
    Case("report/plain-without-result-or-dir", base_info(), answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), report()], exit=0, after=UNCHANGED),

    # -- Copy: protected destination files (held open so that the first copy fails) --
    Case("copy/read-only-prompt-yes", base_info("dir upd", "readonly 1", "result on"),
         setup=[["attrib", "{install}\\a.txt", "R"], ["hold_file", "{install}\\a.txt"],
                ["attrib_after", "{install}\\a.txt"]],
         answers=[["OK"], ["YES", "release_files"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), yes_no(READ_ONLY_PROMPT, "a.txt"), report(3)], exit=0, after=UPDATED,
         # Without copyNumber the overall bar stays at 0.
         check=all_of(attributes_after("a.txt", readonly=False), label_and_bars_at(2, "copy:upd\\a.txt", overall=0))),
    Case("copy/read-only-and-hidden-both-yes", base_info("dir upd", "readonly 0"),
         setup=[["attrib", "{install}\\a.txt", "RH"], ["hold_file", "{install}\\a.txt"],
                ["attrib_after", "{install}\\a.txt"]],
         answers=[["OK"], ["YES"], ["YES", "release_files"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), yes_no(READ_ONLY_PROMPT, "a.txt"), yes_no(HIDDEN_PROMPT, "a.txt"), report()],
         exit=0, after=UPDATED, check=attributes_after("a.txt", readonly=False, hidden=False)),
    Case("copy/no-to-first-prompt-fails-with-window-open",
         base_info("dir upd", "readonly off", "mutex {mutex}"),
         installed={"a.txt": OLD, "sub/b.txt": OLD, "sub/deeper/keep.txt": OLD},
         setup=[["attrib", "{install}\\sub\\b.txt", "RH"], ["hold_file", "{install}\\sub\\b.txt"],
                ["attrib_after", "{install}\\sub\\b.txt"]],
         answers=[["OK"], ["NO"], ["OK", "probe_mutex={mutex}"]],
         boxes=[ok_cancel(CONFIRM), yes_no(READ_ONLY_PROMPT, "sub\\b.txt"), warning(COPY_FAILED)], exit=4,
         after={"sub/b.txt": OLD},
         # The failure message comes while the window is still up, after the lock was released.
         check=all_of(attributes_after("b.txt", readonly=True, hidden=True), window_shown_at(3),
                      lambda ctx: mutex_probe(ctx, exists=True, free=True))),
    Case("copy/system-file-prompt-yes", base_info("dir upd", "readonly x"),
         setup=[["attrib", "{install}\\sub\\deeper\\keep.txt", "S"], ["attrib", "{install}\\a.txt", "S"],
                ["hold_file", "{install}\\a.txt"], ["attrib_after", "{install}\\a.txt"],
                ["attrib_after", "{install}\\sub\\deeper\\keep.txt"]],
         answers=[["OK"], ["YES", "release_files"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), yes_no(SYSTEM_PROMPT, "a.txt"), report()], exit=0, after=UPDATED,
         check=all_of(attributes_after("a.txt", system=False), attributes_after("keep.txt", system=True))),
    Case("copy/read-only-without-setting-fails-silently", base_info("dir upd"),
         setup=[["attrib", "{install}\\sub\\b.txt", "R"], ["hold_file", "{install}\\sub\\b.txt"],
                ["attrib_after", "{install}\\sub\\b.txt"]],
         answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4,
         after={"sub/b.txt": OLD}, check=attributes_after("b.txt", readonly=True)),
    Case("copy/destination-folder-missing", base_info("dir upd", "readonly 1"),
         update={"new/x.txt": b"x\r\n"}, answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4, after={"new/x.txt": None},
         check=lambda ctx: [] if not (ctx.install_host / "new").exists() else ["a folder was created"]),
    Case("copy/progress-at-prompt-mid-copy", base_info("dir upd", "readonly 1", "copyNumber 4", "result on"),
         update={n: b"new\r\n" for n in ("a.dat", "b.dat", "c.dat", "d.dat")},
         installed={n: OLD for n in ("a.dat", "b.dat", "c.dat", "d.dat")},
         setup=[["attrib", "{install}\\c.dat", "R"], ["hold_file", "{install}\\c.dat"]],
         answers=[["OK"], ["YES", "release_files"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), yes_no(READ_ONLY_PROMPT, "c.dat"), report(4)], exit=0,
         after={n: b"new\r\n" for n in ("a.dat", "b.dat", "c.dat", "d.dat")},
         check=all_of(centred_mid_copy, window_absent_at(3))),
    Case("copy/progress-label-and-bars-per-file", base_info("dir upd", "readonly 1", "copyNumber 11", "result on"),
         update={n: b"new\r\n" for n in ELEVEN}, installed={n: OLD for n in ELEVEN},
         setup=[line for n in ELEVEN for line in (["attrib", f"{{install}}\\{n}", "R"],
                                                  ["hold_file", f"{{install}}\\{n}"])],
         answers=[["OK"]] + [["YES", "release_named"]] * 11 + [["OK"]], boxes=None, exit=0,
         after={n: b"new\r\n" for n in ELEVEN}, check=progress_per_file),
]


# ---- Running a case -------------------------------------------------------------------------

@dataclass
class Context:
    install: str
    install_host: Path
    events: list
    short: str = ""
    screen: tuple = harness.SCREEN


def fill(text, values):
    for key, value in values.items():
        text = text.replace("{" + key + "}", value)
    return text


def run_case(session, build_dir, case, index):
    slug = f"c{index:02d}"
    case_dir = session.root / "cases" / slug
    work = case_dir / "work"
    install_host = session.drive_c / "games" / slug / case.install_name
    install = f"C:\\games\\{slug}\\{case.install_name}"
    values = {"reg": f"E2E{slug}", "mutex": f"e2e-mutex-{slug}", "install": install}

    (work / "upd").mkdir(parents=True)
    for rel, data in case.update.items():
        (work / "upd" / rel).parent.mkdir(parents=True, exist_ok=True)
        (work / "upd" / rel).write_bytes(data)
    install_host.mkdir(parents=True)
    for rel, data in case.installed.items():
        (install_host / rel).parent.mkdir(parents=True, exist_ok=True)
        (install_host / rel).write_bytes(data)
    if case.info is not None:
        text = "\r\n".join(fill(line, values) for line in case.info) + "\r\n"
        (work / "info.txt").write_bytes(text.encode("cp932"))

    lines = [["updater", harness.wine_path(build_dir / "update.exe")], ["workdir", harness.wine_path(work)],
             ["timeout_ms", "20000"], ["short_path", install]]
    for hive, subkey, data in case.registry:
        lines.append([hive, fill(subkey, values)] + ([] if data is None else [fill(data, values)]))
        lines[-1].insert(0, "reg")
    lines += [[fill(f, values) for f in line] for line in case.setup]
    lines += [["box"] + [fill(f, values) for f in answer] for answer in case.answers]
    harness.write_scenario(case_dir / "scenario.txt", lines)

    code, events = harness.run_driver(session, build_dir, case_dir / "scenario.txt", case_dir / "trace.jsonl",
                                      20000)
    ctx = Context(install=install, install_host=install_host, events=events)
    return check_case(case, ctx, code, values)


def check_case(case, ctx, driver_code, values):
    problems = []
    events = ctx.events
    starts = [e for e in events if e["ev"] == "start"]
    if not starts:
        return [f"no trace (driver exit {driver_code})"]
    start = starts[0]
    ctx.screen = tuple(start["screen"])
    if start["acp"] != 932 or start["cp932_check"] != "確認":
        problems.append(f"ANSI code page {start['acp']}, CP932 round trip gave {start['cp932_check']!r}")
    for e in events:
        if e["ev"] in ("error", "timeout"):
            problems.append(f"driver: {e}")
        if e["ev"] == "short_path":
            ctx.short = e["short"]
        if e["ev"] == "answer" and not e["planned"]:
            problems.append(f"a box the case did not expect was answered {e['answer']}")
    if driver_code != 0:
        problems.append(f"driver exit code {driver_code}")
    values = dict(values, short=ctx.short or ctx.install)

    seen = [{k: e[k] for k in ("caption", "text", "buttons", "icon")} for e in events if e["ev"] == "box"]
    expected = seen if case.boxes is None else [dict(box, text=fill(box["text"], values)) for box in case.boxes]
    if seen != expected:
        problems.append("boxes differ:")
        for i in range(max(len(seen), len(expected))):
            got = seen[i] if i < len(seen) else None
            want = expected[i] if i < len(expected) else None
            if got != want:
                problems.append(f"  box {i + 1}: expected {want}\n              got      {got}")

    exits = [e for e in events if e["ev"] == "exit"]
    if not exits:
        problems.append("the updater did not end")
    else:
        code = exits[0]
        if code["code"] != case.exit or code["unsigned"] != case.exit & 0xFFFFFFFF:
            problems.append(f"exit code {code['code']} (unsigned {code['unsigned']}), expected {case.exit}")

    for rel, data in case.after.items():
        path = ctx.install_host / rel
        got = path.read_bytes() if path.exists() else None
        if got != data:
            problems.append(f"{rel}: expected {data!r}, found {got!r}")
    if case.check is not None and not problems:
        problems += case.check(ctx)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", help='build directory of the chosen preset ("{arch}" stands for '
                        'win32 or win64); default build/e2e-<arch>')
    parser.add_argument("--arch", choices=["auto", "win32", "win64"], default="auto")
    parser.add_argument("-k", dest="filter", default="", help="run only cases whose name contains this")
    parser.add_argument("--keep", action="store_true", help="keep the prefix and the traces")
    args = parser.parse_args()

    started = time.monotonic()
    arch, why = harness.choose_arch(args.arch)
    print(f"e2e: {arch}: {why}", flush=True)
    build_dir = harness.build(arch, args.build_dir, log=lambda m: print(f"e2e: {m}", flush=True))
    session = harness.WineSession(arch)
    passed = failed = 0
    try:
        session.start(log=lambda m: print(f"e2e: {m}", flush=True))
        print(f"e2e: Wine prefix made in {session.wineboot_seconds:.1f} s", flush=True)
        for index, case in enumerate(CASES):
            if args.filter not in case.name:
                continue
            case_started = time.monotonic()
            try:
                problems = run_case(session, build_dir, case, index)
            except Exception as error:  # a broken case must not hide the others
                problems = [f"{type(error).__name__}: {error}"]
            seconds = time.monotonic() - case_started
            if problems:
                failed += 1
                print(f"FAIL {case.name} ({seconds:.1f} s)")
                for problem in problems:
                    print(f"     {problem}")
                print(f"     trace: {session.root / 'cases' / f'c{index:02d}' / 'trace.jsonl'}")
            else:
                passed += 1
                print(f"PASS {case.name} ({seconds:.1f} s)", flush=True)
    finally:
        session.stop()
        if args.keep or failed:
            print(f"e2e: kept {session.root}")
        else:
            session.remove()
    print(f"e2e: {arch}, {time.monotonic() - started:.1f} s in all")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())

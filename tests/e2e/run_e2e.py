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
import random
import shutil
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
FILE_NOT_FOUND = ("file not found", "init\\game.xtx")
VERSION_UNREADABLE = ("ERROR", "ゲームのバージョン情報が取得できませんでした")
REFUSAL_CAPTION = "このバージョンはアップデートできません"
TOO_OLD = "バージョンが古いためアップデートできません"
NEWER = "ゲームのほうがが新しいためアップデートの必要はありません"


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


def ver(n):
    return f"{n // 100}.{n % 100 // 10}{n % 10}"


def refusal(reason, installed, low, high):
    return warning((REFUSAL_CAPTION, f"{reason}\n\nインストールVer{ver(installed)}\n"
                                     f"バージョンアップ可能なものは以下のものです\nVer{ver(low)} ～ {ver(high)}"))


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
    # Install files afterwards; None = absent. A callable takes the Context (e.g. to follow the
    # listing order) and gives the dict.
    after: object = field(default_factory=dict)
    check: Optional[Callable] = None
    # Files in the working folder beside info.txt and the update tree ("init/game.xtx"...).
    work_files: Dict[str, bytes] = field(default_factory=dict)
    # Called as prepare(work, install_host, values) after the folders are made, for what is
    # generated at run time (large files, deep trees).
    prepare: Optional[Callable] = None
    # The whole install folder afterwards must be the installed files with "after" applied, and
    # no folder may appear.
    exact: bool = False
    listings: bool = False  # the driver records the listing of every update folder first
    timeout_ms: int = 20000
    runs: int = 1  # the driver runs this many times; each run is checked
    reset_between_runs: bool = False  # the install folder is made afresh before each run
    instances: int = 1
    launched: List[List[str]] = field(default_factory=list)  # answers of updaters started by launch
    long: bool = False  # runs only with --long


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

# Name lists of the game's version, plain (init\game.xtx) and complemented (init2\game.fxf).

def version_list(high, middle, low):
    return f"highVersion,{high}\r\nmiddleVersion,{middle}\r\nlowVersion,{low}\r\n".encode()


def complemented(data):
    return bytes(255 - b for b in data)


def gate_info(low, high, *extra):
    return base_info("versionCheck 1", f"lowVersion {low}", f"highVersion {high}", "mutex {mutex}", "dir upd",
                     "result on", *extra)


def gate_refused(name, files, boxes, exit_code):
    """The gate refuses: its boxes come after the confirmation, the run ends before the lock and
    the window (the mutex is probed at the last box), and nothing is copied."""
    return Case(name, gate_info(120, 130), work_files=files,
                answers=[["OK"]] * len(boxes) + [["OK", "probe_mutex={mutex}"]],
                boxes=[ok_cancel(CONFIRM)] + boxes, exit=exit_code, after=UNCHANGED, exact=True,
                check=all_of(window_never_opened, lambda ctx: mutex_probe(ctx, exists=False)))


# Hostile input: generated at run time.

def garbage_info(work, install_host, values):
    """Random bytes without 0x1A (which would end the reading early), with a 1000-byte run that
    is no token boundary at all and zero bytes inside tokens."""
    noise = bytes(b for b in random.Random(6).randbytes(64 * 1024) if b != 0x1A)
    (work / "info.txt").write_bytes(noise[:30000] + b"\x81" * 1000 + b"\x00reg\x00" + noise[30000:])


FIFTY_MB = 50 * 1024 * 1024


def fifty_mb_info(work, install_host, values):
    """50 MB of pairs with unknown keys, "reg" first and "dir", "result" last: the run copies
    only if the reader went through the whole file."""
    head = f"reg {values['reg']}\r\n".encode()
    tail = b"dir upd\r\nresult on\r\n"
    line = b"unknownKey " + b"v" * 52 + b"\r\n"  # 65 bytes, one pair
    filler = line * ((FIFTY_MB - len(head) - len(tail)) // len(line))
    (work / "info.txt").write_bytes(head + filler + tail)


DEEP = "/".join(["d"] * 60)
DEEP_UPDATE = {f"{'/'.join(['d'] * k)}/f{k:02d}.txt": f"new {k}\r\n".encode() for k in range(1, 61)}


def deep_folders(work, install_host, values):
    (install_host / DEEP).mkdir(parents=True)  # the copy creates no folders


def long_tree(n):
    """Source folder {work}\\upd\\A...\\B... of n bytes in all, holding the file "f" (whose path
    is then n + 2 bytes, within MAX_PATH at the limit), beside upd\\a.txt and upd\\A...\\g.txt.
    The source is named by its absolute path, longer than the install folder's, so that every
    destination path is shorter than its source path."""
    def prepare(work, install_host, values):
        a = "A" * 200
        b = "B" * (n - len(values["work"] + "\\upd\\") - len(a) - 1)
        files = {"a.txt": b"new a\r\n", f"{a}/g.txt": b"new g\r\n", f"{a}/{b}/f": b"new f\r\n"}
        write_tree(work / "upd", files)
        write_tree(install_host, {rel: OLD for rel in files})
    return prepare


def long_folder_fails(ctx):
    """The folder B fails before anything in it is tried: the files attempted (the overall bar
    with copyNumber 100) are exactly those before it in walk order."""
    order = walk_order(ctx)
    before = next(i for i, rel in enumerate(order) if "/B" in rel)
    sample = progress_at_box(ctx, 2) or {}
    if sample.get("overall") != before or "\\B" in sample.get("label", ""):
        return [f"at the failure: {sample}, expected {before} files attempted, none in the long folder"]
    return []


def walk_order(ctx):
    """The update's files in the order of the updater's walk (depth first, in listing order,
    dot names skipped), from the listings the driver recorded before the run."""
    listed = {ctx.folders[e["path"]]: e["wide"] for e in ctx.events if e["ev"] == "listing"}

    def walk(rel):
        for entry in listed.get(rel, []):
            if entry["name"].startswith("."):
                continue
            child = entry["name"] if rel == "." else f"{rel}/{entry['name']}"
            yield from walk(child) if entry["dir"] else [child]
    return list(walk("."))


def copied_until(fails_at):
    """The files before the first one under fails_at (a file, or a folder named by a test on its
    relative path) in walk order are copied; that one and all after it are left as they were."""
    def after(ctx):
        update = files_under(ctx.work / "upd")
        order = walk_order(ctx)
        test = fails_at if callable(fails_at) else (lambda rel: rel == fails_at or rel.startswith(fails_at + "/"))
        stop = next(i for i, rel in enumerate(order) if test(rel))
        return {rel: update[rel] for rel in order[:stop]}
    return after


def ansi_names(expected):
    """The premise: what the ANSI listing gives for the names code page 932 cannot hold."""
    def check(ctx):
        listing = next(e for e in ctx.events if e["ev"] == "listing" and ctx.folders[e["path"]] == ".")
        got = {w["name"]: a["name"] for w, a in zip(listing["wide"], listing["ansi"]) if w["name"] in expected}
        return [] if got == expected else [f"ANSI listing names {got}, expected {expected}"]
    return check


def all_copied(ctx):
    return files_under(ctx.work / "upd")


def two_hundred_thousand_tokens(work, install_host, values):
    """199,994 filler tokens, then the three version keys as the last pairs: the gate passes only
    if the load read the whole list."""
    filler = "".join(f"k{i},v\r\n" for i in range(99997))
    (work / "init").mkdir(exist_ok=True)
    (work / "init" / "game.xtx").write_bytes((filler + "lowVersion,5,middleVersion,2,highVersion,0\r\n").encode())


# Concurrency: several updaters on one game and one mutex name.

def boxes_of(ctx, proc):
    return [{k: e[k] for k in ("caption", "text", "buttons", "icon")} for e in ctx.events
            if e["ev"] == "box" and e["proc"] == proc]


def exit_of(ctx, proc):
    return next((e["code"] for e in ctx.events if e["ev"] == "exit" and e["proc"] == proc), None)


def one_copies_others_locked(count, locked_expected):
    """Exactly one updater copies and reports; every other one ends with 8 and the lock message
    after its confirmation, without opening the window."""
    def check(ctx):
        confirm = ok_cancel(CONFIRM)
        confirm = dict(confirm, text=fill(confirm["text"], {"install": ctx.install}))
        winner_boxes = [confirm, report(3)]
        loser_boxes = [confirm, warning(ALREADY_RUNNING)]
        procs = sorted({e["proc"] for e in ctx.events if e["ev"] == "started"})
        problems = [] if len(procs) == count else [f"{len(procs)} updaters started, expected {count}"]
        exits = {p: exit_of(ctx, p) for p in procs}
        winners = [p for p in procs if exits[p] == 0]
        losers = [p for p in procs if exits[p] == 8]
        if len(winners) != 1 or len(losers) != locked_expected:
            problems.append(f"exit codes by updater: {exits}")
        for p in winners:
            if boxes_of(ctx, p) != winner_boxes:
                problems.append(f"updater {p} (copied): boxes {boxes_of(ctx, p)}")
        for p in losers:
            if boxes_of(ctx, p) != loser_boxes:
                problems.append(f"updater {p} (locked out): boxes {boxes_of(ctx, p)}")
            if any(e["ev"] == "progress" and e["proc"] == p and e["present"] for e in ctx.events):
                problems.append(f"updater {p} (locked out) opened the progress window")
        return problems
    return check


def second_ends_while_first_reports(ctx):
    """The second updater ended (with 8) while the first still showed its report."""
    problems = one_copies_others_locked(2, 1)(ctx)
    if not problems and exit_of(ctx, 0) != 0:
        problems.append("the first updater did not copy")
    second_exit = next(i for i, e in enumerate(ctx.events) if e["ev"] == "exit" and e["proc"] == 1)
    report_answer = [i for i, e in enumerate(ctx.events) if e["ev"] == "answer" and e["proc"] == 0][-1]
    if second_exit > report_answer:
        problems.append("the second updater ended after the first one's report was answered")
    return problems


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

    # -- Version gate: after the confirmation, before the lock --
    # No list: the plain path's box (no icon), then the unreadable message.
    gate_refused("gate/no-list-unreadable-exit-5", {}, [ok(FILE_NOT_FOUND), warning(VERSION_UNREADABLE)], 5),
    gate_refused("gate/too-old-exit-6", {"init/game.xtx": version_list(0, 1, 9)}, [refusal(TOO_OLD, 119, 120, 130)], 6),
    gate_refused("gate/newer-exit-7", {"init/game.xtx": version_list(9, 0, 5)}, [refusal(NEWER, 1005, 120, 130)], 7),
    # The complemented list under init2 is read in preference to the plain one (125, which
    # would pass).
    gate_refused("gate/complemented-list-under-init2",
                 {"init2/game.fxf": complemented(version_list(0, 3, 1)), "init/game.xtx": version_list(0, 2, 5)},
                 [refusal(NEWER, 131, 120, 130)], 7),
    # Bounds are inclusive; the lock is taken after the gate and released (still open) at the report.
    Case("gate/upper-bound-passes-and-copies", gate_info(120, 130), work_files={"init/game.xtx": version_list(0, 3, 0)},
         answers=[["OK"], ["OK", "probe_mutex={mutex}"]], boxes=[ok_cancel(CONFIRM), report(3)], exit=0,
         after=UPDATED, exact=True, check=lambda ctx: mutex_probe(ctx, exists=True, free=True)),
    # init2 present without game.fxf: the plain list, and no box for the complemented path.
    Case("gate/init2-without-list-falls-back-silently", gate_info(120, 130),
         work_files={"init2/other.fxf": b"\xff", "init/game.xtx": version_list(0, 2, 5)},
         answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), report(3)], exit=0, after=UPDATED, exact=True),
    # A word reads as 0 and turns the gate off: no list exists, the bounds exclude everything.
    Case("gate/version-check-word-is-off", base_info("versionCheck on", "lowVersion 500", "highVersion 400",
                                                     "dir upd", "result on"),
         answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), report(3)], exit=0, after=UPDATED, exact=True),

    # -- Hostile and broken input: a defined end, the right boxes, nothing else changed --
    Case("hostile/info-binary-garbage", None, prepare=garbage_info, answers=[["OK"]], boxes=[warning(NO_REG)],
         exit=2, exact=True),
    Case("hostile/info-50-mb-read-to-its-end", None, prepare=fifty_mb_info, timeout_ms=120000,
         answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), report(3)], exit=0, after=UPDATED, exact=True),
    Case("hostile/byte-order-mark-before-reg", None,
         prepare=lambda work, _, values: (work / "info.txt").write_bytes(
             b"\xef\xbb\xbfreg " + values["reg"].encode() + b"\r\ndir upd\r\n"),
         answers=[["OK"]], boxes=[warning(NO_REG)], exit=2, exact=True),
    Case("hostile/update-tree-60-folders-deep", base_info("dir upd", "result on"), update=DEEP_UPDATE,
         installed={}, prepare=deep_folders, answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), report(60)],
         exit=0, after=DEEP_UPDATE, exact=True),
    # The listing pattern "%s\*" of a 257-byte folder fits 260 bytes with its terminator.
    Case("hostile/folder-path-at-listing-limit-copied", ["reg {reg}", "dir {work}\\upd", "result on"], update={},
         installed={}, prepare=long_tree(257), answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), report(3)],
         exit=0, after=all_copied, exact=True),
    # One byte more: the folder fails the copy (never skipped as if empty); what the walk
    # reached before it stays copied.
    Case("hostile/folder-path-over-listing-limit-fails", ["reg {reg}", "dir {work}\\upd", "copyNumber 100"],
         update={}, installed={}, prepare=long_tree(258), listings=True, answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4, after=copied_until(lambda rel: "/B" in rel),
         exact=True, check=long_folder_fails),
    # Names code page 932 cannot hold: Wine's ANSI listing gives "café.txt" as "cafe.txt" (best
    # fit) and "한글.txt", "x😀.txt" as "??.txt", "x??.txt". Neither may be copied under such a
    # name: the copy fails (exit 4), the install's own cafe.txt stays, files copied before stay.
    Case("hostile/name-outside-cp932-best-fit", base_info("dir upd", "result on"), listings=True,
         update={"a.txt": b"new a\r\n", "café.txt": b"new cafe\r\n"}, installed={"a.txt": OLD, "cafe.txt": OLD},
         answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4,
         after=copied_until("café.txt"), exact=True, check=ansi_names({"café.txt": "cafe.txt"})),
    # "café.txt" beside "cafe.txt": both list as "cafe.txt". The walk must not copy cafe.txt twice
    # and report success with café.txt left out: it fails at café.txt.
    Case("hostile/name-colliding-after-best-fit-fails", base_info("dir upd", "result on"), listings=True,
         update={"a.txt": b"new a\r\n", "café.txt": b"new cafe accent\r\n", "cafe.txt": b"new cafe plain\r\n"},
         installed={"a.txt": OLD, "cafe.txt": OLD}, answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4, after=copied_until("café.txt"), exact=True,
         check=ansi_names({"café.txt": "cafe.txt"})),
    Case("hostile/names-outside-cp932-question-marks", base_info("dir upd", "result on"), listings=True,
         update={"a.txt": b"new a\r\n", "한글.txt": b"new hangul\r\n", "x\U0001F600.txt": b"new emoji\r\n"},
         installed={"a.txt": OLD, "x.txt": OLD}, answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4,
         after=copied_until(lambda rel: rel != "a.txt"), exact=True,
         check=ansi_names({"한글.txt": "??.txt", "x\U0001F600.txt": "x??.txt"})),
    # A destination held open without sharing: the retry fails too; no prompt either way.
    Case("hostile/destination-held-open", base_info("dir upd", "result on"), listings=True, setup=[["hold_file", "{install}\\sub\\b.txt"]], answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4, after=copied_until("sub/b.txt"), exact=True),
    Case("hostile/destination-held-open-with-readonly", base_info("dir upd", "readonly 1", "result on"),
         listings=True, setup=[["hold_file", "{install}\\sub\\b.txt"]], answers=[["OK"], ["OK"]],
         boxes=[ok_cancel(CONFIRM), warning(COPY_FAILED)], exit=4, after=copied_until("sub/b.txt"), exact=True),
    # A read-only source: copied, and a second run over its read-only copy works as well.
    Case("hostile/read-only-source-copied-twice", base_info("dir upd", "result on"),
         setup=[["attrib", "{work}\\upd\\a.txt", "R"], ["attrib_after", "{install}\\a.txt"]], runs=2,
         answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), report(3)], exit=0, after=UPDATED, exact=True),
    # 0xFF bytes complement to zero bytes: no entry, so the version is 100 (and the plain list,
    # 125, is not read).
    Case("hostile/name-list-of-0xff-bytes", gate_info(101, 200),
         work_files={"init2/game.fxf": b"\xff" * 4096, "init/game.xtx": version_list(0, 2, 5)},
         answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), refusal(TOO_OLD, 100, 101, 200)], exit=6,
         exact=True),
    Case("hostile/game-list-of-200000-tokens", gate_info(120, 130), prepare=two_hundred_thousand_tokens,
         timeout_ms=570000, long=True, answers=[["OK"], ["OK"]], boxes=[ok_cancel(CONFIRM), report(3)], exit=0,
         after=UPDATED, exact=True),

    # -- Concurrency on one mutex name --
    # Eight at once, confirmations and then the last boxes answered together, ten rounds over a
    # fresh install folder.
    Case("lock/eight-at-once-one-copies", base_info("mutex {mutex}", "dir upd", "result on"), instances=8,
         runs=10, reset_between_runs=True, timeout_ms=60000, answers=[["OK", "together"], ["OK", "together"]],
         boxes=None, exit=None, after=UPDATED, exact=True, check=one_copies_others_locked(8, 7)),
    # The mutex lives until the process ends: a second run while the report is up is refused.
    Case("lock/second-while-first-reports", base_info("mutex {mutex}", "dir upd", "result on"),
         answers=[["OK"], ["OK", "launch"]], launched=[["OK"], ["OK"]], boxes=None, exit=None,
         after=UPDATED, exact=True, check=second_ends_while_first_reports),
]


# ---- Running a case -------------------------------------------------------------------------

@dataclass
class Context:
    install: str
    install_host: Path
    events: list
    short: str = ""
    screen: tuple = harness.SCREEN
    work: Path = None
    folders: dict = field(default_factory=dict)  # listed update folder (Windows path) -> relative path
    installed: dict = field(default_factory=dict)  # the install folder's files before the run
    run: int = 0


def fill(text, values):
    for key, value in values.items():
        text = text.replace("{" + key + "}", value)
    return text


def write_tree(root, files):
    for rel, data in files.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)


def folders_under(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob("*") if p.is_dir())


def files_under(root):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}


def run_case(session, build_dir, case, index):
    slug = f"c{index:02d}"
    case_dir = session.root / "cases" / slug
    work = case_dir / "work"
    install_host = session.drive_c / "games" / slug / case.install_name
    install = f"C:\\games\\{slug}\\{case.install_name}"
    values = {"reg": f"E2E{slug}", "mutex": f"e2e-mutex-{slug}", "install": install, "work": harness.wine_path(work)}

    (work / "upd").mkdir(parents=True)
    write_tree(work / "upd", case.update)
    write_tree(work, case.work_files)
    install_host.mkdir(parents=True)
    write_tree(install_host, case.installed)
    if case.info is not None:
        text = "\r\n".join(fill(line, values) for line in case.info) + "\r\n"
        (work / "info.txt").write_bytes(text.encode("cp932"))
    if case.prepare is not None:
        case.prepare(work, install_host, values)
    installed_snapshot = files_under(install_host)
    folders_snapshot = folders_under(install_host)

    lines = [["updater", harness.wine_path(build_dir / "update.exe")], ["workdir", harness.wine_path(work)],
             ["timeout_ms", str(case.timeout_ms)], ["short_path", install], ["instances", str(case.instances)]]
    for hive, subkey, data in case.registry:
        lines.append([hive, fill(subkey, values)] + ([] if data is None else [fill(data, values)]))
        lines[-1].insert(0, "reg")
    folders = {}
    if case.listings:
        for folder in [work / "upd"] + sorted(p for p in (work / "upd").rglob("*") if p.is_dir()):
            folders[harness.wine_path(folder)] = folder.relative_to(work / "upd").as_posix()
            lines.append(["listing", harness.wine_path(folder)])
    lines += [[fill(f, values) for f in line] for line in case.setup]
    lines += [["box"] + [fill(f, values) for f in answer] for answer in case.answers]
    if case.launched:
        lines.append(["launched_plan"])
        lines += [["box"] + [fill(f, values) for f in answer] for answer in case.launched]
    harness.write_scenario(case_dir / "scenario.txt", lines)

    for run in range(case.runs):
        if run and case.reset_between_runs:
            shutil.rmtree(install_host)
            install_host.mkdir(parents=True)
            write_tree(install_host, installed_snapshot)
        trace = case_dir / ("trace.jsonl" if case.runs == 1 else f"trace-{run + 1}.jsonl")
        code, events = harness.run_driver(session, build_dir, case_dir / "scenario.txt", trace, case.timeout_ms)
        ctx = Context(install=install, install_host=install_host, events=events, work=work, folders=folders,
                      installed=installed_snapshot, run=run)
        problems = check_case(case, ctx, code, values)
        if case.exact and not problems:
            problems += exact_tree(case, ctx, folders_snapshot)
        if problems:
            return ([f"run {run + 1} of {case.runs}:"] if case.runs > 1 else []) + problems
    return []


def exact_tree(case, ctx, folders_before):
    """Every file of the install folder is the installed one or the one "after" names, and no
    folder appeared."""
    expected = dict(ctx.installed)
    for rel, data in expected_after(case, ctx).items():
        if data is None:
            expected.pop(rel, None)
        else:
            expected[rel] = data
    got = files_under(ctx.install_host)
    problems = [f"install folder: {rel}: expected {expected.get(rel)!r:.60}, found {got.get(rel)!r:.60}"
                for rel in sorted(set(expected) | set(got)) if expected.get(rel) != got.get(rel)]
    if folders_under(ctx.install_host) != folders_before:
        problems.append("folders appeared in the install folder")
    return problems


def expected_after(case, ctx):
    return case.after(ctx) if callable(case.after) else case.after


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

    seen = [{k: e[k] for k in ("caption", "text", "buttons", "icon")} for e in events
            if e["ev"] == "box" and e["proc"] == 0]
    expected = seen if case.boxes is None else [dict(box, text=fill(box["text"], values)) for box in case.boxes]
    if seen != expected:
        problems.append("boxes differ:")
        for i in range(max(len(seen), len(expected))):
            got = seen[i] if i < len(seen) else None
            want = expected[i] if i < len(expected) else None
            if got != want:
                problems.append(f"  box {i + 1}: expected {want}\n              got      {got}")

    exits = [e for e in events if e["ev"] == "exit" and e["proc"] == 0]
    if not exits:
        problems.append("the updater did not end")
    elif case.exit is not None:
        code = exits[0]
        if code["code"] != case.exit or code["unsigned"] != case.exit & 0xFFFFFFFF:
            problems.append(f"exit code {code['code']} (unsigned {code['unsigned']}), expected {case.exit}")

    for rel, data in expected_after(case, ctx).items():
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
    parser.add_argument("--long", action="store_true", help="also run the cases too slow for every run "
                        "(a name list of 200,000 tokens: minutes under Wine)")
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
            if case.long and not args.long:
                print(f"SKIP {case.name} (needs --long)", flush=True)
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

#!/usr/bin/env python3
"""Benchmarks of the update copy under Wine, side by side in one run, plus the native
micro-benchmarks of the readers.

    bash scripts/bench.sh [--rounds N] [--smoke] [--startup-only] [--arch auto|win32|win64] [--doc FILE]
                          [--keep]

Trees are generated at run time in a private Wine prefix (nothing is committed):
  s4k  2,000 files of 4 KiB in 20 folders
  b1m  200 files of 1 MiB in 1 folder
  m1k  20,000 files of 1 KiB in 200 folders
Each is copied over an identical copy of itself. Every round runs every variant once, in an
order rotated from round to round, so that load from other processes falls on all variants:
  upd      update.exe through the end-to-end driver (copy phase: the confirmation's answer to the
           final report box, from the driver's trace; whole: process start to exit)
  floor    bench_floor.exe through the same driver: the same box, dialog, walk, progress
           update and final box, nothing else
  bare     bench_floor.exe --bare: the walk and CopyFileA alone
  xcopy    Wine's xcopy /E /Y
  cp       native cp -r outside Wine
  upd-nt, floor-nt   the same with the prefix's theme switched off (ThemeActive "0")
Start-up: process start to the first box, update.exe without info.txt against bench_one_box.exe
and two steps between them (the warning icon; comctl32 imported), also with the theme off.
--smoke runs one round over a tiny tree and no micro-benchmarks, for CI: it checks that every
variant runs and copies every file.
"""

import argparse
import datetime
import json
import os
import platform
import random
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree free of caches
ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import harness  # noqa: E402

THEME_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager"
DRIVER_TIMEOUT_MS = 900000

# name, files, bytes per file, folders
TREES = [("s4k", 2000, 4096, 20), ("b1m", 200, 1 << 20, 1), ("m1k", 20000, 1024, 200)]
SMOKE_TREES = [("smoke", 60, 1024, 3)]

COPY_VARIANTS = ["upd", "floor", "bare", "xcopy", "cp"]
UNTHEMED_VARIANTS = ["upd-nt", "floor-nt"]
# update.exe without info.txt; one box; one box with the warning icon; that and comctl32 imported;
# "-nt": with the prefix's theme switched off.
STARTUP_VARIANTS = ["upd", "one_box", "one_box_icon", "one_box_comctl"]
STARTUP_UNTHEMED = ["upd-nt", "one_box_comctl-nt"]


def log(message):
    print(f"bench: {message}", flush=True)


def median(values):
    return statistics.median(values) if values else float("nan")


# ---- Building -------------------------------------------------------------------------------

def build_windows(arch):
    build_dir = harness.build(arch, str(ROOT / "build" / "bench-{arch}"), log=log)
    subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", "bench_floor", "bench_one_box",
                    "bench_one_box_icon", "bench_one_box_comctl"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    return build_dir


def run_micro(build_dir):
    """Google Benchmark over the readers, native and optimised; returns {name: (value, unit)}."""
    if not (build_dir / "build.ninja").exists():
        subprocess.run(["cmake", "--preset", "bench", "-B", str(build_dir)], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", "micro_bench"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    log("native micro-benchmarks (the 100,000-token load takes about 20 s)")
    out = subprocess.run([str(build_dir / "micro_bench"), "--benchmark_format=json"], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    results = {}
    for bench in json.loads(out)["benchmarks"]:
        if "bytes_per_second" in bench:
            results[bench["name"]] = (bench["bytes_per_second"] / 1e6, "MB/s")
        else:
            results[bench["name"]] = (bench["real_time"], bench["time_unit"])
    return results


# ---- Trees and scenarios ----------------------------------------------------------------------

def make_tree(session, name, files, size, folders):
    """The update tree under work/upd and an identical install folder under game/."""
    base = session.drive_c / "bench" / name
    work = base / "work"
    source = work / "upd"
    rng = random.Random(name)
    block = bytes(rng.getrandbits(8) for _ in range(4096)) * (size // 4096 + 1)
    per_folder = files // folders
    for f in range(folders):
        folder = source / f"d{f:03d}"
        folder.mkdir(parents=True, exist_ok=True)
        for i in range(per_folder):
            offset = (f * per_folder + i) % 4096
            (folder / f"f{i:05d}.dat").write_bytes(block[offset:offset + size])
    subprocess.run(["cp", "-r", str(source), str(base / "game")], check=True)
    install = f"C:\\bench\\{name}\\game"
    reg = f"Bench{name}"
    (work / "info.txt").write_bytes(
        f"reg {reg}\r\ndir upd\r\ncopyNumber {files}\r\nresult on\r\n".encode("ascii"))
    out = session.root / f"floor-{name}.txt"
    (work / "bench_floor.txt").write_text(f"upd\n{install}\n--expected\n{files}\n--out\n{harness.wine_path(out)}\n")
    return {"name": name, "files": files, "base": base, "work": work, "source": source, "install": install,
            "reg": reg, "floor_out": out}


def write_driven_scenario(path, program, workdir, registry=None, boxes=2):
    lines = [["updater", harness.wine_path(program)], ["workdir", harness.wine_path(workdir)],
             ["timeout_ms", DRIVER_TIMEOUT_MS]]
    if registry:
        lines.append(["reg", "HKLM"] + list(registry))
    lines += [["box", "OK"]] * boxes
    harness.write_scenario(path, lines)


class Bench:
    def __init__(self, session, build_dir):
        self.session = session
        self.build_dir = build_dir
        self.update = build_dir / "update.exe"
        self.floor = build_dir / "bench" / "bench_floor.exe"
        self.one_box = build_dir / "bench" / "bench_one_box.exe"
        self.runs = session.root / "runs"
        self.runs.mkdir(parents=True, exist_ok=True)
        self.counter = 0

    def set_theme(self, active):
        code = self.session.run_wine(["reg", "add", THEME_KEY, "/v", "ThemeActive", "/d", "1" if active else "0",
                                      "/f"], timeout=120)
        if code != 0:
            raise RuntimeError(f"reg add ThemeActive failed: {code}")

    def driven(self, program, workdir, registry=None, boxes=2):
        """Runs a program through the driver; returns the trace events."""
        self.counter += 1
        scenario = self.runs / f"{self.counter:05d}.txt"
        trace = self.runs / f"{self.counter:05d}.jsonl"
        write_driven_scenario(scenario, program, workdir, registry, boxes)
        code, events = harness.run_driver(self.session, self.build_dir, scenario, trace, DRIVER_TIMEOUT_MS)
        if code != 0:
            raise RuntimeError(f"driver exit {code} for {program}: see {trace}")
        return events

    @staticmethod
    def phase(events):
        """(copy phase ms, whole process ms, exit code, text of the last box)."""
        answers = [e for e in events if e["ev"] == "answer"]
        boxes = [e for e in events if e["ev"] == "box"]
        exit_ = next(e for e in events if e["ev"] == "exit")
        return boxes[1]["t"] - answers[0]["t"], exit_["t"], exit_["code"], boxes[1]["text"]

    def run_copy(self, variant, tree):
        """One run of a copy variant over a tree; returns a dict of measurements."""
        files = tree["files"]
        if variant in ("upd", "upd-nt"):
            events = self.driven(self.update, tree["work"], (f"Software\\kiv\\{tree['reg']}", tree["install"]))
            copy_ms, whole_ms, code, text = self.phase(events)
            if code != 0 or not text.startswith(f"{files}"):
                raise RuntimeError(f"{variant} {tree['name']}: exit {code}, report {text!r}")
            return {"copy": copy_ms, "whole": whole_ms}
        if variant in ("floor", "floor-nt"):
            tree["floor_out"].unlink(missing_ok=True)
            events = self.driven(self.floor, tree["work"])
            copy_ms, whole_ms, code, _ = self.phase(events)
            walk = self.read_floor(tree)
            return {"copy": copy_ms, "whole": whole_ms, "walk": walk["copy_ms"],
                    "progress": walk["progress_ms"], "dialog": walk["dialog_ms"]}
        if variant == "bare":
            tree["floor_out"].unlink(missing_ok=True)
            started = time.monotonic()
            self._bare(tree)
            whole = (time.monotonic() - started) * 1000
            walk = self.read_floor(tree)
            return {"copy": walk["copy_ms"], "whole": whole}
        if variant == "xcopy":
            started = time.monotonic()
            code = self.session.run_wine(["xcopy", harness.wine_path(tree["source"]), tree["install"], "/E", "/Y",
                                          "/Q"], timeout=900, log_path=self.runs / "xcopy.log")
            whole = (time.monotonic() - started) * 1000
            if code != 0:
                raise RuntimeError(f"xcopy {tree['name']}: exit {code}")
            return {"copy": whole, "whole": whole}
        if variant == "cp":
            started = time.monotonic()
            subprocess.run(["cp", "-r", f"{tree['source']}/.", str(tree["base"] / "game")], check=True)
            whole = (time.monotonic() - started) * 1000
            return {"copy": whole, "whole": whole}
        raise ValueError(variant)

    def _bare(self, tree):
        # Run from the working folder so that the source is the same relative path "upd".
        env = self.session.env()
        with open(self.runs / "bare.log", "ab") as out:
            process = subprocess.Popen([self.session.loader, str(self.floor), "upd", tree["install"], "--bare",
                                        "--out", harness.wine_path(tree["floor_out"])], env=env, cwd=tree["work"],
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=out)
            code = process.wait(timeout=900)
        if code != 0:
            raise RuntimeError(f"bare walk {tree['name']}: exit {code}")
        return code

    def read_floor(self, tree):
        values = dict(line.split() for line in tree["floor_out"].read_text().splitlines() if line.strip())
        if int(values["files"]) != tree["files"]:
            raise RuntimeError(f"floor {tree['name']}: copied {values['files']} of {tree['files']}")
        return {k: float(v) for k, v in values.items()}

    def run_startup(self, variant, empty_work):
        name = variant.removesuffix("-nt")
        program = self.update if name == "upd" else self.one_box.with_name(f"bench_{name}.exe")
        events = self.driven(program, empty_work, boxes=1)
        box = next(e for e in events if e["ev"] == "box")
        return {"first_box": box["t"]}


# ---- Running the rounds -----------------------------------------------------------------------

def rotated(items, round_index):
    k = round_index % len(items) if items else 0
    return items[k:] + items[:k]


def run_rounds(bench, trees, rounds):
    results = {t["name"]: {v: [] for v in COPY_VARIANTS + UNTHEMED_VARIANTS} for t in trees}
    startup = {v: [] for v in STARTUP_VARIANTS + STARTUP_UNTHEMED}
    empty_work = bench.session.drive_c / "bench" / "empty"
    empty_work.mkdir(parents=True, exist_ok=True)
    for r in range(rounds):
        for tree in rotated(trees, r):
            # Themed and unthemed groups swap places every round; within a group the order rotates.
            groups = [(True, rotated(COPY_VARIANTS, r)), (False, rotated(UNTHEMED_VARIANTS, r))]
            if r % 2 == 1:
                groups.reverse()
            for themed, variants in groups:
                bench.set_theme(themed)
                for variant in variants:
                    measured = bench.run_copy(variant, tree)
                    results[tree["name"]][variant].append(measured)
                    log(f"round {r + 1}/{rounds} {tree['name']:5} {variant:8} "
                        + " ".join(f"{k} {v:.0f}" for k, v in measured.items()))
            bench.set_theme(True)
        groups = [(True, rotated(STARTUP_VARIANTS, r)), (False, rotated(STARTUP_UNTHEMED, r))]
        if r % 2 == 1:
            groups.reverse()
        for themed, variants in groups:
            bench.set_theme(themed)
            for _ in range(3):  # start-up is short: three of each per round, interleaved
                for variant in variants:
                    startup[variant].append(bench.run_startup(variant, empty_work))
        bench.set_theme(True)
        log(f"round {r + 1}/{rounds} start-up (ms): "
            + ", ".join(f"{v} {startup[v][-1]['first_box']}" for v in startup))
    return results, startup


# ---- Reporting --------------------------------------------------------------------------------

def col(runs, key):
    return [run[key] for run in runs if key in run]


def spread(values):
    """(max - min) / median, the run-to-run noise of one variant."""
    m = median(values)
    return (max(values) - min(values)) / m if values and m else float("nan")


def summarise(trees, results, startup, micro):
    s = {"trees": {}, "startup": {}, "micro": micro}
    for tree in trees:
        r = results[tree["name"]]
        n = tree["files"]
        t = {"files": n}
        for v, runs in r.items():
            t[v] = {k: median(col(runs, k)) for k in ("copy", "whole", "walk", "progress", "dialog") if col(runs, k)}
            t[v]["min_copy"] = min(col(runs, "copy"))
            t[v]["spread"] = spread(col(runs, "copy"))
            t[v]["n"] = len(runs)
        t["ratio_floor"] = t["upd"]["copy"] / t["floor"]["copy"]
        t["ratio_floor_min"] = t["upd"]["min_copy"] / t["floor"]["min_copy"]
        t["ratio_floor_whole"] = t["upd"]["whole"] / t["floor"]["whole"]
        t["ratio_floor_nt"] = t["upd-nt"]["copy"] / t["floor-nt"]["copy"]
        # Per file, from medians of the walk alone: with progress minus without.
        t["progress_us"] = (t["floor"]["walk"] - t["bare"]["copy"]) * 1000 / n
        t["progress_us_nt"] = (t["floor-nt"]["walk"] - t["bare"]["copy"]) * 1000 / n
        # Per file, timed inside the walk around the progress update itself.
        t["progress_in_us"] = t["floor"]["progress"] * 1000 / n
        t["progress_in_us_nt"] = t["floor-nt"]["progress"] * 1000 / n
        for other in ("bare", "xcopy", "cp"):
            t[f"ratio_{other}"] = t["upd"]["copy"] / t[other]["copy"]
        s["trees"][tree["name"]] = t
    for v, runs in startup.items():
        s["startup"][v] = {"median": median(col(runs, "first_box")), "min": min(col(runs, "first_box")),
                           "n": len(runs), "spread": spread(col(runs, "first_box"))}
    dialogs = [run["dialog"] for tree in trees for run in results[tree["name"]]["floor"]]
    s["startup"]["dialog_ms"] = median(dialogs) if dialogs else 0.0
    s["startup"]["allowance"] = 1.10 * s["startup"]["one_box"]["median"] + s["startup"]["dialog_ms"]
    return s


def describe(trees):
    return {t["name"]: f"{t['files']:,} x {fmt_size(t['source'])}" for t in trees}


def fmt_size(path):
    first = next(Path(path).rglob("*.dat"))
    size = first.stat().st_size
    return f"{size // 1024} KiB" if size < (1 << 20) else f"{size >> 20} MiB"


def markdown(summary, trees, meta):
    lines = [f"Run {meta['date']}: {meta['cores']} cores, {meta['wine']}, build {meta['arch']} "
             f"({meta['why']}), {meta['rounds']} rounds, load average at start {meta['load']}.", ""]
    if trees:
        lines += copy_table(summary, trees)
    lines += startup_table(summary["startup"])
    if summary["micro"]:
        lines += ["", "Native micro-benchmarks (Google Benchmark, preset bench):", "",
                  "| benchmark | result |", "|---|---|"]
        for name, (value, unit) in summary["micro"].items():
            lines.append(f"| {name} | {value:.3g} {unit} |")
    return "\n".join(lines) + "\n"


def copy_table(summary, trees):
    names = [t["name"] for t in trees]
    sizes = describe(trees)
    lines = ["Copy over an existing copy, medians in ms (min in brackets; spread = (max-min)/median):", "",
             "| variant | " + " | ".join(f"{n}: {sizes[n]}" for n in names) + " |",
             "|---|" + "---|" * len(names)]
    labels = [("upd", "copy", "updater, copy phase (driver)"), ("upd", "whole", "updater, whole process"),
              ("floor", "copy", "floor, copy phase (driver)"), ("floor", "whole", "floor, whole process"),
              ("floor", "walk", "floor, walk alone"), ("bare", "copy", "bare walk"),
              ("xcopy", "copy", "Wine xcopy /E /Y (whole)"), ("cp", "copy", "native cp -r"),
              ("upd-nt", "copy", "updater, theme off, copy phase"), ("floor-nt", "copy", "floor, theme off, copy phase"),
              ("floor-nt", "walk", "floor, theme off, walk alone")]
    for variant, key, label in labels:
        cells = []
        for n in names:
            v = summary["trees"][n][variant]
            cell = f"{v[key]:.0f}"
            if key == "copy":
                cell += f" ({v['min_copy']:.0f}; spread {v['spread']:.0%})"
            cells.append(cell)
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    ratios = [("ratio_floor", "**updater / floor**, copy phase (target <= 1.05)", "{:.2f}"),
              ("ratio_floor_min", "updater / floor, copy phase, ratio of the minima", "{:.2f}"),
              ("ratio_floor_whole", "updater / floor, whole process", "{:.2f}"),
              ("ratio_floor_nt", "updater / floor, theme off", "{:.2f}"),
              ("ratio_bare", "updater / bare walk", "{:.2f}"), ("ratio_xcopy", "updater / xcopy", "{:.2f}"),
              ("ratio_cp", "updater / cp -r", "{:.2f}"),
              ("progress_us", "progress calls per file, floor walk - bare (us)", "{:.0f}"),
              ("progress_in_us", "progress calls per file, timed in the walk (us)", "{:.0f}"),
              ("progress_us_nt", "theme off: floor walk - bare (us)", "{:.0f}"),
              ("progress_in_us_nt", "theme off: timed in the walk (us)", "{:.0f}")]
    for key, label, form in ratios:
        lines.append(f"| {label} | " + " | ".join(form.format(summary["trees"][n][key]) for n in names) + " |")
    return lines


def startup_table(st):
    lines = ["", f"Start-up, process start to the first box (ms, medians of {st['upd']['n']} runs each, "
             "min in brackets):", "", "| program | first box | spread |", "|---|---|---|"]
    for v, label in (("upd", "update.exe without info.txt"), ("one_box", "bench_one_box.exe (MB_OK)"),
                     ("one_box_icon", "one box with MB_ICONWARNING"),
                     ("one_box_comctl", "one box with the icon, comctl32 imported"),
                     ("upd-nt", "update.exe without info.txt, theme off"),
                     ("one_box_comctl-nt", "one box with the icon and comctl32, theme off")):
        if v in st:
            lines.append(f"| {label} | {st[v]['median']:.0f} ({st[v]['min']:.0f}) | {st[v]['spread']:.0%} |")
    lines.append(f"| allowance: 1.10 x one-box + dialog creation ({st['dialog_ms']:.0f} ms) | "
                 f"{st['allowance']:.0f} | |")
    return lines


def replace_in_doc(doc, text):
    begin, end = "<!-- bench results begin -->", "<!-- bench results end -->"
    content = doc.read_text(encoding="utf-8") if doc.exists() else f"{begin}\n{end}\n"
    if begin not in content:
        content += f"\n{begin}\n{end}\n"
    head, rest = content.split(begin, 1)
    _, tail = rest.split(end, 1)
    doc.write_text(f"{head}{begin}\n{text}{end}{tail}", encoding="utf-8")


def wine_version():
    try:
        return subprocess.run([harness.WINE64_LOADER, "--version"], stdout=subprocess.PIPE, text=True,
                              timeout=30).stdout.strip()
    except OSError:
        return "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--smoke", action="store_true", help="one round over a tiny tree, no micro-benchmarks")
    parser.add_argument("--startup-only", action="store_true", help="only the start-up rounds, no trees")
    parser.add_argument("--arch", choices=["auto", "win32", "win64"], default="auto")
    parser.add_argument("--doc", help="write the results table into this file between its result markers")
    parser.add_argument("--keep", action="store_true", help="keep the prefix, trees and traces")
    args = parser.parse_args()
    rounds = 1 if args.smoke else args.rounds
    if not args.smoke and rounds < 5:
        log("note: fewer than 5 rounds; medians of so few Wine runs are noise")

    arch, why = harness.choose_arch(args.arch)
    log(f"{arch}: {why}")
    build_dir = build_windows(arch)
    micro = {} if args.smoke or args.startup_only else run_micro(ROOT / "build" / "bench-native")
    meta = {"date": datetime.date.today().isoformat(), "cores": os.cpu_count(), "wine": wine_version(),
            "arch": arch, "why": why, "rounds": rounds, "load": " ".join(f"{x:.1f}" for x in os.getloadavg()),
            "host": platform.platform()}

    # A TERM (a background job ignores INT) ends the run through the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    session = harness.WineSession(arch, root=tempfile.mkdtemp(prefix="bench-"))
    ok = False
    try:
        session.start(log=log)
        bench = Bench(session, build_dir)
        sizes = [] if args.startup_only else SMOKE_TREES if args.smoke else TREES
        trees = [make_tree(session, *tree) for tree in sizes]
        log("trees made: " + ", ".join(f"{t['name']} {t['files']} files" for t in trees))
        results, startup = run_rounds(bench, trees, rounds)
        summary = summarise(trees, results, startup, micro)
        text = markdown(summary, trees, meta)
        print(text, flush=True)
        out_dir = build_dir / "bench-results"
        out_dir.mkdir(exist_ok=True)
        stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
        (out_dir / f"{stamp}.md").write_text(text, encoding="utf-8")
        (out_dir / f"{stamp}.json").write_text(json.dumps({"meta": meta, "summary": summary,
                                                           "runs": results, "startup": startup}, indent=1,
                                                          default=str), encoding="utf-8")
        log(f"results in {out_dir}/{stamp}.md and .json")
        if args.doc:
            replace_in_doc(Path(args.doc), text)
            log(f"table written into {args.doc}")
        ok = True
    finally:
        session.stop()
        if ok and not args.keep:
            session.remove()
        else:
            log(f"kept {session.root}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

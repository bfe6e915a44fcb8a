"""Runs update.exe under Wine for the end-to-end tests and the demo: picks the build that this
kernel can execute, builds it, makes one private Wine prefix on a private Xvfb display, runs the
driver against a scenario and reads its trace back. Python 3 standard library only."""

import json
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
# The 64-bit server serves 32-bit programs too where both are installed (Debian's own choice).
WINESERVER = next((p for p in ("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver32") if os.path.exists(p)),
                  "wineserver")
SCREEN = (1024, 768)


def kernel_runs_i386():
    """True when this kernel can execute 32-bit x86 programs (the 32-bit Wine loader starts)."""
    if not os.path.exists(WINE32_LOADER):
        return False
    try:
        result = subprocess.run([WINE32_LOADER, "--version"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=30)
    except OSError:  # ENOEXEC: the kernel has no 32-bit emulation
        return False
    return result.returncode == 0


def choose_arch(requested):
    """The preset to run: the 32-bit product where 32-bit Wine can start, else the win64 build."""
    if requested != "auto":
        return requested, f"requested: {requested}"
    if kernel_runs_i386():
        return "win32", "this kernel runs i386 programs: the 32-bit product under 32-bit Wine"
    return "win64", ("this kernel cannot run i386 programs (no 32-bit Wine): "
                     "the same sources built for win64, under wine64")


def build(arch, build_dir=None, log=print):
    """Configures (when needed) and builds update.exe and the driver with the arch's preset;
    returns the build directory. "{arch}" in build_dir stands for the preset's name."""
    build_dir = Path(build_dir.replace("{arch}", arch)) if build_dir else ROOT / "build" / f"e2e-{arch}"
    if not (build_dir / "build.ninja").exists():
        subprocess.run(["cmake", "--preset", arch, "-B", str(build_dir)], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    log(f"building update.exe and e2e_driver.exe in {build_dir}")
    subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", "update", "e2e_driver"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    return build_dir


def wine_path(path):
    """The Windows form of a host path: Wine maps the host's root to drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def host_has_locale(name):
    result = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    wanted = name.lower().replace("-", "")
    return any(line.strip().lower().replace("-", "") == wanted for line in result.stdout.splitlines())


def private_locale(root, name="ja_JP.UTF-8"):
    """A LOCPATH directory holding the locale when the host has none by that name, else None.
    Without a real UTF-8 locale Wine still takes code page 932 from LC_ALL's name, but reads
    host file names as ASCII: every byte above 0x7F loses its top bit."""
    if host_has_locale(name):
        return None
    path = Path(root) / "locale"
    path.mkdir(parents=True, exist_ok=True)
    subprocess.run(["localedef", "-i", name.split(".")[0], "-f", name.split(".")[1], str(path / name)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    return path


class WineSession:
    """A private Xvfb display and Wine prefix, made once and torn down by pid and by prefix."""

    def __init__(self, arch, root=None, display=None):
        self.arch = arch
        self.loader = WINE32_LOADER if arch == "win32" else WINE64_LOADER
        self.root = Path(root or tempfile.mkdtemp(prefix="e2e-"))
        self.prefix = self.root / "prefix"
        self.xvfb = None
        self.display = display
        self.wineboot_seconds = None
        self.locpath = None

    @property
    def drive_c(self):
        return self.prefix / "drive_c"

    def env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": "-all",
            # The ANSI code page follows LC_ALL: 932 for the updater's Japanese texts.
            "LC_ALL": "ja_JP.UTF-8",
            "LANG": "ja_JP.UTF-8",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DISPLAY": self.display,
        })
        if self.locpath is not None:
            env["LOCPATH"] = str(self.locpath)
        return env

    def start(self, log=print):
        if self.display is None:
            read_end, write_end = os.pipe()
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
                 "-nolisten", "tcp"],
                pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            with os.fdopen(read_end) as pipe:
                number = pipe.readline().strip()
            if not number:
                raise RuntimeError("Xvfb did not start")
            self.display = f":{number}"
        self.locpath = private_locale(self.root)
        log(f"display {self.display}, prefix {self.prefix}"
            + (f", locale ja_JP.UTF-8 compiled into {self.locpath}" if self.locpath else ""))
        # One server for the whole session, so that each run does not start its own.
        self.prefix.mkdir(parents=True, exist_ok=True)
        subprocess.run([WINESERVER, "-p"], env=self.env(), check=True, timeout=60)
        started = time.monotonic()
        self.run_wine(["wineboot", "-i"], timeout=300)
        # No window manager on Xvfb: unmanaged windows spare a 2 s wait on every destroyed window.
        self.run_wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                      timeout=120)
        self.wineboot_seconds = time.monotonic() - started

    def spawn_wine(self, args, log_path=None):
        """Starts a Windows program; output goes to a file, never a pipe (Wine's desktop process
        inherits it and outlives the program)."""
        log_path = log_path or (self.root / "wine.log")
        with open(log_path, "ab") as log_file:
            return subprocess.Popen([self.loader] + [str(a) for a in args], env=self.env(),
                                    stdin=subprocess.DEVNULL, stdout=log_file, stderr=log_file)

    def run_wine(self, args, timeout, log_path=None):
        process = self.spawn_wine(args, log_path)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise

    def stop(self):
        if self.prefix.exists():
            subprocess.run([WINESERVER, "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def screenshot(self, path):
        """Saves the whole screen as PNG; returns True on success."""
        env = dict(os.environ, DISPLAY=self.display)
        xwd = subprocess.run(["xwd", "-root", "-silent"], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=30)
        if xwd.returncode != 0:
            return False
        convert = subprocess.run(["/usr/bin/convert", "xwd:-", str(path)], input=xwd.stdout,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        return convert.returncode == 0


def write_scenario(path, lines):
    """A scenario file for the driver: each line a list of fields, joined by tabs."""
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        for fields in lines:
            out.write("\t".join(str(f) for f in fields) + "\n")


def read_trace(path):
    events = []
    if not Path(path).exists():
        return events
    with open(path, encoding="utf-8") as trace:
        for line in trace:
            line = line.strip()
            if line:
                events.append(json.loads(line))
    return events


def driver_command(build_dir, scenario_path, trace_path):
    return [Path(build_dir) / "tests" / "e2e" / "driver" / "e2e_driver.exe", wine_path(scenario_path),
            wine_path(trace_path)]


def run_driver(session, build_dir, scenario_path, trace_path, timeout_ms):
    """Runs the driver; returns (driver exit code, events). The driver keeps its own deadline;
    this one only guards against the driver itself hanging."""
    code = session.run_wine(driver_command(build_dir, scenario_path, trace_path),
                            timeout=timeout_ms / 1000 + 60, log_path=Path(trace_path).with_suffix(".log"))
    return code, read_trace(trace_path)

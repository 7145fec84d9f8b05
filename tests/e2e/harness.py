"""Shared pieces of the end-to-end scenarios: packing with havrek-pack,
running Windows programs under the build tree's Wine prefix, and the
partner fixtures (debug viewer)."""
import json
import os
import shutil
import subprocess
import time
import unittest

BUILD = os.environ.get("HAVREK_BUILD", "")
PACK = os.environ.get("HAVREK_PACK", "")
WINE_RUN = os.environ.get("HAVREK_WINE_RUN", "")
STUB = os.path.join(BUILD, "Stub.exe")
# A tree may borrow another tree's partner programs (the i686 tree runs the
# x86_64 ones in its WoW64 prefix).
FIXTURES = os.environ.get("HAVREK_FIXTURES") or os.path.join(BUILD, "tests", "fixtures")
# The other tree's stub, beside its borrowed partners (the i686 tree's
# scenarios run the x86_64 one where an agent of that width is the point).
OTHER_STUB = os.environ.get("HAVREK_OTHER_STUB", "")
# The partners this tree built itself, at its own width: with borrowed
# FIXTURES the two differ in width (see other_width()).
OWN_FIXTURES = os.path.join(BUILD, "tests", "fixtures")
# Where 32-bit programs run emulated everything takes several times longer;
# the waits for Windows programs stretch by this factor.
TIME_SCALE = float(os.environ.get("HAVREK_TIME_SCALE") or 1)


def winpath(path):
    """The Windows name of a Linux path inside the prefix (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fixture(name):
    return os.path.join(FIXTURES, name + ".exe")


def own_fixture(name):
    return os.path.join(OWN_FIXTURES, name + ".exe")


def other_width():
    """True when this tree's own partners and the borrowed ones are of two
    widths (the i686 tree): the scenarios about widths need both."""
    return (os.path.realpath(OWN_FIXTURES) != os.path.realpath(FIXTURES)
            and os.path.exists(own_fixture("installed_program")))


def chosen_rows(variable, rows):
    """The rows of a table that a slow (emulated) tree names by their first
    field in the environment variable, comma-separated; all when unset."""
    chosen = os.environ.get(variable)
    return [row for row in rows if not chosen or row[0] in chosen.split(",")]


def workdir(name):
    """A fresh folder for one scenario under the build tree, apart from the
    folders of the tests that run beside it."""
    path = os.path.join(BUILD, "e2e-work", os.environ.get("HAVREK_SESSION", ""), name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def pack(*args):
    """Runs havrek-pack; a failure fails the scenario with its message."""
    result = subprocess.run([PACK, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError("havrek-pack %s failed (%d): %s%s"
                             % (" ".join(args), result.returncode, result.stdout, result.stderr))
    return result


def run_windows(exe, *args, timeout=120, cwd=None):
    """Runs a Windows program to its end; returns its exit code. Its output
    is dropped rather than read: processes it leaves running would hold a
    pipe open and keep the call from returning."""
    result = subprocess.run([WINE_RUN, exe, *args], cwd=cwd, timeout=timeout * TIME_SCALE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return result.returncode


def read_text(path):
    """A file's text as latin-1 (the stub writes ANSI bytes); empty when the
    file is not there."""
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


def wait_for(predicate, timeout=30.0, step=0.1):
    end = time.monotonic() + timeout * TIME_SCALE
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class FixtureProcess:
    """A partner fixture run for the length of a context: it writes PATH and,
    once it is up, PATH.ready; it ends when PATH.stop appears (stoppable
    fixtures) or when the context kills it."""

    program = ""
    what = ""
    stoppable = True

    def __init__(self, path):
        self.path = path
        self.proc = None

    def arguments(self):
        return []

    def __enter__(self):
        for suffix in ("", ".ready", ".stop"):
            if os.path.exists(self.path + suffix):
                os.remove(self.path + suffix)
        self.proc = subprocess.Popen([WINE_RUN, fixture(self.program), winpath(self.path), *self.arguments()],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(self.path + ".ready"), timeout=60):
            self.proc.kill()
            raise AssertionError("the %s did not start" % self.what)
        return self

    def __exit__(self, *exc):
        if self.stoppable:
            open(self.path + ".stop", "w").close()
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                pass
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        return False


class DebugViewer(FixtureProcess):
    """The debug viewer fixture: collects what the stub sends to the viewer
    window while the context is open."""

    program, what = "debug_viewer", "debug viewer"

    def __init__(self, folder):
        super().__init__(os.path.join(folder, "debug.txt"))

    def arguments(self):
        return ["%d" % (300 * TIME_SCALE)]

    def text(self):
        return read_text(self.path)

    def lines(self):
        return self.text().replace("\r\n", "\n").split("\n")


class Listener(FixtureProcess):
    """The listener fixture: registers with the first window of the class as
    soon as it appears and records every notification, one line each. With
    stop_ticks it also orders the agent to quit that many ticks later."""

    program, what = "listener", "listener"

    def __init__(self, folder, window_class, stop_ticks=None):
        super().__init__(os.path.join(folder, "notes.txt"))
        self.window_class = window_class
        self.stop_ticks = stop_ticks

    def __enter__(self):
        if os.path.exists(self.path + ".target"):
            os.remove(self.path + ".target")
        return super().__enter__()

    def arguments(self):
        args = [self.window_class, "%d" % (300 * TIME_SCALE)]
        if self.stop_ticks is not None:
            args.append(str(self.stop_ticks))
        return args

    def notifications(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path) as f:
            return [line.rstrip("\n") for line in f if line.strip()]

    def target(self):
        with open(self.path + ".target") as f:
            return f.read()


def write_agent_original(folder, name="", **keys):
    """The .original file beside an agent whose update record keeps the
    placeholder .info name; ProbeSecondsInterval=-1 keeps it from probing."""
    keys.setdefault("ProbeSecondsInterval", "-1")
    with open(os.path.join(folder, name + ".original"), "w") as f:
        f.write("[OriginalSetup]\r\n")
        for key, value in keys.items():
            f.write("%s=%s\r\n" % (key, value))


class Scenario(unittest.TestCase):
    """Base of the scenarios: skips cleanly when run outside ctest."""

    @classmethod
    def setUpClass(cls):
        missing = [n for n, v in (("HAVREK_BUILD", BUILD), ("HAVREK_PACK", PACK), ("HAVREK_WINE_RUN", WINE_RUN))
                   if not v]
        if missing:
            raise unittest.SkipTest("run through ctest in the win64 build tree (missing %s)" % ", ".join(missing))
        for path in (STUB, PACK):
            if not os.path.exists(path):
                raise AssertionError("not built: " + path)


# ---- Setup scenarios: the test engine, the prefix's folders and registry ----

# The test's own prefix (see wine-run.sh --session), else the tree's template.
WINEPREFIX = os.environ.get("HAVREK_PREFIX") or os.path.join(os.path.dirname(BUILD), "wineprefix")
SPAN_DISK_KEY = "HKCU\\Software\\Morvessa\\Havrek\\SpanDisk"


def linuxpath(path):
    """The Linux path of a Windows path inside the prefix (Z: is /, C: the
    prefix's drive_c)."""
    drive, rest = path[:2].upper(), path[2:].replace("\\", "/")
    if drive == "Z:":
        return rest
    if drive == "C:":
        return os.path.join(WINEPREFIX, "drive_c") + rest
    raise ValueError("not a path of the prefix: " + path)


def dos_datetime(seconds):
    """The packed DOS date-time of a Unix time, in local time."""
    t = time.localtime(seconds)
    return ((t.tm_year - 1980) << 25 | t.tm_mon << 21 | t.tm_mday << 16
            | t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2)


def run_windows_timed(exe, *args, timeout=120, cwd=None):
    """run_windows, also returning the seconds it took."""
    start = time.monotonic()
    code = run_windows(exe, *args, timeout=timeout, cwd=cwd)
    return code, time.monotonic() - start


def reg_set(key, name, value):
    if run_windows("reg", "add", key, "/v", name, "/d", value, "/f") != 0:
        raise AssertionError("reg add %s %s failed" % (key, name))


def reg_delete(key, name=None):
    """Deletes a value (or the whole key); a missing one is no failure."""
    run_windows("reg", "delete", key, *(("/v", name) if name else ()), "/f")


def reg_get(key, name):
    """The value's data as reg shows it, or None."""
    result = subprocess.run([WINE_RUN, "reg", "query", key, "/v", name], capture_output=True, text=True,
                            errors="replace")
    for line in result.stdout.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
            return parts[2] if len(parts) > 2 else ""
    return None


class EngineReport:
    """What the test engine recorded: its key=value lines, the files it saw
    (path below its folder -> (size, DOS date-time)) and the end marker."""

    def __init__(self, path):
        self.path = path
        self.values = {}
        self.files = {}
        self.files_after = {}
        self.lines = []
        if os.path.exists(path):
            with open(path, "rb") as f:
                self.lines = f.read().decode("latin-1").split("\n")
        for line in self.lines:
            key, _, value = line.partition("=")
            if key in ("file", "after"):
                name, size, date = value.rsplit("|", 2)
                (self.files if key == "file" else self.files_after)[name] = (int(size), int(date))
            elif line:
                self.values.setdefault(key, []).append(value)

    def __bool__(self):
        return bool(self.lines)

    def get(self, key, default=None):
        values = self.values.get(key)
        return values[0] if values else default

    def all(self, key):
        return self.values.get(key, [])

    def runs(self):
        """How many times an engine started with this report."""
        return len(self.all("engine"))

    def ended(self):
        return "end" in self.lines

    def folder(self):
        """The Linux path of the folder the engine ran from."""
        return os.path.dirname(linuxpath(self.get("engine")))


def engine_files(folder, report, name="Engine", **control):
    """The test engine and its control file, ready to pack: returns
    (engine path, control file path). control: exit=, keepatom=, dialog=, sleep=,
    waitfor=, relist=."""
    engine = os.path.join(folder, name + ".exe")
    shutil.copy(fixture("test_engine"), engine)
    ini = os.path.join(folder, name + ".ini")
    with open(ini, "w", newline="\r\n") as f:
        f.write("report=%s\n" % winpath(report))
        for key, value in control.items():
            f.write("%s=%s\n" % (key, value))
    return engine, ini


def prefix_temp_windows():
    """The prefix's temporary folder as Windows sees it (TMP comes first)."""
    return reg_get("HKCU\\Environment", "TMP") or reg_get("HKCU\\Environment", "TEMP")


def prefix_temp():
    return linuxpath(prefix_temp_windows())


def setup_folders():
    """The SETUP_ folders in the prefix's temporary folder."""
    temp = prefix_temp()
    return sorted(n for n in os.listdir(temp) if n.upper().startswith("SETUP_")) if os.path.isdir(temp) else []


class WindowWatcher(FixtureProcess):
    """The window watcher fixture: the visibility changes of one window class
    while the context is open."""

    program, what = "window_watcher", "window watcher"

    def __init__(self, folder, window_class, name="watch.txt"):
        super().__init__(os.path.join(folder, name))
        self.window_class = window_class

    def arguments(self):
        return [self.window_class, "%d" % (300 * TIME_SCALE)]

    def states(self):
        """The successive states: "none", "hidden", "visible"."""
        if not os.path.exists(self.path):
            return []
        with open(self.path) as f:
            return [line.split()[1] for line in f if line.strip()]


def prefix_processes():
    """{pid: argument list} of the processes that run in this build's prefix,
    read from /proc (Wine keeps a process's arguments in its command line)."""
    prefix = os.path.realpath(WINEPREFIX)
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = f.read().split(b"\0")
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                args = [a.decode("latin-1") for a in f.read().split(b"\0") if a]
        except OSError:
            continue
        values = [e[len(b"WINEPREFIX="):] for e in env if e.startswith(b"WINEPREFIX=")]
        if values and os.path.realpath(values[0].decode("latin-1")) == prefix:
            found[int(entry)] = args
    return found


SHELL_FOLDERS_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"


def startup_folder():
    """The user's Startup folder of the prefix: (Windows path, Linux path),
    the folder made when missing."""
    windows = reg_get(SHELL_FOLDERS_KEY, "StartUp")
    linux = linuxpath(windows)
    os.makedirs(linux, exist_ok=True)
    return windows, linux


def setup_folder_of(exe):
    """The Linux path of the SETUP_ folder the stub computes for exe: the
    time-of-day half of its last-write time in DOS form."""
    t = time.localtime(os.path.getmtime(exe))
    return os.path.join(prefix_temp(), "SETUP_%d" % (t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2))


class UiDriver(FixtureProcess):
    """The UI driver fixture: answers the stub's boxes in turn, one action
    per box (see ui_driver.cpp), recording each box as it found it. A driver
    still waiting when the context closes is ended; boxes() tells what came."""

    program, what, stoppable = "ui_driver", "UI driver", False

    def __init__(self, folder, *actions, timeout=60, classes=None, name="boxes.txt"):
        super().__init__(os.path.join(folder, name))
        self.actions = actions
        self.timeout = timeout
        self.classes = classes
        self.code = None

    def arguments(self):
        args = ["/timeout=%d" % (self.timeout * TIME_SCALE)]
        if self.classes:
            args.append("/class=" + "|".join(self.classes))
        return args + list(self.actions)

    def wait(self, timeout=120):
        """Waits for the driver to finish its actions; its exit code."""
        self.code = self.proc.wait(timeout=timeout * TIME_SCALE)
        return self.code

    def __exit__(self, *exc):
        super().__exit__(*exc)
        self.code = self.proc.returncode
        return False

    def boxes(self):
        """One dict per box; "text" and "caption" as byte strings decoded
        as latin-1."""
        if not os.path.exists(self.path):
            return []
        with open(self.path) as f:
            return [json.loads(line) for line in f if line.strip()]


# ---- The web server fixture over TLS ----

def start_tls_server(root=None):
    """The web server fixture's routes on https://localhost:PORT, with a
    certificate of a throwaway authority that this tree's prefix trusts until
    cleanup() (which also stops the server); gives (url, cleanup). root is
    the folder of the /files route. Skips the scenario where the machine has
    no openssl command."""
    import sys
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
    import tls_server
    if not shutil.which("openssl"):
        raise unittest.SkipTest("the openssl command is needed to make test certificates")
    return tls_server.start_tls_server(root, WINE_RUN)


def agent_log_lines(folder, copy):
    """The lines of the agent's one log file (X_agent.log in folder) that
    the plain agent wrote, or those its copy wrote (marked " X "), without
    their stamps."""
    lines = read_text(os.path.join(folder, "X_agent.log")).splitlines()
    if not lines:
        return []
    # "date time thread" then the role mark of three characters.
    texts = []
    for line in lines:
        head = line.split(None, 3)
        if len(head) < 3:
            continue
        rest = line[line.index(head[2]) + len(head[2]):]
        if rest.startswith(" X ") == copy:
            texts.append(rest[3:])
    return texts

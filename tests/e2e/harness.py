"""Shared pieces of the end-to-end scenarios: packing with havrek-pack,
running Windows programs under the build tree's Wine prefix, and the
partner fixtures (debug viewer)."""
import os
import shutil
import subprocess
import time
import unittest

BUILD = os.environ.get("HAVREK_BUILD", "")
PACK = os.environ.get("HAVREK_PACK", "")
WINE_RUN = os.environ.get("HAVREK_WINE_RUN", "")
STUB = os.path.join(BUILD, "Stub.exe")
FIXTURES = os.path.join(BUILD, "tests", "fixtures")


def winpath(path):
    """The Windows name of a Linux path inside the prefix (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fixture(name):
    return os.path.join(FIXTURES, name + ".exe")


def workdir(name):
    """A fresh folder for one scenario under the build tree."""
    path = os.path.join(BUILD, "e2e-work", name)
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
    """Runs a Windows program to its end; returns its exit code."""
    result = subprocess.run([WINE_RUN, exe, *args], cwd=cwd, timeout=timeout,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return result.returncode


def wait_for(predicate, timeout=30.0, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class DebugViewer:
    """The debug viewer fixture: collects what the stub sends to the viewer
    window while the context is open."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "debug.txt")
        self.proc = None

    def __enter__(self):
        for suffix in ("", ".ready", ".stop"):
            if os.path.exists(self.path + suffix):
                os.remove(self.path + suffix)
        self.proc = subprocess.Popen([WINE_RUN, fixture("debug_viewer"), winpath(self.path), "300"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(self.path + ".ready"), timeout=60):
            self.proc.kill()
            raise AssertionError("the debug viewer did not start")
        return self

    def __exit__(self, *exc):
        open(self.path + ".stop", "w").close()
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        return False

    def text(self):
        if not os.path.exists(self.path):
            return ""
        with open(self.path, "rb") as f:
            return f.read().decode("latin-1")

    def lines(self):
        return self.text().replace("\r\n", "\n").split("\n")


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

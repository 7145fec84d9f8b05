"""What an offer can do to the agent's folder, and how long a server can hold
the agent copy: the real copy under Wine probes an .info file that offers
junk under the names of the files beside it, and servers that trickle, fall
silent or send far more than announced. Every file survives byte for byte;
every probe ends within its bound with the copy's memory small; "/STOP=0"
ends a copy that is inside a fetch within seconds."""
import os
import shutil
import subprocess
import sys
import time
import unittest

from harness import (STUB, TIME_SCALE, WINE_RUN, Listener, Scenario, UiDriver, agent_log_lines, pack, prefix_processes,
                     run_windows, wait_for, winpath, workdir)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import http_server  # noqa: E402

TOKEN = "TOOL-offer-build"
MB = 1024 * 1024


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class Installation:
    """agent.exe and its copy in folder with the program, its settings, its
    log and a user's letter; the .info file in source."""

    def __init__(self, name, info_base=None):
        self.folder = os.path.join(workdir(name), "Tool")
        self.source = os.path.join(os.path.dirname(self.folder), "source")
        os.makedirs(self.folder)
        os.makedirs(self.source)
        self.agent = os.path.join(self.folder, "agent.exe")
        self.copy = os.path.join(self.folder, "X_agent.exe")
        pack("build", "--stub", STUB, "--out", self.agent, "--auto-update", "--agent", "agent.exe", "--log",
             "--info-base", info_base or winpath(self.source), "--info-name", "Tool.info", "--update-token", TOKEN)
        shutil.copy(self.agent, self.copy)
        write(os.path.join(self.folder, "Tool.original"), "\r\n".join([
            "[OriginalSetup]", "VersionOriginal=1", "Stamp=1", "ProgramName=Tool", "ProbeSecondsInterval=0", ""]))
        write(os.path.join(self.folder, "Tool.exe"), "the program itself")
        write(os.path.join(self.folder, "letter.doc"), "a letter of the user's")
        write(os.path.join(self.folder, "X_agent.log"), "")
        self.kept = {}

    def offer(self, base, name, size):
        write(os.path.join(self.source, "Tool.info"), "\r\n".join([
            "[NewSetup]", "VersionNew=2", "Stamp=2", "ProgramName=Tool", "DownloadURL_UPDATE=" + base,
            "NameOfUpdateFile=" + name, "SizeOfUpdateFile=%d" % size, ""]))

    def keep(self):
        """Remembers the program, the agent, its copy and the letter."""
        self.kept = {n: read_bytes(os.path.join(self.folder, n))
                     for n in ("Tool.exe", "agent.exe", "X_agent.exe", "letter.doc")}

    def changed(self, running=True):
        """The kept files that changed or went, and the settings and log if
        they took the offer's bytes. The copy deletes itself once it ends."""
        names = [n for n in self.kept if running or n != "X_agent.exe"]
        found = [n for n in names
                 if not os.path.exists(os.path.join(self.folder, n))
                 or read_bytes(os.path.join(self.folder, n)) != self.kept[n]]
        original = read_bytes(os.path.join(self.folder, "Tool.original"))
        if b"VersionOriginal=1" not in original or b"junk" in original:
            found.append("Tool.original")
        if b"junkjunk" in read_bytes(os.path.join(self.folder, "X_agent.log")):
            found.append("X_agent.log")
        return found

    def log(self):
        return agent_log_lines(self.folder, True)


def copy_pid(copy):
    """The process id of the running agent copy in this build's prefix."""
    for pid, args in prefix_processes().items():
        if args and args[0].replace("/", "\\").lower().endswith("\\" + os.path.basename(copy).lower()):
            return pid
    return None


def resident_kb(pid):
    """The peak resident set of a process so far, in KB (0 once it is gone)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class RunningCopy:
    """The copy probing once at its first tick, with a listener; peak
    memory sampled while it runs."""

    def __init__(self, setup, env=None):
        self.setup = setup
        self.env = dict(os.environ, **(env or {}))
        self.peak_kb = 0

    def __enter__(self):
        self.listener = Listener(self.setup.folder, ".AutoUpdate.X_agent").__enter__()
        self.proc = subprocess.Popen([WINE_RUN, self.setup.copy, "/SleepX=0"], env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = None
        return self

    def sample(self):
        self.pid = self.pid or copy_pid(self.setup.copy)
        if self.pid:
            self.peak_kb = max(self.peak_kb, resident_kb(self.pid))

    def wait_note(self, note, timeout):
        def seen():
            self.sample()
            return note in self.listener.notifications()
        return wait_for(seen, timeout=timeout)

    def stop(self):
        """/STOP=0 through the plain agent; seconds from its return until
        the copy ended (None: it did not end within 30 s)."""
        run_windows(self.setup.agent, "/STOP=0")
        start = time.monotonic()
        try:
            self.proc.wait(timeout=30 * TIME_SCALE)
        except subprocess.TimeoutExpired:
            return None
        return time.monotonic() - start

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.listener.__exit__(*exc)
        return False


class AgentOffer(Scenario):
    def test_junk_offered_under_the_names_beside_the_agent_changes_none_of_them(self):
        server, port = http_server.start()
        try:
            for name, source in (("agent.exe", "web"), ("Tool.exe", "web"), ("X_agent.exe", "folder"),
                                 ("X_agent.log", "folder"), ("Tool.original", "web")):
                with self.subTest(name=name, source=source):
                    setup = Installation("agent_offer_" + name.replace(".", "_"))
                    junk = b"junk" * 1000
                    server.root = setup.source
                    with open(os.path.join(setup.source, name), "wb") as f:
                        f.write(junk)
                    base = ("http://127.0.0.1:%d/files" % port) if source == "web" else winpath(setup.source)
                    setup.offer(base, name, len(junk))
                    setup.keep()
                    own = name != "Tool.exe"
                    # A file of the user's arrives, fails its token and is
                    # dropped with a box; the agent's own names are refused
                    # before anything is fetched.
                    with UiDriver(setup.folder, "enter", timeout=60) if not own else _nothing():
                        with RunningCopy(setup) as copy:
                            self.assertTrue(copy.wait_note("41 2", timeout=60), copy.listener.notifications())
                            self.assertEqual(setup.changed(), [])
                            self.assertIsNotNone(copy.stop())
                    self.assertEqual(setup.changed(running=False), [])
                    self.assertFalse(os.path.exists(setup.copy + ".fetch"))
                    log = setup.log()
                    if own:
                        self.assertIn('ERROR: file name "%s" refused: the agent\'s own file' % name, log)
                    else:
                        self.assertIn("ERROR: Bad Secret Token!", log)
        finally:
            server.shutdown()
            server.server_close()

    def test_each_probe_ends_within_its_bound_and_a_stop_ends_the_copy(self):
        server, port = http_server.start()
        host = "http://127.0.0.1:%d" % port
        # (name, .info base, offered package base or None, stopped, text in the log)
        cases = [
            # A 300 MB .info file without a length: stopped at the cap.
            ("big_info", host + "/nolength/x?size=300000000&", None, False, "more than the 65536 taken"),
            # A package announced as 1000 bytes whose download runs to 600 MB.
            ("long_package", host + "/files", host + "/liar/x?size=1000&sent=600000000&", False,
             "more than the 1099 taken"),
            # A byte every 200 ms: given up at the deadline (a floor of 3 s).
            ("trickle", host + "/slow/x?size=3000&piece=1&delay=200&", None, False, "given up after"),
            # The same, and a server silent after its headers, each stopped
            # from outside in the middle of its fetch.
            ("trickle_stopped", host + "/slow/x?size=3000&piece=1&delay=200&", None, True, None),
            ("silent_stopped", host + "/silent/x?size=3000&sent=10&", None, True, None),
        ]
        try:
            for name, info_base, package_base, stopped, text in cases:
                with self.subTest(name):
                    setup = Installation("agent_bound_" + name, info_base=info_base)
                    server.root = setup.source
                    if package_base:
                        setup.offer(package_base, "Update.exe", 1000)
                    env = {} if stopped else {"HAVREK_FETCH_FLOOR_MS": "3000"}
                    started = time.monotonic()
                    with RunningCopy(setup, env) as copy:
                        if stopped:
                            self.assertTrue(copy.wait_note("40 1", timeout=60), copy.listener.notifications())
                            # Well inside the fetch.
                            time.sleep(1)
                            took = copy.stop()
                            self.assertIsNotNone(took, "the copy did not end")
                            self.assertLess(took, 5 * TIME_SCALE)
                        else:
                            last = "41 2" if package_base else "40 2"
                            self.assertTrue(copy.wait_note(last, timeout=60), copy.listener.notifications())
                            # The floor, the bytes at the minimum rate, the pauses.
                            self.assertLess(time.monotonic() - started, 30 * TIME_SCALE)
                            copy.sample()
                            self.assertIsNotNone(copy.stop())
                    sys.stderr.write("%s: peak resident %d KB\n" % (name, copy.peak_kb))
                    self.assertGreater(copy.peak_kb, 0)
                    self.assertLess(copy.peak_kb, 64 * 1024)
                    if text:
                        self.assertIn(text, _log_text(setup))
                    self.assertFalse(os.path.exists(os.path.join(setup.folder, "Update.exe")))
                    self.assertFalse(os.path.exists(setup.copy + ".fetch"))
        finally:
            server.shutdown()
            server.server_close()


class _nothing:
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False


def _log_text(setup):
    path = os.path.join(setup.folder, "X_agent.log")
    return read_bytes(path).decode("latin-1") if os.path.exists(path) else ""


if __name__ == "__main__":
    unittest.main(verbosity=2)

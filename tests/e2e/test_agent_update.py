"""A whole update under Wine: the installed stand-in program v1 runs from a
folder with a blank in its name; its agent, started by its plain name, finds
a higher version offered, asks, fetches the package, stops the program,
installs through the test engine, records the new version, tells the user,
starts the program again and hands over to a fresh agent. The same from the
web server fixture over HTTP and HTTPS, and from a folder with no server at
all."""
import os
import shutil
import signal
import subprocess
import sys
import unittest

import datetime
import time

from harness import (DebugViewer, EngineReport, Listener, STUB, Scenario, TIME_SCALE, UiDriver, WINE_RUN,
                     engine_files, fixture, other_width, pack, prefix_processes, reg_delete, reg_set, run_windows,
                     start_tls_server, wait_for, winpath, workdir)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import http_server  # noqa: E402

TOKEN = "TOOL-update-build"
UPDATE = "ToolUpdate.exe"


def read_text(path):
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


def in_order(lines, wanted):
    """The first entry of wanted that is not found, in order, within a line
    after the previous one's; None when all are."""
    at = 0
    for want in wanted:
        while at < len(lines) and want not in lines[at]:
            at += 1
        if at == len(lines):
            return want
        at += 1
    return None


def end_processes(names):
    """Ends this scenario's processes that are still running (the restarted
    program, the fresh agent and its copy), each by its id."""
    wanted = {name.lower() for name in names}
    for pid, args in prefix_processes().items():
        if args and args[0].replace("/", "\\").rsplit("\\", 1)[-1].lower() in wanted:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


class UpdatedProgram:
    """One prepared installation: the stand-in program v1 and its agent in
    "<work>/Program Files/Tool", the source folder that holds the .info file
    and the v2 package, and the test engine's report."""

    def __init__(self, name):
        self.work = workdir(name)
        self.install = os.path.join(self.work, "Program Files", "Tool")
        self.source = os.path.join(self.work, "source")
        os.makedirs(self.install)
        os.makedirs(self.source)
        self.program = os.path.join(self.install, "Tool.exe")
        shutil.copy(fixture("installed_program"), self.program)
        self.write(os.path.join(self.install, "version.txt"), "1\r\n")
        self.agent = os.path.join(self.install, "agent.exe")
        self.report = os.path.join(self.work, "engine.txt")
        # What the system would start for an unquoted ".../Program Files/..."
        # path: a program that only reports that it ran.
        self.trap = os.path.join(self.work, "trap.txt")
        engine_files(self.work, self.trap, name="Program")

    @staticmethod
    def write(path, text):
        with open(path, "w", newline="") as f:
            f.write(text)

    def prepare(self, base, method="Using WM_CLOSE"):
        """Packs the agent and the v2 update for the base location (a URL or
        a folder) and writes the .info and .original files."""
        src = os.path.join(self.work, "v2")
        os.makedirs(src)
        self.write(os.path.join(src, "version.txt"), "2\r\n")
        engine, ini = engine_files(src, self.report, install="version.txt|" + winpath(self.install))
        package = os.path.join(self.source, UPDATE)
        pack("build", "--stub", STUB, "--out", package, "--file", os.path.join(src, "version.txt"), "--file", ini,
             "--run", engine, "--update-token", TOKEN)
        pack("build", "--stub", STUB, "--out", self.agent, "--auto-update", "--agent", "agent.exe", "--log",
             "--info-base", base, "--info-name", "Tool.info", "--update-token", TOKEN)
        self.write(os.path.join(self.source, "Tool.info"), "\r\n".join([
            "[NewSetup]", "VersionNew=2", "Stamp=2", "ProgramName=Tool",
            "DownloadURL_UPDATE=" + base, "NameOfUpdateFile=" + UPDATE,
            "SizeOfUpdateFile=%d" % os.path.getsize(package),
            "RunningProcess=<Application Folder>\\Tool.exe", "ShutDownMethod=" + method,
            "RequestConfirmationBeforeDownload=1", "InformFinish=1", "RestartProcess=1", ""]))
        self.write(os.path.join(self.install, "Tool.original"), "\r\n".join([
            "[OriginalSetup]", "VersionOriginal=1", "Stamp=1", "ProgramName=Tool", "ProbeSecondsInterval=0",
            "[Directories]", "TargetDir=" + winpath(self.install),
            "[AutoUpdate]", "s11=A new version of PROG_NAME is available.", "s12=<P>Download and install it now?",
            "s16=PROG_NAME has been updated.", "s17=<P>Start it again now?", ""]))

    def start_program(self):
        """Starts v1, reporting where a restarted program reports, with a
        life long enough for an agent that runs emulated."""
        return subprocess.Popen([WINE_RUN, self.program, winpath(self.program + ".report"),
                                 "-life=%d" % (60000 * TIME_SCALE)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def program_lines(self):
        return read_text(self.program + ".report").splitlines()


class AgentUpdate(Scenario):
    def run_update(self, name, base_of):
        """Runs the whole update; base_of(setup) gives the base location once
        the source folder exists. Returns what the checks need."""
        setup = UpdatedProgram(name)
        setup.prepare(base_of(setup))
        try:
            return setup, self.update(setup)
        finally:
            end_processes(["Tool.exe", "agent.exe", "X_agent.exe"])

    def update(self, setup):
        found = {}
        with DebugViewer(setup.work) as viewer, Listener(setup.work, ".AutoUpdate.X_agent") as listener:
            program = setup.start_program()
            self.assertTrue(wait_for(lambda: "ready" in " ".join(setup.program_lines()), timeout=30))
            # The download question, then the finish message with the restart
            # question; both answered Yes.
            with UiDriver(setup.work, "key:Y", "key:Y", timeout=90) as driver:
                self.assertEqual(run_windows(setup.agent), 0)
                driver.wait(timeout=180)
                found["boxes"] = driver.boxes()
            program.wait(timeout=30)
            log_path = os.path.join(setup.install, "X_agent.log")
            # The fresh agent writes its command line first thing.
            wait_for(lambda: "/_ZZ=99" in read_text(log_path), timeout=30)
            wait_for(lambda: len([l for l in setup.program_lines() if l.endswith(" ready")]) >= 2, timeout=30)
            # The copy ends once it has handed over.
            wait_for(lambda: "STUB END ====> \"%s\"" % winpath(os.path.join(setup.install, "X_agent.exe"))
                     in viewer.text(), timeout=30)
            found["notes"] = listener.notifications()
            found["debug"] = viewer.lines()
        found["log"] = read_text(log_path).splitlines()
        found["original"] = read_text(os.path.join(setup.install, "Tool.original"))
        found["engine"] = EngineReport(setup.report)
        return found

    def check(self, setup, found):
        boxes = found["boxes"]
        self.assertEqual(len(boxes), 2, boxes)
        self.assertIn("A new version of Tool is available.", boxes[0]["text"])
        self.assertIn("Tool has been updated.", boxes[1]["text"])
        self.assertIn("Start it again now?", boxes[1]["text"])
        lines = setup.program_lines()
        # v1 was closed by WM_CLOSE (15, 255); v2 came up after the install.
        self.assertIsNone(in_order(lines, ["version 1", "ready", "WM_CLOSE 15 255", "end exit=",
                                           "version 2", "ready"]), lines)
        self.assertFalse(os.path.exists(setup.trap), read_text(setup.trap))
        engine = found["engine"]
        self.assertEqual(engine.runs(), 1)
        info = winpath(os.path.join(setup.install, "Tool.info"))
        cmdline = engine.get("cmdline")
        self.assertIn(' /OriginalInfoFile="%s"' % info, cmdline)
        self.assertIn(" /AutoUpdateProg", cmdline)
        self.assertTrue(engine.get("installed", "").endswith("|ok"), engine.lines)
        self.assertEqual(engine.get("atom_after"), "deleted")
        self.assertIn("VersionOriginal=2", found["original"])
        self.assertFalse(os.path.exists(os.path.join(setup.install, UPDATE)))
        self.assertEqual([n for n in found["notes"] if n.split()[0] in ("40", "41", "42")],
                         ["40 1", "40 2", "41 1", "41 2", "42 1", "42 2"])
        markers = ["==== PerformShot-1 ====", "==== PerformAutoUpdate-4 ====", "==== PerformAutoUpdate-5 ====",
                   "==== PerformAutoUpdate-6 ====", "==== PerformAutoUpdate-7 ====", "==== PerformAutoUpdate-8 ====",
                   "==== PerformAutoUpdate-9 ====",
                   "==== PerformAutoUpdate-10 ====", "==== PerformAutoUpdate-11 ====",
                   "==== PerformAutoUpdate-12 ====", "==== PerformAutoUpdate-13 ====", "==== PerformShot-2 ===="]
        self.assertIsNone(in_order(found["debug"], markers), found["debug"])
        program = winpath(setup.program)
        self.assertIn("TRUE TRUE >%s<" % program, found["debug"])
        fresh = '"%s" /_ZZ=99 /WAIT=10 /TRANSIENT=|' % winpath(setup.agent)
        self.assertIsNone(in_order(found["log"], [
            "GetOkToPerformAU = 6 - OK", "PerformAutoUpdate() - START", "PerformAutoUpdate() - END    Result=TRUE",
            ".. ReStartAutoUpdateExe() - Start", ".. WinExec - " + fresh, ".. PostMessage(WM_DESTROY)",
            ".. ReStartAutoUpdateExe() - End"]), found["log"])
        # The fresh agent starts while the copy still waits to end.
        self.assertIsNone(in_order(found["log"], [".. WinExec - " + fresh, "CommandLine=" + fresh]), found["log"])

    def test_update_from_the_web_over_http_and_https_and_from_a_folder(self):
        server, port = http_server.start()

        def served(setup):
            server.root = setup.source
            return "http://127.0.0.1:%d/files" % port

        cleanups = []

        def served_over_tls(setup):
            # "localhost": the test authority's certificate names no address.
            url, cleanup = start_tls_server(setup.source)
            cleanups.append(cleanup)
            return url + "/files"

        def stopped_server(setup):
            # A folder source needs no server: none runs.
            server.shutdown()
            server.server_close()
            return winpath(setup.source)

        try:
            for name, base_of in (("agent_update_web", served), ("agent_update_https", served_over_tls),
                                  ("agent_update_folder", stopped_server)):
                with self.subTest(name):
                    setup, found = self.run_update(name, base_of)
                    self.check(setup, found)
        finally:
            for cleanup in cleanups:
                cleanup()
            if server.socket.fileno() != -1:
                server.shutdown()
                server.server_close()

    def test_the_shipping_agent_stops_and_restarts_a_program_of_the_other_width(self):
        # In the i686 tree the agent is the 32-bit stub and the borrowed
        # program is 64-bit: the agent cannot read that program's modules.
        if not other_width():
            self.skipTest("needs an agent and a program of two widths (the i686 tree)")
        setup, found = self.run_update("agent_update_other_width", lambda setup: winpath(setup.source))
        self.check(setup, found)


TEST_MODE_KEY = "HKCU\\Software\\Morvessa\\Havrek\\AutoUpdate"
MONTHS = ["JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"]


def processor_seconds(pid):
    """User and system time the process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def copy_pid(name):
    for pid, args in prefix_processes().items():
        if args and args[0].replace("/", "\\").rsplit("\\", 1)[-1].lower() == name.lower():
            return pid
    return None


PUT_OFF_END = "PerformAutoUpdate() - END    Result=FALSE"


class UnattendedStop(Scenario):
    """`agent.exe /quiet`: nobody answers, so a program that is to be closed
    by the user is waited for (quietly, up to a bound, short in test mode)
    and the update is put off; an unknown stopping method puts it off at once.
    The program runs on untouched and nothing is installed."""

    def test_nobody_to_close_the_program_or_an_unknown_method_puts_the_update_off(self):
        today = datetime.date.today()
        cases = [
            # (name, ShutDownMethod, waits for the test-mode bound of 15 s)
            ("unattended_box", "Issue a Message Box", True),
            ("unknown_method", "Using WM_Close", False),
        ]
        for name, method, waits in cases:
            with self.subTest(name):
                setup = UpdatedProgram("agent_put_off_" + name)
                setup.prepare(winpath(setup.source), method=method)
                reg_set(TEST_MODE_KEY, "TestMode", "1")
                reg_set(TEST_MODE_KEY, "TestModeDate",
                        "%02d-%s-%04d" % (today.day, MONTHS[today.month - 1], today.year))
                reg_set(TEST_MODE_KEY, "TestModeURL", winpath(setup.source))
                try:
                    self.put_off(setup, method, waits)
                finally:
                    for value in ("TestMode", "TestModeDate", "TestModeURL"):
                        reg_delete(TEST_MODE_KEY, value)
                    end_processes(["Tool.exe", "agent.exe", "X_agent.exe"])

    def put_off(self, setup, method, waits):
        log_path = os.path.join(setup.install, "X_agent.log")
        program_path = winpath(setup.program)
        waiting = "Shut Down Process() - unattended: waiting up to 15 s for %s to end" % program_path
        put_off = "Shut Down Process() - %s still runs: the update is put off" % program_path
        with DebugViewer(setup.work) as viewer:
            program = setup.start_program()
            try:
                found = self.run_quiet_agent(setup, program, waits, log_path, waiting, put_off)
            finally:
                end_processes(["Tool.exe"])
                program.wait(timeout=30)
            debug = viewer.lines()
        alive, elapsed, usage = found
        log = read_text(log_path).splitlines()
        # The plain agent handed /quiet on to its copy.
        self.assertTrue(any(" X " in line and "CommandLine=" in line and 'X_agent.exe" /quiet' in line
                            for line in log), log)
        expected = ["Shut Down Process() - START  (%s)  Method: %s" % (program_path, method)]
        if waits:
            expected.append(waiting)
        else:
            expected.append('Shut Down Process() - unknown method "%s": nothing is sent' % method)
        expected += ["Shut Down Process() - END", put_off, "PerformAutoUpdate() - put off: the program still runs",
                     PUT_OFF_END]
        self.assertIsNone(in_order(log, expected), log)
        if waits:
            self.assertGreaterEqual(elapsed, 14)
            self.assertLess(elapsed, 15 + 15 * TIME_SCALE)
            self.assertLess(usage, 0.05)
        # Only the download question was answered; no box asked to close.
        answered = [line for line in debug if "MarkupBox unattended" in line]
        self.assertEqual(len(answered), 1, answered)
        self.assertTrue(alive)
        self.assertEqual([line.split(" ", 1)[1] for line in setup.program_lines()], ["version 1", "ready"])
        self.assertEqual(EngineReport(setup.report).runs(), 0)
        self.assertIn("VersionOriginal=1", read_text(os.path.join(setup.install, "Tool.original")))
        self.assertFalse(os.path.exists(os.path.join(setup.install, UPDATE)))

    def run_quiet_agent(self, setup, program, waits, log_path, waiting, put_off):
        """Runs `agent.exe /quiet` until the update is put off; whether the
        program still runs then, and the wait's length and processor share."""
        self.assertEqual(run_windows(setup.agent, "/quiet"), 0)
        elapsed = usage = None
        if waits:
            self.assertTrue(wait_for(lambda: waiting in read_text(log_path), timeout=60), read_text(log_path))
            pid = copy_pid("X_agent.exe")
            self.assertIsNotNone(pid)
            start, cpu_start = time.monotonic(), processor_seconds(pid)
            self.assertTrue(wait_for(lambda: put_off in read_text(log_path), timeout=60), read_text(log_path))
            elapsed, cpu = time.monotonic() - start, processor_seconds(pid) - cpu_start
            usage = cpu / elapsed
            print("unattended wait: %.2f s of processor in %.1f s (%.1f %%)" % (cpu, elapsed, 100 * usage))
        self.assertTrue(wait_for(lambda: PUT_OFF_END in read_text(log_path), timeout=60), read_text(log_path))
        return program.poll() is None, elapsed, usage


if __name__ == "__main__":
    unittest.main(verbosity=2)

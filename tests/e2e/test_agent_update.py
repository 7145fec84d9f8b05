"""A whole update under Wine: the installed stand-in program v1 runs from a
folder with a blank in its name; its agent, started by its plain name, finds
a higher version offered, asks, fetches the package, stops the program,
installs through the test engine, records the new version, tells the user,
starts the program again and hands over to a fresh agent. The same from the
web server fixture over HTTP and HTTPS, and from a folder with no server at
all. Then the cycle's other paths as a table: the installation declined,
forced notices, a background update with its shortcuts, an engine that
fails, and the probes a user asked for."""
import contextlib
import datetime
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

from harness import (DebugViewer, EngineReport, Listener, OTHER_STUB, STUB, Scenario, TIME_SCALE, UiDriver, WINE_RUN,
                     agent_log_lines, engine_files, fixture, other_width, own_fixture, pack, prefix_processes,
                     read_text, reg_delete, reg_set, run_windows, start_tls_server, startup_folder, wait_for, winpath,
                     workdir)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import http_server  # noqa: E402

TOKEN = "TOOL-update-build"
UPDATE = "ToolUpdate.exe"


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


def ini_text(sections, changes):
    """An INI file of {section: {key: value}}, with changes of the same form
    merged in (a value of None drops the key)."""
    lines = []
    for section in list(sections) + [name for name in changes if name not in sections]:
        keys = dict(sections.get(section, {}))
        keys.update(changes.get(section, {}))
        lines.append("[%s]" % section)
        lines += ["%s=%s" % (k, v) for k, v in keys.items() if v is not None]
    return "\r\n".join(lines) + "\r\n"


# What each stop method leaves in the program's report before it ends.
STOPS = {"Using WM_CLOSE": "WM_CLOSE 15 255", "Using WM_QUIT": "WM_QUIT 15 255", "Using Terminate Process": None}


class UpdatedProgram:
    """One prepared installation: the stand-in program v1 and its agent in
    "<work>/Program Files/Tool", the source folder that holds the .info file
    and the v2 package, and the test engine's report."""

    def __init__(self, name, program=None):
        self.work = workdir(name)
        self.install = os.path.join(self.work, "Program Files", "Tool")
        self.source = os.path.join(self.work, "source")
        os.makedirs(self.install)
        os.makedirs(self.source)
        self.program = os.path.join(self.install, "Tool.exe")
        shutil.copy(program or fixture("installed_program"), self.program)
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

    def prepare(self, base, info=None, original=None, info_base=None, method="Using WM_CLOSE", agent_stub=STUB,
                package_stub=STUB, agent_args=(), **control):
        """Packs the agent and the v2 update for the base location (a URL or
        a folder) and writes the .info and .original files. info and
        original: {section: {key: value}} merged into the files (None drops
        a key); info_base: where the agent fetches its .info file, base by
        default; agent_stub, package_stub: the stub images of the agent and
        the package; agent_args: more options of the agent's build (its
        update keys); control: the test engine's control keys."""
        src = os.path.join(self.work, "v2")
        os.makedirs(src)
        self.write(os.path.join(src, "version.txt"), "2\r\n")
        engine, ini = engine_files(src, self.report, install="version.txt|" + winpath(self.install), **control)
        package = os.path.join(self.source, UPDATE)
        pack("build", "--stub", package_stub, "--out", package, "--file", os.path.join(src, "version.txt"), "--file", ini,
             "--run", engine, "--update-token", TOKEN)
        pack("build", "--stub", agent_stub, "--out", self.agent, "--auto-update", "--agent", "agent.exe", "--log",
             "--info-base", info_base or base, "--info-name", "Tool.info", "--update-token", TOKEN, *agent_args)
        self.write(os.path.join(self.source, "Tool.info"), ini_text({"NewSetup": {
            "VersionNew": "2", "Stamp": "2", "ProgramName": "Tool",
            "DownloadURL_UPDATE": base, "NameOfUpdateFile": UPDATE,
            "SizeOfUpdateFile": "%d" % os.path.getsize(package),
            "RunningProcess": "<Application Folder>\\Tool.exe", "ShutDownMethod": method,
            "RequestConfirmationBeforeDownload": "1", "InformFinish": "1", "RestartProcess": "1"}}, info or {}))
        self.write(os.path.join(self.install, "Tool.original"), ini_text({
            "OriginalSetup": {"VersionOriginal": "1", "Stamp": "1", "ProgramName": "Tool",
                              "ProbeSecondsInterval": "0"},
            "Directories": {"TargetDir": winpath(self.install)},
            "AutoUpdate": {"s11": "A new version of PROG_NAME is available.",
                           "s12": "<P>Download and install it now?",
                           "s16": "PROG_NAME has been updated.", "s17": "<P>Start it again now?"}}, original or {}))

    def start_program(self):
        """Starts v1, reporting where a restarted program reports, with a
        life long enough for an agent that runs emulated beside other tests
        (the scenario ends what is left of it)."""
        return subprocess.Popen([WINE_RUN, self.program, winpath(self.program + ".report"),
                                 "-life=%d" % (300000 * TIME_SCALE)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def program_lines(self):
        return read_text(self.program + ".report").splitlines()


class AgentUpdate(Scenario):
    def run_update(self, name, base_of, program=None, **prepare):
        """Runs the whole update; base_of(setup) gives the base location once
        the source folder exists; program: the stand-in's image; prepare:
        more of UpdatedProgram.prepare's arguments. Returns what the checks
        need."""
        setup = UpdatedProgram(name, program)
        setup.prepare(base_of(setup), **prepare)
        try:
            return setup, self.update(setup)
        finally:
            end_processes(["Tool.exe", "agent.exe", "X_agent.exe"])

    def update(self, setup):
        found = {}
        with DebugViewer(setup.work) as viewer, Listener(setup.work, ".AutoUpdate.X_agent") as listener:
            program = setup.start_program()
            # A 32-bit program may start emulated: generous bounds.
            self.assertTrue(wait_for(lambda: "ready" in " ".join(setup.program_lines()), timeout=120))
            # The download question, then the finish message with the restart
            # question; both answered Yes.
            with UiDriver(setup.work, "key:Y", "key:Y", timeout=90) as driver:
                self.assertEqual(run_windows(setup.agent), 0)
                driver.wait(timeout=180)
                found["boxes"] = driver.boxes()
            program.wait(timeout=30)
            log_path = os.path.join(setup.install, "X_agent.log")
            # The fresh agent writes its command line first thing.
            wait_for(lambda: "/_ZZ=99" in read_text(log_path), timeout=120)
            wait_for(lambda: len([l for l in setup.program_lines() if l.endswith(" ready")]) >= 2, timeout=120)
            # The copy ends once it has handed over.
            wait_for(lambda: "STUB END ====> \"%s\"" % winpath(os.path.join(setup.install, "X_agent.exe"))
                     in viewer.text(), timeout=30)
            found["notes"] = listener.notifications()
            found["debug"] = viewer.lines()
        found["log"] = read_text(log_path).splitlines()
        found["original"] = read_text(os.path.join(setup.install, "Tool.original"))
        found["engine"] = EngineReport(setup.report)
        return found

    def check(self, setup, found, method="Using WM_CLOSE"):
        boxes = found["boxes"]
        self.assertEqual(len(boxes), 2, boxes)
        self.assertIn("A new version of Tool is available.", boxes[0]["text"])
        self.assertIn("Tool has been updated.", boxes[1]["text"])
        self.assertIn("Start it again now?", boxes[1]["text"])
        lines = setup.program_lines()
        # v1 was stopped by the method (a message is seen with its 15, 255
        # and ends the program; a terminated one writes nothing more); v2
        # came up after the install.
        seen = STOPS[method]
        self.assertIsNone(in_order(lines, ["version 1", "ready"] + ([seen, "end exit="] if seen else [])
                                   + ["version 2", "ready"]), lines)
        if not seen:
            v1 = lines[0].split()[0]
            self.assertEqual([l for l in lines if l.startswith(v1 + " ") and (" end " in l or " WM_" in l)], [],
                             lines)
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


class UpdateAcrossWidths(AgentUpdate):
    """Whole updates where the agent and the program differ in width, by
    each stop method: the shipping i686 agent against the 64-bit program and
    one of its own width, the x86_64 agent against a 32-bit program. Needs
    both widths, as the i686 tree has them. The update package is the x86_64
    stub: its width is not what these rows are about, and a 32-bit start may
    take a minute."""

    ROWS = {
        # name: (agent stub, program, stop method)
        "i686_agent_64_bit_program_wm_quit": ("own", "wide", "Using WM_QUIT"),
        "i686_agent_64_bit_program_terminate": ("own", "wide", "Using Terminate Process"),
        "i686_agent_32_bit_program_wm_close": ("own", "narrow", "Using WM_CLOSE"),
        "i686_agent_32_bit_program_wm_quit": ("own", "narrow", "Using WM_QUIT"),
        "i686_agent_32_bit_program_terminate": ("own", "narrow", "Using Terminate Process"),
        "x86_64_agent_32_bit_program_wm_close": ("other", "narrow", "Using WM_CLOSE"),
    }

    def run_row(self, name):
        if not other_width() or not os.path.exists(OTHER_STUB):
            self.skipTest("needs an agent and a program of two widths (the i686 tree)")
        agent, program, method = self.ROWS[name]
        stubs = {"own": STUB, "other": OTHER_STUB}
        programs = {"wide": fixture("installed_program"), "narrow": own_fixture("installed_program")}
        setup, found = self.run_update("widths_" + name, lambda setup: winpath(setup.source), programs[program],
                                       method=method, agent_stub=stubs[agent], package_stub=OTHER_STUB)
        self.check(setup, found, method)


for _name in UpdateAcrossWidths.ROWS:
    setattr(UpdateAcrossWidths, "test_" + _name, lambda self, name=_name: self.run_row(name))


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


class UpdateCycle(Scenario):
    """The paths of the update cycle that the whole update above does not
    take, one row each. A row runs the agent copy itself (its first tick
    probes) while a listener orders it to quit two ticks on, or starts a
    probe on the user's behalf through the plain agent, which adds the same
    stop: either way a stop is pending when the cycle ends, so no fresh
    agent is started and the copy ends by itself once the row is decided."""

    def run_row(self, name, answers=(), program=False, user_probe=False, exit_code=0, **prepare):
        setup = UpdatedProgram(name)
        # A shortcut outside the Start Menu folders, for the rows that name it.
        setup.write(os.path.join(setup.install, "Tool.lnk"), "planted")
        original = prepare.pop("original", {})
        original = {section: {k: v.replace("<install>", winpath(setup.install)) for k, v in keys.items()}
                    for section, keys in original.items()}
        setup.prepare(winpath(setup.source), original=original, **prepare)
        found = {"setup": setup, "notes": [], "boxes": []}
        copy_lines = lambda: agent_log_lines(setup.install, copy=True)
        started = []
        try:
            with DebugViewer(setup.work) as viewer, contextlib.ExitStack() as stack:
                if program:
                    started.append(subprocess.Popen([WINE_RUN, setup.program], stdout=subprocess.DEVNULL,
                                                    stderr=subprocess.DEVNULL))
                    self.assertTrue(wait_for(lambda: "ready" in " ".join(setup.program_lines()), timeout=30))
                driver = stack.enter_context(UiDriver(setup.work, *answers, timeout=60)) if answers else None
                if user_probe:
                    self.assertEqual(run_windows(setup.agent, "/TEST=2"), 0)
                else:
                    listener = stack.enter_context(Listener(setup.work, ".AutoUpdate.X_agent", stop_ticks=2))
                    copy = os.path.join(setup.install, "X_agent.exe")
                    shutil.copy(setup.agent, copy)
                    # The engine's exit code is the copy's, as a setup's is.
                    self.assertEqual(run_windows(copy, "/SleepX=0"), exit_code)
                    found["notes"] = [n for n in listener.notifications() if n.split()[0] in ("40", "41", "42")]
                self.assertTrue(wait_for(lambda: any(l.startswith("=== EXIT ===") for l in copy_lines()),
                                         timeout=90), copy_lines()[-5:])
                if program:
                    wait_for(lambda: len([l for l in setup.program_lines() if l.endswith(" ready")]) >= 2,
                             timeout=30)
                if driver:
                    # Each box is recorded once it has closed; the driver
                    # ends after its last one.
                    try:
                        driver.wait(timeout=30)
                    except subprocess.TimeoutExpired:
                        pass
                    found["boxes"] = driver.boxes()
                found["debug"] = viewer.lines()
        finally:
            end_processes(["Tool.exe", "agent.exe", "X_agent.exe"])
            for proc in started:
                try:
                    proc.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        found["log"] = copy_lines()
        found["original"] = read_text(os.path.join(setup.install, "Tool.original"))
        found["engine"] = EngineReport(setup.report)
        return found

    def check_boxes(self, boxes, expected):
        """expected: (caption, [texts the box shows], number of buttons or None) per box."""
        self.assertEqual(len(boxes), len(expected), boxes)
        for box, (caption, texts, buttons) in zip(boxes, expected):
            self.assertEqual(box.get("caption"), caption, box)
            for text in texts:
                self.assertIn(text, box.get("text", ""), box)
            if buttons is not None:
                self.assertEqual(len(box.get("buttons", [])), buttons, box)

    def check_installed(self, found, installed, engine_ran=True):
        setup, log = found["setup"], found["log"]
        self.assertIn("VersionOriginal=%d" % (2 if installed else 1), found["original"])
        self.assertIn("PerformAutoUpdate() - END    Result=%s" % ("TRUE" if installed else "FALSE"), log)
        if engine_ran:
            self.assertFalse(os.path.exists(os.path.join(setup.install, UPDATE)), "the package is deleted")
        # A stop was pending: the copy did not hand over to a fresh agent.
        self.assertFalse([l for l in log if l.startswith(".. WinExec")], log)
        if installed:
            self.assertIsNone(in_order(log, [".. ReStartAutoUpdateExe() - Start", ".. ReStartAutoUpdateExe() - End",
                                             "=== EXIT ==="]), log)
        else:
            self.assertNotIn(".. ReStartAutoUpdateExe() - Start", log)

    def test_paths_of_the_update_cycle(self):
        startup_windows, startup = startup_folder()
        server, port = http_server.start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        server.root = workdir("update_cycle_empty_root")

        def declined(found):
            self.check_boxes(found["boxes"], [("Confirm", ["Install Tool now?"], None)])
            self.assertEqual(found["notes"], ["40 1", "40 2", "41 1", "41 2"])
            self.assertEqual(found["engine"].runs(), 0)
            self.assertIn("==== PerformAutoUpdate-6 ====", " ".join(found["debug"]))
            self.assertNotIn("==== PerformAutoUpdate-7 ====", " ".join(found["debug"]))
            self.check_installed(found, False, engine_ran=False)

        def forced(found):
            # Notices without a choice: one button, and the update goes on.
            self.check_boxes(found["boxes"], [
                ("Attention", ["A new version of Tool is available.", "It will be downloaded and installed."], 1),
                ("Attention", ["Tool will be installed now."], 1)])
            self.assertEqual(found["engine"].runs(), 1)
            self.assertEqual(found["engine"].get("show"), "1", "the engine runs in the foreground")
            self.check_installed(found, True)
            # Named for removal, but no shortcut.
            self.assertTrue(os.path.exists(os.path.join(startup, "update_cycle_forced.txt")))
            self.assertTrue([l for l in found["log"] if l.startswith("StartUpLink not removed")], found["log"])

        def background(found):
            self.assertEqual(found["engine"].get("show"), "0", "a background update runs the engine hidden")
            self.assertEqual(found["notes"], ["40 1", "40 2", "41 1", "41 2", "42 1", "42 2"])
            self.check_installed(found, True)
            self.assertFalse(os.path.exists(os.path.join(startup, "update_cycle_background.lnk")))
            self.assertTrue(os.path.exists(os.path.join(found["setup"].install, "Tool.lnk")),
                            "a shortcut outside the Start Menu folders stays")

        def engine_fails(found):
            setup = found["setup"]
            self.assertEqual(found["engine"].get("atom_after"), "kept")
            self.check_installed(found, False)
            # The program the agent stopped is started again all the same.
            self.assertIsNone(in_order(setup.program_lines(), ["ready", "WM_CLOSE 15 255", "end exit=", "ready"]),
                              setup.program_lines())
            self.assertIn("TRUE TRUE >%s<" % winpath(setup.program), found["debug"])

        def nothing_new(found):
            self.check_boxes(found["boxes"], [("Confirm", ["Check Tool now?"], None),
                                              ("Attention", ["No newer version."], None)])
            self.assertIn("GetOkToPerformAU = 3 - New version is not higher then old version", found["log"])
            self.assertNotIn("PerformAutoUpdate() - START", found["log"])

        def fetch_error(found):
            boxes = found["boxes"]
            self.check_boxes(boxes, [("Confirm", ["Check Tool now?"], None), ("Error", [], None)])
            self.assertIn("404", boxes[1]["text"], boxes[1])
            self.assertNotIn("No newer version.", boxes[1]["text"])
            self.assertIn("GetOkToPerformAU = 0 - Error downloading .INFO file", found["log"])

        user_texts = {"AutoUpdate": {"s21": "No newer version.", "s22": "Check PROG_NAME now?"},
                      "OriginalSetup": {"ProbeSecondsInterval": "-1"}}
        rows = [
            ("update_cycle_declined", dict(
                answers=["key:N"],
                info={"NewSetup": {"RequestConfirmationBeforeDownload": "0", "RequestConfirmationBeforeInstall": "1"}},
                original={"AutoUpdate": {"s14": "Install PROG_NAME now?"}}), declined),
            ("update_cycle_forced", dict(
                answers=["key:O", "key:O"],
                info={"NewSetup": {"RequestConfirmationBeforeDownloadForce": "1",
                                   "RequestConfirmationBeforeInstall": "1",
                                   "RequestConfirmationBeforeInstallForce": "1", "InformFinish": "0",
                                   "RemoveStartUpShortcut": "1"}},
                original={"AutoUpdate": {"s19": "<P>It will be downloaded and installed.",
                                         "s20": "PROG_NAME will be installed now."},
                          "UnInstall": {"StartUpLink": startup_windows + "\\update_cycle_forced.txt"}}), forced),
            ("update_cycle_background", dict(
                info={"NewSetup": {"RequestConfirmationBeforeDownload": "0", "BackgroundUpdate": "1",
                                   "InformFinish": "0", "RemoveStartUpShortcut": "1",
                                   "RemoveCheckForNewUpdateShortcut": "1"}},
                original={"UnInstall": {"StartUpLink": startup_windows + "\\update_cycle_background.lnk",
                                        "CheckforNewUpdateLink": "<install>\\Tool.lnk"}}), background),
            ("update_cycle_engine_fails", dict(
                program=True, keepatom="1", exit="3", exit_code=3,
                info={"NewSetup": {"RequestConfirmationBeforeDownload": "0"}}), engine_fails),
            ("update_cycle_user_nothing_new", dict(
                answers=["key:Y", "key:O"], user_probe=True, info={"NewSetup": {"VersionNew": "1"}},
                original=user_texts), nothing_new),
            ("update_cycle_user_fetch_error", dict(
                answers=["key:Y", "key:O"], user_probe=True, info_base="http://127.0.0.1:%d/404" % port,
                original=user_texts), fetch_error),
        ]
        for name, options, check in rows:
            with self.subTest(name):
                for planted in ("update_cycle_forced.txt", "update_cycle_background.lnk"):
                    with open(os.path.join(startup, planted), "w") as f:
                        f.write("planted")
                    self.addCleanup(lambda p=os.path.join(startup, planted): os.path.exists(p) and os.remove(p))
                check(self.run_row(name, **options))


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""The setup role under Wine: a package unpacked into the setup folder, the
setup engine (the test engine fixture) started with the handshake switches,
its exit code handed on, and the folder removed afterwards."""
import os
import random
import subprocess
import unittest

from harness import (EngineReport, Scenario, STUB, WINE_RUN, dos_datetime, engine_files, pack, run_windows,
                     run_windows_timed, startup_folder, wait_for, winpath, workdir)

BASE_TIME = 1600000000  # 2020-09-13, even seconds keep DOS dates exact


def write(path, data, stamp):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (stamp, stamp))


class SetupPackage:
    """About twenty files: nested folders, an empty file, a file split over
    several entries, compressible and incompressible data, and the engine
    marked to run with its own arguments."""

    def __init__(self, name, *pack_options, run_args="-x -exit=5", **control):
        self.folder = workdir(name)
        self.report_path = os.path.join(self.folder, "report.txt")
        src = os.path.join(self.folder, "src")
        rng = random.Random(7)
        self.expected = {}
        entries = []

        def add(target, data, stamp):
            source = os.path.join(src, target.replace("\\", "/"))
            write(source, data, stamp)
            self.expected[target] = (len(data), dos_datetime(stamp))
            entries.append("%s=%s" % (source, target))

        for i in range(6):
            add("doc%d.txt" % i, (("line %d of a text that packs well\n" % i) * (50 + i * 40)).encode(),
                BASE_TIME + i * 3600)
        for i in range(5):
            add("data\\bin%d.dat" % i, bytes(rng.getrandbits(8) for _ in range(300 + i * 700)),
                BASE_TIME + 86400 + i * 62)
        for i, depth in enumerate(("a\\b", "a\\b\\c", "a\\b\\c\\d")):
            add(depth + "\\deep%d.cfg" % i, ("[s]\nk=%d\n" % i).encode(), BASE_TIME + 2 * 86400 + i * 2)
        add("empty.txt", b"", BASE_TIME + 3 * 86400)
        add("sub dir\\with blank.txt", b"blank in the folder and file name\n", BASE_TIME + 4 * 86400)
        # 200 KB of noise in entries of 64 KB: four raw pieces of one file.
        add("big\\noise.bin", bytes(rng.getrandbits(8) for _ in range(200 * 1024)), BASE_TIME + 5 * 86400)
        # And a compressible one split as well.
        add("big\\text.log", b"".join(b"log line %06d\r\n" % i for i in range(9000)), BASE_TIME + 6 * 86400)

        engine, ini = engine_files(src, self.report_path, **control)
        self.expected["Engine.exe"] = (os.path.getsize(engine), None)
        self.expected["Engine.ini"] = (os.path.getsize(ini), None)
        self.setup = os.path.join(self.folder, "setup.exe")
        args = ["build", "--stub", STUB, "--out", self.setup, "--split-size", "64K"]
        for entry in entries:
            args += ["--file", entry]
        args += ["--file", ini, "--run", engine, "--run-args", run_args, *pack_options]
        self.pack_output = pack(*args).stdout

    def report(self):
        return EngineReport(self.report_path)

    def clear_report(self):
        if os.path.exists(self.report_path):
            os.remove(self.report_path)


def split_command_line(cmdline):
    """The engine's own path and the rest, as the system splits them."""
    if cmdline.startswith('"'):
        end = cmdline.index('"', 1)
        return cmdline[1:end], cmdline[end + 1:].strip()
    path, _, rest = cmdline.partition(" ")
    return path, rest.strip()


class ExtractAndRunHidden(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.package = SetupPackage("setup_hidden")

    def setUp(self):
        self.package.clear_report()

    def run_setup(self, *args, timeout=120):
        code, seconds = run_windows_timed(self.package.setup, *args, timeout=timeout)
        return code, seconds, self.package.report()

    def assert_folder_removed(self, report):
        self.assertFalse(os.path.exists(report.folder()), "the setup folder is removed afterwards")

    def test_files_land_in_the_setup_folder_and_the_engine_gets_the_handshake(self):
        code, _, report = self.run_setup("/hide", "-a")
        self.assertTrue(report.ended(), report.lines)
        self.assertEqual(code, 5, "the engine's exit code is the stub's")

        folder = report.get("engine").rsplit("\\", 1)[0]
        self.assertRegex(folder.rsplit("\\", 1)[1], r"^SETUP_\d+$")
        self.assertEqual(set(report.files), set(self.package.expected))
        for name, (size, date) in self.package.expected.items():
            self.assertEqual(report.files[name][0], size, name)
            if date is not None:
                self.assertEqual(report.files[name][1], date, "date of " + name)

        path, rest = split_command_line(report.get("cmdline"))
        self.assertEqual(path, folder + "\\Engine.exe")
        token = report.get("th_id")
        self.assertRegex(token, r"^_\d+$")
        self.assertEqual(rest, '/hide -a -x -exit=5 /TH_ID=%s /OriginExe="%s"' % (token, winpath(self.package.setup)))
        self.assertEqual(report.get("show"), "0", "hidden: the engine starts hidden")
        self.assertEqual(report.get("atom"), "present", "the atom is there before the engine starts")
        self.assert_folder_removed(report)

    def test_span_switches_go_and_a_given_origin_stays(self):
        origin = 'X:\\elsewhere\\orig.exe'
        code, _, report = self.run_setup("/hide", "/SpanCdLvl=3", "/SpanDiskFName1=" + winpath(self.package.setup),
                                         "/OriginExe=" + origin, "-exit=0")
        self.assertTrue(report.ended(), report.lines)
        self.assertEqual(code, 0)
        _, rest = split_command_line(report.get("cmdline"))
        self.assertEqual(rest, '/hide /OriginExe=%s -exit=0 -x -exit=5 /TH_ID=%s'
                         % (origin, report.get("th_id")))
        self.assertNotIn("/SpanCdLvl=", rest)
        self.assertNotIn("/SpanDiskFName1=", rest)
        self.assert_folder_removed(report)

    def test_an_exit_code_of_259_does_not_keep_the_stub_waiting(self):
        # 259 is the value a running process reports as its exit code.
        code, seconds, report = self.run_setup("/hide", "-exit=259", timeout=90)
        self.assertTrue(report.ended())
        self.assertEqual(code, 259 & 0xFF, "Wine passes the low byte on")
        self.assertLess(seconds, 60)

    def test_the_stub_waits_for_a_dialog_left_open_by_the_engine(self):
        code, seconds, report = self.run_setup("/hide", "-dialog=6000")
        self.assertEqual(code, 5)
        self.assertIn("dialog=open", report.lines)
        # Written by the child just before its window closes: the stub was
        # still waiting then.
        self.assertIn("dialog=closed", report.lines, "the stub ended before the dialog closed")
        self.assertGreaterEqual(seconds, 6)
        self.assert_folder_removed(report)


class ShortcutRemoval(Scenario):
    """A setup reads no agent settings: a .original and a .info planted
    beside it that name a document and a Start Menu shortcut for removal
    make it delete nothing, whether its engine finished or not (removing
    shortcuts belongs to the agent's update)."""

    def make(self, name):
        folder = workdir(name)
        report = os.path.join(folder, "report.txt")
        engine, ini = engine_files(folder, report)
        setup = os.path.join(folder, "setup.exe")
        pack("build", "--stub", STUB, "--out", setup, "--info-name", "Editor.info", "--file", ini, "--run", engine)
        startup_windows, startup = startup_folder()
        links = {"startup": os.path.join(folder, "thesis.docx"), "check": os.path.join(startup, name + ".lnk")}
        for path in links.values():
            with open(path, "w") as f:
                f.write("must stay")
        with open(os.path.join(folder, "Editor.original"), "w", newline="\r\n") as f:
            f.write("[UnInstall]\nStartUpLink=%s\nCheckforNewUpdateLink=%s\n"
                    % (winpath(links["startup"]), startup_windows + "\\" + name + ".lnk"))
        with open(os.path.join(folder, "Editor.info"), "w", newline="\r\n") as f:
            f.write("[NewSetup]\nRemoveStartUpShortcut=1\nRemoveCheckForNewUpdateShortcut=1\n")
        self.addCleanup(lambda: os.path.exists(links["check"]) and os.remove(links["check"]))
        return setup, report, links

    def test_a_finished_engine_leaves_the_named_files(self):
        setup, report, links = self.make("setup_shortcuts_done")
        self.assertEqual(run_windows(setup, "/hide"), 0)
        self.assertEqual(EngineReport(report).get("atom_after"), "deleted")
        self.assertTrue(os.path.exists(links["startup"]), "a document named by StartUpLink")
        self.assertTrue(os.path.exists(links["check"]), "a Start Menu shortcut named by CheckforNewUpdateLink")

    def test_an_engine_that_leaves_the_atom_keeps_both_shortcuts(self):
        setup, report, links = self.make("setup_shortcuts_failed")
        self.assertEqual(run_windows(setup, "/hide", "-keepatom", "-exit=3"), 3)
        self.assertEqual(EngineReport(report).get("atom_after"), "kept")
        self.assertTrue(os.path.exists(links["startup"]))
        self.assertTrue(os.path.exists(links["check"]))


class SingleInstance(Scenario):
    def test_a_second_start_while_the_first_runs_ends_at_once(self):
        folder = workdir("setup_single")
        report = os.path.join(folder, "report.txt")
        engine, ini = engine_files(folder, report, sleep=8000)
        setup = os.path.join(folder, "setup.exe")
        pack("build", "--stub", STUB, "--out", setup, "--file", ini, "--run", engine, "--run-args", "-exit=4")
        first = subprocess.Popen([WINE_RUN, setup, "/hide"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: EngineReport(report).runs() == 1, timeout=60))
            code, seconds = run_windows_timed(setup, "/hide")
            self.assertEqual(code, 0)
            self.assertLess(seconds, 5, "the second start does nothing")
            self.assertEqual(first.wait(timeout=120), 4)
        finally:
            if first.poll() is None:
                first.kill()
        self.assertEqual(EngineReport(report).runs(), 1, "the engine ran once")


if __name__ == "__main__":
    unittest.main(verbosity=2)

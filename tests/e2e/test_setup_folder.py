"""The setup folder belongs to one run: setups whose executables share a file
time each work in a folder of their own, a folder left by an ended run is
reused, only a real span copy removes itself, and its removal ends even for
a read-only copy."""
import os
import shutil
import signal
import stat
import subprocess
import unittest

from harness import (EngineReport, STUB, Scenario, WINE_RUN, engine_files, pack, prefix_processes, run_windows,
                     setup_folder_of, wait_for, winpath, workdir)
from test_setup_disks import DiskSet

SHARED_TIME = 1600000000  # the one file time both setups carry


class Setup:
    """setup.exe with one data file of its own and the test engine."""

    def __init__(self, name, data_name, stamp=SHARED_TIME, stays=False, **control):
        self.folder = workdir(name)
        self.report_path = os.path.join(self.folder, "report.txt")
        # With stays, the engine waits for this file before it ends.
        self.go_on = os.path.join(self.folder, "go on")
        if stays:
            control["waitfor"] = winpath(self.go_on)
        src = os.path.join(self.folder, "src")
        os.makedirs(src)
        data = os.path.join(src, data_name)
        with open(data, "w") as f:
            f.write("belongs to %s\n" % name)
        engine, ini = engine_files(src, self.report_path, **control)
        self.setup = os.path.join(self.folder, "setup.exe")
        pack("build", "--stub", STUB, "--out", self.setup, "--file", data, "--file", ini, "--run", engine)
        os.utime(self.setup, (stamp, stamp))
        self.expected = {data_name, "Engine.exe", "Engine.ini"}

    def report(self):
        return EngineReport(self.report_path)


def delete_batches():
    """pid -> arguments of the cmd.exe processes running a self-delete batch."""
    return {pid: args for pid, args in prefix_processes().items()
            if any("cmd.exe" in a.lower() for a in args[:1]) and any("_DEL_ME_.BAT" in a.upper() for a in args)}


class SetupFolderPerRun(Scenario):
    def test_two_setups_with_one_file_time_keep_their_own_folders(self):
        # The first engine stays until the second setup has ended.
        first = Setup("folder_first", "first.txt", stays=True, exit=3, relist=1)
        second = Setup("folder_second", "second.txt", exit=5, relist=1)
        base = setup_folder_of(first.setup)
        self.assertEqual(base, setup_folder_of(second.setup), "both compute the same first name")
        for folder in (base, base + "_2"):
            shutil.rmtree(folder, ignore_errors=True)

        runner = subprocess.Popen([WINE_RUN, first.setup, "/hide"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: first.report().get("engine"), timeout=60), "the first engine runs")
            second_code = run_windows(second.setup, "/hide")
            self.assertIsNone(runner.poll(), "the first engine was still running meanwhile")
            open(first.go_on, "w").close()
            first_code = runner.wait(timeout=120)
        finally:
            if runner.poll() is None:
                runner.kill()
        self.assertEqual((first_code, second_code), (3, 5))

        one, two = first.report(), second.report()
        for setup, report in ((first, one), (second, two)):
            self.assertTrue(report.ended(), report.lines)
            self.assertEqual(report.runs(), 1, report.lines)
            self.assertEqual(set(report.files), setup.expected)
            self.assertEqual(set(report.files_after), setup.expected, "no file went while the engine ran")
        self.assertEqual(one.folder(), base)
        self.assertEqual(two.folder(), base + "_2")
        self.assertFalse(os.path.exists(base))
        self.assertFalse(os.path.exists(base + "_2"))

    def test_a_folder_left_by_an_ended_run_is_emptied_and_reused(self):
        setup = Setup("folder_leftover", "mine.txt", stamp=SHARED_TIME + 3600, exit=4)
        base = setup_folder_of(setup.setup)
        shutil.rmtree(base, ignore_errors=True)
        os.makedirs(os.path.join(base, "old dir"))
        for path in ("stale.txt", os.path.join("old dir", "stale.bin")):
            with open(os.path.join(base, path), "w") as f:
                f.write("left behind")
        os.chmod(os.path.join(base, "stale.txt"), stat.S_IRUSR)

        self.assertEqual(run_windows(setup.setup, "/hide"), 4)
        report = setup.report()
        self.assertTrue(report.ended(), report.lines)
        self.assertEqual(report.folder(), base)
        self.assertEqual(set(report.files), setup.expected)
        self.assertFalse(os.path.exists(base))


class OnlyASpanCopyRemovesItself(Scenario):
    def test_the_span_level_switch_alone_deletes_nothing(self):
        plain = Setup("span_switch_plain", "plain.txt", stamp=SHARED_TIME + 7200)
        disks = DiskSet("span_switch_y_copy")
        # A span program under a copy's name, but outside any setup folder.
        y_copy = os.path.join(disks.folder, "Y_setup.exe")
        shutil.copy(disks.setup, y_copy)
        cases = [
            ("an ordinary setup", plain.setup, plain.report, ["/SpanCdLvl=2"], 0),
            ("a Y_ span program outside a setup folder", y_copy, disks.report,
             ["/SpanDiskFName1=%s.001" % winpath(disks.setup), "/SpanCdLvl=2"], 9),
        ]
        for what, exe, report, args, code in cases:
            with self.subTest(what):
                self.assertEqual(run_windows(exe, *args, "/hide"), code)
                self.assertTrue(report().ended(), "the engine ran: %s" % report().lines)
                # A self-delete batch would have removed the file by now.
                self.assertFalse(wait_for(lambda: not os.path.exists(exe), timeout=5, step=0.5))
                self.assertTrue(os.path.exists(exe))
                self.assertEqual(delete_batches(), {})

    def test_a_read_only_span_copy_removes_itself_and_leaves_no_process(self):
        disks = DiskSet("span_read_only")
        folder = setup_folder_of(disks.setup)
        shutil.rmtree(folder, ignore_errors=True)
        copy = os.path.join(folder, "Y_setup.exe")
        # As on a CD: the copy takes the read-only attribute along.
        os.chmod(disks.setup, stat.S_IRUSR | stat.S_IXUSR)
        try:
            self.assertEqual(run_windows(disks.setup), 0)
            gone = disks.wait_for_the_copy(timeout=90)
            batches = delete_batches()
            self.assertTrue(gone, "the read-only copy and its folder are removed")
            self.assertEqual(batches, {}, "no cmd.exe is left behind")
        finally:
            for pid in delete_batches():
                os.kill(pid, signal.SIGKILL)
            if os.path.exists(copy):
                os.chmod(copy, stat.S_IRUSR | stat.S_IWUSR)
            shutil.rmtree(folder, ignore_errors=True)
        self.assertTrue(disks.report().ended())


if __name__ == "__main__":
    unittest.main(verbosity=2)

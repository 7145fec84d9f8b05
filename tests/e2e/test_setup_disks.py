"""Multi-disk setups under Wine: the span relaunch into a Y_ copy in the setup
folder, the disk requests of a set spread over .001, .002 and .003, and the
copy removing itself and its folder at the end."""
import os
import re
import subprocess
import unittest

from harness import (DebugViewer, EngineReport, PACK, SPAN_DISK_KEY, STUB, Scenario, UiDriver, engine_files, pack,
                     prefix_temp_windows, reg_delete, reg_get, reg_set, run_windows, setup_folder_of, wait_for,
                     winpath, workdir)

NOISE_SIZE = 1600 * 1024


class DiskSet:
    """setup.exe (the span program: stub and header blocks only) and the three
    disk files that hold the payload."""

    def __init__(self, name, dirname="disks", extra=()):
        self.folder = workdir(name)
        self.dir = os.path.join(self.folder, dirname)
        os.makedirs(self.dir)
        self.report_path = os.path.join(self.folder, "report.txt")
        src = os.path.join(self.folder, "src")
        os.makedirs(src)
        engine, ini = engine_files(src, self.report_path)
        noise = os.path.join(src, "noise.bin")
        with open(noise, "wb") as f:
            f.write(os.urandom(NOISE_SIZE))
        files = ["--file", noise, "--file", ini, "--run", engine, "--run-args", "-exit=9", *extra]

        # Disk 1 carries the stub as well, the others only entries: choose the
        # disk size from the payload so that exactly three disks come out.
        probe = os.path.join(self.folder, "probe.exe")
        pack("build", "--stub", STUB, "--out", probe, *files)
        stub = os.path.getsize(STUB)
        payload = os.path.getsize(probe) - stub
        room = ((payload - 2 * stub) // 3 + (payload - stub) // 2) // 2
        self.setup = os.path.join(self.dir, "setup.exe")
        pack("build", "--stub", STUB, "--out", self.setup, "--disk-size", str(stub + room), *files)
        self.disks = [self.setup + ".%03d" % n for n in (1, 2, 3)]
        for disk in self.disks:
            assert os.path.exists(disk), disk
        assert not os.path.exists(self.setup + ".004")

    def report(self):
        return EngineReport(self.report_path)

    def wait_for_the_copy(self, timeout=120):
        """The span copy removes the setup folder as its very last act."""
        folder = setup_folder_of(self.setup)
        return wait_for(lambda: not os.path.exists(folder), timeout=timeout, step=0.5)


def disk_prompt_number(box):
    match = re.search(r"Please insert DISK #(\d+) and press OK to continue", box.get("text", ""))
    return int(match.group(1)) if match else None


class SpanRelaunch(Scenario):
    def test_the_copy_in_the_setup_folder_runs_the_setup_and_removes_itself(self):
        disks = DiskSet("span_relaunch", dirname="span dir")
        folder = setup_folder_of(disks.setup)
        with DebugViewer(disks.folder) as viewer:
            self.assertEqual(run_windows(disks.setup), 0)
            self.assertTrue(disks.wait_for_the_copy(), "the span copy and its folder are gone")
        report = disks.report()
        self.assertTrue(report.ended(), report.lines)

        starts = [m.group(1) for m in (re.match(r"^\d+ ==== STUB START ====> (.*)<$", line)
                                       for line in viewer.lines()) if m]
        self.assertEqual(len(starts), 2, starts)
        copy_path, _, copy_args = starts[1].partition(" ")
        self.assertEqual(copy_path.lower(),
                         (prefix_temp_windows() + "\\" + os.path.basename(folder) + "\\Y_setup.exe").lower())
        exe = winpath(disks.setup)
        self.assertEqual(copy_args, '/SpanCdLvl=2 /SpanDiskFName1="%s.001" /OriginExe="%s"' % (exe, exe))

        engine_args = report.get("cmdline").split(" ", 1)[1]
        self.assertEqual(engine_args, '/OriginExe="%s" -exit=9 /TH_ID=%s' % (exe, report.get("th_id")))
        self.assertEqual(report.files["noise.bin"][0], NOISE_SIZE, "joined from all three disks")
        self.assertEqual(os.path.dirname(report.folder()), os.path.dirname(folder))
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(folder), "_DEL_ME_.BAT")))


class QuietDiskSet(Scenario):
    """A deployment tool waits for the process it started: unattended, the
    first process waits for its copy and hands on the copy's code."""

    def test_the_launcher_hands_on_the_copys_exit_code(self):
        for name, missing, expected in (("quiet_complete", None, 9), ("quiet_missing", 1, 110)):
            with self.subTest(name):
                disks = DiskSet(name)
                if missing is not None:
                    os.remove(disks.disks[missing])
                self.assertEqual(run_windows(disks.setup, "/quiet"), expected)
                self.assertTrue(disks.wait_for_the_copy(), "the span copy and its folder are gone")
                self.assertEqual(bool(disks.report()), missing is None)
                if missing is None:
                    self.assertTrue(disks.report().ended())
                    self.assertEqual(disks.report().files["noise.bin"][0], NOISE_SIZE)


class DiskOfAnotherSet(Scenario):
    """Disk 2 of another build of the same inputs (another date) in its place:
    asked for again when someone is there, damage when nobody is."""

    def test_a_disk_of_another_set_is_refused(self):
        for name, quiet in (("other_set_asked", False), ("other_set_quiet", True)):
            with self.subTest(name):
                disks = DiskSet(name, extra=("--date", "2020-01-01"))
                other = DiskSet(name + "_other", extra=("--date", "2021-06-01"))
                os.replace(other.disks[1], disks.disks[1])
                checked = subprocess.run([PACK, "test", disks.setup], capture_output=True, text=True)
                self.assertEqual(checked.returncode, 1, checked.stdout)
                self.assertIn(os.path.basename(disks.disks[1]) + ": a disk of another set", checked.stderr)
                if quiet:
                    self.assertEqual(run_windows(disks.setup, "/quiet"), 110)
                    self.assertTrue(disks.wait_for_the_copy())
                else:
                    with UiDriver(disks.folder, "key:C") as driver:
                        self.assertEqual(run_windows(disks.setup), 0)
                        self.assertEqual(driver.wait(timeout=120), 0)
                        self.assertTrue(disks.wait_for_the_copy())
                    self.assertEqual(disk_prompt_number(driver.boxes()[0]), 2)
                self.assertFalse(disks.report(), "no engine ran")


class DiskRequests(Scenario):
    def test_a_missing_disk_is_asked_for_and_the_setup_goes_on_when_it_appears(self):
        disks = DiskSet("disks_missing")
        away = disks.disks[1] + ".away"
        os.rename(disks.disks[1], away)
        with UiDriver(disks.folder, "key:O", name="first.txt") as first:
            self.assertEqual(run_windows(disks.setup), 0)
            self.assertEqual(first.wait(timeout=120), 0)
        # Disk 2 is still missing after OK: the request comes again.
        with UiDriver(disks.folder, "key:O", name="again.txt") as again:
            again.wait(timeout=120)
            os.rename(away, disks.disks[1])
            with UiDriver(disks.folder, "key:O", timeout=10, name="last.txt"):
                self.assertTrue(disks.wait_for_the_copy())
        box = first.boxes()[0]
        self.assertEqual(box["caption"], "Attention")
        self.assertEqual(disk_prompt_number(box), 2, box)
        self.assertEqual(disk_prompt_number(again.boxes()[0]), 2)
        report = disks.report()
        self.assertTrue(report.ended(), report.lines)
        self.assertEqual(report.files["noise.bin"][0], NOISE_SIZE)

    def test_cancel_at_the_disk_request_runs_nothing(self):
        disks = DiskSet("disks_cancel")
        os.remove(disks.disks[2])
        with UiDriver(disks.folder, "key:C") as driver:
            self.assertEqual(run_windows(disks.setup), 0)
            self.assertEqual(driver.wait(timeout=120), 0)
            self.assertTrue(disks.wait_for_the_copy())
        self.assertEqual(disk_prompt_number(driver.boxes()[0]), 3)
        self.assertFalse(disks.report(), "no engine ran")

    def test_force_prompt_asks_for_every_disk_even_when_present(self):
        disks = DiskSet("disks_force")
        self.assertIsNone(reg_get(SPAN_DISK_KEY, "ForcePrompt"))
        reg_set(SPAN_DISK_KEY, "ForcePrompt", "1")
        try:
            with UiDriver(disks.folder, "key:O", "key:O") as driver:
                self.assertEqual(run_windows(disks.setup), 0)
                self.assertEqual(driver.wait(timeout=120), 0)
                self.assertTrue(disks.wait_for_the_copy())
        finally:
            reg_delete(SPAN_DISK_KEY)
        self.assertIsNone(reg_get(SPAN_DISK_KEY, "ForcePrompt"))
        self.assertEqual([disk_prompt_number(box) for box in driver.boxes()], [2, 3])
        self.assertTrue(disks.report().ended())


if __name__ == "__main__":
    unittest.main(verbosity=2)

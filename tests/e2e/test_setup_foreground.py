"""The setup role in the foreground under Wine: the space confirmation with
the drive and the megabyte figures, No and Yes, and the progress window shown
while unpacking and hidden once the engine runs."""
import os
import re
import unittest

from harness import (EngineReport, Scenario, STUB, UiDriver, WindowWatcher, engine_files, pack, run_windows,
                     setup_folder_of, winpath, workdir)


class Foreground(Scenario):
    def make(self, name, *options):
        folder = workdir(name)
        report = os.path.join(folder, "report.txt")
        engine, ini = engine_files(folder, report)
        payload = os.path.join(folder, "payload.bin")
        with open(payload, "wb") as f:
            f.write(os.urandom(3 * 1024 * 1024))
        setup = os.path.join(folder, "setup.exe")
        pack("build", "--stub", STUB, "--out", setup, "--file", payload, "--file", ini, "--run", engine,
             "--run-args", "-exit=6", *options)
        return folder, setup, report

    def assert_space_question(self, box):
        self.assertEqual(box["class"], "HMsgBox")
        self.assertEqual(box["caption"], "Confirm")
        text = box["text"]
        self.assertIn("Havrek will extract files to your Temp Drive (C:)", text)
        # About 4.6 MB: the payload, the engine and its control file.
        needed = re.search(r"Estimated space required on your Temp drive is:\s+([\d.]+) MB", text)
        available = re.search(r"Free space available on your Temp drive is:\s+([\d.]+) MB", text)
        self.assertIsNotNone(needed, text)
        self.assertIsNotNone(available, text)
        self.assertRegex(needed.group(1), r"^\d+\.\d\d$", "between 1 and 10 MB: two decimals")
        self.assertGreater(float(needed.group(1)), 3.0)
        self.assertLess(float(needed.group(1)), 10.0)
        self.assertGreater(float(available.group(1)), 0)
        self.assertIn("Continue with Setup?", text)

    def test_no_ends_with_nothing_extracted(self):
        folder, setup, report = self.make("setup_confirm_no", "--always-confirm")
        with UiDriver(folder, "key:N") as driver:
            code = run_windows(setup)
            driver.wait(timeout=30)
        boxes = driver.boxes()
        self.assertEqual(len(boxes), 1, boxes)
        self.assert_space_question(boxes[0])
        self.assertEqual(code, 0)
        self.assertFalse(EngineReport(report), "no engine ran")
        self.assertFalse(os.path.exists(setup_folder_of(setup)))

    def test_yes_goes_on_with_the_window_shown_while_unpacking(self):
        folder, setup, report = self.make("setup_confirm_yes", "--always-confirm")
        with WindowWatcher(folder, winpath(setup)) as watcher, UiDriver(folder, "key:Y") as driver:
            code = run_windows(setup)
        self.assertEqual(len(driver.boxes()), 1)
        self.assert_space_question(driver.boxes()[0])
        self.assertEqual(code, 6)
        engine = EngineReport(report)
        self.assertTrue(engine.ended())
        self.assertEqual(engine.get("show"), "1", "in the foreground the engine starts visible")
        states = watcher.states()
        # Created hidden, shown for the unpacking, hidden while the engine
        # runs, then gone.
        self.assertEqual(states[-4:], ["hidden", "visible", "hidden", "none"], states)

    def test_without_the_flag_and_with_room_nothing_is_asked(self):
        folder, setup, report = self.make("setup_confirm_none")
        with UiDriver(folder, "key:N", timeout=15) as driver:
            code = run_windows(setup)
        self.assertEqual(code, 6)
        self.assertEqual([box for box in driver.boxes() if "error" not in box], [])
        self.assertTrue(EngineReport(report).ended())


if __name__ == "__main__":
    unittest.main(verbosity=2)

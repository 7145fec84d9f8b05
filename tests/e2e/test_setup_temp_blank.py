"""A temporary folder whose path holds a blank: the engine and the span copy
are started from it all the same (their paths go in quotes)."""
import os
import shutil
import unittest

from harness import (EngineReport, STUB, Scenario, engine_files, linuxpath, pack, prefix_temp_windows, reg_get,
                     reg_set, run_windows, winpath, workdir)
from test_setup_disks import DiskSet

ENV_KEY = "HKCU\\Environment"


class TempWithBlank(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.saved = {name: reg_get(ENV_KEY, name) for name in ("TMP", "TEMP")}
        cls.temp = prefix_temp_windows() + "\\havrek temp dir"
        os.makedirs(linuxpath(cls.temp), exist_ok=True)
        try:
            for name in cls.saved:
                reg_set(ENV_KEY, name, cls.temp)
        except Exception:
            cls.restore()
            raise

    @classmethod
    def restore(cls):
        for name, value in cls.saved.items():
            if value is not None:
                reg_set(ENV_KEY, name, value)

    @classmethod
    def tearDownClass(cls):
        cls.restore()
        shutil.rmtree(linuxpath(cls.temp), ignore_errors=True)
        super().tearDownClass()

    def test_the_engine_runs_from_a_setup_folder_with_a_blank(self):
        folder = workdir("temp_blank_setup")
        report_path = os.path.join(folder, "report.txt")
        engine, ini = engine_files(folder, report_path)
        setup = os.path.join(folder, "setup.exe")
        pack("build", "--stub", STUB, "--out", setup, "--file", ini, "--run", engine, "--run-args", "-exit=2")
        self.assertEqual(run_windows(setup, "/hide"), 2)
        report = EngineReport(report_path)
        self.assertTrue(report.ended(), report.lines)
        engine_path = report.get("engine")
        self.assertTrue(engine_path.lower().startswith(self.temp.lower() + "\\setup_"), engine_path)
        cmdline = report.get("cmdline")
        self.assertTrue(cmdline.startswith('"%s" /hide -exit=2 /TH_ID=' % engine_path), cmdline)
        self.assertFalse(os.path.exists(report.folder()))

    def test_the_span_copy_starts_from_a_setup_folder_with_a_blank(self):
        disks = DiskSet("temp_blank_span")
        self.assertEqual(run_windows(disks.setup), 0)
        self.assertTrue(disks.wait_for_the_copy())
        report = disks.report()
        self.assertTrue(report.ended(), report.lines)
        self.assertEqual(report.get("cmdline").split('" ', 1)[1],
                         '/OriginExe="%s" -exit=9 /TH_ID=%s' % (winpath(disks.setup), report.get("th_id")))


if __name__ == "__main__":
    unittest.main(verbosity=2)

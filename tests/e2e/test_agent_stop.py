"""The agent's stopping code of one width against programs of the other:
the stop driver (the stub's own ShutDownProcess, built at each width) starts
the installed-program stand-in, stops it by a method and reports what the
call saw and how the program ended. Needs the partners of two widths, as the
i686 tree has them (its own and the borrowed x86_64 ones)."""
import os
import unittest

from harness import Scenario, fixture, other_width, own_fixture, run_windows, winpath, workdir

# What each method leaves in the program's report, and its exit code.
ENDS = {
    "Using WM_CLOSE": ("WM_CLOSE 15 255", 7),
    "Using WM_QUIT": ("WM_QUIT 15 255", 7),
    "Using Terminate Process": (None, 0),
}


class StopAcrossWidths(Scenario):
    def test_each_method_ends_a_program_of_either_width(self):
        if not other_width():
            self.skipTest("needs partners of two widths (the i686 tree)")
        wide, narrow = fixture("installed_program"), own_fixture("installed_program")
        runs = [
            # (driver, [(program, method), ...]): the shipping width stops the
            # 64-bit program by every method and its own width once; the
            # x86_64 build stops the 32-bit program. Each start of the 32-bit
            # program may take most of a minute.
            ("i686", own_fixture("stop_driver"),
             [(wide, m) for m in ENDS] + [(narrow, "Using WM_CLOSE")]),
            ("x86_64", fixture("stop_driver"), [(narrow, "Using WM_QUIT")]),
        ]
        work = workdir("stop_widths")
        for name, driver, rows in runs:
            report = os.path.join(work, name + ".txt")
            args = []
            for program, method in rows:
                args += [winpath(program), method]
            self.assertEqual(run_windows(driver, winpath(report), *args, timeout=600), 0)
            with open(report) as f:
                lines = f.read().splitlines()
            self.assertEqual(lines[-1:], ["done"], lines)
            for n, (program, method) in enumerate(rows, 1):
                with self.subTest(driver=name, program=program, method=method):
                    received, code = ENDS[method]
                    self.assertEqual(lines[n - 1], "%d was=1 still=0 putoff=0 exit=%d" % (n, code), lines)
                    with open("%s.%d" % (report, n)) as f:
                        seen = [line.split(" ", 1)[1] for line in f.read().splitlines()]
                    self.assertEqual(seen, ["ready"] + ([received, "end exit=7"] if received else []))


if __name__ == "__main__":
    unittest.main(verbosity=2)

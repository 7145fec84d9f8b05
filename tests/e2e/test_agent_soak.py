"""One agent copy made to probe hundreds of times through agent commands:
an agent runs for weeks, so a probe must give back every handle and GUI
object it takes. The figures go to the test's output."""
import os
import shutil
import subprocess
import sys
import unittest

from harness import STUB, WINE_RUN, Scenario, fixture, pack, winpath, workdir, write_agent_original

PROBES = 300
# Handles a Wine process may open on its own between two measures (a thread
# of its own, a wait object); far below one per probe.
HANDLE_SLACK = 8


def read_report(path):
    figures = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                key, _, value = line.strip().partition(" ")
                figures[key] = value
    return figures


class AgentSoak(Scenario):
    def test_forced_probes_leave_no_handles_behind(self):
        folder = os.path.join(workdir("agent_soak"), "agent")
        source = os.path.join(os.path.dirname(folder), "source")
        os.makedirs(folder)
        os.makedirs(source)
        with open(os.path.join(source, "Tool.info"), "w") as f:
            f.write("[NewSetup]\r\nVersionNew=5\r\nStamp=2\r\n")
        agent = os.path.join(folder, "agent.exe")
        pack("build", "--stub", STUB, "--out", agent, "--auto-update", "--agent", "agent.exe", "--log",
             "--info-base", winpath(source), "--info-name", "Tool.info")
        copy = os.path.join(folder, "X_agent.exe")
        shutil.copy(agent, copy)
        # No timer probes: every probe is one the soak forced.
        write_agent_original(folder, "Tool", VersionOriginal="5", Stamp="1")

        report = os.path.join(folder, "soak.txt")
        proc = subprocess.Popen([WINE_RUN, copy, "/SleepX=0"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            soak = subprocess.run([WINE_RUN, fixture("agent_soak"), winpath(report), ".AutoUpdate.X_agent",
                                   str(PROBES)], timeout=540, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            proc.wait(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        figures = read_report(report)
        sys.stderr.write("soak figures: %s\n" % figures)
        self.assertEqual((soak.returncode, figures.get("result")), (0, "ok"), figures)
        self.assertEqual(int(figures["probes"]), PROBES)

        before, after = int(figures["handles_before"]), int(figures["handles_after"])
        self.assertGreater(before, 0, "the system gave no handle table")
        self.assertLessEqual(after - before, HANDLE_SLACK, figures)
        # Counts the system reports only on some systems (0 elsewhere).
        for kind in ("count", "gdi", "user"):
            first, last = int(figures[kind + "_before"]), int(figures[kind + "_after"])
            if first > 0:
                self.assertLessEqual(last - first, HANDLE_SLACK, (kind, figures))

        with open(os.path.join(folder, "X_agent.log"), "rb") as f:
            log = f.read().decode("latin-1")
        # Every probe, warm-up included, fetched the .info file and decided.
        self.assertGreaterEqual(log.count("GetOkToPerformAU = 3 - "), PROBES)
        self.assertNotIn("GetOkToPerformAU = 0 - ", log)


if __name__ == "__main__":
    unittest.main(verbosity=2)

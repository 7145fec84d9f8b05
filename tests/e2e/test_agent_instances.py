"""One agent copy per installation under Wine: agents of two products that
share a file name each run their own copy and both update; two starts of one
agent at the same moment give one copy; an agent that cannot write its copy
says so where it can and in its exit code."""
import os
import signal
import subprocess
import unittest

from harness import (DebugViewer, STUB, Scenario, WINE_RUN, agent_log_lines, engine_files, pack, prefix_processes,
                     prefix_temp, read_text, run_windows, wait_for, winpath, workdir)

UPDATE = "ToolUpdate.exe"
EXIT_AGENT_COPY_FAILED = 114


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


def copies_running():
    """The pids of the agent copies that run in the prefix."""
    return [pid for pid, args in prefix_processes().items()
            if args and args[0].replace("/", "\\").rsplit("\\", 1)[-1].lower() == "x_agent.exe"]


def end_agents():
    """Ends the agents this scenario left running (the fresh agent an update
    starts, and its copy), each by its id."""
    for pid, args in prefix_processes().items():
        if args and args[0].replace("/", "\\").rsplit("\\", 1)[-1].lower() in ("agent.exe", "x_agent.exe"):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


class Installation:
    """A product installed in <work>/<name>/Tool: its agent, agent.exe,
    built with the product's own token, and a source folder offering version
    2 that the test engine installs (version.txt) without asking anything."""

    def __init__(self, work, name, token, probe_interval):
        self.root = os.path.join(work, name)
        self.install = os.path.join(self.root, "Tool")
        self.source = os.path.join(self.root, "source")
        src = os.path.join(self.root, "v2")
        for folder in (self.install, self.source, src):
            os.makedirs(folder)
        self.agent = os.path.join(self.install, "agent.exe")
        self.report = os.path.join(self.root, "engine.txt")
        write(os.path.join(self.install, "version.txt"), "1\r\n")
        write(os.path.join(src, "version.txt"), "2\r\n")
        engine, ini = engine_files(src, self.report, install="version.txt|" + winpath(self.install))
        package = os.path.join(self.source, UPDATE)
        pack("build", "--stub", STUB, "--out", package, "--file", os.path.join(src, "version.txt"), "--file", ini,
             "--run", engine, "--update-token", token)
        pack("build", "--stub", STUB, "--out", self.agent, "--auto-update", "--agent", "agent.exe", "--log",
             "--info-base", winpath(self.source), "--info-name", "Tool.info", "--update-token", token)
        write(os.path.join(self.source, "Tool.info"), "\r\n".join([
            "[NewSetup]", "VersionNew=2", "Stamp=2", "ProgramName=Tool",
            "DownloadURL_UPDATE=" + winpath(self.source), "NameOfUpdateFile=" + UPDATE,
            "SizeOfUpdateFile=%d" % os.path.getsize(package), "ShutDownMethod=Don't Shut Down", ""]))
        self.set_probe_interval(probe_interval)

    def set_probe_interval(self, seconds):
        write(os.path.join(self.install, "Tool.original"), "\r\n".join([
            "[OriginalSetup]", "VersionOriginal=1", "Stamp=1", "ProgramName=Tool",
            "ProbeSecondsInterval=%d" % seconds, "[Directories]", "TargetDir=" + winpath(self.install), ""]))

    def version(self):
        return read_text(os.path.join(self.install, "version.txt")).strip()

    def updated(self):
        return self.version() == "2" and "VersionOriginal=2" in read_text(os.path.join(self.install, "Tool.original"))

    def copy_lines(self):
        return agent_log_lines(self.install, True)


class AgentInstances(Scenario):
    def tearDown(self):
        end_agents()

    def test_two_products_whose_agents_share_a_name_both_update(self):
        work = workdir("agent_instances_products")
        first = Installation(work, "First", "FIRST-build-1", 0)
        second = Installation(work, "Second", "SECOND-build-7", 0)
        # The first product's copy waits a few ticks before its probe, so it
        # is surely running when the second product's agent starts.
        self.assertEqual(run_windows(first.agent, "/DELAY=3"), 0)
        self.assertIn("WinMain", first.copy_lines())
        self.assertEqual(run_windows(second.agent, "/DELAY=0"), 0)
        self.assertTrue(wait_for(lambda: first.updated() and second.updated(), timeout=90),
                        (first.copy_lines()[-5:], second.copy_lines()[-5:]))
        for product in (first, second):
            self.assertIn("GetOkToPerformAU = 6 - OK", product.copy_lines())

    def test_two_starts_at_once_give_one_copy(self):
        work = workdir("agent_instances_pairs")
        product = Installation(work, "Paired", "PAIRED-build-3", -1)
        copy_exe = os.path.join(product.install, "X_agent.exe")
        rounds = 10
        for n in range(rounds):
            last = n == rounds - 1
            if last:
                # The last pair finds an update due at its first tick.
                product.set_probe_interval(0)
            seen = len(product.copy_lines())
            args = ["/DELAY=0"] if last else []
            starts = [subprocess.Popen([WINE_RUN, product.agent, *args], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL) for _ in range(2)]
            for start in starts:
                self.assertEqual(start.wait(timeout=60), 0)
            if last:
                break
            self.assertTrue(wait_for(lambda: "WinMain" in product.copy_lines()[seen:], timeout=60),
                            product.copy_lines()[seen:])
            self.assertEqual(run_windows(product.agent, "/STOP=0"), 0)
            # Every copy this pair started has ended, and the one that worked
            # has removed its file: the next pair starts afresh. Beside the
            # builds of other trees a stop and its removal take a while.
            ended = wait_for(lambda: not copies_running() and not os.path.exists(copy_exe), timeout=90)
            lines = product.copy_lines()[seen:]
            self.assertEqual(lines.count("WinMain"), 1, "pair %d: %s" % (n + 1, lines))
            self.assertTrue(ended, "pair %d: a copy still runs" % (n + 1))
        self.assertTrue(wait_for(product.updated, timeout=60), product.copy_lines()[-8:])
        lines = product.copy_lines()[seen:]
        self.assertEqual(lines.count("WinMain"), 1, lines)
        self.assertIn("GetOkToPerformAU = 6 - OK", lines)
        with open(product.report, "rb") as f:
            self.assertEqual(f.read().decode("latin-1").count("engine="), 1)

    def test_an_agent_that_cannot_write_its_copy_says_so(self):
        work = workdir("agent_instances_unwritable")
        product = Installation(work, "Locked", "LOCKED-build-2", 0)
        # Where the copy and the log would go there are folders: writing them
        # fails as it does in a folder the user may not write.
        copy_exe = os.path.join(product.install, "X_agent.exe")
        os.makedirs(copy_exe)
        os.makedirs(os.path.join(product.install, "X_agent.log"))
        temp_log = os.path.join(prefix_temp(), "X_agent.log")
        if os.path.exists(temp_log):
            os.remove(temp_log)
        with DebugViewer(work) as viewer:
            self.assertEqual(run_windows(product.agent), EXIT_AGENT_COPY_FAILED)
            self.assertTrue(wait_for(lambda: "CreateAndRun_X_Exe: cannot write" in viewer.text(), timeout=10),
                            viewer.text()[-500:])
        self.assertIn("cannot write " + winpath(copy_exe), viewer.text())
        self.assertTrue(os.path.isdir(copy_exe))
        # The log goes where it can be written: under %TEMP%.
        logged = read_text(temp_log)
        os.remove(temp_log)
        self.assertIn("No agent copy runs: cannot write " + winpath(copy_exe), logged)
        self.assertIn("=== START === " + winpath(product.agent), logged)

if __name__ == "__main__":
    unittest.main(verbosity=2)

"""Start-up of Stub.exe under Wine: the markers on the debug channel, the
agent's log file, and the role an executable without a package takes."""
import os
import re
import shutil
import unittest

from harness import DebugViewer, Listener, Scenario, STUB, UiDriver, pack, run_windows, workdir, write_agent_original

LOG_LINE = re.compile(r"^(\d\d/\d\d/\d\d \d\d:\d\d:\d\d) ( {0,4}\d+) X (.*)$")


def markers(lines):
    """The start-up markers a viewer received, as (pid, marker, rest)."""
    found = []
    for line in lines:
        m = re.match(r"^(\d+) ==== (STUB START ====> |STUB END ====> |ThisIs_AutoUpdateProg=)(.*)$", line)
        if m:
            found.append(m.groups())
    return found


class StartupMarkers(Scenario):
    def run_with_viewer(self, exe, *args):
        folder = os.path.dirname(exe)
        with DebugViewer(folder) as viewer:
            code = run_windows(exe, *args)
        return code, viewer.lines()

    def assert_setup_markers(self, lines, *args):
        found = markers(lines)
        self.assertEqual([m[1] for m in found],
                         ["STUB START ====> ", "ThisIs_AutoUpdateProg=", "STUB END ====> "], lines)
        pids = {m[0] for m in found}
        self.assertEqual(len(pids), 1, "one process wrote all markers")
        start, flag, end = (m[2] for m in found)
        self.assertTrue(start.endswith("<") and end.endswith("<"))
        self.assertEqual(start, end, "start and end carry the same command line")
        for arg in args:
            self.assertIn(arg, start)
        self.assertEqual(flag, "FALSE")

    def test_setup_package_frames_its_run_with_markers(self):
        folder = workdir("startup_setup")
        payload = os.path.join(folder, "readme.txt")
        with open(payload, "w") as f:
            f.write("hello\n")
        setup = os.path.join(folder, "setup.exe")
        pack("build", "--stub", STUB, "--out", setup, "--file", payload)
        code, lines = self.run_with_viewer(setup, "/hide", "/Foo=bar baz")
        self.assertEqual(code, 0)
        self.assert_setup_markers(lines, "/hide", "/Foo=bar baz")

    def test_executable_without_package_takes_the_setup_role(self):
        folder = workdir("startup_bare")
        bare = os.path.join(folder, "bare.exe")
        shutil.copy(STUB, bare)
        # No package header ends it: the setup role says so and ends with the
        # damaged-package code.
        with UiDriver(folder, "key:O") as driver:
            code, lines = self.run_with_viewer(bare)
        self.assertEqual(code, 110)
        self.assert_setup_markers(lines)
        self.assertIn("the setup file is incomplete or damaged", driver.boxes()[0]["text"])


class AgentLog(Scenario):
    def make_agent_copy(self, name, *flags):
        folder = workdir(name)
        agent = os.path.join(folder, "agent.exe")
        pack("build", "--stub", STUB, "--out", agent, "--auto-update", "--agent", "agent.exe", *flags)
        copy = os.path.join(folder, "X_agent.exe")
        shutil.copy(agent, copy)
        write_agent_original(folder)
        return folder, copy

    def run_until_stopped(self, folder, copy, *args):
        """The agent copy keeps running until it is told to quit."""
        with Listener(folder, ".AutoUpdate.X_agent", stop_ticks=0):
            return run_windows(copy, *args)

    def test_agent_copy_with_log_flag_writes_its_log(self):
        folder, copy = self.make_agent_copy("startup_agent_log", "--log")
        self.assertEqual(self.run_until_stopped(folder, copy, "/SleepX=0"), 0)
        with open(os.path.join(folder, "X_agent.log"), "rb") as f:
            raw = f.read().decode("latin-1")
        self.assertTrue(raw.endswith("\r\n"))
        texts = []
        for line in raw[:-2].split("\r\n"):
            m = LOG_LINE.match(line)
            self.assertIsNotNone(m, "log line layout: %r" % line)
            self.assertGreaterEqual(len(m.group(2)), 5)
            texts.append(m.group(3))
        expected_prefixes = [
            "", "", "=== START === ", "CommandLine=", "Agent Version=",
            "DoRunStubWin() --- Start",
            "X_ExeIsRunning=FALSE", "ThisIs_Plain_AutoUpdate_Exe=FALSE", "ThisIs_X_AutoUpdate_Exe=TRUE",
            # The listener's stop reaches the window and is logged.
            "CheckTestMode", "WinMain", "wm_ShutDown: 0", "DeleteMySelf",
            "DoRunStubWin() --- End", "=== EXIT === ", "",
        ]
        self.assertEqual(len(texts), len(expected_prefixes), texts)
        for text, prefix in zip(texts, expected_prefixes):
            if prefix:
                self.assertTrue(text.startswith(prefix), (text, prefix))
            else:
                self.assertEqual(text, "")
        self.assertTrue(texts[2].endswith("X_agent.exe"), texts[2])
        self.assertIn("/SleepX=0", texts[3])
        self.assertRegex(texts[4], r"^Agent Version=\d+\.\d+\.\d+\.\d+$")
        self.assertEqual(texts[14], texts[2].replace("=== START === ", "=== EXIT === "))

    def test_agent_copy_without_log_flag_writes_no_log(self):
        folder, copy = self.make_agent_copy("startup_agent_nolog")
        self.assertEqual(self.run_until_stopped(folder, copy), 0)
        self.assertFalse(os.path.exists(os.path.join(folder, "X_agent.log")))


if __name__ == "__main__":
    unittest.main(verbosity=2)

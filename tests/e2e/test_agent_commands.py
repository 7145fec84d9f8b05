"""The plain agent as the command front end of its running copy: it makes
and starts the copy when none runs, and forwards "/STOP=", "/WM_MSG=" and
"/TEST=" to the copy's window as private messages."""
import os
import shutil
import subprocess
import time
import unittest

from harness import STUB, WINE_RUN, Scenario, agent_log_lines, fixture, pack, run_windows, wait_for, winpath, workdir

WM_SHUTDOWN, WM_LOCALMSG, WM_AGENTMSG = 1123, 1124, 1125


def make_agent(folder):
    agent = os.path.join(folder, "agent.exe")
    pack("build", "--stub", STUB, "--out", agent, "--auto-update", "--agent", "agent.exe", "--log")
    return agent


class RunningCopy:
    """The agent-copy stand-in, run as X_agent.exe beside the agent with the
    copy's window class: it records each private message it receives."""

    def __init__(self, folder):
        self.exe = os.path.join(folder, "X_agent.exe")
        self.path = os.path.join(folder, "received.txt")
        shutil.copy(fixture("agent_copy_standin"), self.exe)

    def __enter__(self):
        self.proc = subprocess.Popen([WINE_RUN, self.exe, winpath(self.path), "-", "300"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(self.path + ".ready"), timeout=60):
            self.proc.kill()
            raise AssertionError("the stand-in copy did not start")
        return self

    def __exit__(self, *exc):
        open(self.path + ".stop", "w").close()
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        return False

    def take(self, count):
        """Waits for count messages, then returns them and starts afresh."""
        wait_for(lambda: len(self.lines()) >= count, timeout=10)
        lines = self.lines()
        if os.path.exists(self.path):
            os.remove(self.path)
        return lines

    def lines(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path) as f:
            return [tuple(int(x) for x in line.split()) for line in f if line.strip()]


class AgentCommands(Scenario):
    def test_commands_reach_a_running_copy(self):
        folder = workdir("agent_commands_running")
        agent = make_agent(folder)
        cases = [
            (["/STOP=0"], [(WM_SHUTDOWN, 0, 0)]),
            (["/STOP=3"], [(WM_SHUTDOWN, 3, 0)]),
            # Without a colon the number is the window and the message is 0.
            (["/WM_MSG=4242"], [(WM_LOCALMSG, 4242, 0)]),
            (["/WM_MSG=4242:1030"], [(WM_LOCALMSG, 4242, 1030)]),
            # The copy was running before: a test probe never stops it.
            (["/TEST=1"], [(WM_AGENTMSG, 31, 1)]),
            (["/TEST=0"], [(WM_AGENTMSG, 31, 0)]),
            (["/STOP=5", "/TEST=2"], [(WM_SHUTDOWN, 5, 0), (WM_AGENTMSG, 31, 2)]),
        ]
        with RunningCopy(folder) as copy:
            for args, expected in cases:
                with self.subTest(args=args):
                    self.assertEqual(run_windows(agent, *args), 0)
                    self.assertEqual(copy.take(len(expected)), expected)
        log = agent_log_lines(folder, copy=False)
        target = winpath(os.path.join(folder, "X_agent.exe"))
        self.assertIn("PostProcessMessage(wm_ShutDown) to: " + target, log)
        self.assertIn("PostProcessMessage(wm_LocalMsg) to: %s - :4242:" % target, log)
        self.assertIn("PostProcessMessage(wm_AgentMsg) to: %s - AU_PerformUpdateCycle (1)" % target, log)
        # A running copy is neither replaced nor started again.
        self.assertFalse([line for line in log if line.startswith("WinExec")], log)

    def run_without_copy(self, name, *args, stop=False):
        """Runs the plain agent in a folder with a blank in its name; returns
        the folder, the agent's log and the new copy's log once it has ended.
        stop: the copy is not told to stop by these arguments, so once it has
        taken its probe command the plain agent stops it with "/STOP=0"."""
        folder = os.path.join(workdir(name), "Tool Files")
        os.makedirs(folder)
        agent = make_agent(folder)
        self.assertEqual(run_windows(agent, *args), 0)
        ended = lambda: any(line.startswith("=== EXIT ===") for line in agent_log_lines(folder, True))
        copy_log = None
        if stop:
            self.assertTrue(wait_for(lambda: any(line.startswith("wm_AgentMsg") for line in agent_log_lines(folder, True)),
                                     timeout=30), agent_log_lines(folder, True))
            # A stop the plain agent added would have been posted right
            # behind the command; give the copy a few ticks to log it.
            time.sleep(3)
            copy_log = agent_log_lines(folder, True)
            # After its probe the copy may have ended by itself; a stop sent
            # to no copy would start a fresh one.
            if not ended():
                self.assertEqual(run_windows(agent, "/STOP=0"), 0)
        self.assertTrue(wait_for(ended, timeout=30), agent_log_lines(folder, True))
        return folder, agent_log_lines(folder, False), copy_log or agent_log_lines(folder, True)

    def test_test_probe_without_a_copy_makes_it_and_stops_it_after(self):
        folder, log, copy_log = self.run_without_copy("agent_commands_test1", "/TEST=1")
        copy = winpath(os.path.join(folder, "X_agent.exe"))
        # The copy's path holds a blank: it is started quoted, or the system
        # would look for "...\Tool.exe" first.
        self.assertIn('WinExec: "%s"' % copy, log)
        self.assertIn('CommandLine="%s"' % copy, copy_log)
        # It probed, and it ended: only the stop the plain agent added ends a
        # copy. (Its "wm_ShutDown" line is not awaited: under Wine a line the
        # copy logs at the moment the plain agent logs too can go missing.)
        commands = [line for line in copy_log if line.startswith("wm_")]
        self.assertEqual(commands[:1], ["wm_AgentMsg: 31 1 -> 0"])
        self.assertTrue(any(line.startswith("=== EXIT ===") for line in copy_log), copy_log[-3:])

    def test_test_probe_of_zero_never_adds_the_stop(self):
        folder, log, copy_log = self.run_without_copy("agent_commands_test0", "/TEST=0", "/DELAY=4", stop=True)
        copy = winpath(os.path.join(folder, "X_agent.exe"))
        self.assertIn('WinExec: "%s" /SleepX=4' % copy, log)
        self.assertIn('CommandLine="%s" /SleepX=4' % copy, copy_log)
        # In the ticks after its probe command no stop came.
        commands = [line for line in copy_log if line.startswith("wm_")]
        self.assertEqual(commands, ["wm_AgentMsg: 31 0 -> 0"])


if __name__ == "__main__":
    unittest.main(verbosity=2)

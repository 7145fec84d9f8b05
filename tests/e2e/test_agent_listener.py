"""The agent copy's listener: a window that registers with the running agent
copy through wm_LocalMsg hears, in order, the agent's window, the message
number of agent commands and, when the agent ends, that it exits."""
import os
import shutil
import unittest

from harness import FixtureProcess, Scenario, STUB, pack, run_windows, wait_for, workdir


class Listener(FixtureProcess):
    """The listener fixture: registers with the first window of the class as
    soon as it appears and records every notification, one line each."""

    program, what = "listener", "listener"

    def __init__(self, folder, window_class):
        super().__init__(os.path.join(folder, "notes.txt"))
        self.window_class = window_class

    def __enter__(self):
        if os.path.exists(self.path + ".target"):
            os.remove(self.path + ".target")
        return super().__enter__()

    def arguments(self):
        return [self.window_class, "300"]

    def notifications(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path) as f:
            return [line.rstrip("\n") for line in f if line.strip()]

    def target(self):
        with open(self.path + ".target") as f:
            return f.read()


class AgentListener(Scenario):
    def test_registered_listener_hears_the_pairs_in_order(self):
        folder = workdir("agent_listener")
        agent = os.path.join(folder, "agent.exe")
        pack("build", "--stub", STUB, "--out", agent, "--auto-update", "--agent", "agent.exe")
        copy = os.path.join(folder, "X_agent.exe")
        shutil.copy(agent, copy)
        # The agent copy runs until its first tick, a second after its window
        # appears; the listener, already waiting for the window, registers
        # within milliseconds of it.
        with Listener(folder, ".AutoUpdate.X_agent") as listener:
            self.assertEqual(run_windows(copy, "/SleepX=0"), 0)
            wait_for(lambda: len(listener.notifications()) >= 3, timeout=20)
            notes = listener.notifications()
            window = listener.target()
        self.assertEqual(notes, ["50 " + window, "51 1125", "43 0"])


if __name__ == "__main__":
    unittest.main(verbosity=2)

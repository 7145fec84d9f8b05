"""The agent copy's listener: a window that registers with the running agent
copy through wm_LocalMsg hears, in order, the agent's window, the message
number of agent commands and, when the agent ends, that it exits."""
import os
import shutil
import unittest

from harness import Listener, Scenario, STUB, pack, run_windows, wait_for, workdir, write_agent_original


class AgentListener(Scenario):
    def test_registered_listener_hears_the_pairs_in_order(self):
        folder = workdir("agent_listener")
        agent = os.path.join(folder, "agent.exe")
        pack("build", "--stub", STUB, "--out", agent, "--auto-update", "--agent", "agent.exe")
        copy = os.path.join(folder, "X_agent.exe")
        shutil.copy(agent, copy)
        write_agent_original(folder)
        # The listener, already waiting for the window, registers within
        # milliseconds of it and orders the agent copy to quit at its next tick.
        with Listener(folder, ".AutoUpdate.X_agent", stop_ticks=0) as listener:
            self.assertEqual(run_windows(copy, "/SleepX=0"), 0)
            wait_for(lambda: len(listener.notifications()) >= 3, timeout=20)
            notes = listener.notifications()
            window = listener.target()
        self.assertEqual(notes, ["50 " + window, "51 1125", "43 0"])


if __name__ == "__main__":
    unittest.main(verbosity=2)

"""The agent copy's schedule under Wine, with folder sources: how often it
probes for each stored interval, across a restart and in test mode; a
declined offer that is not made again before its re-ask time or a new Stamp;
and the plain agent's commands acting on a real copy at its ticks."""
import datetime
import os
import shutil
import subprocess
import unittest

from harness import (STUB, WINE_RUN, Listener, Scenario, UiDriver, agent_log_lines, pack, reg_delete, reg_set,
                     run_windows, wait_for, winpath, workdir, write_agent_original)

MONTHS = "JAN FEB MAR APR MAY JUN JUL AUG SEP OCT NOV DEC".split()
TEST_MODE_KEY = "HKCU\\Software\\Morvessa\\Havrek\\AutoUpdate"


def agent_now():
    """The agent's clock: seconds since 1899-12-30 in local time."""
    return int((datetime.datetime.now() - datetime.datetime(1899, 12, 30)).total_seconds())


def write_info(folder, **keys):
    with open(os.path.join(folder, "Tool.info"), "w") as f:
        f.write("[NewSetup]\r\n")
        for key, value in keys.items():
            f.write("%s=%s\r\n" % (key, value))


def copy_log(folder):
    """The lines the agent copy wrote to the agent's log, empty ones left out."""
    return [line for line in agent_log_lines(folder, copy=True) if line]


def decisions(folder):
    """The reason number of each probe's decision, in order."""
    return [int(line.split()[2]) for line in copy_log(folder) if line.startswith("GetOkToPerformAU = ")]


class Agent:
    """A plain agent whose .info comes from source (a folder), its copy
    X_agent.exe beside it, and the update record of the .original file."""

    def __init__(self, name, info_base=None, **original):
        self.folder = os.path.join(workdir(name), "agent")
        self.source = os.path.join(os.path.dirname(self.folder), "source")
        os.makedirs(self.folder)
        os.makedirs(self.source)
        self.exe = os.path.join(self.folder, "agent.exe")
        pack("build", "--stub", STUB, "--out", self.exe, "--auto-update", "--agent", "agent.exe", "--log",
             "--info-base", winpath(info_base or self.source), "--info-name", "Tool.info")
        self.copy = os.path.join(self.folder, "X_agent.exe")
        write_agent_original(self.folder, "Tool", **original)

    def run_copy(self, ticks):
        """Runs the copy for about that many ticks (one a second, the first
        at once); returns the listener's notifications. A copy deletes
        itself when it ends: each run gets a fresh one, as from the plain
        agent."""
        shutil.copy(self.exe, self.copy)
        with Listener(self.folder, ".AutoUpdate.X_agent", stop_ticks=ticks - 1) as listener:
            code = run_windows(self.copy, "/SleepX=0")
            if code != 0:
                raise AssertionError("the agent copy ended with %d" % code)
            notes = listener.notifications()
        # Its deletion runs on after it: a new copy must not meet it.
        if not wait_for(lambda: not os.path.exists(self.copy), timeout=30):
            raise AssertionError("the agent copy did not delete itself")
        return notes

    def original(self):
        with open(os.path.join(self.folder, "Tool.original"), "rb") as f:
            return f.read().decode("latin-1")


def probes(notes):
    """Probes that the listener saw end: one (40, 2) each."""
    return notes.count("40 2")


class AgentSchedule(Scenario):
    def test_probes_follow_the_stored_interval(self):
        long_ago = str(agent_now() - 7200)
        cases = [
            # (name, ProbeSecondsInterval, ticks, fewest, most probes)
            ("never", "-1", 4, 0, 0),
            ("once", "0", 5, 1, 1),
            ("every_2s", "2", 7, 2, 4),
            ("every_hour", "3600", 5, 1, 1),
        ]
        for name, interval, ticks, fewest, most in cases:
            with self.subTest(name):
                agent = Agent("schedule_" + name, ProbeSecondsInterval=interval, ProbeSecondsLast=long_ago,
                              VersionOriginal="5", Stamp="1")
                write_info(agent.source, VersionNew="5", Stamp="2")
                notes = agent.run_copy(ticks)
                count = probes(notes)
                self.assertTrue(fewest <= count <= most, (count, notes))
                self.assertEqual(decisions(agent.folder), [3] * count)
                self.assertEqual(notes.count("40 1"), count)

    def test_interval_counts_from_the_probe_recorded_before_a_restart(self):
        agent = Agent("schedule_restart", ProbeSecondsInterval="3600", ProbeSecondsLast="0", VersionOriginal="5")
        write_info(agent.source, VersionNew="5", Stamp="2")
        self.assertEqual(probes(agent.run_copy(3)), 1)
        recorded = agent.original()
        self.assertNotIn("ProbeSecondsLast=0\r\n", recorded)
        # The restarted copy reads the probe time the first one recorded.
        self.assertEqual(probes(agent.run_copy(4)), 0)
        self.assertEqual(len(decisions(agent.folder)), 1)

    def test_test_mode_probes_every_few_seconds_from_its_own_location(self):
        # The package's own source does not exist: only the test-mode
        # location can supply the .info file.
        name = "schedule_test_mode"
        agent = Agent(name, info_base=os.path.join(workdir(name + "_missing"), "nowhere"),
                      ProbeSecondsInterval="3600", ProbeSecondsLast=str(agent_now()), VersionOriginal="5")
        write_info(agent.source, VersionNew="5", Stamp="2")
        today = datetime.date.today()
        reg_set(TEST_MODE_KEY, "TestMode", "1")
        reg_set(TEST_MODE_KEY, "TestModeDate", "%02d-%s-%04d" % (today.day, MONTHS[today.month - 1], today.year))
        reg_set(TEST_MODE_KEY, "TestModeURL", winpath(agent.source))
        try:
            notes = agent.run_copy(12)
        finally:
            for value in ("TestMode", "TestModeDate", "TestModeURL"):
                reg_delete(TEST_MODE_KEY, value)
        # Five seconds apart in twelve ticks, where the stored hour allows none.
        self.assertTrue(2 <= probes(notes) <= 3, notes)
        self.assertEqual(decisions(agent.folder), [3] * probes(notes))

    def test_declined_offer_waits_for_the_re_ask_time_or_a_new_stamp(self):
        cases = [
            # (name, ReAskSecondsInterval, a new Stamp after two early probes)
            ("new_stamp", "3600", True),
            ("re_ask_time", "8", False),
        ]
        for name, reask, new_stamp in cases:
            with self.subTest(name):
                self.decline_twice("schedule_reask_" + name, reask, new_stamp)

    def decline_twice(self, name, reask, new_stamp):
        agent = Agent(name, ProbeSecondsInterval="2", ProbeSecondsLast="0", VersionOriginal="5", Stamp="1",
                      ReAskSecondsInterval=reask)
        with open(os.path.join(agent.source, "Tool_v2.exe"), "wb") as f:
            f.write(b"v2" * 500)
        offer = dict(VersionNew="6", DownloadURL_UPDATE=winpath(agent.source), NameOfUpdateFile="Tool_v2.exe",
                     SizeOfUpdateFile="1000", RequestConfirmationBeforeDownload="1")
        write_info(agent.source, Stamp="2", **offer)
        shutil.copy(agent.exe, agent.copy)
        proc = subprocess.Popen([WINE_RUN, agent.copy, "/SleepX=0"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            with UiDriver(agent.folder, "click:2", "click:2", timeout=40) as driver:
                if new_stamp:
                    self.assertTrue(wait_for(lambda: decisions(agent.folder)[-2:] == [2, 2], timeout=40),
                                    decisions(agent.folder))
                    self.assertEqual(len(driver.boxes()), 1)
                    write_info(agent.source, Stamp="3", **offer)
                self.assertEqual(driver.wait(timeout=40), 0)
                boxes = driver.boxes()
            self.assertTrue(wait_for(lambda: decisions(agent.folder)[-1:] == [2], timeout=40),
                            decisions(agent.folder))
            # A copy that is running stops at its next tick.
            self.assertEqual(run_windows(agent.exe, "/STOP=0"), 0)
            proc.wait(timeout=20)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual([box["buttons"][1] for box in boxes], ["&No", "&No"], boxes)
        # Offered, declined, too early until the Stamp or the time changed,
        # offered and declined again, too early again.
        reasons = decisions(agent.folder)
        self.assertEqual(reasons[0], 6, reasons)
        asked = [i for i, r in enumerate(reasons) if r == 6]
        self.assertEqual(len(asked), 2, reasons)
        self.assertGreaterEqual(asked[1], 2, reasons)
        self.assertTrue(all(r == 2 for r in reasons[1:asked[1]] + reasons[asked[1] + 1:]), reasons)
        self.assertIn("Stamp=3" if new_stamp else "Stamp=2", agent.original())
        # Ended by the stop sent from here (the copy's own line of it may be
        # lost under Wine while the plain agent writes the same log).
        log = copy_log(agent.folder)
        self.assertTrue(log[-1].startswith("=== EXIT ==="), log[-3:])


class AgentCommandsAtTicks(Scenario):
    def test_test_probe_without_a_copy_probes_then_quits(self):
        agent = Agent("schedule_test_command", VersionOriginal="5")
        write_info(agent.source, VersionNew="5", Stamp="2")
        self.assertEqual(run_windows(agent.exe, "/TEST=1"), 0)
        ended = lambda: any(line.startswith("=== EXIT ===") for line in copy_log(agent.folder))
        self.assertTrue(wait_for(ended, timeout=30), copy_log(agent.folder))
        log = copy_log(agent.folder)
        # The stored interval (-1) allows no timer probe: this one was forced.
        self.assertEqual(decisions(agent.folder), [3])
        self.assertLess(log.index("wm_AgentMsg: 31 1 -> 0"), log.index("GetOkToPerformAU = 3 - "
                                                                       "New version is not higher then old version"))
        self.assertTrue(log[-1].startswith("=== EXIT ==="), log[-3:])
        self.assertIn("ProbeSecondsLast=", agent.original())


if __name__ == "__main__":
    unittest.main(verbosity=2)

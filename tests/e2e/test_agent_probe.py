"""The agent copy's scheduler under Wine: a probe from a folder source fetches
the .info file, brackets the fetch with notifications (40, 1) and (40, 2),
records the probe time and logs the decision with its reason text."""
import os
import shutil
import unittest

from harness import Listener, Scenario, STUB, pack, run_windows, winpath, workdir, write_agent_original


class AgentProbe(Scenario):
    def probe_once(self, name, info_lines, **original):
        folder = workdir(name)
        source = os.path.join(folder, "source")
        os.makedirs(source)
        with open(os.path.join(source, "Tool.info"), "w") as f:
            f.write("\r\n".join(info_lines) + "\r\n")
        agent = os.path.join(folder, "agent.exe")
        pack("build", "--stub", STUB, "--out", agent, "--auto-update", "--agent", "agent.exe", "--log",
             "--info-base", winpath(source), "--info-name", "Tool.info")
        copy = os.path.join(folder, "X_agent.exe")
        shutil.copy(agent, copy)
        write_agent_original(folder, "Tool", **original)
        # Quit at the second tick: the first one, with /SleepX=0, probes.
        with Listener(folder, ".AutoUpdate.X_agent", stop_ticks=1) as listener:
            self.assertEqual(run_windows(copy, "/SleepX=0"), 0)
            notes = listener.notifications()
        with open(os.path.join(folder, "X_agent.log"), "rb") as f:
            log = f.read().decode("latin-1")
        with open(os.path.join(folder, "Tool.original"), "rb") as f:
            stored = f.read().decode("latin-1")
        return folder, notes, log, stored

    def test_probe_from_a_folder_logs_its_reason(self):
        cases = [
            ("probe_not_higher", ["[NewSetup]", "VersionNew=5", "Stamp=2"],
             "GetOkToPerformAU = 3 - New version is not higher then old version"),
            ("probe_valid_for", ["[NewSetup]", "VersionNew=6", "Stamp=2", "ValidVersions=1,2"],
             'GetOkToPerformAU = 4 - "Valid for version" mismatch'),
        ]
        for name, info, expected in cases:
            with self.subTest(name):
                folder, notes, log, stored = self.probe_once(
                    name, info, ProbeSecondsInterval="0", VersionOriginal="5", Stamp="1")
                self.assertIn(expected, log)
                self.assertEqual([n for n in notes if n.startswith("40 ")], ["40 1", "40 2"])
                self.assertTrue(os.path.exists(os.path.join(folder, "Tool.info")))
                self.assertIn("ProbeSecondsLast=", stored)
                self.assertIn("__ProbeSecondsLast=", stored)
                # Not due: the offer is not recorded.
                self.assertIn("Stamp=1", stored)

    def test_a_mistake_in_the_offer_is_named_beside_the_reason(self):
        folder, notes, log, stored = self.probe_once(
            "probe_misspelt", ["[NewSetup]", "VersoinNew=6", "Stamp=2", "ShutDownMethod=Using WM_Close"],
            ProbeSecondsInterval="0", VersionOriginal="5", Stamp="1")
        self.assertIn("GetOkToPerformAU = 3 - New version is not higher then old version", log)
        self.assertIn("Offer: [NewSetup] VersoinNew is no key of the offer, ignored", log)
        self.assertIn("Offer: [NewSetup] VersionNew is missing or empty (an update)", log)
        self.assertIn('Offer: [NewSetup] ShutDownMethod="Using WM_Close" is none of', log)
        self.assertEqual(log.count("VersoinNew is no key"), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)

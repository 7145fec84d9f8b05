"""Signed offers under Wine: an agent built with the publisher's keys A and
B acts only on an offer one of them signed, no older than the newest it
accepted and not expired, and runs only the package (or shows only the page)
whose SHA-256 that offer names. One installation takes a table of offers in
turn, the program running beside it throughout: a refused offer changes
nothing and is named in the log, and the next good one installs. Then a
server that swaps the package or the page under a signed offer, and an agent
without keys whose offer names the digest of a package that arrives
corrupted."""
import datetime
import os
import shutil
import subprocess
import unittest

from harness import (PACK, STUB, EngineReport, Listener, Scenario, agent_log_lines, engine_files, pack, read_text,
                     run_windows, wait_for, winpath)
from test_agent_update import TOKEN, UPDATE, UpdatedProgram, end_processes, ini_text

SIGNED_AT = 1800000000  # 2027-01-15T08:00:00Z


def utc(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Publisher:
    """Keys A, B and C made by havrek-pack keygen in folder."""

    def __init__(self, folder):
        self.folder = folder
        for name in "ABC":
            pack("keygen", "--out", self.key(name, ""))

    def key(self, name, ext=".key"):
        return os.path.join(self.folder, name + ext)

    def offer(self, path, version, base, key=None, signed_at=SIGNED_AT, package=None, inform=None, extra=()):
        """Writes the offer of version (its Stamp too) for package or the
        information page inform at base; signed by key at signed_at."""
        args = [PACK, "offer", "--out", path, "--version", str(version), "--stamp", str(version), "--url", base,
                "--set", "ProgramName=Tool", "--set", "RunningProcess=<Application Folder>\\Tool.exe",
                "--set", "ShutDownMethod=Don't Shut Down"]
        args += ["--package", package] if package else ["--inform", inform]
        if key:
            args += ["--key", self.key(key)]
        result = subprocess.run(args + list(extra), capture_output=True, text=True,
                                env=dict(os.environ, SOURCE_DATE_EPOCH=str(signed_at)))
        if result.returncode != 0:
            raise AssertionError("havrek-pack offer failed: %s%s" % (result.stdout, result.stderr))
        return read_bytes(path)


class SignedOffers(Scenario):
    def install(self, name, keys="AB"):
        """The installation with its program running and, for keys, an agent
        that carries them; returns it."""
        setup = UpdatedProgram(name)
        self.publisher = Publisher(setup.work)
        setup.prepare(winpath(setup.source),
                      agent_args=[a for k in keys for a in ("--update-key", self.publisher.key(k, ".pub"))])
        self.package = os.path.join(setup.source, UPDATE)
        self.info = os.path.join(setup.source, "Tool.info")
        self.stored = os.path.join(setup.install, "Tool.info")
        write_bytes(self.stored, b"[NewSetup]\r\nVersionNew=1\r\n")
        program = setup.start_program()
        self.addCleanup(program.wait, 30)
        self.addCleanup(end_processes, ["Tool.exe", "agent.exe", "X_agent.exe"])
        self.assertTrue(wait_for(lambda: "ready" in " ".join(setup.program_lines()), timeout=30))
        self.program = program
        return setup

    def probe(self, setup):
        """One probe of the agent copy, which a listener stops two ticks on;
        returns (the copy's log lines of this probe, the notifications)."""
        before = len(agent_log_lines(setup.install, copy=True))
        exits = lambda: [l for l in agent_log_lines(setup.install, copy=True)[before:] if l.startswith("=== EXIT ===")]
        notes = os.path.join(setup.work, "notes.txt")
        if os.path.exists(notes):
            os.remove(notes)
        copy = os.path.join(setup.install, "X_agent.exe")
        # The copy of the probe before deletes itself once it has ended; a
        # new one put there before that would be deleted with it.
        wait_for(lambda: not os.path.exists(copy), timeout=60)
        with Listener(setup.work, ".AutoUpdate.X_agent", stop_ticks=2) as listener:
            shutil.copy(setup.agent, copy)
            self.assertEqual(run_windows(copy, "/SleepX=0"), 0)
            self.assertTrue(wait_for(exits, timeout=90), agent_log_lines(setup.install, copy=True)[before:][-5:])
            found = [n for n in listener.notifications() if n.split()[0] in ("40", "41", "42")]
        return agent_log_lines(setup.install, copy=True)[before:], found

    def original(self, setup):
        return read_text(os.path.join(setup.install, "Tool.original"))

    def signed_last(self, setup):
        return [l for l in self.original(setup).splitlines() if l.startswith("OfferSignedLast=")]

    def check_refused(self, setup, log, notes, reason, runs):
        """Nothing changed and the log says why."""
        refused = [l for l in log if l.startswith("Offer refused: ")]
        self.assertEqual(len(refused), 1, log)
        self.assertIn(reason, refused[0])
        self.assertIn("GetOkToPerformAU = 0 - Error downloading .INFO file", log)
        self.assertNotIn("PerformAutoUpdate() - START", log)
        self.assertEqual(notes, ["40 1", "40 2"])
        self.assertEqual(EngineReport(setup.report).runs(), runs)
        self.assertIsNone(self.program.poll(), "the program keeps running")
        self.assertFalse(os.path.exists(os.path.join(setup.install, "X_agent.exe.fetch")))

    def test_only_offers_signed_by_the_package_keys_install(self):
        setup = self.install("agent_signed_offers")
        base = winpath(setup.source)
        pub = self.publisher
        offer = lambda version, **kw: pub.offer(self.info, version, base, package=self.package, **kw)

        def body_changed(version):
            data = offer(version, key="A")
            return data.replace(b"Stamp=%d" % version, b"Stamp=%d" % (version + 10))

        def signature_damaged(version):
            data = offer(version, key="A")
            at = data.index(b";signature=") + 20
            return data[:at] + (b"B" if data[at:at + 1] == b"A" else b"A") + data[at + 1:]

        # (name, the offer's bytes for a version, the refusal the log names;
        # None: it installs, signed at the time given)
        rows = [
            ("unsigned", lambda v: offer(v), "no valid signature: not signed"),
            ("body changed", body_changed, "bad signature by key"),
            ("by key A", lambda v: offer(v, key="A", signed_at=SIGNED_AT + 100), None),
            ("signature damaged", signature_damaged, "signature"),
            ("unknown key C", lambda v: offer(v, key="C", signed_at=SIGNED_AT + 200),
             "which is not among the package's keys"),
            ("by key B, a rotation", lambda v: offer(v, key="B", signed_at=SIGNED_AT + 200), None),
            ("older one replayed", lambda v: offer(v, key="A", signed_at=SIGNED_AT + 150),
             "before the newest offer accepted here (%s)" % utc(SIGNED_AT + 200)),
            ("expired", lambda v: offer(v, key="A", signed_at=SIGNED_AT + 300,
                                        extra=["--expires", "2020-01-01T00:00:00Z"]),
             "expired at 2020-01-01T00:00:00Z"),
            ("by key A again", lambda v: offer(v, key="A", signed_at=SIGNED_AT + 300), None),
        ]
        version, runs = 2, 0
        for name, make, reason in rows:
            with self.subTest(name):
                write_bytes(self.info, make(version))
                stored, signed_last = read_bytes(self.stored), self.signed_last(setup)
                log, notes = self.probe(setup)
                if reason:
                    self.check_refused(setup, log, notes, reason, runs)
                    self.assertEqual(read_bytes(self.stored), stored, "the stored offer stays")
                    self.assertEqual(self.signed_last(setup), signed_last)
                    self.assertIn("VersionOriginal=%d" % (version - 1), self.original(setup))
                    continue
                runs += 1
                self.assertIn("PerformAutoUpdate() - END    Result=TRUE", log)
                self.assertEqual(EngineReport(setup.report).runs(), runs)
                self.assertEqual(read_bytes(self.stored), read_bytes(self.info))
                self.assertIn("VersionOriginal=%d" % version, self.original(setup))
                signed = [l for l in log if l.startswith("Offer signed at ")]
                self.assertEqual(len(signed), 1, log)
                self.assertIn("OfferSignedLast=" + signed[0].split()[3], self.original(setup))
                self.assertIsNone(self.program.poll(), "the program keeps running")
                version += 1

    def swapped(self, name, make_offer, swap, page=False):
        """The signed offer stays while the file under it is swapped; the
        probe refuses the file by its digest."""
        setup = self.install(name)
        write_bytes(self.info, make_offer(setup))
        target = swap(setup)
        expected = subprocess.run(["sha256sum", target + ".genuine"], capture_output=True, text=True).stdout.split()[0]
        actual = subprocess.run(["sha256sum", target], capture_output=True, text=True).stdout.split()[0]
        log, notes = self.probe(setup)
        failed = [l for l in log if l.startswith("Download FAILED: SHA-256 mismatch")]
        self.assertEqual(len(failed), 1, log)
        self.assertIn(expected, failed[0])
        self.assertIn(actual, failed[0])
        self.assertEqual(notes, ["40 1", "40 2", "41 1", "41 2"])
        self.assertFalse(os.path.exists(os.path.join(setup.install, "X_agent.exe.fetch")), "the file is deleted")
        self.assertIsNone(self.program.poll(), "the program keeps running")
        self.assertIn("VersionOriginal=1", self.original(setup))
        if page:
            self.assertIn("PerformAutoInform() - END FALSE", log)
        else:
            self.assertIn("PerformAutoUpdate() - END    Result=FALSE", log)
            self.assertFalse(os.path.exists(setup.report), "no engine ran")
        return setup

    def test_a_package_or_page_swapped_under_a_signed_offer_is_refused(self):
        def other_package(setup):
            # The same product (build token), another engine: it would
            # report elsewhere.
            src = os.path.join(setup.work, "evil")
            os.makedirs(src)
            version = os.path.join(src, "version.txt")
            write_bytes(version, b"9\r\n")
            # Its size is near enough to the genuine one's to pass the size test.
            engine, ini = engine_files(src, os.path.join(setup.work, "evil.txt"),
                                       install="version.txt|" + winpath(setup.install))
            shutil.move(self.package, self.package + ".genuine")
            pack("build", "--stub", STUB, "--out", self.package, "--file", version, "--file", ini, "--run", engine,
                 "--update-token", TOKEN)
            return self.package

        setup = self.swapped("agent_signed_package_swapped",
                             lambda setup: self.publisher.offer(self.info, 2, winpath(setup.source),
                                                                package=self.package, key="A"),
                             other_package)
        self.assertFalse(os.path.exists(os.path.join(setup.work, "evil.txt")), "the other engine did not run")

        def page(setup, text):
            path = os.path.join(setup.source, "news.inf")
            pack("info-page", "--out", path, "--token", TOKEN, "--text", text)
            return path

        def other_page(setup):
            genuine = os.path.join(setup.source, "news.inf")
            shutil.move(genuine, genuine + ".genuine")
            return page(setup, "Version 2 is HERE, download it at http://evil.test")

        self.swapped("agent_signed_page_swapped",
                     lambda setup: self.publisher.offer(self.info, 2, winpath(setup.source),
                                                        inform=page(setup, "Version 2 is here, see the web site ok"),
                                                        key="A"),
                     other_page, page=True)

    def test_an_agent_without_keys_refuses_a_corrupted_package_by_its_digest(self):
        setup = self.install("agent_unsigned_corrupted", keys="")
        write_bytes(self.info, self.publisher.offer(self.info, 2, winpath(setup.source), package=self.package))
        data = bytearray(read_bytes(self.package))
        shutil.copy(self.package, self.package + ".genuine")
        data[len(data) // 2] ^= 0x01
        write_bytes(self.package, bytes(data))
        log, notes = self.probe(setup)
        self.assertIn("GetOkToPerformAU = 6 - OK", log)
        self.assertTrue([l for l in log if l.startswith("Download FAILED: SHA-256 mismatch")], log)
        self.assertIn("PerformAutoUpdate() - END    Result=FALSE", log)
        self.assertFalse(os.path.exists(setup.report), "no engine ran")
        self.assertIn("VersionOriginal=1", self.original(setup))


if __name__ == "__main__":
    unittest.main(verbosity=2)

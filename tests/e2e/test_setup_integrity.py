"""Integrity records under Wine: a large setup (above the size where the
checksum passes anything, entries stored raw) that lost or changed bytes runs
nothing; and packages and stubs from before records existed mix both ways
with today's (tests/fixtures/compat holds the old programs, see
scripts/build-compat-fixtures.sh)."""
import os
import shutil
import subprocess
import unittest

from harness import (chosen_rows, EngineReport, PACK, STUB, Scenario, UiDriver, engine_files, pack, run_windows,
                     setup_folders, workdir)

DAMAGED = 110
BIG = 60 * 1024 * 1024
COMPAT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "compat")
OLD_STUB = os.path.join(COMPAT, "Stub.exe")
OLD_PACK = os.path.join(COMPAT, "havrek-pack")


def engine_and_text(folder, exit, text):
    """The test engine reporting to folder/report.txt with exit code exit,
    and a readme of text, in folder/src. Returns (report, engine, ini,
    readme)."""
    report = os.path.join(folder, "report.txt")
    src = os.path.join(folder, "src")
    os.makedirs(src)
    engine, ini = engine_files(src, report, exit=exit)
    readme = os.path.join(src, "readme.txt")
    with open(readme, "w") as f:
        f.write(text)
    return report, engine, ini, readme


def run_guarded(setup):
    """Runs setup hidden while the UI driver presses OK on the one box that
    may come; (exit code, boxes)."""
    with UiDriver(os.path.dirname(setup), "key:O", timeout=60) as driver:
        code = run_windows(setup, "/hide", timeout=180)
    return code, driver.boxes()


class LargeDamagedSetup(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Packed once for the module: 60 MB of noise takes a while to write.
        cls.folder = workdir("integrity_large")
        cls.report = os.path.join(cls.folder, "report.txt")
        src = os.path.join(cls.folder, "src")
        os.makedirs(src)
        engine, ini = engine_files(src, cls.report, exit=7)
        big = os.path.join(src, "big.bin")
        with open(big, "wb") as f:
            f.write(os.urandom(BIG))
        cls.setup = os.path.join(cls.folder, "sound.exe")
        pack("build", "--stub", STUB, "--out", cls.setup, "--level", "0", "--file", ini, "--file", big,
             "--run", engine)
        os.remove(big)

    def variant(self, name, change):
        path = os.path.join(self.folder, name, "setup.exe")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(self.setup, path)
        with open(path, "r+b") as f:
            change(f, os.path.getsize(path))
        return path

    def test_a_flipped_or_lost_byte_runs_nothing_and_leaves_no_folder(self):
        def flip(f, size):
            # The middle of the package lies in the middle of big.bin's data.
            f.seek(size // 2)
            byte = f.read(1)[0]
            f.seek(size // 2)
            f.write(bytes([byte ^ 0x10]))

        def cut(f, size):
            f.truncate(size - 100)

        cases = [
            ("sound", lambda f, size: None, 7, None),
            ("one byte flipped", flip, DAMAGED, "do not match its integrity record"),
            # Its build length now lies past the end, and its header is gone.
            ("cut short by 100 bytes", cut, DAMAGED, "no package header"),
        ]
        for name, change, code, reason in cases:
            with self.subTest(name):
                if os.path.exists(self.report):
                    os.remove(self.report)
                setup = self.variant(name.replace(" ", "_"), change)
                # havrek-pack test refuses what the stub refuses, for the same reason.
                checked = subprocess.run([PACK, "test", setup], capture_output=True, text=True)
                self.assertEqual(checked.returncode, 0 if reason is None else 1, checked.stdout + checked.stderr)
                if reason is not None:
                    self.assertIn(reason, checked.stderr)
                before = setup_folders()
                got, boxes = run_guarded(setup)
                self.assertEqual(got, code)
                self.assertEqual(setup_folders(), before, "no setup folder stays")
                engine = EngineReport(self.report)
                if reason is None:
                    self.assertTrue(engine.ended())
                    self.assertEqual(engine.files["big.bin"][0], BIG)
                    self.assertEqual(boxes, [])
                    continue
                self.assertFalse(engine, "nothing ran")
                self.assertEqual(len(boxes), 1, boxes)
                self.assertIn("the setup file is incomplete or damaged", boxes[0]["text"])
                self.assertIn(reason, boxes[0]["text"])


class ChangedHeader(Scenario):
    """Header bytes that choose what the stub does (block count, file count,
    agent and internet flags) are covered by the record: a changed one is
    refused before anything is installed differently. The native sweep walks
    every byte; these rows show the stub itself refusing."""

    HEADER = 74
    rows = [
        # name, offset in the package header, new value
        ("block count 3", 1, 3),
        ("one file more counted", 8, 4),
        ("internet setup set", 66, 1),
        ("agent set", 68, 1),
    ]

    def test_a_changed_header_byte_is_refused_as_damage(self):
        folder = workdir("integrity_header")
        report, engine, ini, text = engine_and_text(folder, 5, "a line\n" * 100)
        sound = os.path.join(folder, "sound.exe")
        pack("build", "--stub", STUB, "--out", sound, "--file", text, "--file", ini, "--run", engine)
        for name, offset, value in [("sound", None, None)] + chosen_rows("HAVREK_HEADER_ROWS", self.rows):
            with self.subTest(name):
                if os.path.exists(report):
                    os.remove(report)
                setup = os.path.join(folder, name.replace(" ", "_"), "setup.exe")
                os.makedirs(os.path.dirname(setup))
                shutil.copy(sound, setup)
                if offset is not None:
                    with open(setup, "r+b") as f:
                        f.seek(os.path.getsize(setup) - self.HEADER + offset)
                        f.write(bytes([value]))
                checked = subprocess.run([PACK, "test", setup], capture_output=True, text=True)
                self.assertEqual(checked.returncode, 0 if offset is None else 1, checked.stdout + checked.stderr)
                before = setup_folders()
                got, boxes = run_guarded(setup)
                self.assertEqual(setup_folders(), before, "no setup folder stays")
                if offset is None:
                    self.assertEqual(got, 5)
                    self.assertTrue(EngineReport(report).ended())
                    continue
                self.assertEqual(got, DAMAGED)
                self.assertFalse(EngineReport(report), "nothing ran")
                self.assertEqual(len(boxes), 1, boxes)
                self.assertIn("the setup file is incomplete or damaged", boxes[0]["text"])
                self.assertFalse([n for n in os.listdir(os.path.dirname(setup))
                                  if n != "setup.exe" and not n.startswith("boxes.txt")],
                                 "no agent copy beside the setup")


class Compatibility(Scenario):
    """Setups already shipped meet packages written today, and the other way
    round: the record is an entry every stub skips, the mark sits in bytes
    every stub leaves alone."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for path in (OLD_STUB, OLD_PACK):
            if not os.path.exists(path):
                raise AssertionError("missing %s: run scripts/build-compat-fixtures.sh" % path)

    def test_old_and_new_stubs_and_packages_mix(self):
        cases = [
            ("new package on the old stub", PACK, OLD_STUB, True),
            ("old package on the new stub", OLD_PACK, STUB, False),
        ]
        for name, packer, stub, records in cases:
            with self.subTest(name):
                folder = workdir("integrity_" + name.replace(" ", "_"))
                report, engine, ini, text = engine_and_text(folder, 4, "a line that packs well\n" * 2000)
                noise = os.path.join(os.path.dirname(text), "noise.bin")
                with open(noise, "wb") as f:
                    f.write(os.urandom(150 * 1024))
                setup = os.path.join(folder, "setup.exe")
                subprocess.run([packer, "build", "--stub", stub, "--out", setup, "--split-size", "64K",
                                "--file", text, "--file", noise + "=data\\noise.bin", "--file", ini,
                                "--run", engine, "--run-args", "-x"], check=True, capture_output=True)
                shown = subprocess.run([PACK, "show", setup], capture_output=True, text=True)
                self.assertEqual(shown.returncode, 0, shown.stdout + shown.stderr)
                self.assertIn("integrity=" + ("records ok" if records else "no records"), shown.stdout)

                before = setup_folders()
                got, boxes = run_guarded(setup)
                self.assertEqual(got, 4, "the engine's exit code is handed on")
                self.assertEqual(boxes, [])
                result = EngineReport(report)
                self.assertTrue(result.ended())
                self.assertIn(" -x ", result.get("cmdline", "") + " ")
                sizes = {name: size for name, (size, _) in result.files.items()}
                self.assertEqual(sizes, {"readme.txt": os.path.getsize(text), "data\\noise.bin": 150 * 1024,
                                         "Engine.ini": os.path.getsize(ini), "Engine.exe": os.path.getsize(engine)})
                self.assertEqual(setup_folders(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)

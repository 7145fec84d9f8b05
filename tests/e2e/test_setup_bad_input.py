"""Damaged and hostile packages under Wine: each ends cleanly, runs nothing
it should not, and writes nothing outside the setup folder. havrek-pack
refuses to write most of these, so they are laid out by hand here."""
import os
import struct
import zlib
import unittest

from harness import (EngineReport, STUB, Scenario, UiDriver, WINEPREFIX, engine_files, pack, prefix_temp,
                     run_windows, setup_folder_of, winpath, workdir)

MAGIC = 0x4A3B2C1D
ALWAYS_PASSES = 1234
SENTINEL = b"sentinel: must stay as it is"


def stored_entry(name, data, kind="raw"):
    """One entry as the package stores it: a signed 32-bit length, then the
    content ("|name|date|", NUL, data), raw (negative length) or zlib."""
    content = ("|%s|0|" % name).encode("latin-1") + b"\0" + data
    if kind == "raw":
        return struct.pack("<i", -len(content)) + content
    if kind == "zlib":
        stream = zlib.compress(content, 9)
    elif kind == "dictionary":
        packer = zlib.compressobj(9, zdict=b"a preset dictionary the stub does not have")
        stream = packer.compress(content) + packer.flush()
    elif kind == "corrupt":
        stream = bytearray(zlib.compress(content, 9))
        for i in range(2, len(stream) - 4):
            stream[i] ^= 0x5A
        stream = bytes(stream)
    else:
        raise ValueError(kind)
    return struct.pack("<i", len(stream)) + stream


def write_package(path, entries, tail=b""):
    """The stub, the two header blocks, the entries (and any bytes given as
    tail) and the 74-byte package header with a checksum that always passes."""
    with open(STUB, "rb") as f:
        stub = f.read()
    update = b"|http://|.info|.exe|0|0|"
    blocks = struct.pack("<I", 0) + struct.pack("<I", len(update)) + update
    body = b"".join(entries) + tail
    header = struct.pack("<BBHIIII8s9IBBBBBBi", 1, 2, 0, len(stub), len(entries), MAGIC, ALWAYS_PASSES, b"\0" * 8,
                         *([0] * 9), 0, 0, 0, 0, 0, 0, 74)
    assert len(header) == 74
    with open(path, "wb") as f:
        f.write(stub + blocks + body + header)


def engine_entries(folder, report):
    engine, ini = engine_files(folder, report)
    entries = []
    for path, name in ((ini, "Engine.ini"), (engine, "Engine.exe*-exit=0")):
        with open(path, "rb") as f:
            entries.append(stored_entry(name, f.read(), "zlib"))
    return entries


def tree(path):
    """Every file and folder below path (relative), with file contents' sizes."""
    found = {}
    for root, dirs, files in os.walk(path):
        for name in dirs + files:
            full = os.path.join(root, name)
            found[os.path.relpath(full, path)] = os.path.getsize(full) if os.path.isfile(full) else None
    return found


class BadInput(Scenario):
    def run_guarded(self, setup, timeout=90):
        """Runs setup with /hide while a driver answers a box, if one comes;
        returns (exit code, the boxes)."""
        with UiDriver(os.path.dirname(setup), "key:O", timeout=40) as driver:
            code = run_windows(setup, "/hide", timeout=timeout)
        return code, driver.boxes()

    def test_a_flipped_payload_byte_shows_bad_crc_and_runs_nothing(self):
        folder = workdir("bad_crc")
        report = os.path.join(folder, "report.txt")
        engine, ini = engine_files(folder, report)
        setup = os.path.join(folder, "setup.exe")
        pack("build", "--stub", STUB, "--out", setup, "--file", ini, "--run", engine)
        with open(setup, "r+b") as f:
            at = os.path.getsize(STUB) + 4000
            f.seek(at)
            byte = f.read(1)
            f.seek(at)
            f.write(bytes([byte[0] ^ 0x01]))
        code, boxes = self.run_guarded(setup)
        self.assertEqual(code, 0)
        self.assertEqual(len(boxes), 1, boxes)
        self.assertEqual(boxes[0]["caption"], "Error")
        self.assertIn("Bad CRC!", boxes[0]["text"])
        self.assertFalse(EngineReport(report), "no engine ran")
        self.assertFalse(os.path.exists(setup_folder_of(setup)))

    def test_entries_that_do_not_expand_end_the_flow_with_an_error_box(self):
        # Each damaged entry comes first, before the engine: nothing may run.
        for kind, tail in (("corrupt", b""), ("dictionary", b"")):
            with self.subTest(kind):
                folder = workdir("bad_zlib_" + kind)
                report = os.path.join(folder, "report.txt")
                setup = os.path.join(folder, "setup.exe")
                write_package(setup, [stored_entry("data.txt", b"some text " * 500, kind)]
                              + engine_entries(folder, report), tail)
                code, boxes = self.run_guarded(setup)
                self.assertEqual(code, 0)
                self.assertEqual(len(boxes), 1, boxes)
                text = boxes[0]["text"]
                self.assertIn(winpath(setup), text)
                self.assertIn("Unable to expand a compressed file!", text)
                self.assertFalse(EngineReport(report), "no engine ran")
                self.assertFalse(os.path.exists(setup_folder_of(setup)), "the setup folder is removed")

    def test_a_package_cut_short_ends_cleanly(self):
        folder = workdir("bad_cut_short")
        report = os.path.join(folder, "report.txt")
        setup = os.path.join(folder, "setup.exe")
        # The last entry claims a megabyte; the package header follows after
        # a few bytes of it.
        cut = struct.pack("<i", -(1 << 20)) + b"|cut.bin|0|\0" + b"x" * 100
        write_package(setup, engine_entries(folder, report), cut)
        code, _ = self.run_guarded(setup)
        self.assertEqual(code, 0)
        self.assertFalse(os.path.exists(setup_folder_of(setup)))
        self.assertNotIn("cut.bin", EngineReport(report).files)

    def test_entry_names_that_leave_the_setup_folder_are_refused(self):
        temp = prefix_temp()
        drive_c = os.path.join(WINEPREFIX, "drive_c")
        sentinels = [os.path.join(temp, "evil.dll"), os.path.join(temp, "x"), os.path.join(drive_c, "x.dll")]
        names = ["..\\evil.dll", "sub/..\\..\\x", "C:\\x.dll", "\\\\host\\share\\x", "x:stream", "CON"]
        try:
            for name in names:
                with self.subTest(name):
                    for path in sentinels:
                        with open(path, "wb") as f:
                            f.write(SENTINEL)
                    folder = workdir("bad_name_%d" % names.index(name))
                    report_path = os.path.join(folder, "report.txt")
                    setup = os.path.join(folder, "setup.exe")
                    write_package(setup, [stored_entry(name, b"hostile bytes", "raw"),
                                          stored_entry("good.txt", b"good", "raw")]
                                  + engine_entries(folder, report_path))
                    temp_before, c_before = tree(temp), tree(drive_c)
                    code, boxes = self.run_guarded(setup)
                    self.assertEqual(code, 0)
                    self.assertEqual(len(boxes), 1, boxes)
                    self.assertIn("Unable to save Extracted File!", boxes[0]["text"])
                    for path in sentinels:
                        with open(path, "rb") as f:
                            self.assertEqual(f.read(), SENTINEL, path)
                    self.assertEqual(tree(temp), temp_before)
                    self.assertEqual({k: v for k, v in tree(drive_c).items() if not k.startswith("users")},
                                     {k: v for k, v in c_before.items() if not k.startswith("users")})
                    report = EngineReport(report_path)
                    self.assertTrue(report.ended(), "the entries after the refused one still land")
                    self.assertEqual(set(report.files), {"good.txt", "Engine.exe", "Engine.ini"})
        finally:
            for path in sentinels:
                if os.path.exists(path):
                    os.remove(path)


if __name__ == "__main__":
    unittest.main(verbosity=2)

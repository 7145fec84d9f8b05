"""Damaged and hostile packages under Wine: each ends cleanly, runs nothing
it should not, and writes nothing outside the setup folder. havrek-pack
refuses to write most of these, so they are laid out by hand here."""
import os
import shutil
import socket
import struct
import zlib
import unittest

from harness import (chosen_rows, DebugViewer, EngineReport, STUB, Scenario, UiDriver, WINEPREFIX, engine_files, pack,
                     prefix_temp, prefix_temp_windows, run_windows, setup_folders, winpath, workdir)

MAGIC = 0x4A3B2C1D
ALWAYS_PASSES = 1234
SENTINEL = b"sentinel: must stay as it is"
DAMAGED, WRITE_FAILED, NOT_STARTED, DOWNLOAD_FAILED = 110, 111, 112, 113


def stored_entry(name, data, kind="raw", header=None):
    """One entry as the package stores it: a signed 32-bit length, then the
    content ("|name|date|" or the header given, NUL, data), raw (negative
    length) or zlib."""
    content = (header if header is not None else "|%s|0|" % name).encode("latin-1") + b"\0" + data
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


def write_package(path, entries, tail=b"", count=None):
    """The stub, the two header blocks, the entries (and any bytes given as
    tail) and the 74-byte package header with a checksum that always passes;
    count: the file count the header claims (default: the entries')."""
    with open(STUB, "rb") as f:
        stub = f.read()
    update = b"|http://|.info|.exe|0|0|"
    blocks = struct.pack("<I", 0) + struct.pack("<I", len(update)) + update
    body = b"".join(entries) + tail
    header = struct.pack("<BBHIIII8s9IBBBBBBi", 1, 2, 0, len(stub), len(entries) if count is None else count, MAGIC, ALWAYS_PASSES, b"\0" * 8,
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
    def run_guarded(self, setup, *actions, timeout=90, hide=True):
        """Runs setup (with /hide) while a driver answers the boxes that come
        (OK to one box by default); returns (exit code, the boxes). The
        driver waits as long as the setup may run: a box that comes late
        must still be answered."""
        with UiDriver(os.path.dirname(setup), *(actions or ("key:O",)), timeout=timeout) as driver:
            code = run_windows(setup, *(("/hide",) if hide else ()), timeout=timeout)
        return code, driver.boxes()

    def run_quiet(self, setup, timeout=90):
        """Runs setup unattended with nobody to answer: it must end by itself.
        Returns (exit code, what it wrote to the debug channel)."""
        with DebugViewer(os.path.dirname(setup)) as viewer:
            code = run_windows(setup, "/quiet", timeout=timeout)
        return code, viewer.text()

    # Each failure class: how its package is made, the exit code, and what
    # the message says. Every one runs nothing and leaves no setup folder.
    def make_failure(self, kind, folder, report):
        setup = os.path.join(folder, "setup.exe")
        engine, ini = engine_files(folder, report, exit=5)
        if kind in ("bad checksum", "header gone", "user No"):
            pack("build", "--stub", STUB, "--out", setup, "--file", ini, "--run", engine,
                 *(("--always-confirm",) if kind == "user No" else ()))
            with open(setup, "r+b") as f:
                if kind == "bad checksum":
                    at = os.path.getsize(STUB) + 4000
                    f.seek(at)
                    byte = f.read(1)
                    f.seek(at)
                    f.write(bytes([byte[0] ^ 0x01]))
                elif kind == "header gone":
                    # Cut by one byte: the last 74 bytes are no header any more.
                    f.truncate(os.path.getsize(setup) - 1)
        elif kind == "no entry":
            write_package(setup, [], count=2)
        elif kind == "cut short":
            # The last entry claims a megabyte; the package header follows
            # after a few bytes of it.
            cut = struct.pack("<i", -(1 << 20)) + b"|cut.bin|0|\0" + b"x" * 100
            write_package(setup, engine_entries(folder, report), cut)
        elif kind in ("corrupt", "dictionary"):
            write_package(setup, [stored_entry("data.txt", b"some text " * 500, kind)] + engine_entries(folder, report))
        elif kind == "download failed":
            # Nothing listens on a port just freed.
            with socket.socket() as free:
                free.bind(("127.0.0.1", 0))
                port = free.getsockname()[1]
            pack("build", "--stub", STUB, "--out", setup, "--internet-setup", "--inet-always",
                 "--inet-base", "http://127.0.0.1:%d/files" % port, "--inet-file", "package.exe")
        elif kind == "not a program":
            write_package(setup, [stored_entry(None, b"plain text, no program", header="|readme.txt*-x|0|")])
        return setup

    def test_each_failure_ends_with_its_exit_code_and_message(self):
        expand = ["Unable to expand a compressed file!"]
        damaged = ["the setup file is incomplete or damaged"]
        cases = [
            ("bad checksum", DAMAGED, ["Bad CRC!"]),
            ("header gone", DAMAGED, damaged + ["no package header"]),
            ("no entry", DAMAGED, damaged + ["no stored file"]),
            ("cut short", DAMAGED, damaged + ["cut short"]),
            ("corrupt", DAMAGED, expand),
            ("dictionary", DAMAGED, expand),
            ("not a program", NOT_STARTED, ["Unable to start the setup program!", "readme.txt"]),
            ("download failed", DOWNLOAD_FAILED, ["Unable to open Internet Connection", "package.exe"]),
        ]
        for kind, code, texts in chosen_rows("HAVREK_FAILURE_KINDS", cases):
            for quiet in (False, True):
                with self.subTest(kind, quiet=quiet):
                    folder = workdir("failure_%s_%s" % (kind.replace(" ", "_"), "quiet" if quiet else "asked"))
                    report = os.path.join(folder, "report.txt")
                    setup = self.make_failure(kind, folder, report)
                    folders_before = setup_folders()
                    if quiet:
                        got, debug = self.run_quiet(setup)
                        self.assertIn("MarkupBox unattended", debug)
                        shown = debug
                    else:
                        got, boxes = self.run_guarded(setup)
                        self.assertEqual(len(boxes), 1, boxes)
                        self.assertEqual(boxes[0]["caption"], "Error")
                        shown = boxes[0]["text"]
                    self.assertEqual(got, code)
                    for text in texts:
                        self.assertIn(text, shown)
                    if kind in ("corrupt", "dictionary"):
                        self.assertIn(winpath(setup), shown)
                    self.assertFalse(EngineReport(report), "no engine ran")
                    self.assertEqual(setup_folders(), folders_before, "no setup folder stays")

    def test_the_users_no_ends_with_0_and_unattended_asks_nothing(self):
        folder = workdir("failure_user_no")
        report = os.path.join(folder, "report.txt")
        setup = self.make_failure("user No", folder, report)
        # In the foreground: "/hide" would not ask.
        code, boxes = self.run_guarded(setup, "key:N", hide=False)
        self.assertEqual(code, 0)
        self.assertEqual(len(boxes), 1, boxes)
        self.assertEqual(boxes[0]["caption"], "Confirm")
        self.assertFalse(EngineReport(report), "No runs nothing")

        # Unattended implies "/hide": nothing is asked, and the engine runs.
        code, _ = self.run_quiet(setup)
        self.assertEqual(code, 5, "the engine ran and its exit code is handed on")
        engine = EngineReport(report)
        self.assertTrue(engine.ended())
        self.assertIn("/quiet", engine.get("cmdline", ""))

    def test_only_a_file_the_package_wrote_runs(self):
        # Each header marks a program to run; only the first names the engine
        # the package wrote into the setup folder. A sentinel engine waits
        # under C:\outside for a header that would reach it.
        outside = os.path.join(WINEPREFIX, "drive_c", "outside")
        os.makedirs(outside, exist_ok=True)
        sentinel_report = os.path.join(outside, "ran.txt")
        engine_files(outside, sentinel_report)
        # From SETUP_n\good.txt up to C:\ and down into the sentinel's folder.
        ups = len(prefix_temp_windows().rstrip("\\").split("\\")) + 1
        climb = "\\".join([".."] * ups)
        cases = [
            ("|Engine.exe*-x|0|", 0),
            ("|Engine.exe|0|*-x|", NOT_STARTED),
            ("|Engine.exe|*0|", NOT_STARTED),
            ("\\good.txt\\%s\\outside\\Engine.exe*-x\\" % climb, NOT_STARTED),
            ("/good.txt/%s/outside/Engine.exe*-x/" % climb.replace("\\", "/"), NOT_STARTED),
            ("|%s\\outside\\Engine.exe*-x|0|" % climb, NOT_STARTED),
            ("|C:\\outside\\Engine.exe*-x|0|", NOT_STARTED),
            ("|\\outside\\Engine.exe*|0|", NOT_STARTED),
        ]
        try:
            for index, (header, code) in enumerate(cases):
                with self.subTest(header):
                    folder = workdir("run_header_%d" % index)
                    report = os.path.join(folder, "report.txt")
                    engine, ini = engine_files(folder, report)
                    with open(engine, "rb") as f:
                        program = f.read()
                    with open(ini, "rb") as f:
                        control = f.read()
                    setup = os.path.join(folder, "setup.exe")
                    write_package(setup, [stored_entry("Engine.ini", control),
                                          stored_entry(None, program, "zlib", header=header)])
                    # A refused entry name shows its save failure first.
                    got, boxes = self.run_guarded(setup, "key:O", "key:O")
                    self.assertFalse(os.path.exists(sentinel_report), "the program outside ran")
                    self.assertEqual(got, code)
                    if code == 0:
                        self.assertFalse([box for box in boxes if "caption" in box], boxes)
                        self.assertTrue(EngineReport(report).ended())
                    else:
                        self.assertIn("Unable to run the setup program", boxes[-1].get("text", ""), boxes)
                        self.assertFalse(EngineReport(report), "nothing ran")
        finally:
            shutil.rmtree(outside, ignore_errors=True)

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

"""The internet setup under Wine: a stub without files that takes its real
package from beside itself or from the web server fixture, checks the build
token, runs the test engine from it and cleans up after itself."""
import base64
import glob
import hashlib
import os
import shutil
import socket
import struct
import subprocess
import sys
import urllib.request
import unittest

from harness import (chosen_rows, EngineReport, PACK, Scenario, STUB, UiDriver, WINE_RUN, WINEPREFIX, dos_datetime, engine_files,
                     pack, prefix_temp, run_windows, setup_folder_of, wait_for, workdir)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import http_server  # noqa: E402

COMPAT_STUB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "compat", "Stub.exe")
TOKEN = "NET-7.3-build"
PACKAGE = "Full.exe"
AGENT = "Agent.exe"
MB = 1048576
DOWNLOAD_FAILED = 113


def free_port():
    """A port nothing listens on: taken from the system and given back."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class InternetSetup(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.folder = workdir("internet_setup")
        cls.served = os.path.join(cls.folder, "served")
        os.makedirs(cls.served)
        cls.report_path = os.path.join(cls.folder, "report.txt")
        src = os.path.join(cls.folder, "src")
        os.makedirs(src)
        engine, ini = engine_files(src, cls.report_path, exit=4)
        readme = os.path.join(src, "readme.txt")
        with open(readme, "w") as f:
            f.write("the real package\n" * 50)
        cls.package = os.path.join(cls.served, PACKAGE)
        real = ["build", "--stub", STUB, "--file", readme, "--file", ini, "--run", engine, "--run-args", "-x"]
        pack(*real, "--out", cls.package, "--inet-token", TOKEN)
        # The same files from another build.
        pack(*real, "--out", os.path.join(cls.served, "Foreign.exe"), "--inet-token", "OTHER-build")
        # The same build token over another engine: only the digest tells.
        swapped_src = os.path.join(cls.folder, "swapped_src")
        os.makedirs(swapped_src)
        swapped_engine, swapped_ini = engine_files(swapped_src, cls.report_path, exit=5)
        pack("build", "--stub", STUB, "--out", os.path.join(cls.served, "Swapped.exe"), "--file", readme,
             "--file", swapped_ini, "--run", swapped_engine, "--inet-token", TOKEN)
        # Named like the user's own files in the temporary folder.
        shutil.copy(cls.package, os.path.join(cls.served, "setup"))
        shutil.copy(os.path.join(cls.served, "Foreign.exe"), os.path.join(cls.served, "foreign"))
        cls.server, cls.port = http_server.start(cls.served)

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        super().tearDownClass()

    def setUp(self):
        if os.path.exists(self.report_path):
            os.remove(self.report_path)
        self.server_get("/forget")
        self.copy_in_temp = os.path.join(prefix_temp(), PACKAGE)
        if os.path.exists(self.copy_in_temp):
            os.remove(self.copy_in_temp)

    def server_get(self, path):
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.port, path), timeout=10) as r:
            return r.read().decode()

    def requests(self):
        return [line for line in self.server_get("/requests").splitlines() if line]

    def url(self, route="files"):
        return "http://127.0.0.1:%d/%s" % (self.port, route)

    def stub(self, name, *options, base=None, file=PACKAGE, stub=STUB, size=None):
        """An internet setup in a folder of its own; it records the size and
        digest of the real package unless given a size of its own."""
        folder = os.path.join(self.folder, name)
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, "setup.exe")
        sized = ["--inet-size-of", self.package] if size is None else ["--inet-size", str(size)]
        pack("build", "--stub", stub, "--out", exe, "--internet-setup", "--inet-base", base or self.url(),
             "--inet-file", file, "--inet-token", TOKEN, *sized, *options)
        return folder, exe

    def publisher_key(self):
        """A publisher's key pair, made once: its path without extension."""
        key = os.path.join(self.folder, "publisher")
        if not os.path.exists(key + ".pub"):
            pack("keygen", "--out", key)
        return key

    def run_with_driver(self, folder, exe, *actions, args=(), timeout=20):
        """Runs the setup while the UI driver answers its boxes; the exit code
        and the boxes that came."""
        with UiDriver(folder, *actions, timeout=timeout) as driver:
            code = run_windows(exe, *args)
            if actions:
                driver.wait(timeout=timeout + 10)
        return code, [box for box in driver.boxes() if "error" not in box]

    def assert_engine_ran(self, code):
        report = EngineReport(self.report_path)
        self.assertTrue(report.ended(), report.lines)
        self.assertEqual(code, 4, "the engine's exit code is the setup's")
        self.assertIn("readme.txt", report.files)
        return report

    def assert_nothing_ran(self, code, expected=DOWNLOAD_FAILED):
        self.assertFalse(EngineReport(self.report_path), "no engine ran")
        self.assertEqual(code, expected)

    def assert_error_box(self, boxes):
        """The message of the one error box, below its heading."""
        self.assertEqual(len(boxes), 1, boxes)
        self.assertEqual(boxes[0]["caption"], "Error")
        heading, _, message = boxes[0]["text"].partition("\r\n\r\n")
        self.assertEqual(heading, "ERROR")
        return message.strip()

    def test_package_beside_the_stub_runs_without_network_or_question(self):
        folder, exe = self.stub("beside", "--confirm-download")
        local = os.path.join(folder, PACKAGE)
        with open(self.package, "rb") as f, open(local, "wb") as g:
            g.write(f.read())
        code, boxes = self.run_with_driver(folder, exe, "key:N", timeout=10)
        self.assertEqual(boxes, [], "no confirmation")
        self.assert_engine_ran(code)
        self.assertEqual(self.requests(), [], "no network access")
        self.assertTrue(os.path.exists(local), "a package beside the stub is kept")

    def test_download_is_checked_run_and_deleted(self):
        folder, exe = self.stub("download", "--inet-always", "--confirm-download")
        # Always download: a copy beside the stub is not looked at.
        with open(os.path.join(folder, PACKAGE), "wb") as f:
            f.write(b"not a package")
        code, boxes = self.run_with_driver(folder, exe, "key:Y", timeout=30)
        self.assertEqual(len(boxes), 1, boxes)
        self.assertEqual(boxes[0]["caption"], "Confirm")
        size = os.path.getsize(self.package) / MB
        self.assertTrue(1 < size < 10, "the figure below has two decimals")
        self.assertIn("Size: %.2f MB" % size, boxes[0]["text"])
        report = self.assert_engine_ran(code)
        self.assertEqual(report.get("show"), "1", "in the foreground the engine starts visible")
        gets = [r for r in self.requests() if r.startswith("GET ")]
        self.assertEqual(gets, ["GET /files/%s|HTTP_Connect_3" % PACKAGE])
        self.assertFalse(os.path.exists(self.copy_in_temp), "the downloaded copy is deleted")

    def test_download_folder_of_a_killed_run_is_removed_by_the_next(self):
        folder, exe = self.stub("leftover", "--inet-always")
        setup = setup_folder_of(exe)
        # No process has pid 99999 here; ".dlx" is no download folder at all.
        killed, other = setup + ".dl99999", setup + ".dlx"
        for left in (killed, other):
            shutil.rmtree(left, ignore_errors=True)
            os.makedirs(left)
            with open(os.path.join(left, PACKAGE), "wb") as f:
                f.write(b"half a package")
        self.assert_engine_ran(run_windows(exe))
        self.assertFalse(os.path.exists(killed))
        self.assertTrue(os.path.exists(os.path.join(other, PACKAGE)))
        shutil.rmtree(other)

    def test_token_mismatch_runs_nothing_and_deletes_the_copy(self):
        folder, exe = self.stub("token", "--inet-always", file="Foreign.exe")
        code, boxes = self.run_with_driver(folder, exe, "key:O")
        self.assertEqual(self.assert_error_box(boxes), "Bad Secret Token!")
        self.assert_nothing_ran(code)
        self.assertTrue(any(r.startswith("GET /files/Foreign.exe") for r in self.requests()))
        self.assertFalse(os.path.exists(os.path.join(prefix_temp(), "Foreign.exe")))

    def test_not_found_page_names_the_address(self):
        for route in ("404", "files"):
            with self.subTest(route=route):
                folder, exe = self.stub("notfound_" + route, "--inet-always", base=self.url(route),
                                        file="Missing.exe")
                code, boxes = self.run_with_driver(folder, exe, "key:O")
                text = self.assert_error_box(boxes)
                self.assertIn("404 File Not Found", text)
                self.assertIn("URL:  %s/Missing.exe." % self.url(route), text)
                self.assert_nothing_ran(code)
                self.assertFalse(os.path.exists(os.path.join(prefix_temp(), "Missing.exe")))

    def test_no_server_shows_the_download_error(self):
        base = "http://127.0.0.1:%d/files" % free_port()
        folder, exe = self.stub("noserver", "--inet-always", base=base)
        code, boxes = self.run_with_driver(folder, exe, "key:O", timeout=60)
        self.assertEqual(self.assert_error_box(boxes), "Unable to open Internet Connection: %s/%s" % (base, PACKAGE))
        self.assert_nothing_ran(code)

    def test_agent_copy_is_the_stub_cut_to_its_build_and_marked(self):
        key = self.publisher_key()
        folder, exe = self.stub("agent", "--inet-always", "--has-agent", "--agent", AGENT, "--update-key",
                                key + ".pub")
        with open(exe, "rb") as f:
            built = f.read()
        self.assertEqual(struct.unpack_from("<I", built, 252)[0], len(built))
        # A signature-like tail after the build is not part of the agent.
        with open(exe, "ab") as f:
            f.write(b"\xA5" * 3000)
        # The engine stays a while, so that the agent can be read from the
        # setup folder before it is removed.
        proc = subprocess.Popen([WINE_RUN, exe, "/hide", "-sleep=5000"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: EngineReport(self.report_path).get("engine"), timeout=60))
            report = EngineReport(self.report_path)
            with open(os.path.join(report.folder(), AGENT), "rb") as f:
                agent = f.read()
        finally:
            code = proc.wait(timeout=60)
        report = self.assert_engine_ran(code)
        self.assertIn(AGENT, report.files, "the engine finds the agent among the unpacked files")
        self.assertEqual(report.files[AGENT], (len(built), dos_datetime(os.path.getmtime(exe))))
        expected = bytearray(built)
        self.assertEqual(expected[-5], 0, "the stub itself is no agent")
        expected[-5] = 1
        self.assertTrue(agent == bytes(expected), "the agent is the build with the agent flag set")
        # ... and so trusts the publisher's key that the setup carries.
        copy = os.path.join(folder, "agent-copy.exe")
        with open(copy, "wb") as f:
            f.write(agent)
        with open(key + ".pub") as f:
            der = base64.b64decode("".join(line for line in f.read().splitlines() if not line.startswith("-----")))
        key_id = hashlib.sha256(der[-65:]).hexdigest()[:16]
        # (show fails the copy's integrity record: the flag byte is the one
        # change the setup makes.)
        shown = subprocess.run([PACK, "show", copy], capture_output=True, text=True).stdout
        self.assertIn("\nupdate_keys=%s\n" % key_id, shown)

    def test_hide_asks_nothing_and_starts_the_engine_hidden(self):
        folder, exe = self.stub("hide", "--inet-always", "--confirm-download")
        code, boxes = self.run_with_driver(folder, exe, "key:N", args=("/hide",), timeout=10)
        self.assertEqual(boxes, [], "no confirmation")
        report = self.assert_engine_ran(code)
        self.assertEqual(report.get("show"), "0")
        self.assertIn("/hide", report.get("cmdline"))
        self.assertFalse(os.path.exists(self.copy_in_temp))

    def test_no_to_the_download_question_fetches_nothing(self):
        folder, exe = self.stub("declined", "--inet-always", "--confirm-download", "--inet-size", str(5 * MB))
        code, boxes = self.run_with_driver(folder, exe, "key:N")
        self.assertEqual(len(boxes), 1, boxes)
        self.assertEqual(boxes[0]["caption"], "Confirm")
        self.assertIn("INTERNET DOWNLOAD", boxes[0]["text"])
        self.assertIn("Size: 5.00 MB", boxes[0]["text"])
        self.assert_nothing_ran(code, 0)
        self.assertEqual(self.requests(), [], "nothing is fetched")

    def test_download_table(self):
        """Each way a server can send the package, or refuse it: a valid one
        installs, anything else is reported with what went wrong and ends
        with the download exit code; the user's files named like the package
        stay, and the run leaves nothing behind in the temporary folder."""
        rows = [
            # route, file served, the message (None: the engine ran)
            ("files", "setup", None),
            ("files-chunked", "setup", None),
            ("files-closed", "setup", None),
            ("files", "foreign", "Bad Secret Token!"),
            ("files-chunked", "foreign", "Bad Secret Token!"),
            ("files-closed", "foreign", "Bad Secret Token!"),
            ("404", "setup", "404 File Not Found"),
            ("error/500-text", "setup", "setup --- Error downloading file (HTTP 500"),
            ("error/403-json", "setup", "setup --- Error downloading file (HTTP 403"),
        ]
        temp = prefix_temp()
        for route, file, message in rows:
            with self.subTest(route=route, file=file):
                if os.path.exists(self.report_path):
                    os.remove(self.report_path)
                decoys = {}
                for name in (file, file + ".log", file + ".ini", file + ".exe", file + ".123"):
                    decoys[name] = ("the user's own " + name).encode()
                    with open(os.path.join(temp, name), "wb") as f:
                        f.write(decoys[name])
                before = sorted(os.listdir(temp))
                folder, exe = self.stub("table_%s_%s" % (route.replace("/", "_"), file), "--inet-always",
                                        base=self.url(route), file=file)
                try:
                    if message is None:
                        # A driver stands by in case a box comes after all.
                        with UiDriver(folder, "key:O", timeout=30) as driver:
                            code = run_windows(exe)
                        self.assertEqual(driver.boxes(), [])
                        self.assert_engine_ran(code)
                    else:
                        code, boxes = self.run_with_driver(folder, exe, "key:O")
                        self.assertIn(message, self.assert_error_box(boxes))
                        self.assert_nothing_ran(code)
                    self.assertEqual(sorted(os.listdir(temp)), before, "nothing left, nothing taken")
                    for name, data in decoys.items():
                        with open(os.path.join(temp, name), "rb") as f:
                            self.assertEqual(f.read(), data, name)
                finally:
                    for name in decoys:
                        if os.path.exists(os.path.join(temp, name)):
                            os.remove(os.path.join(temp, name))

    def test_only_the_package_of_the_recorded_digest_runs(self):
        """A package of the same build token but other bytes is refused before
        anything is extracted, fetched or found beside the setup; setups that
        record no digest, and stubs that read none, run as before."""
        with open(self.package, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        refused = "Swapped.exe --- Error downloading file (its SHA-256 is not the one this setup was built for)"
        rows = [
            # name, file, stub, options, a copy beside the setup, the message (None: the engine ran with code)
            ("swapped download", "Swapped.exe", STUB, ["--inet-always"], False, refused),
            ("swapped beside", "Swapped.exe", STUB, [], True, refused),
            ("right download", PACKAGE, STUB, ["--inet-always", "--inet-sha256", digest.upper()], False, 4),
            ("no digest recorded", "Swapped.exe", STUB, ["--inet-always"], False, 5),
            ("old stub, new records", PACKAGE, COMPAT_STUB,
             ["--has-agent", "--agent", AGENT, "--update-key", self.publisher_key() + ".pub"], True, 4),
        ]
        for name, file, stub, options, beside, outcome in chosen_rows("HAVREK_DIGEST_ROWS", rows):
            with self.subTest(name):
                if os.path.exists(self.report_path):
                    os.remove(self.report_path)
                self.server_get("/forget")
                folder, exe = self.stub("digest_" + name.replace(" ", "_").replace(",", ""), *options, file=file,
                                        stub=stub, size=(MB if name == "no digest recorded" else None))
                if beside:
                    shutil.copy(os.path.join(self.served, file), os.path.join(folder, file))
                if isinstance(outcome, int):
                    with UiDriver(folder, "key:O", timeout=30) as driver:
                        code = run_windows(exe)
                    self.assertEqual(driver.boxes(), [])
                    self.assertTrue(EngineReport(self.report_path).ended())
                    self.assertEqual(code, outcome)
                else:
                    code, boxes = self.run_with_driver(folder, exe, "key:O", timeout=60)
                    self.assertEqual(self.assert_error_box(boxes), outcome)
                    self.assert_nothing_ran(code)
                self.assertEqual(glob.glob(setup_folder_of(exe) + ".dl*"), [], "the download is removed")
                self.assertEqual(os.path.exists(os.path.join(folder, file)), beside, "a copy beside the setup stays")
                if beside:
                    self.assertEqual(self.requests(), [], "no network access")

    def test_agent_names_never_leave_the_setup_folder(self):
        """The record's agent name, whatever it says, gives a copy inside the
        setup folder only, asked Yes or No."""
        drive_c = os.path.join(WINEPREFIX, "drive_c")
        before = drive_tree(drive_c)
        for agent in ("Plain.exe", "..\\x.exe", "sub\\x.exe", "C:\\x.exe"):
            for answer in ("Y", "N"):
                with self.subTest(agent=agent, answer=answer):
                    if os.path.exists(self.report_path):
                        os.remove(self.report_path)
                    folder, exe = self.stub("agent_%d_%s" % (len(agent), answer), "--inet-always",
                                            "--confirm-download", "--has-agent", "--agent", "Q" * len(agent))
                    # Written here, past any check of the build tool.
                    with open(exe, "rb") as f:
                        data = f.read()
                    placeholder = b"|" + b"Q" * len(agent) + b"|"
                    self.assertEqual(data.count(placeholder), 1)
                    with open(exe, "wb") as f:
                        f.write(without_record(data.replace(placeholder, b"|" + agent.encode() + b"|")))
                    code, boxes = self.run_with_driver(folder, exe, "key:" + answer, timeout=30)
                    self.assertEqual([box["caption"] for box in boxes], ["Confirm"])
                    self.assertEqual(drive_tree(drive_c) - before, set(), "nothing new outside the setup folder")
                    if answer == "Y":
                        report = self.assert_engine_ran(code)
                        # The engine finds the agent beside its own files.
                        self.assertIn(agent.replace("\\", "/").rsplit("/", 1)[-1].rsplit(":", 1)[-1],
                                      report.files)
                    else:
                        self.assert_nothing_ran(code, 0)


def without_record(data):
    """The setup as a build from before integrity records wrote it: a record
    would refuse the bytes changed past the build tool."""
    header = bytearray(data[-74:])
    header[20:28] = bytes(8)
    out = bytearray(data[:-74 - 55]) + header
    size = len(out)
    out[248:252] = (size >> 32).to_bytes(4, "little")
    out[252:256] = (size & 0xFFFFFFFF).to_bytes(4, "little")
    return bytes(out)


def drive_tree(root):
    """Every file and folder below root."""
    found = set()
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


if __name__ == "__main__":
    unittest.main(verbosity=2)

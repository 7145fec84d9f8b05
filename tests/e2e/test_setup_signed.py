"""A signed setup: the example setup signed with osslsigncode and a
throwaway code-signing certificate still unpacks and runs its engine, hands
the exit code on, and the agent copy it writes holds none of the signature."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from harness import EngineReport, Scenario, STUB, PACK, engine_files, pack, run_windows, winpath, workdir

EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "hello")
EXAMPLE_FILES = {"readme.txt": "readme.txt", "docs/guide.txt": "docs\\guide.txt",
                 "config/settings.ini": "config\\settings.ini"}
PE_CHECKSUM = 256 + 24 + 64
PASSWORD = "throwaway"


def run(*args):
    result = subprocess.run(args, capture_output=True, text=True, errors="replace")
    if result.returncode != 0:
        raise AssertionError("%s failed (%d): %s%s" % (args[0], result.returncode, result.stdout, result.stderr))
    return result.stdout


def certificate_entry(head):
    """Offset of the certificate table's directory entry in a PE header at 256."""
    magic = struct.unpack_from("<H", head, 256 + 24)[0]
    return 256 + 24 + (112 if magic == 0x20B else 96) + 4 * 8


class SignedSetup(Scenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for tool in ("openssl", "osslsigncode"):
            if not shutil.which(tool):
                raise unittest.SkipTest("%s is not installed (scripts/setup.sh installs it)" % tool)
        cls.folder = workdir("setup_signed")
        cls.keys = tempfile.TemporaryDirectory()
        cls.report_path = os.path.join(cls.folder, "report.txt")
        cls.installed = os.path.join(cls.folder, "installed")
        os.makedirs(cls.installed)
        # The engine copies the agent copy out of the setup folder, which the
        # stub removes when the engine has ended.
        engine, ini = engine_files(cls.folder, cls.report_path, install="Agent.exe|" + winpath(cls.installed))
        cls.unsigned = os.path.join(cls.folder, "unsigned.exe")
        args = ["build", "--stub", STUB, "--out", cls.unsigned, "--language", os.path.join(EXAMPLE, "language.txt"),
                "--has-agent", "--agent", "Agent.exe"]
        for source, target in EXAMPLE_FILES.items():
            args += ["--file", "%s=%s" % (os.path.join(EXAMPLE, source), target)]
        pack(*args, "--file", ini, "--run", engine, "--run-args", "/example -exit=7")
        cls.make_certificate()
        cls.setup = os.path.join(cls.folder, "setup.exe")
        run("osslsigncode", "sign", "-pkcs12", cls.p12, "-pass", PASSWORD, "-n", "Havrek example",
            "-in", cls.unsigned, "-out", cls.setup)

    @classmethod
    def tearDownClass(cls):
        cls.keys.cleanup()
        super().tearDownClass()

    @classmethod
    def make_certificate(cls):
        """A self-signed certificate for code signing, its key as PEM and both
        as PKCS#12, the two forms a publisher gets from a CA."""
        k = cls.keys.name
        cls.cert, cls.key, cls.p12 = (os.path.join(k, n) for n in ("cert.pem", "key.pem", "signer.p12"))
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", cls.key, "-out", cls.cert,
            "-days", "2", "-subj", "/CN=Havrek test publisher",
            "-addext", "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning")
        run("openssl", "pkcs12", "-export", "-inkey", cls.key, "-in", cls.cert, "-out", cls.p12,
            "-passout", "pass:" + PASSWORD)

    def verify(self, path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path],
                              capture_output=True, text=True, errors="replace")

    def test_both_key_forms_sign_and_verify_against_the_own_root(self):
        result = self.verify(self.setup)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Signature verification: ok", result.stdout)
        pem = os.path.join(self.folder, "setup-pem.exe")
        run("osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-in", self.unsigned, "-out", pem)
        self.assertEqual(self.verify(pem).returncode, 0)
        # A signature over a setup changed afterwards no longer holds.
        changed = os.path.join(self.folder, "changed.exe")
        with open(self.setup, "rb") as f:
            data = bytearray(f.read())
        data[len(data) // 2] ^= 1
        with open(changed, "wb") as f:
            f.write(data)
        self.assertNotEqual(self.verify(changed).returncode, 0)

    def test_show_reports_the_signature_after_the_package(self):
        result = subprocess.run([PACK, "show", self.setup], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, "the checksum still passes: " + result.stdout + result.stderr)
        built, signed = os.path.getsize(self.unsigned), os.path.getsize(self.setup)
        table = (built + 7) // 8 * 8
        self.assertIn("signature=%d bytes after the package (certificate table of %d bytes at %d)\n"
                      % (signed - built, signed - table, table), result.stdout)
        unsigned = subprocess.run([PACK, "show", self.unsigned], capture_output=True, text=True).stdout
        self.assertIn("signature=none\n", unsigned)
        self.assertEqual(re.sub("signature=.*\n", "", result.stdout), re.sub("signature=.*\n", "", unsigned))

    def test_the_signed_setup_runs_and_writes_an_agent_copy_without_the_signature(self):
        code = run_windows(self.setup, "/hide")
        report = EngineReport(self.report_path)
        self.assertTrue(report.ended(), report.lines)
        self.assertEqual(code, 7, "the engine's exit code is the stub's")
        self.assertRegex(report.get("cmdline"), r" /hide /example -exit=7 /TH_ID=_\d+ /OriginExe=")
        for source, target in EXAMPLE_FILES.items():
            self.assertEqual(report.files[target][0], os.path.getsize(os.path.join(EXAMPLE, source)), target)

        with open(self.unsigned, "rb") as f:
            unsigned = f.read()
        first_entry = int(re.search(r"^payload_start=(\d+)$", subprocess.run(
            [PACK, "show", self.unsigned], capture_output=True, text=True).stdout, re.M).group(1))
        # payload_start is where the header blocks begin; the entries follow them.
        pos = first_entry
        for _ in range(2):
            pos += 4 + struct.unpack_from("<I", unsigned, pos)[0]
        self.assertEqual(report.files["Agent.exe"][0], pos + 74, "cut to the build length")
        self.assertEqual(report.get("installed"), winpath(os.path.join(self.installed, "Agent.exe")) + "|ok")
        with open(os.path.join(self.installed, "Agent.exe"), "rb") as f:
            copy = f.read()
        self.assertEqual(len(copy), pos + 74)
        # The copy an unsigned setup gives, but for the checksum of the image,
        # which no longer described it and is cleared with the directory entry.
        expected = bytearray(unsigned[:pos])
        expected[252:256] = bytes(4)
        expected[PE_CHECKSUM:PE_CHECKSUM + 4] = bytes(4)
        self.assertEqual(copy[:512], bytes(expected[:512]), "the copy's head")
        self.assertTrue(copy[512:pos] == expected[512:], "the stub image and header blocks as packed")
        entry = certificate_entry(copy)
        self.assertEqual(copy[entry:entry + 8], bytes(8), "the copy names no certificate table")
        self.assertEqual(copy[-74 + 69], 1, "the copy is the agent")
        self.assertIn("signature=none\n", subprocess.run([PACK, "show", os.path.join(self.installed, "Agent.exe")],
                                                        capture_output=True, text=True).stdout)


if __name__ == "__main__":
    unittest.main()

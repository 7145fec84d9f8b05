"""The Windows build of havrek-pack, which links no crypto library: it reads
publisher public keys itself and checks offers with the system's crypto,
while making keys and signing stay with the Linux build, each refusal with a
clear message."""
import os
import subprocess
import unittest

from harness import BUILD, STUB, TIME_SCALE, WINE_RUN, Scenario, pack, winpath, workdir

PACK_EXE = os.path.join(BUILD, "tools", "pack", "havrek-pack.exe")


class WindowsPackTool(Scenario):
    def run_tool(self, folder, *args):
        result = subprocess.run([WINE_RUN, PACK_EXE, *args], cwd=folder, capture_output=True, text=True,
                                errors="replace", timeout=120 * TIME_SCALE)
        return result.returncode, result.stdout + result.stderr

    def test_public_keys_are_read_and_offers_checked_signing_is_refused(self):
        folder = workdir("pack_windows_keys")
        ids = [pack("keygen", "--out", os.path.join(folder, k)).stdout.split("key_id=")[1].strip() for k in "AB"]
        with open(os.path.join(folder, "hi.txt"), "w") as f:
            f.write("hi\n")
        pack("build", "--stub", STUB, "--out", os.path.join(folder, "pkg.exe"), "--file", os.path.join(folder, "hi.txt"))
        pack("offer", "--out", os.path.join(folder, "T.info"), "--version", "2", "--url", "http://e/", "--package",
             os.path.join(folder, "pkg.exe"), "--key", os.path.join(folder, "A.key"))
        with open(os.path.join(folder, "T.info"), "rb") as f:
            signed = f.read()
        with open(os.path.join(folder, "Changed.info"), "wb") as f:
            f.write(signed.replace(b"VersionNew=2", b"VersionNew=3"))
        # The same key in compressed form, which this build does not decode.
        subprocess.run(["openssl", "ec", "-in", "A.key", "-pubout", "-conv_form", "compressed", "-out", "C.pub"],
                       cwd=folder, check=True, capture_output=True)
        stub = winpath(STUB)
        rows = [
            # name, arguments, exit code, text in the output
            ("good offer", ["verify-offer", "--pub", "A.pub", "T.info", "--package", "pkg.exe"], 0, "good signature"),
            ("other key", ["verify-offer", "--pub", "B.pub", "T.info"], 1, ""),
            ("changed offer", ["verify-offer", "--pub", "A.pub", "Changed.info"], 1, ""),
            ("private key to verify", ["verify-offer", "--pub", "A.key", "T.info"], 1, "holds a private key"),
            ("compressed key", ["verify-offer", "--pub", "C.pub", "T.info"], 1, "uncompressed ECDSA P-256"),
            ("keyed build", ["build", "--stub", stub, "--out", "k.exe", "--file", "hi.txt", "--update-key", "A.pub",
                             "--update-key", "B.pub"], 0, "wrote k.exe"),
            ("signing", ["sign-offer", "--key", "A.key", "T.info"], 1, "signing needs the Linux build"),
            ("keygen", ["keygen", "--out", "D"], 1, "keygen needs the Linux build"),
        ]
        for name, args, code, text in rows:
            with self.subTest(name):
                got, output = self.run_tool(folder, *args)
                self.assertEqual(got, code, output)
                self.assertIn(text, output)
        with open(os.path.join(folder, "T.info"), "rb") as f:
            self.assertEqual(f.read(), signed, "a refused signing leaves the offer")
        self.assertFalse(os.path.exists(os.path.join(folder, "D.key")))
        # The keys the Windows build stored are the ones the Linux build made.
        shown = pack("show", os.path.join(folder, "k.exe")).stdout
        self.assertIn("update_keys=" + ",".join(ids), shown)


if __name__ == "__main__":
    unittest.main(verbosity=2)

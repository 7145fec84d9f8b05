#!/usr/bin/env python3
"""A reader written from docs/package-format.md alone must read what
havrek-pack writes: the package end, the header, the checksum, the token,
the entries and the integrity records. When the format changes and the
reference does not, this fails.

    check_package_format.py HAVREK_PACK
"""

import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

TOOL = None
MAGIC = 0x4A3B2C1D


def package_end(b):
    if b[:2] == b"MZ" and b[256:258] == b"PE":
        high, low = struct.unpack_from("<II", b, 248)
        if 0 < (high << 32 | low) <= len(b):
            return high << 32 | low
    return len(b)


def checksum(b, trailer):
    size = len(b)
    if size > 52428800:
        return 1234
    end = 0
    if b[:2] == b"MZ" and b[256:258] == b"PE":
        low = struct.unpack_from("<I", b, 252)[0]
        end = low if 0 < low <= size else 0
    start, remaining = (512, end - trailer - 512) if end else (0, size - trailer)
    total, pos = 0, start
    while remaining > 4:
        piece, pos = b[pos:pos + 4096], pos + 4096
        for i in range(0, len(piece) // 4 * 4, 4):
            remaining -= 4
            if remaining > 4:
                total += struct.unpack_from("<I", piece, i)[0]
        if remaining > 4:
            total += 1234
        if len(piece) < 4096:
            break
    return total & 0xFFFFFFFF


def decode_token(text):
    raw = bytes.fromhex("".join(chr(ord(c) - 50) for c in text))
    n = len(raw)
    assert n > 4 and sum(raw[:n - 2] + raw[n - 1:]) & 0xFF == raw[n - 2], "token checksum"
    key = raw[0] ^ raw[n - 1]
    plain = bytes([raw[0]]) + bytes(c ^ key for c in raw[1:n - 1])
    p, q = plain[1], plain[2]
    return plain[p + 3:p + 3 + n - p - q - 4].decode()


def fields(record):
    return record[1:].split(record[:1])


class Disk:
    """One file as the reference describes it."""

    def __init__(self, path, blocks_before):
        with open(path, "rb") as f:
            b = f.read()
        self.end = end = package_end(b)
        trailer = struct.unpack_from("<i", b, end - 4)[0]
        self.header = h = b[end - trailer:end - trailer + 74]
        (_, count, _, self.payload, self.files, magic, stored) = struct.unpack_from("<BBHIIII", h, 0)
        assert magic == MAGIC, f"{path}: magic {magic:#x}"
        assert stored == checksum(b, trailer), f"{path}: checksum"
        self.flags, self.has_agent = h[65], h[68]
        self.blocks, self.entries, self.record = [], [], None
        pos, seen = self.payload, blocks_before
        while end - pos > 74:
            length = struct.unpack_from("<i", b, pos)[0]
            data = b[pos + 4:pos + 4 + abs(length)]
            assert len(data) == abs(length), f"{path}: cut short"
            seen += 1
            if seen <= (count or 2):
                self.blocks.append(data)
            else:
                content = zlib.decompress(data) if length > 0 else data
                name, _, rest = content.partition(b"\0")
                if name:
                    self.entries.append((name, rest))
                else:
                    assert length == -51 and content[1:18] == b"havrek-integrity/" and content[18:19] == b"2"
                    self.record = content[19:51]
            pos += 4 + abs(length)
        self.seen = seen
        # The version 2 digest: the whole file with the named bytes as zero.
        z = bytearray(b[:end])
        if min(self.payload, 512) >= 348:
            z[344:348] = bytes(4)
        z[end - 106:end - 74] = bytes(32)
        z[end - 58:end - 54] = bytes(4)
        assert h[20:25] == b"HVIR\x02" and self.record == hashlib.sha256(z).digest(), f"{path}: integrity record"


class PackageFormat(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.dir = self.folder.name
        stub = bytearray(1024)
        stub[:2], stub[256:260] = b"MZ", b"PE\0\0"
        self.files = {"stub.exe": bytes(stub), "a.txt": b"hello world\n" * 300,
                      "Engine.exe": bytes(range(256)) * 7}
        for name, data in self.files.items():
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(data)

    def build(self, *args):
        subprocess.run([TOOL, "build", "--stub", "stub.exe", "--file", "a.txt=docs/a.txt", "--run", "Engine.exe",
                        "--run-args", "-x", *args], cwd=self.dir, check=True, capture_output=True)

    def test_readers_of_the_reference_read_the_tool(self):
        cases = [
            (["--out", "setup.exe", "--has-agent", "--agent", "agent.exe", "--update-token", "T1"]),
            (["--out", "setup.exe", "--level", "0", "--no-build-length"]),
            # Pieces of files, continued on the next disk.
            (["--out", "setup.exe", "--level", "0", "--disk-size", "1500", "--split-size", "1K"]),
        ]
        for options in cases:
            with self.subTest(options=options):
                for name in os.listdir(self.dir):
                    if name.startswith("setup.exe"):
                        os.remove(os.path.join(self.dir, name))
                self.build(*options)
                written = sorted(n for n in os.listdir(self.dir) if n.startswith("setup.exe"))
                first = Disk(os.path.join(self.dir, written[0]), 0)
                update = fields(first.blocks[1])
                if "--update-token" in options:
                    self.assertEqual(update[2], b"agent.exe")
                    self.assertEqual(decode_token(update[3].decode()), "T1")
                    self.assertEqual(first.has_agent, 1)
                joined, seen, disks = {}, 0, []
                for i, name in enumerate(written[1:] if len(written) > 1 else written):
                    disk = Disk(os.path.join(self.dir, name), seen)
                    seen = disk.seen
                    disks.append(disk)
                    for header, data in disk.entries:
                        target = fields(header)[0]
                        joined[target] = joined.get(target, b"") + data
                self.assertEqual(joined, {b"docs\\a.txt": self.files["a.txt"],
                                          b"Engine.exe*-x": self.files["Engine.exe"]})
                count = sum(len(d.entries) for d in disks)
                self.assertTrue(all(d.files == count for d in disks + [first]))
                self.assertEqual([bool(d.flags & 2) for d in disks], [True] * (len(disks) - 1) + [False])
                if len(written) > 1:
                    self.assertTrue(first.flags & 4 and not first.entries)
                    self.assertTrue(all(d.payload == 4 for d in disks[1:]))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    TOOL = os.path.abspath(sys.argv.pop())
    unittest.main()

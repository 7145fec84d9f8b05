#!/usr/bin/env python3
"""Makes a linked Stub.exe conform to the package format, and checks it.

  pe_image.py conform <exe>            move the PE header to offset 256, zero 248..255
  pe_image.py check <exe> <machine>    verify the image and its manifest (machine: i386 or amd64)

The package reader finds the stub's own PE header at the fixed offset 256 and
keeps the build length in bytes 248..255, just before it, so both must hold
in every stub the build tool is given.
"""
import struct
import sys

PE_OFFSET = 256
MACHINES = {"i386": 0x014C, "amd64": 0x8664}
GUI_SUBSYSTEM = 2
# Libraries the loader takes from the system folder whatever lies beside the
# executable; any other load-time import could be planted next to a download.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
              "ole32.dll", "msvcrt.dll", "comdlg32.dll", "shlwapi.dll", "ntdll.dll"}


def fail(msg):
    sys.stderr.write("pe_image: %s\n" % msg)
    sys.exit(1)


def headers(data):
    if data[:2] != b"MZ":
        fail("no MZ signature")
    lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    if data[lfanew:lfanew + 4] != b"PE\0\0":
        fail("no PE signature at e_lfanew %d" % lfanew)
    machine, nsections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, lfanew + 4)
    opt = lfanew + 24
    size_of_headers = struct.unpack_from("<I", data, opt + 60)[0]
    end = opt + opt_size + 40 * nsections
    first_raw = min((struct.unpack_from("<I", data, opt + opt_size + 40 * i + 20)[0]
                     for i in range(nsections)
                     if struct.unpack_from("<I", data, opt + opt_size + 40 * i + 20)[0]),
                    default=size_of_headers)
    return lfanew, end, min(size_of_headers, first_raw), machine, opt, opt_size, nsections


def conform(path):
    data = bytearray(open(path, "rb").read())
    lfanew, end, limit, *_ = headers(data)
    length = end - lfanew
    if PE_OFFSET + length > limit:
        fail("headers of %d bytes do not fit between offset %d and the first section at %d"
             % (length, PE_OFFSET, limit))
    block = bytes(data[lfanew:end])
    # The DOS stub before the old header stays; everything from there on is rewritten.
    start, stop = min(lfanew, 248), max(end, PE_OFFSET + length)
    data[start:stop] = bytes(stop - start)
    data[PE_OFFSET:PE_OFFSET + length] = block
    struct.pack_into("<I", data, 0x3C, PE_OFFSET)
    open(path, "wb").write(data)


def rva_to_offset(data, opt, opt_size, nsections):
    sections = [struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8) for i in range(nsections)]

    def to_off(r):
        for vsize, vaddr, rsize, raw in sections:
            if vaddr <= r < vaddr + max(vsize, rsize):
                return r - vaddr + raw
        fail("RVA %#x outside every section" % r)
    return to_off


def imports(data, opt, opt_size, nsections, pe32plus):
    dir_off = opt + (112 if pe32plus else 96) + 8  # data directory 1: imports
    rva = struct.unpack_from("<I", data, dir_off)[0]
    if rva == 0:
        return []
    to_off = rva_to_offset(data, opt, opt_size, nsections)

    names, off = [], to_off(rva)
    while True:
        name_rva = struct.unpack_from("<I", data, off + 12)[0]
        if name_rva == 0:
            return names
        n = to_off(name_rva)
        names.append(bytes(data[n:data.index(b"\0", n)]).decode().lower())
        off += 20


# The application manifest: run as the invoker (no installer detection, no
# file virtualization), on Vista, 7, 8, 8.1 and 10/11.
REQUIRED_MANIFEST = [
    'level="asInvoker"',
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
]


def manifest(data, opt, opt_size, nsections, pe32plus):
    """The text of resource 1 of type 24 (RT_MANIFEST), or None."""
    dir_off = opt + (112 if pe32plus else 96) + 16  # data directory 2: resources
    rva = struct.unpack_from("<I", data, dir_off)[0]
    if rva == 0:
        return None
    to_off = rva_to_offset(data, opt, opt_size, nsections)
    root = to_off(rva)

    def entries(table):
        named, ids = struct.unpack_from("<HH", data, table + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, table + 16 + 8 * i)

    def child(table, wanted):
        for name, target in entries(table):
            if wanted is None or name == wanted:
                return target
        return None

    node = root
    for wanted in (24, 1, None):  # type, name, first language
        target = child(node, wanted)
        if target is None:
            return None
        node = root + (target & 0x7FFFFFFF)
    data_rva, size = struct.unpack_from("<II", data, node)
    start = to_off(data_rva)
    return bytes(data[start:start + size]).decode("utf-8", "replace")


def check(path, machine_name):
    data = open(path, "rb").read()
    lfanew, _, _, machine, opt, opt_size, nsections = headers(data)
    if lfanew != PE_OFFSET or data[PE_OFFSET:PE_OFFSET + 2] != b"PE":
        fail("PE header at %d, not at %d" % (lfanew, PE_OFFSET))
    if data[248:256] != bytes(8):
        fail("bytes 248..255 are not zero")
    if machine != MACHINES[machine_name]:
        fail("machine %#x, expected %s" % (machine, machine_name))
    magic = struct.unpack_from("<H", data, opt)[0]
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    if subsystem != GUI_SUBSYSTEM:
        fail("subsystem %d, expected the GUI subsystem" % subsystem)
    planted = [d for d in imports(data, opt, opt_size, nsections, magic == 0x20B) if d not in KNOWN_DLLS]
    if planted:
        fail("load-time imports outside the known system libraries: %s" % ", ".join(planted))
    text = manifest(data, opt, opt_size, nsections, magic == 0x20B)
    if text is None:
        fail("no application manifest (resource 1 of type 24)")
    missing = [m for m in REQUIRED_MANIFEST if m not in text]
    if missing:
        fail("the manifest lacks %s" % ", ".join(missing))
    print("%s: MZ, PE at %d, %s, GUI subsystem, 248..255 zero, imports ok, manifest ok"
          % (path, PE_OFFSET, machine_name))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "conform":
        conform(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "check" and sys.argv[3] in MACHINES:
        check(sys.argv[2], sys.argv[3])
    else:
        fail("usage: pe_image.py conform <exe> | check <exe> i386|amd64")

#!/usr/bin/python3
"""Checks what tovalisk.exe carries, by reading its PE headers.

    check_exe.py TOVALISK_EXE TOVALISK_ICO

- a GUI-subsystem x86-64 program;
- imports from system DLLs only (no compiler runtime DLLs, so the one .exe runs on a plain
  Windows installation), among them the three the program is written against;
- icon group 128 of a 32 x 32 and a 16 x 16 256-colour image whose data are exactly the
  images of the generated tovalisk.ico.
"""
import struct
import sys

RT_ICON = 3
RT_GROUP_ICON = 14
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "msvcrt.dll"}
NEEDED_DLLS = {"user32.dll", "gdi32.dll", "winmm.dll"}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


class Image:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise SystemExit("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise SystemExit("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data,
                                                                               pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic != 0x20B:
            raise SystemExit(f"not a PE32+ image (magic {self.magic:#x})")
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + 112
        self.imports_rva = struct.unpack_from("<I", data, directories + 8)[0]
        self.resources_rva = struct.unpack_from("<I", data, directories + 16)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", data, table + 40 * i)
            self.sections.append((address, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise SystemExit(f"address {rva:#x} is in no section")

    def c_string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imported_dlls(self):
        dlls = []
        at = self.offset(self.imports_rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if (lookup, name, thunks) == (0, 0, 0):
                return dlls
            dlls.append(self.c_string(name))
            at += 20

    def resources(self):
        """{(type, id): data} for numbered types and names, first language of each."""
        if self.resources_rva == 0:
            return {}
        base = self.offset(self.resources_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield key, target

        found = {}
        for kind, kinds in entries(0):
            if kind & 0x80000000 or not kinds & 0x80000000:
                continue
            for name, names in entries(kinds & 0x7FFFFFFF):
                if name & 0x80000000 or not names & 0x80000000:
                    continue
                for _, leaf in entries(names & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(rva)
                    found[(kind, name)] = self.data[at:at + size]
                    break
        return found


def main():
    exe = Image(open(sys.argv[1], "rb").read())
    ico = open(sys.argv[2], "rb").read()

    check(exe.machine == 0x8664, f"machine {exe.machine:#x}, not x86-64")
    check(exe.subsystem == 2, f"subsystem {exe.subsystem}, not the Windows GUI")

    dlls = [d.lower() for d in exe.imported_dlls()]
    for dll in dlls:
        check(dll in SYSTEM_DLLS or dll.startswith("api-ms-win-"), f"imports {dll}")
    check(NEEDED_DLLS <= set(dlls), f"imports {sorted(dlls)}")

    resources = exe.resources()
    group = resources.get((RT_GROUP_ICON, 128))
    if check(group is not None, "no icon group 128"):
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        check((reserved, kind, count) == (0, 1, 2), f"icon group {reserved} {kind} {count}")
        for i in range(count):
            w, h, colours, _, planes, bits, size, number = struct.unpack_from("<BBBBHHIH", group,
                                                                              6 + 14 * i)
            # The file lists the same images in the same order.
            fw, _, _, _, _, _, fsize, foffset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
            check((w, h, colours, bits) == ((32, 16)[i], (32, 16)[i], 0, 8),
                  f"group entry {i}: {w}x{h}, {colours} colours, {bits} bits")
            image = resources.get((RT_ICON, number))
            if check(image is not None, f"group entry {i}: no icon {number}"):
                check(len(image) == size, f"icon {number}: {len(image)} bytes, {size} listed")
                check(w == fw and image == ico[foffset:foffset + fsize],
                      f"icon {number} is not the {fw}x{fw} image of the .ico")

    for failure in failures:
        print("FAIL:", failure)
    print(f"check_exe: imports {', '.join(dlls)}; {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

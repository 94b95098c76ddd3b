#!/usr/bin/env python3
"""Checks the deliverable DLL as the host and Windows see it: a PE32 for i386
with the two undecorated exports, imports from system DLLs only, the
configuration dialog and the version strings."""
import struct
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "winmm.dll", "msvcrt.dll",
               "gdi32.dll", "shell32.dll", "ole32.dll", "comctl32.dll", "comdlg32.dll"}


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rawsize), raw))

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva %x outside the sections" % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("latin-1")

    def exports(self):
        rva, _ = self.dirs[0]
        if not rva:
            return []
        o = self.off(rva)
        count = struct.unpack_from("<I", self.data, o + 24)[0]
        names_rva = struct.unpack_from("<I", self.data, o + 32)[0]
        return [self.cstr(struct.unpack_from("<I", self.data, self.off(names_rva) + 4 * i)[0]) for i in range(count)]

    def imports(self):
        rva, _ = self.dirs[1]
        out, o = [], self.off(rva)
        while True:
            name = struct.unpack_from("<I", self.data, o + 12)[0]
            if not name:
                return out
            out.append(self.cstr(name))
            o += 20

    def resources(self):
        """(type, name, language) -> bytes, for numeric ids."""
        base_rva, _ = self.dirs[2]
        base = self.off(base_rva)
        found = {}

        def walk(o, path):
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                key = path + [ident if not ident & 0x80000000 else None]
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    found[tuple(key)] = self.data[self.off(rva):self.off(rva) + size]

        walk(base, [])
        return found


def utf16(text):
    return text.encode("utf-16-le")


def check(path):
    pe = Pe(open(path, "rb").read())
    problems = []
    if pe.machine != 0x14C or pe.magic != 0x10B:
        problems.append("not PE32 for i386 (machine %#x, magic %#x)" % (pe.machine, pe.magic))
    exports = pe.exports()
    for name in ("winampGetGeneralPurposePlugin", "DllMain"):
        if name not in exports:
            problems.append("export %s missing (have %s)" % (name, exports))
    for dll in pe.imports():
        if dll.lower() not in SYSTEM_DLLS:
            problems.append("imports non-system DLL " + dll)

    res = pe.resources()
    dialogs = [v for k, v in res.items() if k[0] == 5 and k[1] == 101]
    if len(dialogs) != 1:
        problems.append("dialog 101 missing")
    else:
        d = dialogs[0]
        style, exstyle, items, x, y, cx, cy = struct.unpack_from("<IIHhhhh", d, 0)
        if (cx, cy, x, y, exstyle) != (174, 58, 0, 0, 0):
            problems.append("dialog geometry %s" % ((x, y, cx, cy, exstyle),))
        want_style = 0x80000000 | 0x10000000 | 0x00C00000 | 0x00080000 | 0x80 | 0x40 | 0x200 | 0x800
        if style != want_style:
            problems.append("dialog style %#x, want %#x" % (style, want_style))
        if items != 4:
            problems.append("dialog has %d controls" % items)
        for text in ("Configura", "MS Sans Serif", "Porta di comunicazione:", "OK", "Cancel"):
            if utf16(text + "\0") not in d:
                problems.append("dialog text %r missing" % text)
        if struct.pack("<H", 1000) not in d:
            problems.append("combo box 1000 missing")
        languages = [k[2] for k in res if k[0] == 5 and k[1] == 101]
        if languages != [0x410]:
            problems.append("dialog language %s" % languages)

    versions = [v for k, v in res.items() if k[0] == 16]
    if len(versions) != 1:
        problems.append("version resource missing")
    else:
        v = versions[0]
        if utf16("041004b0") not in v:
            problems.append("no Italian (0410) code page 1200 string table")
        strings = {
            "FileDescription": "Plugin per il WinAmp di Norvelo",
            "FileVersion": "0, 0, 0, 1",
            "ProductVersion": "0, 0, 0, 1",
            "InternalName": "gen_norvelo",
            "OriginalFilename": "gen_norvelo.dll",
            "ProductName": "Norvelo general plugin",
            "CompanyName": "Norvelo developers",
            "LegalCopyright": "Copyright (C) 2026 Norvelo developers",
        }
        for key, value in strings.items():
            at = v.find(utf16(key + "\0"))
            if at < 0:
                problems.append("version string %s missing" % key)
                continue
            start = at + len(utf16(key + "\0"))
            start += start % 4  # values start on a 32-bit boundary
            if not v[start:].startswith(utf16(value + "\0")):
                problems.append("version string %s is not %r" % (key, value))
        if struct.pack("<HH", 0x410, 1200) not in v:
            problems.append("translation 0x410/1200 missing")
        fixed = v.find(struct.pack("<I", 0xFEEF04BD))
        if fixed < 0:
            problems.append("fixed file info missing")
        else:
            _, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", v, fixed)
            filetype = struct.unpack_from("<I", v, fixed + 36)[0]
            if (fms, fls, pms, pls) != (0, 1, 0, 1) or filetype != 2:
                problems.append("fixed file info %s type %d" % ((fms, fls, pms, pls), filetype))
    return problems


if __name__ == "__main__":
    problems = check(sys.argv[1])
    for p in problems:
        print("FAIL:", p)
    print("ok" if not problems else "%d problem(s)" % len(problems))
    sys.exit(1 if problems else 0)

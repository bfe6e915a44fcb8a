#!/usr/bin/env python3
"""Checks of the built updater program, read straight from its PE file.

Usage: check_exe.py [--arch i386|amd64] PATH_TO_EXE

The product is a 32-bit program (--arch i386, the default); the 64-bit build of the same sources
that the end-to-end tests run is checked with --arch amd64. Prints one line per check and a
closing "N passed, N failed" line; exits 1 when any check failed, 2 when the file cannot be read
as a PE image at all. Python 3 standard library only.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

MACHINES = {"i386": (0x014C, 0x10B, "PE32"), "amd64": (0x8664, 0x20B, "PE32+")}
SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
SECTION_EXECUTE = 0x20000000
SECTION_WRITE = 0x80000000
DIRECTORY_IMPORT = 1
DIRECTORY_RESOURCE = 2
DIRECTORY_BASERELOC = 5
DIRECTORY_DELAY_IMPORT = 13
RT_DIALOG = 5
RT_MANIFEST = 24
RT_VERSION = 16
LANG_JAPANESE = 1041
# Windows' own libraries; the C runtime is linked statically apart from msvcrt's exports.
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll", "msvcrt.dll"}


class BadImage(Exception):
    pass


class Image:
    """The headers, sections and data directories of a PE file, with reads by RVA."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise BadImage("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("no PE signature")
        coff = pe + 4
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        self.magic = self.u16(optional)
        if self.magic not in (0x10B, 0x20B):
            raise BadImage("optional header magic 0x%X" % self.magic)
        self.subsystem = self.u16(optional + 68)
        self.dll_characteristics = self.u16(optional + 70)
        count_offset = optional + (92 if self.magic == 0x10B else 108)
        count = self.u32(count_offset)
        self.directories = [struct.unpack_from("<II", data, count_offset + 4 + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            raw_name, vsize, vaddr, rsize, rptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = self.u32(table + 40 * i + 36)
            name = raw_name.rstrip(b"\0").decode("latin-1")
            self.sections.append((name, vaddr, max(vsize, rsize), rsize, rptr, flags))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for _, vaddr, size, rsize, rptr, _ in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= rsize:
                    raise BadImage("RVA 0x%X lies in uninitialised data" % rva)
                return rptr + rva - vaddr
        raise BadImage("RVA 0x%X is in no section" % rva)

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def c_string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("latin-1")


def imported_dlls(image):
    names = []
    rva, size = image.directory(DIRECTORY_IMPORT)
    if rva:
        at = image.offset(rva)
        while True:
            original, _, _, name, first = struct.unpack_from("<IIIII", image.data, at)
            if (original, name, first) == (0, 0, 0):
                break
            names.append(image.c_string(name))
            at += 20
    rva, size = image.directory(DIRECTORY_DELAY_IMPORT)
    if rva:
        at = image.offset(rva)
        while True:
            fields = struct.unpack_from("<8I", image.data, at)
            if not any(fields):
                break
            names.append(image.c_string(fields[1]))
            at += 32
    return names


def resources(image):
    """{(type, name, language): bytes} for every resource with integer ids ("#name" otherwise)."""
    rva, _ = image.directory(DIRECTORY_RESOURCE)
    if not rva:
        return {}
    root = image.offset(rva)
    found = {}

    def entries(directory_offset):
        named, numbered = struct.unpack_from("<HH", image.data, directory_offset + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", image.data, directory_offset + 16 + 8 * i)
            if ident & 0x80000000:
                at = root + (ident & 0x7FFFFFFF)
                length = image.u16(at)
                ident = "#" + image.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield ident, target

    for type_id, type_target in entries(root):
        for name_id, name_target in entries(root + (type_target & 0x7FFFFFFF)):
            for lang_id, lang_target in entries(root + (name_target & 0x7FFFFFFF)):
                data_rva, data_size, _, _ = struct.unpack_from("<IIII", image.data, root + lang_target)
                start = image.offset(data_rva)
                found[(type_id, name_id, lang_id)] = image.data[start:start + data_size]
    return found


# ---- The progress dialog, as a DLGTEMPLATEEX ----

def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


def class_ordinal(value):
    return struct.pack("<HH", 0xFFFF, value)


def pad4(blob):
    return blob + b"\0" * (-len(blob) % 4)


EXPECTED_DIALOG = {
    "version": 1, "signature": 0xFFFF, "helpID": 0, "exStyle": 0, "style": 0x80080048, "controls": 3,
    "x": 0, "y": 0, "cx": 213, "cy": 138, "menu": "none", "class": "default", "title": "",
    "pointsize": 8, "weight": 400, "italic": 0, "charset": 1, "typeface": "MS Shell Dlg",
}
EXPECTED_CONTROLS = [
    {"helpID": 0, "exStyle": 0, "style": 0x50800000, "x": 25, "y": 63, "cx": 80, "cy": 14, "id": 1001,
     "class": "msctls_progress32", "title": "", "extra": 0},
    {"helpID": 0, "exStyle": 0, "style": 0x50800000, "x": 25, "y": 90, "cx": 156, "cy": 14, "id": 1002,
     "class": "msctls_progress32", "title": "", "extra": 0},
    {"helpID": 0, "exStyle": 0, "style": 0x50020000, "x": 25, "y": 24, "cx": 166, "cy": 8, "id": 1003,
     "class": 0x0082, "title": "スタティック", "extra": 0},
]


def sz_or_ord_bytes(value, none_word):
    if value == none_word:
        return b"\0\0"
    if isinstance(value, int):
        return class_ordinal(value)
    return utf16z(value)


def expected_dialog_bytes():
    d = EXPECTED_DIALOG
    blob = struct.pack("<HHIIIHhhhh", d["version"], d["signature"], d["helpID"], d["exStyle"], d["style"],
                       d["controls"], d["x"], d["y"], d["cx"], d["cy"])
    blob += b"\0\0" + b"\0\0" + utf16z(d["title"])  # no menu, default class
    blob += struct.pack("<HHBB", d["pointsize"], d["weight"], d["italic"], d["charset"]) + utf16z(d["typeface"])
    for c in EXPECTED_CONTROLS:
        blob = pad4(blob)
        blob += struct.pack("<IIIhhhhI", c["helpID"], c["exStyle"], c["style"], c["x"], c["y"], c["cx"], c["cy"],
                            c["id"])
        blob += sz_or_ord_bytes(c["class"], None) + sz_or_ord_bytes(c["title"], None)
        blob += struct.pack("<H", c["extra"])
    return blob


class Reader:
    def __init__(self, blob):
        self.blob = blob
        self.at = 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.blob, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def sz_or_ord(self):
        first = self.take("H")
        if first == 0:
            return "none"
        if first == 0xFFFF:
            return self.take("H")
        start = self.at - 2
        while self.take("H") != 0:
            pass
        return self.blob[start:self.at - 2].decode("utf-16-le")

    def align4(self):
        self.at += -self.at % 4


def parse_dialog(blob):
    """The template's fields, for messages that name the field that differs."""
    r = Reader(blob)
    d = {}
    (d["version"], d["signature"], d["helpID"], d["exStyle"], d["style"], d["controls"], d["x"], d["y"], d["cx"],
     d["cy"]) = r.take("HHIIIHhhhh")
    d["menu"] = r.sz_or_ord()
    window_class = r.sz_or_ord()
    d["class"] = "default" if window_class == "none" else window_class
    title = r.sz_or_ord()
    d["title"] = "" if title == "none" else title
    if d["style"] & 0x40:  # DS_SETFONT
        d["pointsize"], d["weight"], d["italic"], d["charset"] = r.take("HHBB")
        d["typeface"] = r.sz_or_ord()
    controls = []
    for _ in range(d["controls"]):
        r.align4()
        c = {}
        c["helpID"], c["exStyle"], c["style"], c["x"], c["y"], c["cx"], c["cy"], c["id"] = r.take("IIIhhhhI")
        c["class"] = r.sz_or_ord()
        title = r.sz_or_ord()
        c["title"] = "" if title == "none" else title
        c["extra"] = r.take("H")
        r.at += c["extra"]
        controls.append(c)
    return d, controls, r.at


def dialog_differences(blob):
    differences = []
    try:
        dialog, controls, _ = parse_dialog(blob)
    except (struct.error, UnicodeDecodeError) as error:
        return ["cannot be read as DLGTEMPLATEEX: %s" % error]
    for field, want in EXPECTED_DIALOG.items():
        if dialog.get(field) != want:
            differences.append("%s is %r, expected %r" % (field, dialog.get(field), want))
    for index, want_control in enumerate(EXPECTED_CONTROLS):
        if index >= len(controls):
            differences.append("control %d missing" % index)
            continue
        for field, want in want_control.items():
            got = controls[index][field]
            if got != want:
                differences.append("control %d (id %s) %s is %r, expected %r" % (
                    index, controls[index]["id"], field, got, want))
    return differences


# ---- The checks ----

def manifest_execution_level(blob):
    text = blob.decode("utf-8-sig")
    for element in ElementTree.fromstring(text).iter():
        if element.tag.rsplit("}", 1)[-1] == "requestedExecutionLevel":
            return element.get("level"), element.get("uiAccess")
    return None


def run_checks(image, arch):
    machine, magic, kind = MACHINES[arch]
    results = []

    def check(name, ok, detail=""):
        results.append((name, bool(ok), detail))

    check("%s image (magic 0x%X)" % (kind, magic), image.magic == magic, "magic is 0x%X" % image.magic)
    check("machine 0x%04X (%s)" % (machine, arch), image.machine == machine, "machine is 0x%04X" % image.machine)
    check("GUI subsystem", image.subsystem == SUBSYSTEM_WINDOWS_GUI, "subsystem is %d" % image.subsystem)
    check("DllCharacteristics has DYNAMIC_BASE", image.dll_characteristics & DYNAMIC_BASE,
          "DllCharacteristics 0x%04X" % image.dll_characteristics)
    check("DllCharacteristics has NX_COMPAT", image.dll_characteristics & NX_COMPAT,
          "DllCharacteristics 0x%04X" % image.dll_characteristics)
    # DYNAMIC_BASE moves nothing without base relocations to apply.
    check("base relocations present (ASLR effective)", image.directory(DIRECTORY_BASERELOC)[1] > 0,
          "relocation directory %r" % (image.directory(DIRECTORY_BASERELOC),))
    # The stack protector's failure handler is linked in only when some function is protected.
    check("stack protector compiled in", b"stack smashing detected" in image.data,
          "no stack protector failure handler in the file")
    wx = [s[0] for s in image.sections if s[5] & SECTION_EXECUTE and s[5] & SECTION_WRITE]
    check("no section both writable and executable", not wx, "sections %s" % wx)

    dlls = imported_dlls(image)
    foreign = sorted({d for d in dlls if d.lower() not in ALLOWED_DLLS})
    check("imports only from Windows' own DLLs", dlls and not foreign,
          "foreign: %s" % foreign if foreign else "no imports found")

    found = resources(image)
    manifests = [blob for (t, _, _), blob in found.items() if t == RT_MANIFEST]
    if len(manifests) != 1:
        check("one manifest resource", False, "%d found" % len(manifests))
    else:
        try:
            level = manifest_execution_level(manifests[0])
        except (ElementTree.ParseError, UnicodeDecodeError) as error:
            level = "unreadable: %s" % error
        check('manifest requests level="asInvoker" uiAccess="false"', level == ("asInvoker", "false"),
              "requestedExecutionLevel %r" % (level,))

    versions = [blob for (t, _, _), blob in found.items() if t == RT_VERSION]
    description = "ゲームのアップデートプログラム".encode("utf-16-le")
    check("version resource names the program", len(versions) == 1 and description in versions[0],
          "%d version resources" % len(versions))

    dialogs = {lang: blob for (t, name, lang), blob in found.items() if t == RT_DIALOG and name == 9}
    check("dialog 9 only in language %d" % LANG_JAPANESE, list(dialogs) == [LANG_JAPANESE],
          "languages %s" % sorted(dialogs))
    blob = dialogs.get(LANG_JAPANESE)
    if blob is not None:
        differences = dialog_differences(blob)
        check("dialog 9 fields", not differences, "; ".join(differences))
        expected = expected_dialog_bytes()
        # The resource's size may be rounded up to whole DWORDs with zero bytes.
        exact = blob == expected or (blob.startswith(expected) and len(blob) - len(expected) < 4
                                     and not blob[len(expected):].strip(b"\0"))
        check("dialog 9 byte for byte", exact, "got %s, expected %s" % (blob.hex(), expected.hex()))
    return results


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=sorted(MACHINES), default="i386")
    parser.add_argument("exe")
    args = parser.parse_args(argv)
    try:
        with open(args.exe, "rb") as f:
            image = Image(f.read())
        results = run_checks(image, args.arch)
    except (OSError, BadImage, struct.error, ValueError) as error:
        print("FAIL - %s cannot be read as a PE image: %s" % (args.exe, error))
        return 2
    failed = 0
    for name, ok, detail in results:
        if ok:
            print("ok   - %s" % name)
        else:
            failed += 1
            print("FAIL - %s: %s" % (name, detail))
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Proves that check_exe.py notices faults: each case damages one field of a built program in
memory and expects exactly the checks about that field to fail.

Usage: check_exe_test.py [--arch i386|amd64] PATH_TO_EXE
"""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_exe  # noqa: E402

EXE = None
ARCH = "i386"


def failing(data):
    return sorted(name for name, ok, _ in check_exe.run_checks(check_exe.Image(bytes(data)), ARCH) if not ok)


def header_offsets(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    return pe + 4, optional, optional + optional_size


def replace_once(data, old, new):
    assert len(old) == len(new)
    at = bytes(data).find(old)
    assert at >= 0, old
    data[at:at + len(old)] = new


def dialog_offset(data):
    image = check_exe.Image(bytes(data))
    blob = image.data
    found = check_exe.resources(image)[(check_exe.RT_DIALOG, 9, check_exe.LANG_JAPANESE)]
    return blob.find(found)


class CheckExeTest(unittest.TestCase):
    def setUp(self):
        with open(EXE, "rb") as f:
            self.data = bytearray(f.read())

    def assertFails(self, *fragments):
        names = failing(self.data)
        self.assertEqual(len(names), len(fragments), names)
        for fragment in fragments:
            self.assertTrue(any(fragment in name for name in names), (fragment, names))

    def test_built_program_passes(self):
        self.assertEqual(failing(self.data), [])

    def test_other_machine(self):
        coff, _, _ = header_offsets(self.data)
        struct.pack_into("<H", self.data, coff, 0x01C4)  # ARMNT
        self.assertFails("machine")

    def test_console_subsystem(self):
        _, optional, _ = header_offsets(self.data)
        struct.pack_into("<H", self.data, optional + 68, 3)
        self.assertFails("GUI subsystem")

    def test_missing_dynamic_base_and_nx(self):
        _, optional, _ = header_offsets(self.data)
        flags = struct.unpack_from("<H", self.data, optional + 70)[0]
        struct.pack_into("<H", self.data, optional + 70, flags & ~0x0040)
        self.assertFails("DYNAMIC_BASE")
        struct.pack_into("<H", self.data, optional + 70, flags & ~0x0100)
        self.assertFails("NX_COMPAT")

    def test_writable_code_section(self):
        _, _, table = header_offsets(self.data)
        flags = struct.unpack_from("<I", self.data, table + 36)[0]  # the first section, .text
        struct.pack_into("<I", self.data, table + 36, flags | 0xA0000000)
        self.assertFails("writable and executable")

    def test_foreign_dll_and_case_of_names(self):
        lower = bytes(self.data).lower()
        at = lower.find(b"kernel32.dll")
        self.data[at:at + 12] = b"KERNEL32.DLL"
        self.assertEqual(failing(self.data), [], "DLL names compare without case")
        self.data[at:at + 12] = b"ucrtbase.dll"
        self.assertFails("imports only")

    def test_manifest_asking_for_more(self):
        replace_once(self.data, b'uiAccess="false"', b'uiAccess="true "')
        self.assertFails("manifest")

    def test_dialog_class_in_upper_case(self):
        upper = "MSCTLS_PROGRESS32".encode("utf-16-le")
        replace_once(self.data, "msctls_progress32".encode("utf-16-le"), upper)
        self.assertFails("dialog 9 fields", "dialog 9 byte for byte")

    def test_dialog_fields(self):
        base = dialog_offset(self.data)
        cases = [
            ("style", base + 12, "<I", 0x80C80048),   # WS_CAPTION added
            ("width", base + 22, "<h", 214),
            ("font weight", base + 34, "<H", 700),
            ("tick bar x", base + 64 + 12, "<h", 26),
            ("status label id", base + 192 + 20, "<I", 1004),
            ("static class ordinal", base + 192 + 26, "<H", 0x0081),
        ]
        original = bytes(self.data)
        for name, offset, fmt, value in cases:
            with self.subTest(name):
                self.data[:] = original
                struct.pack_into(fmt, self.data, offset, value)
                self.assertFails("dialog 9 fields", "dialog 9 byte for byte")


if __name__ == "__main__":
    args = sys.argv[1:]
    if args[:1] == ["--arch"]:
        ARCH = args[1]
        args = args[2:]
    if len(args) != 1:
        sys.exit(__doc__)
    EXE = args[0]
    unittest.main(argv=[sys.argv[0]], verbosity=2)

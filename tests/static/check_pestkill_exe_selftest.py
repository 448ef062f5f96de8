#!/usr/bin/python3
"""Shows that check_pestkill_exe.py catches each fault it is there for.

Usage: check_pestkill_exe_selftest.py PATH-TO-PESTKILL.EXE

The built executable must pass; then each row below breaks one property in a copy
held in memory (one header field, one manifest attribute, one version string, one
import) and the checks must name that fault.
"""
import os
import struct
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pestkill_exe  # noqa: E402


def utf16(text):
    return text.encode("utf-16-le")


def replace_once(old, new):
    """A mutation that swaps one unique byte string for another of the same length."""
    assert len(old) == len(new), (old, new)

    def mutate(data, pe):
        assert data.count(old) == 1, "%r occurs %d times" % (old, data.count(old))
        return data.replace(old, new)
    return mutate


def put_u16(offset_of, value):
    def mutate(data, pe):
        offset = offset_of(pe)
        return data[:offset] + struct.pack("<H", value) + data[offset + 2:]
    return mutate


def put_u32(offset_of, value):
    def mutate(data, pe):
        offset = offset_of(pe)
        return data[:offset] + struct.pack("<I", value) + data[offset + 4:]
    return mutate


def version_resource_range(pe):
    """File offsets [start, end) of the version resource's bytes."""
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id == check_pestkill_exe.RT_VERSION:
            data = type_entry.directory.entries[0].directory.entries[0].data.struct
            start = pe.get_offset_from_rva(data.OffsetToData)
            return start, start + data.Size
    raise AssertionError("no version resource")


def version_value_offset(data, pe, key):
    """File offset of the value behind a key of the version resource."""
    key_bytes = utf16(key + "\0")
    start, end = version_resource_range(pe)
    block = data[start:end]
    assert block.count(key_bytes) == 1, "%r occurs %d times" % (key, block.count(key_bytes))
    offset = start + block.index(key_bytes) + len(key_bytes)
    return offset + (-offset % 4)  # values are aligned on 32 bits


def version_string(key, new_value):
    """A String value of the version resource, replaced by one of the same length."""
    def mutate(data, pe):
        start = version_value_offset(data, pe, key)
        value = utf16(new_value)
        old_length = data.index(b"\0\0", start) - start
        old_length += old_length % 2
        assert old_length == len(value), (data[start:start + old_length], value)
        return data[:start] + value + data[start + len(value):]
    return mutate


def translation_code_page(value):
    """The code page half of the VarFileInfo Translation pair."""
    def mutate(data, pe):
        start = version_value_offset(data, pe, "Translation")
        assert data[start:start + 4] == b"\x09\x04\xb0\x04", data[start:start + 4]
        return data[:start + 2] + struct.pack("<H", value) + data[start + 4:]
    return mutate


ROWS = [
    ("machine x86-64", put_u16(lambda pe: pe.FILE_HEADER.get_field_absolute_offset("Machine"), 0x8664), "machine is 0x8664"),
    ("GUI subsystem", put_u16(lambda pe: pe.OPTIONAL_HEADER.get_field_absolute_offset("Subsystem"), 2), "subsystem is 2"),
    ("subsystem version 5.02",
     put_u16(lambda pe: pe.OPTIONAL_HEADER.get_field_absolute_offset("MinorSubsystemVersion"), 2), "subsystem version is 5.02"),
    ("execution level", replace_once(b'"requireAdministrator"', b'"requireAdministrat0r"'), "requestedExecutionLevel level"),
    ("uiAccess", replace_once(b'uiAccess="false"', b'uiAccess="fals3"'), "uiAccess"),
    ("manifest architecture", replace_once(b'processorArchitecture="x86"', b'processorArchitecture="x64"'), "processorArchitecture"),
    ("manifest line end", replace_once(b'encoding="UTF-8" standalone="yes"?>\r\n', b'encoding="UTF-8" standalone="yes"?> \n'), "CR LF"),
    ("manifest description", replace_once(b"Trojan Removal Tool", b"Trojan Removal Too1"), "description"),
    ("product name blank", version_string("ProductName", "_pestkill"), "ProductName"),
    ("internal name", version_string("InternalName", "pestkil1"), "InternalName"),
    ("file description full stop", version_string("FileDescription", "Utility to remove Trojan.Kestrelon.Ge."), "FileDescription"),
    ("file flags mask",
     put_u32(lambda pe: pe.VS_FIXEDFILEINFO[0].get_field_absolute_offset("FileFlagsMask"), 0x3F), "FileFlagsMask"),
    ("file version",
     put_u32(lambda pe: pe.VS_FIXEDFILEINFO[0].get_field_absolute_offset("FileVersionLS"), 2), "FileVersionLS"),
    ("translation code page", translation_code_page(1252), "Translation"),
    ("import from another DLL", replace_once(b"USER32.dll\0", b"USERXX.dll\0"), "imports from USERXX.dll"),
    ("Toolhelp import", replace_once(b"ExitWindowsEx\0", b"Process32Next\0"), "USER32.dll!Process32Next"),
    ("import Windows XP lacks", replace_once(b"TerminateProcess\0", b"GetTickCount64\0\0\0"), "GetTickCount64"),
    ("library name not resolved by name", replace_once(b"Kernel32.DLL\0", b"Kernel33.DLL\0"), "'Kernel32.DLL'"),
]


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    with open(argv[1], "rb") as image:
        original = image.read()
    problems = []
    baseline = check_pestkill_exe.run_checks(pefile.PE(data=original))
    if baseline:
        problems.append("the built executable fails: %s" % baseline)
    parsed = pefile.PE(data=original)
    for name, mutate, expected in ROWS:
        try:
            broken = mutate(original, parsed)
        except AssertionError as error:
            problems.append("%s: cannot apply: %s" % (name, error))
            continue
        failures = check_pestkill_exe.run_checks(pefile.PE(data=broken))
        if not any(expected in failure for failure in failures):
            problems.append("%s: not caught (expected %r among %s)" % (name, expected, failures))
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("%d faults caught" % len(ROWS))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

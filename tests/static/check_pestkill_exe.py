#!/usr/bin/python3
"""Checks the shipped 32-bit pestkill.exe without running it.

Usage: check_pestkill_exe.py PATH-TO-PESTKILL.EXE

The machines that build it cannot execute 32-bit code, so what Windows will see is
read from the file: the PE32 headers, the console subsystem for Windows XP, the
application manifest and the version resource, and the import table (only system
DLLs, and no Toolhelp function, since those are resolved by name at run time).
Every failed check is printed; the exit status is 1 when any failed.
"""
import sys
import xml.etree.ElementTree as ElementTree

import pefile

RT_VERSION = 16
RT_MANIFEST = 24
LANG_EN_US = 1033

ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll"}
TOOLHELP_FUNCTIONS = {
    "CreateToolhelp32Snapshot", "Process32First", "Process32Next", "Module32First", "Module32Next",
    "Process32FirstW", "Process32NextW", "Module32FirstW", "Module32NextW",
}
# Imports that would keep the program from loading on Windows XP SP3: functions that
# came with Vista, the usual way a newer runtime library slips them in.
NOT_ON_XP = {
    "GetTickCount64", "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared",
    "ReleaseSRWLockExclusive", "ReleaseSRWLockShared", "InitializeConditionVariable",
    "SleepConditionVariableCS", "SleepConditionVariableSRW", "WakeConditionVariable",
    "WakeAllConditionVariable", "InitOnceExecuteOnce", "InitOnceBeginInitialize", "CreateEventExA",
    "CreateEventExW", "CreateSemaphoreExW", "CreateMutexExW", "GetFileInformationByHandleEx",
    "SetFileInformationByHandle", "QueryFullProcessImageNameA", "QueryFullProcessImageNameW",
    "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW", "FlsAlloc", "FlsGetValue",
    "FlsSetValue", "FlsFree", "GetLocaleInfoEx", "LCMapStringEx", "CompareStringEx",
}

VERSION_STRINGS = {
    "Comments": "Utility to remove Trojan.Kestrelon.Gen",
    "FileDescription": "Utility to remove Trojan.Kestrelon.Gen",
    "FileVersion": "1, 0, 0, 1",
    "ProductVersion": "1, 0, 0, 1",
    "InternalName": "pestkill",
    "OriginalFilename": "pestkill.exe",
    "ProductName": " pestkill",
}
# Carry the project's own notice; which words is the maker's choice, but not empty.
VERSION_NOTICES = ("CompanyName", "LegalCopyright")

FIXED_FILE_INFO = {
    "FileVersionMS": 0x00010000, "FileVersionLS": 0x00000001,
    "ProductVersionMS": 0x00010000, "ProductVersionLS": 0x00000001,
    "FileFlagsMask": 0x17, "FileFlags": 0, "FileOS": 4, "FileType": 1, "FileSubtype": 0,
    "FileDateMS": 0, "FileDateLS": 0,
}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition


def resource_data(pe, type_id, name_id, language):
    """The bytes of one resource, or None when the tree does not hold it."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return None
    for type_entry in root.entries:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            if name_entry.id != name_id:
                continue
            for language_entry in name_entry.directory.entries:
                if language_entry.id == language:
                    data = language_entry.data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


def check_headers(pe, checks):
    checks.expect(pe.FILE_HEADER.Machine == 0x14C, "machine is 0x%X, not 0x14C (i386)" % pe.FILE_HEADER.Machine)
    checks.expect(pe.OPTIONAL_HEADER.Magic == 0x10B, "optional header magic is 0x%X, not 0x10B (PE32)" % pe.OPTIONAL_HEADER.Magic)
    checks.expect(pe.OPTIONAL_HEADER.Subsystem == 3, "subsystem is %d, not 3 (console)" % pe.OPTIONAL_HEADER.Subsystem)
    subsystem = (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    checks.expect(subsystem == (5, 1), "subsystem version is %d.%02d, not 5.01 (Windows XP)" % subsystem)
    system = (pe.OPTIONAL_HEADER.MajorOperatingSystemVersion, pe.OPTIONAL_HEADER.MinorOperatingSystemVersion)
    checks.expect(system <= (5, 1), "operating system version %d.%02d is above 5.01 (Windows XP)" % system)


def check_manifest(pe, checks):
    data = resource_data(pe, RT_MANIFEST, 1, LANG_EN_US)
    if not checks.expect(data is not None, "no manifest resource (type 24, id 1, language 1033)"):
        return
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        checks.expect(False, "manifest is not UTF-8")
        return
    checks.expect(text.startswith("<?xml"), "manifest does not start with the XML declaration")
    checks.expect("\n" in text and text.count("\n") == text.count("\r\n"), "manifest lines do not all end in CR LF")
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        checks.expect(False, "manifest is not well-formed XML: %s" % error)
        return
    checks.expect(root.tag == ASM_V1 + "assembly", "manifest root is %s, not assembly" % root.tag)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    if checks.expect(identity is not None, "manifest has no assemblyIdentity"):
        for name, value in (("version", "1.0.0.0"), ("processorArchitecture", "x86"), ("name", "pestkill"), ("type", "win32")):
            checks.expect(identity.get(name) == value,
                          "assemblyIdentity %s is %r, not %r" % (name, identity.get(name), value))
    description = root.find(ASM_V1 + "description")
    checks.expect(description is not None and description.text == "Trojan Removal Tool",
                  "manifest description is not 'Trojan Removal Tool'")
    level = None
    for namespace in (ASM_V3, ASM_V1):
        level = root.find("{0}trustInfo/{0}security/{0}requestedPrivileges/{0}requestedExecutionLevel".format(namespace))
        if level is not None:
            break
    if checks.expect(level is not None, "manifest has no trustInfo/security/requestedPrivileges/requestedExecutionLevel"):
        checks.expect(level.get("level") == "requireAdministrator",
                      "requestedExecutionLevel level is %r, not 'requireAdministrator'" % level.get("level"))
        checks.expect(level.get("uiAccess") == "false", "requestedExecutionLevel uiAccess is %r, not 'false'" % level.get("uiAccess"))


def check_version(pe, checks):
    checks.expect(resource_data(pe, RT_VERSION, 1, LANG_EN_US) is not None,
                  "no version resource (type 16, id 1, language 1033)")
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if checks.expect(bool(fixed), "no VS_FIXEDFILEINFO"):
        for field, value in FIXED_FILE_INFO.items():
            found = getattr(fixed[0], field)
            checks.expect(found == value, "fixed file info %s is 0x%X, not 0x%X" % (field, found, value))
    tables = {}
    translations = []
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            if entry.Key == b"StringFileInfo":
                for table in entry.StringTable:
                    tables[table.LangID.decode()] = {k.decode(): v.decode() for k, v in table.entries.items()}
            elif entry.Key == b"VarFileInfo":
                for var in entry.Var:
                    translations.append(var.entry)
    checks.expect(list(tables) == ["040904b0"], "string tables are %s, not only '040904b0'" % sorted(tables))
    strings = tables.get("040904b0", {})
    for key, value in VERSION_STRINGS.items():
        checks.expect(strings.get(key) == value, "version string %s is %r, not %r" % (key, strings.get(key), value))
    for key in VERSION_NOTICES:
        checks.expect(bool(strings.get(key, "").strip()), "version string %s is missing or empty" % key)
    unexpected = set(strings) - set(VERSION_STRINGS) - set(VERSION_NOTICES)
    checks.expect(not unexpected, "unexpected version strings %s" % sorted(unexpected))
    checks.expect(translations == [{b"Translation": "0x0409 0x04b0"}],
                  "VarFileInfo Translation is %s, not one pair 0x0409/1200" % translations)


def check_imports(pe, checks):
    checks.expect(not hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"), "the image has delay-load imports")
    imports = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    checks.expect(bool(imports), "the image imports nothing")
    for library in imports:
        dll = library.dll.decode()
        checks.expect(dll.lower() in ALLOWED_DLLS, "imports from %s (only KERNEL32, ADVAPI32, USER32, msvcrt)" % dll)
        for function in library.imports:
            name = function.name.decode() if function.name else "#%d" % function.ordinal
            checks.expect(name not in TOOLHELP_FUNCTIONS, "imports %s!%s (it is resolved at run time)" % (dll, name))
            checks.expect(name not in NOT_ON_XP, "imports %s!%s, which Windows XP lacks" % (dll, name))
    # Resolved by name instead: the names are in the image as plain text.
    image = bytes(pe.__data__)
    # QueryFullProcessImageNameW, which Windows XP lacks, is resolved in the same way.
    for name in ("Kernel32.DLL", "CreateToolhelp32Snapshot", "Process32First", "Process32Next", "Module32First",
                 "Module32Next", "QueryFullProcessImageNameW"):
        checks.expect(name.encode() + b"\0" in image, "the name %r is not in the image" % name)


def run_checks(pe):
    """Every check on a parsed image; returns the failures, empty when all pass."""
    checks = Checks()
    check_headers(pe, checks)
    check_manifest(pe, checks)
    check_version(pe, checks)
    check_imports(pe, checks)
    return checks.failures


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        pe = pefile.PE(argv[1])
    except (OSError, pefile.PEFormatError) as error:
        print("%s: cannot read: %s" % (argv[1], error))
        return 1
    failures = run_checks(pe)
    for failure in failures:
        print("%s: %s" % (argv[1], failure))
    if failures:
        return 1
    print("%s: all checks passed" % argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

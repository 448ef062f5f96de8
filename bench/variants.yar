// The four structural signatures of Trojan.Kestrelon.Gen as YARA rules, for timing
// pestkill-scan against YARA on the same files (scripts/bench). The rules test the
// same header, section-table and Visual Basic record fields with the same values,
// through the pe module and integer reads at computed file offsets:
//   entry code      pe.entry_point (file offset of AddressOfEntryPoint)
//   VbHeader        the VA pushed by the entry code, mapped with pe.rva_to_offset
//   VbProjectInfo   VbHeader +0x30, mapped; the project path lies at +0x24 (UTF-16)
//   COM reg data    VbHeader +0x54, mapped
//   start code      VbHeader +0x2C, mapped
//   section table   e_lfanew + 0x18 + SizeOfOptionalHeader
// The project path is judged on the low byte of each UTF-16 unit up to the first
// unit whose low byte is 0, as the scanner narrows it. InternalName is the UTF-16
// key found within the first 480 bytes of the data of a version resource (any of
// them, where the scanner takes the first its walk reaches); the record and jump
// windows are counted with string matches, which also count records closer
// together than the scanner's stride. On the builder's variant images each rule matches exactly its own image;
// scripts/bench checks that before it times anything.
import "pe"

private rule vb_program {
  condition:
    uint8(pe.entry_point) == 0x68 and uint8(pe.entry_point + 5) == 0xE8 and
    pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) < filesize and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base)) == 0x21354256  // "VB5!"
}

rule variant_a {
  strings:
    $key = { 49 00 6E 00 74 00 65 00 72 00 6E 00 61 00 6C 00 4E 00 61 00 6D 00 65 00 00 00 }  // "InternalName", UTF-16
  condition:
    uint8(pe.entry_point) == 0x68 and uint8(pe.entry_point + 5) == 0xE8 and
    uint8(pe.entry_point + 9) == 0xFF and uint8(pe.entry_point + 16) == 0x30 and
    pe.number_of_sections == 3 and
    pe.entry_point_raw >= 0x1000 and pe.entry_point_raw <= 0x1300 and
    pe.size_of_initialized_data >= 0x2000 and pe.size_of_initialized_data <= 0x4000 and
    pe.linker_version.major == 6 and pe.os_version.major == 4 and
    pe.subsystem_version.major == 4 and pe.image_base == 0x400000 and
    pe.image_version.major == 1 and pe.subsystem == pe.SUBSYSTEM_WINDOWS_GUI and
    vb_program and pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 104 <= filesize and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x04) == 0x2636 and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x06) == 0x2A and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x07) == 0 and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x22) == 0x0A and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x14) == 0x7E and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x15) == 0 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x24) == 0x409 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x28) == 0 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) >= 0x401000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) <= 0x403000 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) >= 0x401000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) <= 0x402000 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x38) == 0xFFFFFF00 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x3C) == 8 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x40) == 1 and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x44) >= 3 and uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x44) <= 4 and uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x46) == 0 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x48) == 0xE9 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x4C) >= 0x401000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x4C) <= 0x402000 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x50) >= 0x401000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x50) <= 0x402000 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x58) == 0x78 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x5C) == 0x81 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x60) >= 0x60 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x60) <= 0xC0 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x64) >= 0x80 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x64) <= 0x90 and
    pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 572 <= filesize and
    uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) == 0 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x04) >= 0x402000 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x04) <= 0x403000 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x20) == 0 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x234) >= 0x401000 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x234) <= 0x402000 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) != 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 42 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x0C) == 0 and
    (uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base)) == 0 or (uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base)) >= 0x30 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base)) <= 0x60)) and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x04) == 0x30 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x08) >= 0x30 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x08) <= 0x60 and
    uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x26) == 1 and uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x28) == 0 and
    pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 64 <= filesize and
    uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base)) == 0xBA and uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 12) == 0xBA and uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 24) == 0xBA and
    uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 5) == 0xB9 and uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 17) == 0xB9 and uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 29) == 0xB9 and
    uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 10) == 0xFF and uint8(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 22) == 0xFF and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 6) == uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 18) and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 18) == uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) - pe.image_base) + 30) and
    for any i in (0..pe.number_of_sections - 1) : (
      pe.sections[i].name == ".data" and pe.sections[i].raw_data_size == 0 and
      pe.sections[i].characteristics == 0xC0000040) and
    for any r in (0..pe.number_of_resources - 1) : (
      pe.resources[r].type == pe.RESOURCE_TYPE_VERSION and pe.resources[r].offset > 0 and
      pe.resources[r].offset + 480 <= filesize and
      for any k in (1..#key) : (
        @key[k] >= pe.resources[r].offset and @key[k] + 44 <= pe.resources[r].offset + 480 and
        for all n in (0..8) : (uint8(@key[k] + 26 + 2 * n) < 0x30 or uint8(@key[k] + 26 + 2 * n) > 0x39) and
        uint8(@key[k] + 26 + 16) == 0 and uint8(@key[k] + 26 + 14) != 0))
}

rule variant_b {
  strings:
    $key = { 49 00 6E 00 74 00 65 00 72 00 6E 00 61 00 6C 00 4E 00 61 00 6D 00 65 00 00 00 }  // "InternalName", UTF-16
  condition:
    uint8(pe.entry_point) == 0x68 and uint8(pe.entry_point + 5) == 0xE8 and
    uint8(pe.entry_point + 9) == 0xFF and
    pe.number_of_sections == 3 and pe.linker_version.major == 6 and
    filesize >= 0x20000 and filesize <= 0x60000 and
    pe.size_of_code >= 0x20000 and pe.size_of_code <= 0x40000 and
    pe.size_of_initialized_data == 0x2000 and
    pe.entry_point_raw >= 0x1000 and pe.entry_point_raw <= 0x1400 and
    pe.file_alignment == 0x1000 and pe.section_alignment == 0x1000 and
    pe.os_version.major == 4 and pe.image_version.major == 1 and
    pe.subsystem_version.major == 4 and
    pe.size_of_image >= 0x30000 and pe.size_of_image <= 0x50000 and
    vb_program and pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 104 <= filesize and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x44) == 0 and uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x04) == 0x1FF0 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x38) == 0xFFFFFF00 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x3C) == 8 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x40) == 1 and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x46) == 0 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x48) == 0xE9 and
    (uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x5C) == 0x7A or uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x5C) == 0x7B) and
    pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 572 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x20) == 0 and
    ((uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x14) == 0x57C and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x238) == 4) or
     (uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x14) == 0xA4C and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x238) == 0x1E)) and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) != 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 42 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base)) == 0 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x04) == 0x30 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x08) == 0x40 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x0C) == 0 and uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x26) == 1 and uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x28) == 0 and
    
    for 2 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) == 0x5C and for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and
    not for 3 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) == 0x5C and for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and 
    for 2 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) >= 0x30 and uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) <= 0x39 and
      for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and
    for any i in (0..pe.number_of_sections - 1) : (
      pe.sections[i].name == ".data" and pe.sections[i].raw_data_size == 0) and
    for any r in (0..pe.number_of_resources - 1) : (
      pe.resources[r].type == pe.RESOURCE_TYPE_VERSION and pe.resources[r].offset > 0 and
      pe.resources[r].offset + 480 <= filesize and
      for any k in (1..#key) : (
        @key[k] >= pe.resources[r].offset and @key[k] + 34 <= pe.resources[r].offset + 480 and
        (((uint8(@key[k] + 26) >= 0x30 and uint8(@key[k] + 26) <= 0x39) and uint8(@key[k] + 28) == 0) or
         ((uint8(@key[k] + 26) >= 0x30 and uint8(@key[k] + 26) <= 0x39) and (uint8(@key[k] + 28) >= 0x30 and uint8(@key[k] + 28) <= 0x39) and uint8(@key[k] + 30) == 0))))
}

rule variant_c {
  strings:
    $stub = { B7 12 07 DB F3 73 69 88 F3 73 69 88 F3 73 69 88 }
    $record = { 76 01 00 1B ?? 00 2A FD B7 01 00 }
  condition:
    filesize >= 0x1C000 and filesize <= 0x1E000 and
    pe.number_of_sections == 3 and
    pe.entry_point_raw >= 0x1100 and pe.entry_point_raw <= 0x1200 and
    pe.linker_version.major == 6 and pe.size_of_code == 0x1B000 and
    pe.size_of_initialized_data == 0x2000 and pe.base_of_data == 0x1C000 and
    pe.file_alignment == 0x1000 and pe.os_version.major == 4 and
    pe.subsystem_version.major == 4 and pe.size_of_headers == 0x1000 and
    pe.subsystem == pe.SUBSYSTEM_WINDOWS_GUI and
    pe.sections[pe.number_of_sections - 1].raw_data_size == 0x1000 and
    pe.sections[pe.number_of_sections - 1].virtual_address == 0x1D000 and
    pe.sections[pe.number_of_sections - 1].raw_data_offset == 0x1C000 and
    uint8(pe.entry_point) == 0x68 and uint8(pe.entry_point + 5) == 0xE8 and
    uint8(pe.entry_point + 7) == 0xFF and uint8(pe.entry_point + 8) == 0xFF and
    uint8(pe.entry_point + 9) == 0xFF and
    vb_program and (uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 80 <= filesize and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 20) == 0 and uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 16) == 0 and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 36) == 0xC0000040 and uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 8) == 0x818 and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 12) == 0x1C000 and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 16) == 0x1B000 and uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 20) == 0x1000 and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 8) >= 0x19000 and uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 8) <= 0x1C000 and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14))) == 0x7865742E and uint8((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 4) == 0x74 and            // ".text"
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40) == 0x7461642E and uint8((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 4) == 0x61 and  // ".data"
    pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 104 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x34) == 0x30F000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x38) == 0xFFFFFF00 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x24) == 0x409 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x58) >= 0x70 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x58) <= 0x80 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x5C) >= 0x70 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x5C) <= 0x80 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x60) >= 0x80 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x60) <= 0x90 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x64) >= 0x80 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x64) <= 0x90 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) >= 0x4011B0 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) <= 0x4011D0 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x50) >= 0x4011F0 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x50) <= 0x401210 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x4C) >= 0x4011F0 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x4C) <= 0x401210 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) >= 0x401700 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) <= 0x401800 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x28) == 0 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x40) == 1 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x3C) == 8 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x48) == 0xE9 and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x06) == 0x2A and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x14) == 0x7E and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x46) == 0 and uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x44) == 0 and uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x04) == 0x1FF0 and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x22) == 0x0A and
    pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 572 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x14) == 0x818 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x238) == 6 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x1C) >= 0x401190 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x1C) <= 0x4011B0 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x10) >= 0x41B400 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x10) <= 0x41B900 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x0C) >= 0x41B500 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x0C) <= 0x41BA00 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x234) >= 0x4011F0 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x234) <= 0x4012D0 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x20) == 0 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x04) >= 0x401B00 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x04) <= 0x401D00 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x18) == 0x41C000 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base)) == 0x1F4 and
    pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 42 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x08) == 0x40 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x0C) == 0 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x04) == 0x30 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base)) == 0 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x20) == 0 and
    uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x26) == 1 and uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x28) == 0 and
    
    for 2 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) == 0x5C and for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and
    not for 3 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) == 0x5C and for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and 
    for 1 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) >= 0x30 and uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) <= 0x39 and
      for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and
    $stub in (112..176) and
    filesize >= 111024 + 528 and for 8 i in (1..#record) : (@record[i] >= 111024 and @record[i] <= 111540)
}

rule variant_d {
  strings:
    $jump = { FF 25 ?? 10 40 00 }
  condition:
    pe.number_of_sections == 3 and pe.linker_version.major == 6 and
    pe.file_alignment == 0x1000 and
    pe.entry_point_raw >= 0x1100 and pe.entry_point_raw <= 0x1200 and
    pe.os_version.major == 4 and pe.subsystem_version.major == 4 and
    uint8(pe.entry_point) == 0x68 and uint8(pe.entry_point + 5) == 0xE8 and
    uint8(pe.entry_point + 7) == 0xFF and uint8(pe.entry_point + 8) == 0xFF and
    uint8(pe.entry_point + 9) == 0xFF and
    vb_program and (uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 80 <= filesize and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 20) == 0 and uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 16) == 0 and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 36) == 0xC0000040 and
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14))) == 0x7865742E and uint8((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 4) == 0x74 and            // ".text"
    uint32((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40) == 0x7461642E and uint8((uint32(0x3C) + 0x18 + uint16(uint32(0x3C) + 0x14)) + 40 + 4) == 0x61 and  // ".data"
    pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 104 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x34) == 0x30F000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x38) == 0xFFFFFF00 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x24) == 0x409 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x58) >= 0x60 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x58) <= 0x90 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x5C) >= 0x60 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x5C) <= 0x90 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x60) >= 0x60 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x60) <= 0x90 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x64) >= 0x70 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x64) <= 0xA0 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) >= 0x401000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) <= 0x401300 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) >= 0x401000 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x2C) <= 0x401E00 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x28) == 0 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x40) == 1 and uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x3C) == 8 and
    uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x48) == 0xE9 and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x06) == 0x2A and uint8(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x14) == 0x7E and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x46) == 0 and uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x04) == 0x1FF0 and uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x22) == 0x0A and
    uint16(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x44) <= 1 and
    pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 42 <= filesize and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x08) == 0x40 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x0C) == 0 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x04) == 0x30 and
    uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base)) == 0 and uint32(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x20) == 0 and
    uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x26) == 1 and uint16(pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x54) - pe.image_base) + 0x28) == 0 and
    pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) > 0 and pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 572 <= filesize and
    
    for 2 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) == 0x5C and for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and
    not for 3 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) == 0x5C and for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and 
    for 1 i in (0..263) : (uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) >= 0x30 and uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * i) <= 0x39 and
      for all j in (0..263) : (j >= i or uint8((pe.rva_to_offset(uint32(pe.rva_to_offset(uint32(pe.entry_point + 1) - pe.image_base) + 0x30) - pe.image_base) + 0x24) + 2 * j) != 0)) and
    filesize >= 4096 + 528 and for 21 i in (1..#jump) : (@jump[i] >= 4096 and @jump[i] <= 4617)
}

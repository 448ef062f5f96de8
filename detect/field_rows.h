// Spelling of signature rows. Each macro derives the offset and width of a field
// from its record layout and writes the label from the same tokens, so the name an
// explanation prints cannot drift from the bytes the row compares.
#pragma once

#include <cstddef>

#include "detect/field_rules.h"
#include "image/pe_records.h"

#define ROW_FILE_SIZE(low, high) {FileSizeRecord, 0, 4, low, high, "file size"}

#define ROW_ENTRY_BYTE(n, value) {EntryCodeRecord, n, 1, value, value, "entry code byte " #n}

#define ROW_START_CODE_BYTE(n, value) {StartCodeRecord, n, 1, value, value, "start code byte " #n}

#define ROW_FILE_HEADER(field, low, high)                                                  \
  {FileHeaderRecord, offsetof(IMAGE_FILE_HEADER, field), sizeof(IMAGE_FILE_HEADER::field), \
   low, high, "COFF file header " #field}

#define ROW_OPTIONAL(field, low, high)                                                   \
  {OptionalHeaderRecord, offsetof(OptionalHeader32, field), sizeof(OptionalHeader32::field), \
   low, high, "optional header " #field}

// title names the section the record holds, e.g. "section 2 header".
#define ROW_SECTION(record, title, field, low, high)                                         \
  {record, offsetof(IMAGE_SECTION_HEADER, field), sizeof(IMAGE_SECTION_HEADER::field), low, \
   high, title " " #field}

// VirtualSize shares its place with PhysicalAddress in the format's union.
#define ROW_SECTION_VIRTUAL_SIZE(record, title, low, high) \
  {record, 8, 4, low, high, title " VirtualSize"}

// Fields of the Visual Basic records go by offset and width, as in "VbHeader +0x2C (u32)".
#define ROW_U8(record, title, offset, low, high) {record, offset, 1, low, high, title " +" #offset " (u8)"}
#define ROW_U16(record, title, offset, low, high) {record, offset, 2, low, high, title " +" #offset " (u16)"}
#define ROW_U32(record, title, offset, low, high) {record, offset, 4, low, high, title " +" #offset " (u32)"}

#define ROW_VB_HEADER_U8(offset, low, high) ROW_U8(VbHeaderRecord, "VbHeader", offset, low, high)
#define ROW_VB_HEADER_U16(offset, low, high) ROW_U16(VbHeaderRecord, "VbHeader", offset, low, high)
#define ROW_VB_HEADER_U32(offset, low, high) ROW_U32(VbHeaderRecord, "VbHeader", offset, low, high)
#define ROW_PROJECT_INFO_U8(offset, low, high) ROW_U8(VbProjectInfoRecord, "VbProjectInfo", offset, low, high)
#define ROW_PROJECT_INFO_U32(offset, low, high) ROW_U32(VbProjectInfoRecord, "VbProjectInfo", offset, low, high)
#define ROW_COM_REG_U16(offset, low, high) ROW_U16(VbComRegDataRecord, "VbComRegData", offset, low, high)
#define ROW_COM_REG_U32(offset, low, high) ROW_U32(VbComRegDataRecord, "VbComRegData", offset, low, high)

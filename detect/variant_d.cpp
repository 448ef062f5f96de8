// Variant D: a Visual Basic 6 build with three sections, a project path of two
// backslashes and a digit, and a table of at least 21 import thunks at the start
// of its code.
#include <cstring>

#include "detect/field_rows.h"
#include "detect/field_test.h"
#include "detect/signature_steps.h"
#include "detect/signatures.h"
#include "detect/template_count.h"
#include "image/read_exact.h"
#include "image/vb_header_reader.h"

namespace {

// The records handed in by the file signature detector.
const FieldTest HeaderTests[] = {
    ROW_FILE_HEADER(NumberOfSections, 3, 3),
    ROW_OPTIONAL(MajorLinkerVersion, 6, 6),
    ROW_OPTIONAL(FileAlignment, 0x1000, 0x1000),
    ROW_OPTIONAL(AddressOfEntryPoint, 0x1100, 0x1200),
    ROW_OPTIONAL(MajorOperatingSystemVersion, 4, 4),
    ROW_OPTIONAL(MajorSubsystemVersion, 4, 4),
    ROW_ENTRY_BYTE(0, 0x68),
    ROW_ENTRY_BYTE(5, 0xE8),
    ROW_ENTRY_BYTE(7, 0xFF),
    ROW_ENTRY_BYTE(8, 0xFF),
    ROW_ENTRY_BYTE(9, 0xFF),
};

const FieldTest SectionTests[] = {
    ROW_SECTION(Section2Record, "section 2 header", PointerToRawData, 0, 0),
    ROW_SECTION(Section2Record, "section 2 header", SizeOfRawData, 0, 0),
    ROW_SECTION(Section2Record, "section 2 header", Characteristics, 0xC0000040, 0xC0000040),
};

const FieldTest VbHeaderTests[] = {
    ROW_VB_HEADER_U32(0x34, 0x30F000, 0x30F000),
    ROW_VB_HEADER_U32(0x38, 0xFFFFFF00, 0xFFFFFF00),
    ROW_VB_HEADER_U32(0x24, 0x409, 0x409),
    ROW_VB_HEADER_U32(0x58, 0x60, 0x90),
    ROW_VB_HEADER_U32(0x5C, 0x60, 0x90),
    ROW_VB_HEADER_U32(0x60, 0x60, 0x90),
    ROW_VB_HEADER_U32(0x64, 0x70, 0xA0),
    ROW_VB_HEADER_U32(0x54, 0x401000, 0x401300),
    ROW_VB_HEADER_U32(0x2C, 0x401000, 0x401E00),
    ROW_VB_HEADER_U32(0x28, 0, 0),
    ROW_VB_HEADER_U32(0x40, 1, 1),
    ROW_VB_HEADER_U32(0x3C, 8, 8),
    ROW_VB_HEADER_U32(0x48, 0xE9, 0xE9),
    ROW_VB_HEADER_U8(0x06, 0x2A, 0x2A),
    ROW_VB_HEADER_U8(0x14, 0x7E, 0x7E),
    ROW_VB_HEADER_U16(0x46, 0, 0),
    ROW_VB_HEADER_U16(0x04, 0x1FF0, 0x1FF0),
    ROW_VB_HEADER_U16(0x22, 0x0A, 0x0A),
    ROW_VB_HEADER_U16(0x44, 0, 1),
};

const FieldTest ComRegDataTests[] = {
    ROW_COM_REG_U32(0x08, 0x40, 0x40),
    ROW_COM_REG_U32(0x0C, 0, 0),
    ROW_COM_REG_U32(0x04, 0x30, 0x30),
    ROW_COM_REG_U32(0x00, 0, 0),
    ROW_COM_REG_U32(0x20, 0, 0),
    ROW_COM_REG_U16(0x26, 1, 1),
    ROW_COM_REG_U16(0x28, 0, 0),
};

constexpr uint32_t ProjectPathMinDigits = 1;

// jmp dword ptr [0x4010xx]: an import thunk through the address table at the start
// of the code section. Byte 2 is free. After a hit the count moves on 5 bytes (4
// plus 1), which lands on the next thunk of a packed table after one miss.
const uint8_t JumpTemplateBytes[6] = {0xFF, 0x25, 0x00, 0x10, 0x40, 0x00};
const ByteTemplate JumpTemplate = {JumpTemplateBytes, 6, 2, 5, 32};
constexpr uint32_t MinJumpCount = 21;

}  // namespace

uint32_t CountJumps(const uint8_t* window) { return CountTemplateHits(window, WorkBufferSize, JumpTemplate); }

int CheckVariantD(int fd, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace) {
  RecordSet records;
  records.Set(EntryCodeRecord, entryCode);
  records.Set(FileHeaderRecord, fileHeader);
  records.Set(OptionalHeaderRecord, optionalHeader);
  if (!RunFieldTests(HeaderTests, records, trace)) return 0;

  if (!IsVbProgram(fd)) return FailStep(trace, "IsVbProgram", "true");
  uint8_t head[SectionTableHeadSize] = {};
  if (!ReadSectionTableHead(fd, head)) return FailStep(trace, "section table head read", "succeeds");
  records.Set(Section1Record, head);
  records.Set(Section2Record, head + sizeof(IMAGE_SECTION_HEADER));
  if (!RunFieldTests(SectionTests, records, trace)) return 0;
  if (!SectionNameStartsWith(head, ".text")) return FailStep(trace, "section 1 header Name", ".text");
  if (!SectionNameStartsWith(head + sizeof(IMAGE_SECTION_HEADER), ".data"))
    return FailStep(trace, "section 2 header Name", ".data");

  VbHeader header;
  std::memset(&header, 0, sizeof header);
  if (!ReadVbHeader(fd, &header)) return FailStep(trace, "ReadVbHeader", "succeeds");
  records.Set(VbHeaderRecord, header.bytes);
  if (!RunFieldTests(VbHeaderTests, records, trace)) return 0;

  VbComRegData comRegData;
  std::memset(&comRegData, 0, sizeof comRegData);
  if (!ReadVbComRegData(fd, &comRegData)) return FailStep(trace, "ReadVbComRegData", "succeeds");
  records.Set(VbComRegDataRecord, comRegData.bytes);
  if (!RunFieldTests(ComRegDataTests, records, trace)) return 0;

  // One work buffer holds the path, then the window.
  uint8_t work[WorkBufferSize] = {};
  if (!TestProjectPath(fd, reinterpret_cast<char*>(work), ProjectPathMinDigits, trace)) return 0;

  std::memset(work, 0, sizeof work);
  if (!ReadExactAt(fd, JumpWindowOffset, work, WorkBufferSize)) return FailStep(trace, "jump window read", "succeeds");
  const uint32_t count = CountJumps(work);
  if (count < MinJumpCount) return FailValue(trace, "jump count", count, "at least 21");
  return Matched(trace);
}

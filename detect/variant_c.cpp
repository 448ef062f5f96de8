// Variant C: a Visual Basic 6 build of a fixed layout (three sections, code of
// 0x1B000 bytes, .data without raw data), a project path of two backslashes and a
// digit, a fixed stub in the DOS stub area and a run of 11-byte records near the
// end of the code.
#include <iterator>

#include "detect/check_run.h"
#include "detect/field_rows.h"
#include "detect/signature_tables.h"
#include "detect/signatures.h"

namespace {

// The records handed in by the file signature detector. Bytes 7, 8 and 9 of 0xFF
// mark a call at most 256 bytes backwards.
constexpr FieldTest HeaderTests[] = {
    ROW_FILE_SIZE(0x1C000, 0x1E000),
    ROW_FILE_HEADER(NumberOfSections, 3, 3),
    ROW_OPTIONAL(AddressOfEntryPoint, 0x1100, 0x1200),
    ROW_OPTIONAL(MajorLinkerVersion, 6, 6),
    ROW_OPTIONAL(SizeOfCode, 0x1B000, 0x1B000),
    ROW_OPTIONAL(SizeOfInitializedData, 0x2000, 0x2000),
    ROW_OPTIONAL(BaseOfData, 0x1C000, 0x1C000),
    ROW_OPTIONAL(FileAlignment, 0x1000, 0x1000),
    ROW_OPTIONAL(MajorOperatingSystemVersion, 4, 4),
    ROW_OPTIONAL(MajorSubsystemVersion, 4, 4),
    ROW_OPTIONAL(SizeOfHeaders, 0x1000, 0x1000),
    ROW_OPTIONAL(Subsystem, 2, 2),
    ROW_SECTION(LastSectionRecord, "last section header", SizeOfRawData, 0x1000, 0x1000),
    ROW_SECTION(LastSectionRecord, "last section header", VirtualAddress, 0x1D000, 0x1D000),
    ROW_SECTION(LastSectionRecord, "last section header", PointerToRawData, 0x1C000, 0x1C000),
    ROW_ENTRY_BYTE(0, 0x68),
    ROW_ENTRY_BYTE(5, 0xE8),
    ROW_ENTRY_BYTE(7, 0xFF),
    ROW_ENTRY_BYTE(8, 0xFF),
    ROW_ENTRY_BYTE(9, 0xFF),
};

constexpr FieldTest SectionTests[] = {
    ROW_SECTION(Section2Record, "section 2 header", PointerToRawData, 0, 0),
    ROW_SECTION(Section2Record, "section 2 header", SizeOfRawData, 0, 0),
    ROW_SECTION(Section2Record, "section 2 header", Characteristics, 0xC0000040, 0xC0000040),
    ROW_SECTION_VIRTUAL_SIZE(Section2Record, "section 2 header", 0x818, 0x818),
    ROW_SECTION(Section2Record, "section 2 header", VirtualAddress, 0x1C000, 0x1C000),
    ROW_SECTION(Section1Record, "section 1 header", SizeOfRawData, 0x1B000, 0x1B000),
    ROW_SECTION(Section1Record, "section 1 header", PointerToRawData, 0x1000, 0x1000),
    ROW_SECTION_VIRTUAL_SIZE(Section1Record, "section 1 header", 0x19000, 0x1C000),
};

constexpr FieldTest VbHeaderTests[] = {
    ROW_VB_HEADER_U32(0x34, 0x30F000, 0x30F000),
    ROW_VB_HEADER_U32(0x38, 0xFFFFFF00, 0xFFFFFF00),
    ROW_VB_HEADER_U32(0x24, 0x409, 0x409),
    ROW_VB_HEADER_U32(0x58, 0x70, 0x80),
    ROW_VB_HEADER_U32(0x5C, 0x70, 0x80),
    ROW_VB_HEADER_U32(0x60, 0x80, 0x90),
    ROW_VB_HEADER_U32(0x64, 0x80, 0x90),
    ROW_VB_HEADER_U32(0x54, 0x4011B0, 0x4011D0),
    ROW_VB_HEADER_U32(0x50, 0x4011F0, 0x401210),
    ROW_VB_HEADER_U32(0x4C, 0x4011F0, 0x401210),
    ROW_VB_HEADER_U32(0x2C, 0x401700, 0x401800),
    ROW_VB_HEADER_U32(0x28, 0, 0),
    ROW_VB_HEADER_U32(0x40, 1, 1),
    ROW_VB_HEADER_U32(0x3C, 8, 8),
    ROW_VB_HEADER_U32(0x48, 0xE9, 0xE9),
    ROW_VB_HEADER_U8(0x06, 0x2A, 0x2A),
    ROW_VB_HEADER_U8(0x14, 0x7E, 0x7E),
    ROW_VB_HEADER_U16(0x46, 0, 0),
    ROW_VB_HEADER_U16(0x44, 0, 0),
    ROW_VB_HEADER_U16(0x04, 0x1FF0, 0x1FF0),
    ROW_VB_HEADER_U16(0x22, 0x0A, 0x0A),
};

constexpr FieldTest ProjectInfoTests[] = {
    ROW_PROJECT_INFO_U32(0x14, 0x818, 0x818),
    ROW_PROJECT_INFO_U32(0x238, 6, 6),
    ROW_PROJECT_INFO_U32(0x1C, 0x401190, 0x4011B0),
    ROW_PROJECT_INFO_U32(0x10, 0x41B400, 0x41B900),
    ROW_PROJECT_INFO_U32(0x0C, 0x41B500, 0x41BA00),
    ROW_PROJECT_INFO_U32(0x234, 0x4011F0, 0x4012D0),
    ROW_PROJECT_INFO_U32(0x20, 0, 0),
    ROW_PROJECT_INFO_U32(0x04, 0x401B00, 0x401D00),
    ROW_PROJECT_INFO_U32(0x18, 0x41C000, 0x41C000),
    ROW_PROJECT_INFO_U32(0x00, 0x1F4, 0x1F4),
};

constexpr FieldTest ComRegDataTests[] = {
    ROW_COM_REG_U32(0x08, 0x40, 0x40),
    ROW_COM_REG_U32(0x0C, 0, 0),
    ROW_COM_REG_U32(0x04, 0x30, 0x30),
    ROW_COM_REG_U32(0x00, 0, 0),
    ROW_COM_REG_U32(0x20, 0, 0),
    ROW_COM_REG_U16(0x26, 1, 1),
    ROW_COM_REG_U16(0x28, 0, 0),
};

constexpr uint32_t ProjectPathMinDigits = 1;

// The steps of CheckVariantC below, in its order, and the tables they run.
constexpr SignatureStep Steps[] = {
    SignatureStep::HeaderRows,     SignatureStep::IsVbProgram,     SignatureStep::SectionTableHeadRows,
    SignatureStep::VbHeaderRows,   SignatureStep::ProjectInfoRows, SignatureStep::ComRegDataRows,
    SignatureStep::ProjectPath,    SignatureStep::StubWindow,      SignatureStep::RecordWindow,
};

}  // namespace

constexpr SignatureTables VariantCTables = [] {
  SignatureTables t;
  t.variant = Variant::C;
  t.steps = Steps;
  t.stepCount = std::size(Steps);
  t.header = TableOf(HeaderTests);
  t.sectionTableHead = TableOf(SectionTests);
  t.vbHeader = TableOf(VbHeaderTests);
  t.projectInfo = TableOf(ProjectInfoTests);
  t.comRegData = TableOf(ComRegDataTests);
  t.projectPathMinDigits = ProjectPathMinDigits;
  return t;
}();

int CheckVariantC(int fd, int32_t fileSize, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const IMAGE_SECTION_HEADER* lastSection, const OptionalHeader32* optionalHeader,
                  CheckTrace* trace) {
  CheckRun run(fd, trace, entryCode, fileHeader, optionalHeader);
  run.HandInFileSize(fileSize);
  run.HandInLastSection(lastSection);
  return run.Rows<HeaderTests>() && run.IsVbProgram() && run.SectionTableHead<SectionTests>() &&
         run.VbHeader<VbHeaderTests>() && run.ProjectInfo<ProjectInfoTests>() &&
         run.ComRegData<ComRegDataTests>() && run.ProjectPath(ProjectPathMinDigits) &&
         run.Window(StubWindow) && run.Holds(HasStubPattern(run.Work()), "stub pattern", "found") &&
         run.Window(RecordWindow) && run.AtLeast("record count", CountRecords(run.Work()), MinRecordCount) &&
         run.Matched();
}

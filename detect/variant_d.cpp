// Variant D: a Visual Basic 6 build with three sections, a project path of two
// backslashes and a digit, and a table of at least 21 import thunks at the start
// of its code.
#include <iterator>

#include "detect/check_run.h"
#include "detect/field_rows.h"
#include "detect/signature_tables.h"
#include "detect/signatures.h"

namespace {

// The records handed in by the file signature detector.
constexpr FieldTest HeaderTests[] = {
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

constexpr FieldTest SectionTests[] = {
    ROW_SECTION(Section2Record, "section 2 header", PointerToRawData, 0, 0),
    ROW_SECTION(Section2Record, "section 2 header", SizeOfRawData, 0, 0),
    ROW_SECTION(Section2Record, "section 2 header", Characteristics, 0xC0000040, 0xC0000040),
};

constexpr FieldTest VbHeaderTests[] = {
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

// The steps of CheckVariantD below, in its order, and the tables they run.
constexpr SignatureStep Steps[] = {
    SignatureStep::HeaderRows,     SignatureStep::IsVbProgram,    SignatureStep::SectionTableHeadRows,
    SignatureStep::VbHeaderRows,   SignatureStep::ComRegDataRows, SignatureStep::ProjectPath,
    SignatureStep::JumpWindow,
};

}  // namespace

constexpr SignatureTables VariantDTables = [] {
  SignatureTables t;
  t.variant = Variant::D;
  t.steps = Steps;
  t.stepCount = std::size(Steps);
  t.header = TableOf(HeaderTests);
  t.sectionTableHead = TableOf(SectionTests);
  t.vbHeader = TableOf(VbHeaderTests);
  t.comRegData = TableOf(ComRegDataTests);
  t.projectPathMinDigits = ProjectPathMinDigits;
  return t;
}();

int CheckVariantD(int fd, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace) {
  CheckRun run(fd, trace, entryCode, fileHeader, optionalHeader);
  return run.Rows<HeaderTests>() && run.IsVbProgram() && run.SectionTableHead<SectionTests>() &&
         run.VbHeader<VbHeaderTests>() && run.ComRegData<ComRegDataTests>() &&
         run.ProjectPath(ProjectPathMinDigits) && run.Window(JumpWindow) &&
         run.AtLeast("jump count", CountJumps(run.Work()), MinJumpCount) && run.Matched();
}

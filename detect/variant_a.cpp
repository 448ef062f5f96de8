// Variant A: a Visual Basic 6 build with an empty project path, a start routine of
// three register-loading groups, and an InternalName of eight characters without
// a digit.
#include <iterator>

#include "detect/check_run.h"
#include "detect/field_rows.h"
#include "detect/signature_tables.h"
#include "detect/signatures.h"

namespace {

// The records handed in by the file signature detector.
constexpr FieldTest HeaderTests[] = {
    ROW_ENTRY_BYTE(0, 0x68),
    ROW_ENTRY_BYTE(5, 0xE8),
    ROW_ENTRY_BYTE(9, 0xFF),
    ROW_ENTRY_BYTE(16, 0x30),
    ROW_FILE_HEADER(NumberOfSections, 3, 3),
    ROW_OPTIONAL(AddressOfEntryPoint, 0x1000, 0x1300),
    ROW_OPTIONAL(SizeOfInitializedData, 0x2000, 0x4000),
    ROW_OPTIONAL(MajorLinkerVersion, 6, 6),
    ROW_OPTIONAL(MajorOperatingSystemVersion, 4, 4),
    ROW_OPTIONAL(MajorSubsystemVersion, 4, 4),
    ROW_OPTIONAL(ImageBase, 0x400000, 0x400000),
    ROW_OPTIONAL(MajorImageVersion, 1, 1),
    ROW_OPTIONAL(Subsystem, 2, 2),
};

constexpr FieldTest VbHeaderTests[] = {
    ROW_VB_HEADER_U16(0x04, 0x2636, 0x2636),
    ROW_VB_HEADER_U8(0x06, 0x2A, 0x2A),
    ROW_VB_HEADER_U8(0x07, 0, 0),
    ROW_VB_HEADER_U16(0x22, 0x0A, 0x0A),
    ROW_VB_HEADER_U8(0x14, 0x7E, 0x7E),
    ROW_VB_HEADER_U8(0x15, 0, 0),
    ROW_VB_HEADER_U32(0x24, 0x409, 0x409),
    ROW_VB_HEADER_U32(0x28, 0, 0),
    ROW_VB_HEADER_U32(0x2C, 0x401000, 0x403000),
    ROW_VB_HEADER_U32(0x30, 0x401000, 0x402000),
    ROW_VB_HEADER_U32(0x38, 0xFFFFFF00, 0xFFFFFF00),
    ROW_VB_HEADER_U32(0x3C, 8, 8),
    ROW_VB_HEADER_U32(0x40, 1, 1),
    ROW_VB_HEADER_U16(0x44, 3, 4),
    ROW_VB_HEADER_U16(0x46, 0, 0),
    ROW_VB_HEADER_U32(0x48, 0xE9, 0xE9),
    ROW_VB_HEADER_U32(0x4C, 0x401000, 0x402000),
    ROW_VB_HEADER_U32(0x50, 0x401000, 0x402000),
    ROW_VB_HEADER_U32(0x58, 0x78, 0x78),
    ROW_VB_HEADER_U32(0x5C, 0x81, 0x81),
    ROW_VB_HEADER_U32(0x60, 0x60, 0xC0),
    ROW_VB_HEADER_U32(0x64, 0x80, 0x90),
};

// The first byte of ProjectPath is 0: the path is empty.
constexpr FieldTest ProjectInfoTests[] = {
    ROW_PROJECT_INFO_U8(0x24, 0, 0),
    ROW_PROJECT_INFO_U32(0x04, 0x402000, 0x403000),
    ROW_PROJECT_INFO_U32(0x20, 0, 0),
    ROW_PROJECT_INFO_U32(0x234, 0x401000, 0x402000),
};

constexpr FieldTest ComRegDataTests[] = {
    ROW_COM_REG_U32(0x0C, 0, 0),
    {VbComRegDataRecord, 0x00, 4, 0x30, 0x60, "VbComRegData +0x00 (u32)", Accept::ZeroOrRange},
    ROW_COM_REG_U32(0x04, 0x30, 0x30),
    ROW_COM_REG_U32(0x08, 0x30, 0x60),
    ROW_COM_REG_U16(0x26, 1, 1),
    ROW_COM_REG_U16(0x28, 0, 0),
};

// Three 12-byte groups: mov edx, imm32 (0xBA); mov ecx, imm32 (0xB9); the first two
// groups go on with 0xFF. The three immediates after 0xB9 are compared with each
// other in code.
constexpr FieldTest StartCodeTests[] = {
    ROW_START_CODE_BYTE(0, 0xBA),  ROW_START_CODE_BYTE(12, 0xBA), ROW_START_CODE_BYTE(24, 0xBA),
    ROW_START_CODE_BYTE(5, 0xB9),  ROW_START_CODE_BYTE(17, 0xB9), ROW_START_CODE_BYTE(29, 0xB9),
    ROW_START_CODE_BYTE(10, 0xFF), ROW_START_CODE_BYTE(22, 0xFF),
};

// IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE, and no
// raw data in the file.
constexpr FieldTest DataSectionTests[] = {
    ROW_SECTION(DataSectionRecord, ".data section header", SizeOfRawData, 0, 0),
    ROW_SECTION(DataSectionRecord, ".data section header", Characteristics, 0xC0000040, 0xC0000040),
};

// The immediates loaded into ecx by the three groups.
constexpr size_t StartCodeImmediates[] = {6, 18, 30};

bool StartCodeImmediatesEqual(CheckRun& run) {
  const uint8_t* code = run.StartCodeBytes();
  const uint32_t first = LoadU32Le(code, StartCodeImmediates[0]);
  const bool equal = LoadU32Le(code, StartCodeImmediates[1]) == first && LoadU32Le(code, StartCodeImmediates[2]) == first;
  return equal || run.FailValue("start code u32 at 6, 18 and 30", first, "all three equal");
}

// The steps of CheckVariantA below, in its order, and the tables they run.
constexpr SignatureStep Steps[] = {
    SignatureStep::HeaderRows,     SignatureStep::IsVbProgram,   SignatureStep::VbHeaderRows,
    SignatureStep::ProjectInfoRows, SignatureStep::ComRegDataRows, SignatureStep::StartCodeRows,
    SignatureStep::StartCodeImmediatesEqual, SignatureStep::DataSectionRows, SignatureStep::VersionName,
};

}  // namespace

constexpr SignatureTables VariantATables = [] {
  SignatureTables t;
  t.variant = Variant::A;
  t.steps = Steps;
  t.stepCount = std::size(Steps);
  t.header = TableOf(HeaderTests);
  t.vbHeader = TableOf(VbHeaderTests);
  t.projectInfo = TableOf(ProjectInfoTests);
  t.comRegData = TableOf(ComRegDataTests);
  t.startCode = TableOf(StartCodeTests);
  t.dataSection = TableOf(DataSectionTests);
  t.startCodeImmediates = StartCodeImmediates;
  t.startCodeImmediateCount = std::size(StartCodeImmediates);
  t.nameRule = &NameRuleA;
  return t;
}();

int CheckVariantA(int fd, int32_t fileSize, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace) {
  CheckRun run(fd, trace, entryCode, fileHeader, optionalHeader);
  run.HandInFileSize(fileSize);
  return run.Rows<HeaderTests>() && run.IsVbProgram() && run.VbHeader<VbHeaderTests>() &&
         run.ProjectInfo<ProjectInfoTests>() && run.ComRegData<ComRegDataTests>() &&
         run.StartCode<StartCodeTests>() && StartCodeImmediatesEqual(run) &&
         run.DataSection<DataSectionTests>() && run.VersionName(NameRuleA) && run.Matched();
}

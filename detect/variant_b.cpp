// Variant B: a Visual Basic 6 build with a project path of two backslashes and at
// least two digits, and an InternalName of one or two digits.
#include <cstdio>
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
    ROW_FILE_HEADER(NumberOfSections, 3, 3),
    ROW_OPTIONAL(MajorLinkerVersion, 6, 6),
    ROW_FILE_SIZE(0x20000, 0x60000),
    ROW_OPTIONAL(SizeOfCode, 0x20000, 0x40000),
    ROW_OPTIONAL(SizeOfInitializedData, 0x2000, 0x2000),
    ROW_OPTIONAL(AddressOfEntryPoint, 0x1000, 0x1400),
    ROW_OPTIONAL(FileAlignment, 0x1000, 0x1000),
    ROW_OPTIONAL(SectionAlignment, 0x1000, 0x1000),
    ROW_OPTIONAL(MajorOperatingSystemVersion, 4, 4),
    ROW_OPTIONAL(MajorImageVersion, 1, 1),
    ROW_OPTIONAL(MajorSubsystemVersion, 4, 4),
    ROW_OPTIONAL(SizeOfImage, 0x30000, 0x50000),
};

constexpr FieldTest VbHeaderTests[] = {
    ROW_VB_HEADER_U16(0x44, 0, 0),
    ROW_VB_HEADER_U16(0x04, 0x1FF0, 0x1FF0),
    ROW_VB_HEADER_U32(0x38, 0xFFFFFF00, 0xFFFFFF00),
    ROW_VB_HEADER_U32(0x3C, 8, 8),
    ROW_VB_HEADER_U32(0x40, 1, 1),
    ROW_VB_HEADER_U16(0x46, 0, 0),
    ROW_VB_HEADER_U32(0x48, 0xE9, 0xE9),
    ROW_VB_HEADER_U32(0x5C, 0x7A, 0x7B),
};

constexpr FieldTest ProjectInfoTests[] = {
    ROW_PROJECT_INFO_U32(0x20, 0, 0),
};

// VbProjectInfo +0x14 and +0x238 are accepted only as one of these pairs.
constexpr size_t ProjectInfoPairFirst = 0x14;
constexpr size_t ProjectInfoPairSecond = 0x238;
constexpr uint32_t ProjectInfoPairs[][2] = {
    {0x57C, 4},
    {0xA4C, 0x1E},
};

constexpr FieldTest ComRegDataTests[] = {
    ROW_COM_REG_U32(0x00, 0, 0),
    ROW_COM_REG_U32(0x04, 0x30, 0x30),
    ROW_COM_REG_U32(0x08, 0x40, 0x40),
    ROW_COM_REG_U32(0x0C, 0, 0),
    ROW_COM_REG_U16(0x26, 1, 1),
    ROW_COM_REG_U16(0x28, 0, 0),
};

constexpr FieldTest DataSectionTests[] = {
    ROW_SECTION(DataSectionRecord, ".data section header", SizeOfRawData, 0, 0),
};

constexpr uint32_t ProjectPathMinDigits = 2;

bool AcceptedProjectInfoPair(CheckRun& run) {
  const uint32_t first = LoadU32Le(run.ProjectInfoBytes(), ProjectInfoPairFirst);
  const uint32_t second = LoadU32Le(run.ProjectInfoBytes(), ProjectInfoPairSecond);
  for (const auto& pair : ProjectInfoPairs)
    if (first == pair[0] && second == pair[1]) return true;
  char required[64];
  (void)std::snprintf(required, sizeof required, "0x%X with 0x%X, or 0x%X with 0x%X",
                      static_cast<unsigned>(ProjectInfoPairs[0][0]), static_cast<unsigned>(ProjectInfoPairs[0][1]),
                      static_cast<unsigned>(ProjectInfoPairs[1][0]), static_cast<unsigned>(ProjectInfoPairs[1][1]));
  return run.FailValue("VbProjectInfo +0x14 (u32) with +0x238 (u32)", first, required);
}

// The steps of CheckVariantB below, in its order, and the tables they run.
constexpr SignatureStep Steps[] = {
    SignatureStep::HeaderRows,      SignatureStep::IsVbProgram,     SignatureStep::VbHeaderRows,
    SignatureStep::ProjectInfoRows, SignatureStep::ProjectInfoPair, SignatureStep::ComRegDataRows,
    SignatureStep::ProjectPath,     SignatureStep::DataSectionRows, SignatureStep::VersionName,
};

}  // namespace

constexpr SignatureTables VariantBTables = [] {
  SignatureTables t;
  t.variant = Variant::B;
  t.steps = Steps;
  t.stepCount = std::size(Steps);
  t.header = TableOf(HeaderTests);
  t.vbHeader = TableOf(VbHeaderTests);
  t.projectInfo = TableOf(ProjectInfoTests);
  t.comRegData = TableOf(ComRegDataTests);
  t.dataSection = TableOf(DataSectionTests);
  t.pairFirst = ProjectInfoPairFirst;
  t.pairSecond = ProjectInfoPairSecond;
  t.pairs = ProjectInfoPairs;
  t.pairCount = std::size(ProjectInfoPairs);
  t.projectPathMinDigits = ProjectPathMinDigits;
  t.nameRule = &NameRuleB;
  return t;
}();

int CheckVariantB(int fd, int32_t fileSize, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace) {
  CheckRun run(fd, trace, entryCode, fileHeader, optionalHeader);
  run.HandInFileSize(fileSize);
  return run.Rows<HeaderTests>() && run.IsVbProgram() && run.VbHeader<VbHeaderTests>() &&
         run.ProjectInfo<ProjectInfoTests>() && AcceptedProjectInfoPair(run) &&
         run.ComRegData<ComRegDataTests>() && run.ProjectPath(ProjectPathMinDigits) &&
         run.DataSection<DataSectionTests>() && run.VersionName(NameRuleB) && run.Matched();
}

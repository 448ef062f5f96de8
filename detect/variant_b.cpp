// Variant B: a Visual Basic 6 build with a project path of two backslashes and at
// least two digits, and an InternalName of one or two digits.
#include <cstring>

#include "detect/field_rows.h"
#include "detect/field_test.h"
#include "detect/signature_steps.h"
#include "detect/signatures.h"
#include "image/pe_header_reader.h"
#include "image/vb_header_reader.h"

namespace {

// The records handed in by the file signature detector.
const FieldTest HeaderTests[] = {
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

const FieldTest VbHeaderTests[] = {
    ROW_VB_HEADER_U16(0x44, 0, 0),
    ROW_VB_HEADER_U16(0x04, 0x1FF0, 0x1FF0),
    ROW_VB_HEADER_U32(0x38, 0xFFFFFF00, 0xFFFFFF00),
    ROW_VB_HEADER_U32(0x3C, 8, 8),
    ROW_VB_HEADER_U32(0x40, 1, 1),
    ROW_VB_HEADER_U16(0x46, 0, 0),
    ROW_VB_HEADER_U32(0x48, 0xE9, 0xE9),
    ROW_VB_HEADER_U32(0x5C, 0x7A, 0x7B),
};

const FieldTest ProjectInfoTests[] = {
    ROW_PROJECT_INFO_U32(0x20, 0, 0),
};

// VbProjectInfo +0x14 and +0x238 are accepted only as one of these pairs.
constexpr size_t ProjectInfoPairFirst = 0x14;
constexpr size_t ProjectInfoPairSecond = 0x238;
const uint32_t ProjectInfoPairs[][2] = {
    {0x57C, 4},
    {0xA4C, 0x1E},
};

const FieldTest ComRegDataTests[] = {
    ROW_COM_REG_U32(0x00, 0, 0),
    ROW_COM_REG_U32(0x04, 0x30, 0x30),
    ROW_COM_REG_U32(0x08, 0x40, 0x40),
    ROW_COM_REG_U32(0x0C, 0, 0),
    ROW_COM_REG_U16(0x26, 1, 1),
    ROW_COM_REG_U16(0x28, 0, 0),
};

constexpr uint32_t ProjectPathMinDigits = 2;

const FieldTest DataSectionTests[] = {
    ROW_SECTION(DataSectionRecord, ".data section header", SizeOfRawData, 0, 0),
};

bool IsAcceptedPair(const VbProjectInfo& info) {
  const uint32_t first = LoadU32Le(info.bytes, ProjectInfoPairFirst);
  const uint32_t second = LoadU32Le(info.bytes, ProjectInfoPairSecond);
  for (const auto& pair : ProjectInfoPairs)
    if (first == pair[0] && second == pair[1]) return true;
  return false;
}

}  // namespace

int CheckVariantB(int fd, int32_t fileSize, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace) {
  RecordSet records;
  records.Set(EntryCodeRecord, entryCode);
  records.Set(FileHeaderRecord, fileHeader);
  records.Set(OptionalHeaderRecord, optionalHeader);
  records.SetFileSize(fileSize);
  if (!RunFieldTests(HeaderTests, records, trace)) return 0;

  if (!IsVbProgram(fd)) return FailStep(trace, "IsVbProgram", "true");
  VbHeader header;
  std::memset(&header, 0, sizeof header);
  if (!ReadVbHeader(fd, &header)) return FailStep(trace, "ReadVbHeader", "succeeds");
  records.Set(VbHeaderRecord, header.bytes);
  if (!RunFieldTests(VbHeaderTests, records, trace)) return 0;

  VbProjectInfo info;
  std::memset(&info, 0, sizeof info);
  if (!ReadVbProjectInfo(fd, &info)) return FailStep(trace, "ReadVbProjectInfo", "succeeds");
  records.Set(VbProjectInfoRecord, info.bytes);
  if (!RunFieldTests(ProjectInfoTests, records, trace)) return 0;
  if (!IsAcceptedPair(info))
    return FailValue(trace, "VbProjectInfo +0x14 (u32) with +0x238 (u32)",
                     LoadU32Le(info.bytes, ProjectInfoPairFirst), "0x57C with 0x4, or 0xA4C with 0x1E");

  VbComRegData comRegData;
  std::memset(&comRegData, 0, sizeof comRegData);
  if (!ReadVbComRegData(fd, &comRegData)) return FailStep(trace, "ReadVbComRegData", "succeeds");
  records.Set(VbComRegDataRecord, comRegData.bytes);
  if (!RunFieldTests(ComRegDataTests, records, trace)) return 0;

  char path[WorkBufferSize] = {};
  if (!TestProjectPath(fd, path, ProjectPathMinDigits, trace)) return 0;

  IMAGE_SECTION_HEADER dataSection;
  std::memset(&dataSection, 0, sizeof dataSection);
  if (!ReadSectionHeaderByName(fd, ".data", &dataSection))
    return FailStep(trace, ".data section header", "the section exists");
  records.Set(DataSectionRecord, &dataSection);
  if (!RunFieldTests(DataSectionTests, records, trace)) return 0;

  uint8_t block[VersionBlockSize] = {};
  if (!ReadVersionBlock(fd, fileSize, block)) return FailStep(trace, "version block read", "succeeds");
  const int32_t key = FindVersionKey(block);
  if (key < 0) return FailStep(trace, "InternalName key", "found");
  if (key > static_cast<int32_t>(VersionBlockSize) - VersionKeyReachB)
    return FailValue(trace, "InternalName key offset", static_cast<uint32_t>(key), "0x0-0x1BE");
  if (!PassesNameRuleB(block, key)) return FailStep(trace, "InternalName value", "one or two digits");
  return Matched(trace);
}

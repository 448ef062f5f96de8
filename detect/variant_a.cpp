// Variant A: a Visual Basic 6 build with an empty project path, a start routine of
// three register-loading groups, and an InternalName of eight characters without
// a digit.
#include <cstring>

#include "detect/field_rows.h"
#include "detect/field_test.h"
#include "detect/signature_steps.h"
#include "detect/signatures.h"
#include "image/pe_header_reader.h"
#include "image/read_exact.h"
#include "image/vb_header_reader.h"

namespace {

// The records handed in by the file signature detector.
const FieldTest HeaderTests[] = {
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

const FieldTest VbHeaderTests[] = {
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
const FieldTest ProjectInfoTests[] = {
    ROW_PROJECT_INFO_U8(0x24, 0, 0),
    ROW_PROJECT_INFO_U32(0x04, 0x402000, 0x403000),
    ROW_PROJECT_INFO_U32(0x20, 0, 0),
    ROW_PROJECT_INFO_U32(0x234, 0x401000, 0x402000),
};

const FieldTest ComRegDataTests[] = {
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
const FieldTest StartCodeTests[] = {
    ROW_START_CODE_BYTE(0, 0xBA),  ROW_START_CODE_BYTE(12, 0xBA), ROW_START_CODE_BYTE(24, 0xBA),
    ROW_START_CODE_BYTE(5, 0xB9),  ROW_START_CODE_BYTE(17, 0xB9), ROW_START_CODE_BYTE(29, 0xB9),
    ROW_START_CODE_BYTE(10, 0xFF), ROW_START_CODE_BYTE(22, 0xFF),
};

// IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE, and no
// raw data in the file.
const FieldTest DataSectionTests[] = {
    ROW_SECTION(DataSectionRecord, ".data section header", SizeOfRawData, 0, 0),
    ROW_SECTION(DataSectionRecord, ".data section header", Characteristics, 0xC0000040, 0xC0000040),
};

constexpr uint32_t StartCodeSize = 64;
constexpr size_t VbHeaderStartCodeAddress = 0x2C;

// The 64 bytes at the VA in VbHeader +0x2C; the mapped offset must lie inside the file.
int ReadStartCode(int fd, int32_t fileSize, uint32_t va, uint8_t* code) {
  const int32_t offset = static_cast<int32_t>(VaToFileOffset(fd, va));
  if (offset <= 0 || offset >= fileSize) return 0;
  return ReadExactAt(fd, offset, code, StartCodeSize);
}

bool StartCodeImmediatesEqual(const uint8_t* code) {
  const uint32_t first = LoadU32Le(code, 6);
  return LoadU32Le(code, 18) == first && LoadU32Le(code, 30) == first;
}

}  // namespace

int CheckVariantA(int fd, int32_t fileSize, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace) {
  RecordSet records;
  records.Set(EntryCodeRecord, entryCode);
  records.Set(FileHeaderRecord, fileHeader);
  records.Set(OptionalHeaderRecord, optionalHeader);
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

  VbComRegData comRegData;
  std::memset(&comRegData, 0, sizeof comRegData);
  if (!ReadVbComRegData(fd, &comRegData)) return FailStep(trace, "ReadVbComRegData", "succeeds");
  records.Set(VbComRegDataRecord, comRegData.bytes);
  if (!RunFieldTests(ComRegDataTests, records, trace)) return 0;

  uint8_t startCode[StartCodeSize] = {};
  if (!ReadStartCode(fd, fileSize, LoadU32Le(header.bytes, VbHeaderStartCodeAddress), startCode))
    return FailStep(trace, "start code read", "offset inside the file, 64 bytes");
  records.Set(StartCodeRecord, startCode);
  if (!RunFieldTests(StartCodeTests, records, trace)) return 0;
  if (!StartCodeImmediatesEqual(startCode))
    return FailValue(trace, "start code u32 at 6, 18 and 30", LoadU32Le(startCode, 6), "all three equal");

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
  if (key > static_cast<int32_t>(VersionBlockSize) - VersionKeyReachA)
    return FailValue(trace, "InternalName key offset", static_cast<uint32_t>(key), "0x0-0x1B4");
  if (!PassesNameRuleA(block, key)) return FailStep(trace, "InternalName value", "eight characters, no digit");
  return Matched(trace);
}

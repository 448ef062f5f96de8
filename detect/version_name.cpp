#include "detect/version_name.h"

#include "image/byte_pattern.h"
#include "image/file_read.h"
#include "image/pe_header_reader.h"
#include "image/pe_records.h"
#include "image/resource_walker.h"

const uint8_t VersionKey[VersionKeySize] = {
    0x49, 0x00, 0x6E, 0x00, 0x74, 0x00, 0x65, 0x00, 0x72, 0x00, 0x6E, 0x00, 0x61,
    0x00, 0x6C, 0x00, 0x4E, 0x00, 0x61, 0x00, 0x6D, 0x00, 0x65, 0x00, 0x00, 0x00,
};

namespace {

constexpr uint32_t RtVersion = 16;

bool IsDigit(uint8_t c) { return c >= 0x30 && c <= 0x39; }

// Low byte of UTF-16 unit `unit` of the InternalName value.
uint8_t ValueByte(const uint8_t* block, int32_t keyOffset, int unit) {
  return block[static_cast<size_t>(keyOffset) + VersionKeySize + 2 * static_cast<size_t>(unit)];
}

}  // namespace

int ReadVersionBlock(int fd, int32_t fileSize, uint8_t* block) {
  // The resource table's RVA is the first field of data directory 2. The sum is
  // formed unsigned: a hostile e_lfanew must not overflow a signed value.
  const uint32_t entry = static_cast<uint32_t>(GetOptionalHeaderOffset(fd)) + ResourceDirectoryEntryOffset;
  uint8_t rvaBytes[4] = {};
  if (!ReadExactAt(fd, static_cast<int32_t>(entry), rvaBytes, sizeof rvaBytes)) return 0;

  const uint32_t root = RvaToFileOffset(fd, LoadU32Le(rvaBytes, 0));
  if (!InsideFile(static_cast<int32_t>(root), fileSize)) return 0;

  uint32_t dataRva = 0;
  uint32_t dataSize = 0;  // not used: the block is read whatever size is declared
  if (!FindResourceEntry(fd, nullptr, 0, RtVersion, root, root, &dataRva, &dataSize, 0)) return 0;

  const uint32_t data = RvaToFileOffset(fd, dataRva);
  if (!InsideFile(static_cast<int32_t>(data), fileSize)) return 0;
  return ReadExactAt(fd, static_cast<int32_t>(data), block, VersionBlockSize);
}

int32_t FindVersionKey(const uint8_t* block) {
  return FindBytePattern(block, static_cast<int32_t>(VersionBlockSize), VersionKey,
                         static_cast<int32_t>(VersionKeySize));
}

bool PassesNameRuleA(const uint8_t* block, int32_t keyOffset) {
  for (int unit = 0; unit < 9; ++unit)
    if (IsDigit(ValueByte(block, keyOffset, unit))) return false;
  return ValueByte(block, keyOffset, 8) == 0 && ValueByte(block, keyOffset, 7) != 0;
}

bool PassesNameRuleB(const uint8_t* block, int32_t keyOffset) {
  const uint8_t c0 = ValueByte(block, keyOffset, 0);
  const uint8_t c1 = ValueByte(block, keyOffset, 1);
  if (IsDigit(c0) && c1 == 0) return true;
  return IsDigit(c0) && IsDigit(c1) && ValueByte(block, keyOffset, 2) == 0;
}

const NameRule NameRuleA = {44, PassesNameRuleA, "eight characters, no digit"};
const NameRule NameRuleB = {34, PassesNameRuleB, "one or two digits"};

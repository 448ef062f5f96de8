#include "image/vb_header_reader.h"

#include <cstring>

#include "image/file_read.h"
#include "image/pe_header_reader.h"

namespace {

constexpr uint32_t EntryCodeHeadSize = 12;

enum class CallOpcode { Required, Ignored };

// Follows the entry code's push to the program header. Returns the header's file
// offset, or -1.
int32_t LocateVbHeader(int fd, CallOpcode call) {
  const int32_t entry = static_cast<int32_t>(GetEntryPointFileOffset(fd));
  const int32_t length = GetFileLength(fd);
  // The entry code may start at offset 0: an entry point at RVA 0 runs the headers.
  if (entry < 0 || entry >= length) return -1;

  uint8_t head[EntryCodeHeadSize] = {};
  if (!ReadExactAt(fd, entry, head, sizeof head)) return -1;
  if (head[0] != PushImm32Opcode) return -1;
  if (call == CallOpcode::Required && head[EntryCallOpcode] != CallRel32Opcode) return -1;

  // A pushed address below ImageBase or outside every section maps to -1, which is
  // negative here; offset 0 is the DOS header and cannot hold a program header.
  const int32_t header = static_cast<int32_t>(VaToFileOffset(fd, LoadU32Le(head, EntryPushedAddress)));
  return InsideFile(header, length) ? header : -1;
}

// Reads a record at a VA held in another record; the VA must map to a positive file
// offset. No test against the file length: the exact read fails on its own when the
// record lies beyond the end.
int ReadAtMappedVa(int fd, uint32_t va, void* record, uint32_t size) {
  const int32_t offset = static_cast<int32_t>(VaToFileOffset(fd, va));
  return offset > 0 && ReadExactAt(fd, offset, record, size) ? 1 : 0;
}

// The low byte of each unit, up to the first zero unit or maxUnits units,
// whichever comes first, then a zero byte.
void NarrowUnits(char* output, const uint8_t* wide, size_t maxUnits) {
  size_t unit = 0;
  for (; unit < maxUnits; ++unit) {
    const uint16_t value = LoadU16Le(wide, 2 * unit);
    if (value == 0) break;
    output[unit] = static_cast<char>(value & 0xFF);
  }
  output[unit] = 0;
}

}  // namespace

int IsVbProgram(int fd) {
  const int32_t header = LocateVbHeader(fd, CallOpcode::Required);
  uint8_t magic[sizeof VbMagic] = {};
  if (header < 0 || !ReadExactAt(fd, header, magic, sizeof magic)) return 0;
  return std::memcmp(magic, VbMagic, sizeof VbMagic) == 0 ? 1 : 0;
}

int ReadVbHeader(int fd, VbHeader* header) {
  if (header == nullptr) return 0;
  const int32_t at = LocateVbHeader(fd, CallOpcode::Ignored);
  if (at < 0 || !ReadExactAt(fd, at, header->bytes, sizeof header->bytes)) return 0;
  return std::memcmp(header->bytes, VbMagic, sizeof VbMagic) == 0 ? 1 : 0;
}

int ReadVbProjectInfo(int fd, VbProjectInfo* info) {
  if (info == nullptr) return 0;
  VbHeader header;
  std::memset(&header, 0, sizeof header);
  if (!ReadVbHeader(fd, &header)) return 0;
  return ReadAtMappedVa(fd, LoadU32Le(header.bytes, VbHeaderProjectInfoAddress), info->bytes, sizeof info->bytes);
}

int ReadVbComRegData(int fd, VbComRegData* data) {
  if (data == nullptr) return 0;
  VbHeader header;
  std::memset(&header, 0, sizeof header);
  if (!ReadVbHeader(fd, &header)) return 0;
  const uint32_t address = LoadU32Le(header.bytes, VbHeaderComRegDataAddress);
  if (address == 0) return 0;
  return ReadAtMappedVa(fd, address, data->bytes, sizeof data->bytes);
}

int ReadVbProjectPath(int fd, char* buffer, uint32_t bufferSize) {
  if (buffer == nullptr || bufferSize < VbProjectPathUnits) return 0;
  VbProjectInfo info;
  std::memset(&info, 0, sizeof info);
  if (!ReadVbProjectInfo(fd, &info)) return 0;
  // A path that fills all 264 units without a zero unit is cut where the field or
  // the buffer (less its terminating zero) ends, whichever is shorter.
  const size_t maxUnits = bufferSize - 1 < VbProjectPathUnits ? bufferSize - 1 : VbProjectPathUnits;
  NarrowUnits(buffer, info.bytes + VbProjectInfoProjectPath, maxUnits);
  return 1;
}

char* NarrowWideString(char* output, const uint8_t* wide) {
  if (output == nullptr || wide == nullptr) return nullptr;
  NarrowUnits(output, wide, static_cast<size_t>(-1));
  return output;
}

// Fuzz target: the resource directory walker alone. The first bytes of the input
// choose the filter (as the version lookup uses it, a name filter, or none); the
// whole input is the file, with the root directory and the resource base right
// after those bytes.
#include <cstdint>
#include <cstring>

#include "image/resource_walker.h"
#include "tests/fuzz/memory_file.h"

namespace {

// byte 0: identifier filter; byte 1: name length (0-6, 0 = no name filter);
// bytes 2-7: the name's characters; the tree starts at offset 8.
constexpr uint32_t FilterBytes = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < FilterBytes) return 0;
  MemoryFile* file = SharedMemoryFile();
  FillMemoryFile(file, data, size);

  uint32_t identifier = data[0];
  uint32_t nameLength = data[1] % 7;
  char name[7] = {};
  std::memcpy(name, data + 2, nameLength);
  uint32_t dataRva = 0xA5A5A5A5u, dataSize = 0x5A5A5A5Au;
  (void)FindResourceEntry(file->fd, nameLength != 0 ? name : nullptr, nameLength, identifier,
                          FilterBytes, FilterBytes, &dataRva, &dataSize, 0);
  return 0;
}

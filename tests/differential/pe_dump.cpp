// Prints what the image readers make of one PE file, for comparison with an
// independent parser:
//   pe_dump FILE [xHEXNAME | rRVA | vVA]...
// xHEXNAME is a section name as hex bytes (names may hold any byte, or none);
// rRVA and vVA are addresses in hex to map. Output lines:
//   table <section table offset>
//   entry <entry point file offset, unsigned>
//   section <HEXNAME> <header offset> [<VirtualSize> <VirtualAddress> <SizeOfRawData>
//           <PointerToRawData> <Characteristics>]
//   rva <RVA> <file offset>
//   va <VA> <file offset>
//   resource <directory RVA> <its file offset>
//   version <found> [<data RVA> <data size>]
// Numbers are decimal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/pe_header_reader.h"
#include "image/file_read.h"
#include "image/resource_walker.h"
#include "platform/crt_io.h"

namespace {

constexpr uint16_t VersionType = 16;

bool DecodeHexName(const char* hex, char* name, size_t room) {
  if (hex[0] != 'x') return false;
  ++hex;
  size_t length = std::strlen(hex);
  if (length % 2 != 0 || length / 2 >= room) return false;
  for (size_t i = 0; i < length / 2; ++i) {
    char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
    char* end = nullptr;
    unsigned long byte = std::strtoul(pair, &end, 16);
    if (end != pair + 2) return false;
    name[i] = static_cast<char>(byte);
  }
  name[length / 2] = 0;
  return true;
}

void DumpSection(int fd, const char* hexName) {
  char name[64];
  if (!DecodeHexName(hexName, name, sizeof name)) {
    std::printf("section %s bad-name\n", hexName);
    return;
  }
  IMAGE_SECTION_HEADER header;
  std::memset(&header, 0, sizeof header);
  int32_t offset = FindSectionHeaderOffset(fd, name);
  if (ReadSectionHeaderByName(fd, name, &header) == 0) {
    std::printf("section %s %d\n", hexName, offset);
    return;
  }
  std::printf("section %s %d %u %u %u %u %u\n", hexName, offset, header.Misc.VirtualSize,
              header.VirtualAddress, header.SizeOfRawData, header.PointerToRawData,
              header.Characteristics);
}

void DumpVersion(int fd) {
  uint8_t entry[8];
  uint32_t at = static_cast<uint32_t>(GetOptionalHeaderOffset(fd)) + ResourceDirectoryEntryOffset;
  if (!ReadExactAt(fd, static_cast<int32_t>(at), entry, sizeof entry)) {
    std::printf("resource unreadable\nversion 0\n");
    return;
  }
  uint32_t rva = LoadU32Le(entry, 0);
  uint32_t root = RvaToFileOffset(fd, rva);
  std::printf("resource %u %u\n", rva, root);
  uint32_t dataRva = 0, dataSize = 0;
  if (rva == 0 || static_cast<int32_t>(root) <= 0 ||
      FindResourceEntry(fd, nullptr, 0, VersionType, root, root, &dataRva, &dataSize, 0) == 0) {
    std::printf("version 0\n");
    return;
  }
  std::printf("version 1 %u %u\n", dataRva, dataSize);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pe_dump FILE [HEXNAME...]\n");
    return 2;
  }
  int fd = _open(argv[1], _O_RDONLY | _O_BINARY);
  if (fd == -1) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::printf("table %d\n", GetSectionTableOffset(fd));
  std::printf("entry %u\n", GetEntryPointFileOffset(fd));
  for (int i = 2; i < argc; ++i) {
    if (argv[i][0] == 'x') DumpSection(fd, argv[i]);
    uint32_t address = static_cast<uint32_t>(std::strtoul(argv[i] + 1, nullptr, 16));
    if (argv[i][0] == 'r') std::printf("rva %u %u\n", address, RvaToFileOffset(fd, address));
    if (argv[i][0] == 'v') std::printf("va %u %u\n", address, VaToFileOffset(fd, address));
  }
  DumpVersion(fd);
  (void)_close(fd);
  return 0;
}

#include "tools/pestkill-scan/sources/disk_image/container_format.h"

#include <cstring>

namespace {

struct Magic {
  size_t offset;
  const char* bytes;
  size_t length;
  const char* format;
};

const Magic Magics[] = {
    {0, "QFI\xfb", 4, "QCOW2"},                  // the QEMU copy-on-write header
    {0, "vhdxfile", 8, "VHDX"},                  // the VHDX file type identifier
    {3, "-FVE-FS-", 8, "a BitLocker volume"},    // the encrypted volume's boot sector
};

const Magic VolumeMagics[] = {
    {3, "NTFS    ", 8, "NTFS"},
    {3, "EXFAT   ", 8, "exFAT"},
    {0x36, "FAT", 3, "FAT"},        // FAT12 and FAT16 boot sector
    {0x52, "FAT32   ", 8, "FAT"},
    {1024 + 56, "\x53\xef", 2, "ext"},  // the superblock's magic
};

const char* FirstMatch(const Magic* magics, size_t count, const uint8_t* head, size_t length) {
  for (size_t i = 0; i < count; ++i) {
    const Magic& magic = magics[i];
    if (magic.offset + magic.length <= length && std::memcmp(head + magic.offset, magic.bytes, magic.length) == 0)
      return magic.format;
  }
  return nullptr;
}

}  // namespace

const char* UnreadContainerFormat(const uint8_t* head, size_t length) {
  return FirstMatch(Magics, sizeof Magics / sizeof Magics[0], head, length);
}

const char* VolumeFormatNamed(const uint8_t* head, size_t length) {
  return FirstMatch(VolumeMagics, sizeof VolumeMagics / sizeof VolumeMagics[0], head, length);
}

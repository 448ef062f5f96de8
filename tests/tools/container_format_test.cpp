// The first bytes that name a container the disk image library does not read, and
// a file system the library failed to open.
#include "tools/pestkill-scan/sources/disk_image/container_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> HeadWith(size_t offset, const char* bytes, size_t length, size_t size = 2048) {
  std::vector<uint8_t> head(size, 0);
  std::memcpy(head.data() + offset, bytes, length);
  return head;
}

TEST(ContainerFormat, NamesTheFormatsTheLibraryTakesForRaw) {
  struct Case {
    size_t offset;
    const char* bytes;
    size_t length;
    const char* format;  // null: none
  };
  const Case cases[] = {
      {0, "QFI\xfb", 4, "QCOW2"},
      {0, "vhdxfile", 8, "VHDX"},
      {3, "-FVE-FS-", 8, "a BitLocker volume"},
      {0, "QFI\xfa", 4, nullptr},      // one byte off
      {1, "vhdxfile", 8, nullptr},     // at the wrong offset
      {3, "NTFS    ", 8, nullptr},     // a volume, not a container
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> head = HeadWith(c.offset, c.bytes, c.length);
    const char* named = UnreadContainerFormat(head.data(), head.size());
    EXPECT_EQ(named == nullptr ? std::string("none") : std::string(named),
              c.format == nullptr ? std::string("none") : std::string(c.format))
        << c.bytes;
  }
  // A head too short for the signature names nothing and reads nothing beyond it.
  const std::vector<uint8_t> cut = HeadWith(0, "vhdxfile", 8, 8);
  EXPECT_EQ(UnreadContainerFormat(cut.data(), 7), nullptr);
}

TEST(ContainerFormat, NamesTheFileSystemABootSectorClaims) {
  struct Case {
    size_t offset;
    const char* bytes;
    size_t length;
    const char* format;
  };
  const Case cases[] = {
      {3, "NTFS    ", 8, "NTFS"},  {3, "EXFAT   ", 8, "exFAT"}, {0x36, "FAT16   ", 8, "FAT"},
      {0x52, "FAT32   ", 8, "FAT"}, {1024 + 56, "\x53\xef", 2, "ext"}, {3, "MSDOS5.0", 8, nullptr},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> head = HeadWith(c.offset, c.bytes, c.length);
    const char* named = VolumeFormatNamed(head.data(), head.size());
    EXPECT_EQ(named == nullptr ? std::string("none") : std::string(named),
              c.format == nullptr ? std::string("none") : std::string(c.format));
  }
  // The ext superblock lies beyond a short head: not claimed.
  const std::vector<uint8_t> head = HeadWith(1024 + 56, "\x53\xef", 2);
  EXPECT_EQ(VolumeFormatNamed(head.data(), 1024), nullptr);
}

}  // namespace

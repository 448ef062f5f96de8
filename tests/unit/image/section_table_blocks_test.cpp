// The section table walks read many headers per read. These cases sit where block
// reads go wrong: a match in the first or last header of a block, tables one header
// short of or past a block, a file cut inside a header at a block boundary, and
// tables that cross 2 GiB or wrap past 4 GiB, where a seek fails and a read takes
// the bytes after the previous one. The expected results and positions are those of
// a walk that seeks to each header and reads it alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/pe_header_reader.h"
#include "platform/crt_io.h"
#include "tests/support/pe_image_builder.h"

using testpe::OpenedFile;
using testpe::PeImage;

namespace {

constexpr uint32_t HeaderSize = 40;

// One header per seek and read, straight from the format: the forward search by name.
int32_t FindOneAtATime(int fd, const char* name) {
  uint32_t table = static_cast<uint32_t>(GetSectionTableOffset(fd));
  int count = GetSectionCount(fd);
  (void)_lseek(fd, static_cast<int32_t>(table), SEEK_SET);
  if (count == 0) return -1;
  for (int i = 0; i < count; ++i) {
    IMAGE_SECTION_HEADER header;
    if (_read(fd, &header, HeaderSize) != static_cast<int>(HeaderSize)) continue;
    char text[SectionNameTextSize];
    std::memcpy(text, header.Name, 8);
    text[8] = 0;
    if (_stricmp(text, name) == 0) return static_cast<int32_t>(_tell(fd) - HeaderSize);
  }
  return -1;
}

uint32_t EndOf(const IMAGE_SECTION_HEADER& h) {
  uint32_t size = h.Misc.VirtualSize > h.SizeOfRawData ? h.Misc.VirtualSize : h.SizeOfRawData;
  return size > 0xFFFFFFFFu - h.VirtualAddress ? 0xFFFFFFFFu : h.VirtualAddress + size;
}

uint32_t MapThrough(const OptionalHeader32& o, const IMAGE_SECTION_HEADER& h, uint32_t rva) {
  uint32_t unit = o.FileAlignment < 512 ? o.FileAlignment : 512;
  uint32_t base = o.Subsystem == 1 ? h.PointerToRawData : h.PointerToRawData & (0u - unit);
  return base + (rva - h.VirtualAddress);
}

// One header per seek and read: the backwards walk and the second look at the last.
uint32_t MapOneAtATime(int fd, uint32_t rva) {
  OptionalHeader32 optional;
  std::memset(&optional, 0, sizeof optional);
  (void)ReadOptionalHeader(fd, &optional);
  uint32_t table = static_cast<uint32_t>(GetSectionTableOffset(fd));
  uint32_t count = static_cast<uint32_t>(GetSectionCount(fd));
  uint32_t lowest = 0xFFFFFFFFu;
  IMAGE_SECTION_HEADER h;
  for (uint32_t index = count; index-- > 0;) {
    (void)_lseek(fd, static_cast<int32_t>(table + HeaderSize * index), SEEK_SET);
    if (_read(fd, &h, HeaderSize) != static_cast<int>(HeaderSize)) break;
    if (h.VirtualAddress < lowest) lowest = h.VirtualAddress;
    if (h.SizeOfRawData != 0 && h.VirtualAddress <= rva && rva < EndOf(h))
      return MapThrough(optional, h, rva);
  }
  if (count != 0) {
    (void)_lseek(fd, static_cast<int32_t>(table + HeaderSize * (count - 1)), SEEK_SET);
    if (_read(fd, &h, HeaderSize) != static_cast<int>(HeaderSize)) return rva;
    if (h.SizeOfRawData != 0 && h.VirtualAddress <= rva && rva <= EndOf(h))
      return MapThrough(optional, h, rva);
  }
  return rva < lowest ? rva : NoFileOffset;
}

// Result and position afterwards of both walks from the same starting position.
void ExpectSameAsOneAtATime(int fd, long start, const char* name, uint32_t rva) {
  ASSERT_EQ(_lseek(fd, start, SEEK_SET), start);
  int32_t expectedOffset = FindOneAtATime(fd, name);
  long expectedPosition = _tell(fd);
  ASSERT_EQ(_lseek(fd, start, SEEK_SET), start);
  EXPECT_EQ(FindSectionHeaderOffset(fd, name), expectedOffset) << "name " << name;
  EXPECT_EQ(_tell(fd), expectedPosition) << "after finding " << name;

  ASSERT_EQ(_lseek(fd, start, SEEK_SET), start);
  uint32_t expectedMapping = MapOneAtATime(fd, rva);
  expectedPosition = _tell(fd);
  ASSERT_EQ(_lseek(fd, start, SEEK_SET), start);
  EXPECT_EQ(RvaToFileOffset(fd, rva), expectedMapping) << "rva " << rva;
  EXPECT_EQ(_tell(fd), expectedPosition) << "after mapping " << rva;
}

// Section k: named "s<k>", 0x1000 bytes at RVA 0x10000 * (k + 1), raw data at
// 0x200 * (k + 1) (only the table is in the file).
PeImage NumberedSections(uint32_t count) {
  PeImage image;
  for (uint32_t k = 0; k < count; ++k)
    image.AddSection("s" + std::to_string(k), 0x10000 * (k + 1), 0x1000, 0x200 * (k + 1), 0x200,
                     testpe::DataSection);
  image.SetFileLength(image.SectionHeaderOffset(count));
  return image;
}

}  // namespace

// Every header of tables around one and two blocks: found by name and mapped through,
// with the position just past that header.
TEST(SectionTableBlocks, EachHeaderMatchesWithPositionJustPastIt) {
  for (uint32_t count : {1u, 31u, 32u, 33u, 63u, 64u, 65u, 97u}) {
    PeImage image = NumberedSections(count);
    OpenedFile f(image.Bytes());
    for (uint32_t k = 0; k < count; ++k) {
      SCOPED_TRACE("count " + std::to_string(count) + ", header " + std::to_string(k));
      long past = static_cast<long>(image.SectionHeaderOffset(k + 1));
      std::string name = "S" + std::to_string(k);
      EXPECT_EQ(FindSectionHeaderOffset(f.fd, name.c_str()),
                static_cast<int32_t>(image.SectionHeaderOffset(k)));
      EXPECT_EQ(_tell(f.fd), past);
      EXPECT_EQ(RvaToFileOffset(f.fd, 0x10000 * (k + 1) + 0x123), 0x200 * (k + 1) + 0x123);
      EXPECT_EQ(_tell(f.fd), past);
    }
    SCOPED_TRACE("count " + std::to_string(count) + ", no match");
    long end = static_cast<long>(image.SectionHeaderOffset(count));
    EXPECT_EQ(FindSectionHeaderOffset(f.fd, "none"), -1);
    EXPECT_EQ(_tell(f.fd), end);
    // Between two sections: the walk reads every header, then the last one again.
    EXPECT_EQ(RvaToFileOffset(f.fd, 0x18000), NoFileOffset);
    EXPECT_EQ(_tell(f.fd), end);
  }
}

// Overlapping sections map through the later header, also when the two headers
// come in different blocks; the lowest address counts headers of every block.
TEST(SectionTableBlocks, LaterHeaderAndLowestAddressAcrossBlocks) {
  for (uint32_t later : {1u, 31u, 32u, 33u, 64u}) {
    SCOPED_TRACE("overlap of headers " + std::to_string(later - 1) + " and " +
                 std::to_string(later));
    PeImage image = NumberedSections(70);
    image.SectionAt(later).VirtualAddress = 0x10000 * later + 0x800;
    OpenedFile f(image.Bytes());
    EXPECT_EQ(RvaToFileOffset(f.fd, 0x10000 * later + 0x900), 0x200 * (later + 1) + 0x100);
    EXPECT_EQ(_tell(f.fd), static_cast<long>(image.SectionHeaderOffset(later + 1)));
  }
  {
    SCOPED_TRACE("lowest address in the first header, which maps nothing");
    PeImage image = NumberedSections(70);
    image.SectionAt(0).VirtualAddress = 0x100;
    image.SectionAt(0).SizeOfRawData = 0;
    OpenedFile f(image.Bytes());
    EXPECT_EQ(RvaToFileOffset(f.fd, 0x200), NoFileOffset);
    EXPECT_EQ(RvaToFileOffset(f.fd, 0xFF), 0xFFu);
  }
}

// A file cut at and around each block boundary of a 70-header table (blocks of the
// backwards walk start at headers 38 and 6, those of the forward search at 32 and 64).
TEST(SectionTableBlocks, TableCutAroundBlockBoundaries) {
  PeImage image = NumberedSections(70);
  std::vector<uint8_t> whole = image.Bytes();
  for (uint32_t boundary : {0u, 6u, 32u, 38u, 64u, 69u, 70u}) {
    for (int delta : {-41, -40, -39, -1, 0, 1, 39}) {
      int64_t length = static_cast<int64_t>(image.SectionHeaderOffset(boundary)) + delta;
      if (length < 0 || length > static_cast<int64_t>(whole.size())) continue;
      SCOPED_TRACE("cut at " + std::to_string(length));
      std::vector<uint8_t> bytes(whole.begin(), whole.begin() + length);
      OpenedFile f(bytes);
      for (uint32_t k : {0u, 5u, 6u, 31u, 32u, 37u, 38u, 63u, 64u, 69u}) {
        std::string name = "s" + std::to_string(k);
        // Found only when the whole header is in the file.
        bool whole_header = image.SectionHeaderOffset(k + 1) <= length;
        ASSERT_EQ(_lseek(f.fd, 0, SEEK_SET), 0);
        EXPECT_EQ(FindSectionHeaderOffset(f.fd, name.c_str()),
                  whole_header ? static_cast<int32_t>(image.SectionHeaderOffset(k)) : -1)
            << name;
        ExpectSameAsOneAtATime(f.fd, 0, name.c_str(), 0x10000 * (k + 1) + 0x10);
      }
    }
  }
}

// Hostile placements of the table. With e_lfanew near the top of the range the
// headers' seeks fail, so the file and optional headers come from the caller's
// position; SizeOfOptionalHeader then puts the table just below 4 GiB (it wraps to
// the start of the file part way through), at 2 GiB, or, with SizeOfOptionalHeader
// 0 and a huge NumberOfRvaAndSizes, just below 2 GiB. File bytes are random; the
// RVAs asked for are taken from the headers the walk reads, so that some match.
TEST(SectionTableBlocks, TablesAcrossTwoAndFourGiBReadAsHeaderAtATime) {
  struct Placement {
    const char* what;
    uint32_t eLfanew;
    uint16_t sizeOfOptionalHeader;
    uint32_t numberOfRvaAndSizes;
  } placements[] = {
      // table = e_lfanew + 24 + SizeOfOptionalHeader, modulo 4 GiB
      {"wraps after 2 headers", 0xFFFFFF00u, 0x98, 0},  // table 0xFFFFFFB0
      {"wraps after 40 headers", 0xFFFFF000u, 0x9A8, 0},  // table 0xFFFFF9C0
      {"at 2 GiB", 0x7FFFFFFCu, 0x10, 0},
      // table = e_lfanew + 120 + 8 * NumberOfRvaAndSizes: 0x7FFFFE04, 13 headers below 2 GiB
      {"crosses 2 GiB", 0x7FFFFFFCu, 0, (0x7FFFFE04u - 0x80000074u) / 8},
      {"in the file", 0x100, 0xE0, 0},
  };
  constexpr size_t FileSize = 40 * 320;
  std::mt19937 random(20261210);
  for (const Placement& p : placements) {
    for (int round = 0; round < 12; ++round) {
      SCOPED_TRACE(std::string(p.what) + ", round " + std::to_string(round));
      // Headers read at multiples of 40 have small sizes and spread addresses, so
      // that an RVA taken from one header is seldom covered by the headers above it.
      std::vector<uint8_t> bytes(FileSize);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
      for (size_t at = 0; at < FileSize; at += 40) {
        testpe::StoreU32Le(bytes, at + 8, random() % 0x1000);       // VirtualSize
        testpe::StoreU32Le(bytes, at + 16, 1 + random() % 0x1000);  // SizeOfRawData
      }
      uint32_t count = 1 + random() % 150;
      size_t start = 40 * (2 + random() % 200);
      testpe::StoreU32Le(bytes, 0x3C, p.eLfanew);
      // The caller's position holds the file header and the optional header.
      testpe::StoreU16Le(bytes, start + 2, static_cast<uint16_t>(count));
      testpe::StoreU16Le(bytes, start + 16, p.sizeOfOptionalHeader);
      testpe::StoreU32Le(bytes, start + 92, p.numberOfRvaAndSizes);
      if (p.eLfanew == 0x100) {
        testpe::StoreU16Le(bytes, 0x106, static_cast<uint16_t>(count));
        testpe::StoreU16Le(bytes, 0x114, p.sizeOfOptionalHeader);
      }
      OpenedFile f(bytes);
      for (int ask = 0; ask < 8; ++ask) {
        size_t from = ((random() % 2 ? start : 0) + 40 * (random() % 160)) % FileSize;
        char name[SectionNameTextSize] = {};
        std::memcpy(name, &bytes[from], 8);
        uint32_t rva = LoadU32Le(bytes.data(), from + 12) + random() % 0x100;
        ExpectSameAsOneAtATime(f.fd, static_cast<long>(start), name, rva);
      }
    }
  }
}

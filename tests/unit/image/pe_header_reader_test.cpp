// Header and section table readers: which bytes they read, what they hand out, and
// where they leave the file position (later readers rely on it).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "image/pe_header_reader.h"
#include "platform/crt_io.h"
#include "tests/support/pe_image_builder.h"

using testpe::OpenedFile;
using testpe::PeImage;

namespace {

// Header starts at 0x100 so that a reader that ignores e_lfanew reads zeros.
PeImage ImageWithSections() {
  PeImage image;
  image.PeHeaderOffset() = 0x100;
  image.AddSection(".text", 0x1000, 0x800, 0x400, 0x800, testpe::CodeSection);
  image.AddSection(".data", 0x2000, 0x200, 0xC00, 0x200, testpe::DataSection);
  image.AddSection(".textbss", 0x3000, 0x100, 0xE00, 0x200, testpe::DataSection);
  return image;
}

// 0x100 + 24 + 224
constexpr uint32_t Table = 0x1F8;

}  // namespace

TEST(PeHeaderOffset, ReadsSignedELfanew) {
  struct Case {
    const char* what;
    uint32_t stored;
    int32_t expected;
  } cases[] = {
      {"usual", 0x80, 0x80},
      {"high", 0x7FFFFFFF, 0x7FFFFFFF},
      {"negative", 0xFFFFFFF0, -16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PeImage image;
    image.PutU32(0x3C, c.stored);
    OpenedFile f(image.Bytes());
    EXPECT_EQ(GetPeHeaderOffset(f.fd), c.expected);
  }
}

TEST(PeHeaderOffset, FileShorterThanDosHeaderYieldsZeroAndLeavesPositionAfterShortRead) {
  for (uint32_t length : {0u, 1u, 0x3Fu}) {
    SCOPED_TRACE(length);
    PeImage image;
    image.SetFileLength(length);
    OpenedFile f(image.Bytes());
    ASSERT_EQ(_lseek(f.fd, 0x20, SEEK_SET), 0x20);
    EXPECT_EQ(GetPeHeaderOffset(f.fd), 0);
    EXPECT_EQ(_tell(f.fd), static_cast<long>(length));
    EXPECT_EQ(GetOptionalHeaderOffset(f.fd), 24);
  }
}

TEST(FileHeader, ReadsRecordBehindSignatureAndCountIsUnsigned) {
  PeImage image = ImageWithSections();
  image.FileHeader().Machine = 0x1234;
  image.FileHeader().TimeDateStamp = 0xCAFEF00D;
  image.FileHeader().NumberOfSections = 0xFFFF;
  image.FileHeader().Characteristics = 0x8001;
  OpenedFile f(image.Bytes());

  IMAGE_FILE_HEADER header;
  std::memset(&header, 0, sizeof header);
  EXPECT_EQ(ReadFileHeader(f.fd, &header), 1);
  EXPECT_EQ(header.Machine, 0x1234);
  EXPECT_EQ(header.TimeDateStamp, 0xCAFEF00Du);
  EXPECT_EQ(header.SizeOfOptionalHeader, 224);
  EXPECT_EQ(header.Characteristics, 0x8001);
  EXPECT_EQ(GetSectionCount(f.fd), 65535);
}

TEST(FileHeader, ShortReadLeavesRestOfCallersRecordAndStillReturnsOne) {
  PeImage image = ImageWithSections();
  image.FileHeader().Machine = 0x014C;
  image.SetFileLength(0x100 + 4 + 8);  // Machine, NumberOfSections, TimeDateStamp only
  OpenedFile f(image.Bytes());

  IMAGE_FILE_HEADER header;
  std::memset(&header, 0xAA, sizeof header);
  EXPECT_EQ(ReadFileHeader(f.fd, &header), 1);
  EXPECT_EQ(header.Machine, 0x014C);
  EXPECT_EQ(header.NumberOfSections, 3);
  EXPECT_EQ(header.SizeOfOptionalHeader, 0xAAAA);
}

TEST(OptionalHeader, ReadsNinetySixBytesAtPeHeaderPlus24) {
  PeImage image = ImageWithSections();
  image.Optional().ImageBase = 0x11000000;
  image.Optional().Subsystem = 3;
  image.Optional().NumberOfRvaAndSizes = 0x10;
  image.Optional().LoaderFlags = 0x5A5A5A5A;
  // The first data directory directly behind the record must not be read into it.
  image.Directory(0).VirtualAddress = 0x77777777;
  OpenedFile f(image.Bytes());

  EXPECT_EQ(GetOptionalHeaderOffset(f.fd), 0x118);
  OptionalHeader32 optional;
  std::memset(&optional, 0, sizeof optional);
  EXPECT_EQ(ReadOptionalHeader(f.fd, &optional), 1);
  EXPECT_EQ(optional.Magic, 0x10B);
  EXPECT_EQ(optional.ImageBase, 0x11000000u);
  EXPECT_EQ(optional.Subsystem, 3);
  EXPECT_EQ(optional.LoaderFlags, 0x5A5A5A5Au);
  EXPECT_EQ(optional.NumberOfRvaAndSizes, 0x10u);
}

TEST(SectionTableOffset, FollowsSizeOfOptionalHeaderOrDeclaredDirectories) {
  struct Case {
    const char* what;
    uint16_t sizeOfOptionalHeader;
    uint32_t numberOfRvaAndSizes;
    int32_t expected;
  } cases[] = {
      {"usual 224", 224, 16, 0x100 + 24 + 224},
      {"odd size taken as declared", 0x41, 16, 0x100 + 24 + 0x41},
      {"zero size: end of 16 directories", 0, 16, 0x100 + 24 + 96 + 8 * 16},
      {"zero size: end of 4 directories", 0, 4, 0x100 + 24 + 96 + 8 * 4},
      {"zero size: no directories", 0, 0, 0x100 + 24 + 96},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PeImage image = ImageWithSections();
    image.FileHeader().SizeOfOptionalHeader = c.sizeOfOptionalHeader;
    image.Optional().NumberOfRvaAndSizes = c.numberOfRvaAndSizes;
    OpenedFile f(image.Bytes());
    EXPECT_EQ(GetSectionTableOffset(f.fd), c.expected);
    // The table is really there: the readers find the sections through it.
    EXPECT_EQ(FindSectionHeaderOffset(f.fd, ".data"), c.expected + 40);
  }
}

TEST(FindSection, NameComparisonIgnoresCaseAndUsesAllEightBytes) {
  struct Case {
    const char* asked;
    int32_t expected;
  } cases[] = {
      {".text", Table},          {".TEXT", Table},
      {".Data", Table + 40},     {".textbss", Table + 80},
      {".TEXTBSS", Table + 80},  {".textbs", -1},
      {".textbss2", -1},         {".tex", -1},
      {"", -1},                  {".rsrc", -1},
  };
  PeImage image = ImageWithSections();
  OpenedFile f(image.Bytes());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    EXPECT_EQ(FindSectionHeaderOffset(f.fd, c.asked), c.expected);
  }
}

TEST(FindSection, FirstOfTwoEqualNamesWins) {
  PeImage image = ImageWithSections();
  image.SectionAt(2).Name = ".text";
  OpenedFile f(image.Bytes());
  EXPECT_EQ(FindSectionHeaderOffset(f.fd, ".text"), static_cast<int32_t>(Table));
}

TEST(FindSection, EmptyOrCutTableFindsNothing) {
  {
    SCOPED_TRACE("NumberOfSections 0 with headers behind it");
    PeImage image = ImageWithSections();
    image.FileHeader().NumberOfSections = 0;
    OpenedFile f(image.Bytes());
    EXPECT_EQ(FindSectionHeaderOffset(f.fd, ".text"), -1);
    EXPECT_EQ(_tell(f.fd), static_cast<long>(Table));
  }
  {
    SCOPED_TRACE("file cut inside the third header");
    PeImage image = ImageWithSections();
    image.SetFileLength(Table + 80 + 39);
    OpenedFile f(image.Bytes());
    EXPECT_EQ(FindSectionHeaderOffset(f.fd, ".textbss"), -1);
    EXPECT_EQ(FindSectionHeaderOffset(f.fd, ".data"), static_cast<int32_t>(Table + 40));
  }
}

TEST(ReadSectionByName, FoundHeaderIsCopiedAndMissingNameWritesNothing) {
  PeImage image = ImageWithSections();
  image.SectionAt(1).PointerToRelocations = 0x01020304;
  OpenedFile f(image.Bytes());

  IMAGE_SECTION_HEADER header;
  std::memset(&header, 0xAA, sizeof header);
  EXPECT_EQ(ReadSectionHeaderByName(f.fd, ".DATA", &header), 1);
  EXPECT_EQ(0, std::memcmp(header.Name, ".data\0\0\0", 8));
  EXPECT_EQ(header.VirtualAddress, 0x2000u);
  EXPECT_EQ(header.PointerToRawData, 0xC00u);
  EXPECT_EQ(header.PointerToRelocations, 0x01020304u);
  EXPECT_EQ(_tell(f.fd), static_cast<long>(Table + 80));

  std::memset(&header, 0xAA, sizeof header);
  EXPECT_EQ(ReadSectionHeaderByName(f.fd, ".idata", &header), 0);
  EXPECT_EQ(header.VirtualAddress, 0xAAAAAAAAu);
  EXPECT_EQ(_tell(f.fd), static_cast<long>(Table + 120));
}

TEST(LastSection, ReadsTheLastHeaderAndTerminatesAnEightByteName) {
  PeImage image = ImageWithSections();
  OpenedFile f(image.Bytes());
  char name[SectionNameTextSize];
  std::memset(name, 'x', sizeof name);
  IMAGE_SECTION_HEADER header;
  EXPECT_EQ(ReadLastSectionHeader(f.fd, name, &header), 1);
  EXPECT_STREQ(name, ".textbss");
  EXPECT_EQ(header.VirtualAddress, 0x3000u);
  EXPECT_EQ(_tell(f.fd), static_cast<long>(Table + 120));
}

TEST(LastSection, MissingLastHeaderGivesPlaceholderNameAndZeroedRecord) {
  struct Case {
    const char* what;
    std::function<void(PeImage&)> change;
  } cases[] = {
      {"cut inside the last header", [](PeImage& i) { i.SetFileLength(Table + 80 + 20); }},
      {"cut before the table", [](PeImage& i) { i.SetFileLength(Table - 8); }},
      {"no sections", [](PeImage& i) { i.FileHeader().NumberOfSections = 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PeImage image = ImageWithSections();
    c.change(image);
    OpenedFile f(image.Bytes());
    char name[SectionNameTextSize];
    std::memset(name, 'x', sizeof name);
    IMAGE_SECTION_HEADER header;
    std::memset(&header, 0xAA, sizeof header);
    EXPECT_EQ(ReadLastSectionHeader(f.fd, name, &header), 0);
    EXPECT_EQ(0, std::memcmp(name, "C_NONAME\0", SectionNameTextSize));
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&header);
    for (size_t i = 0; i < sizeof header; ++i) ASSERT_EQ(raw[i], 0) << "byte " << i;
  }
}

TEST(LastSection, InvalidArgumentsWriteNothing) {
  PeImage image = ImageWithSections();
  OpenedFile f(image.Bytes());
  char name[SectionNameTextSize] = "untouch";
  IMAGE_SECTION_HEADER header;
  std::memset(&header, 0xAA, sizeof header);
  EXPECT_EQ(ReadLastSectionHeader(-1, name, &header), 0);
  EXPECT_EQ(ReadLastSectionHeader(f.fd, nullptr, &header), 0);
  EXPECT_EQ(ReadLastSectionHeader(f.fd, name, nullptr), 0);
  EXPECT_STREQ(name, "untouch");
  EXPECT_EQ(header.VirtualAddress, 0xAAAAAAAAu);
}

// Every reader of fixed headers puts the position back; the section readers leave
// it behind the last header they read.
TEST(FilePosition, EachOperationLeavesItAsItsContractSays) {
  constexpr long Start = 0x33;
  struct Case {
    const char* what;
    std::function<void(int)> call;
    long expected;
  } cases[] = {
      {"GetPeHeaderOffset", [](int fd) { (void)GetPeHeaderOffset(fd); }, Start},
      {"ReadFileHeader",
       [](int fd) {
         IMAGE_FILE_HEADER h;
         (void)ReadFileHeader(fd, &h);
       },
       Start},
      {"GetSectionCount", [](int fd) { (void)GetSectionCount(fd); }, Start},
      {"GetOptionalHeaderOffset", [](int fd) { (void)GetOptionalHeaderOffset(fd); }, Start},
      {"ReadOptionalHeader",
       [](int fd) {
         OptionalHeader32 h;
         (void)ReadOptionalHeader(fd, &h);
       },
       Start},
      {"GetSectionTableOffset", [](int fd) { (void)GetSectionTableOffset(fd); }, Start},
      {"FindSectionHeaderOffset found", [](int fd) { (void)FindSectionHeaderOffset(fd, ".data"); },
       Table + 80},
      {"FindSectionHeaderOffset missing", [](int fd) { (void)FindSectionHeaderOffset(fd, "x"); },
       Table + 120},
      {"ReadSectionHeaderByName",
       [](int fd) {
         IMAGE_SECTION_HEADER h;
         (void)ReadSectionHeaderByName(fd, ".text", &h);
       },
       Table + 40},
      // The walk runs backwards: .text is the last header it reads.
      {"RvaToFileOffset in first section", [](int fd) { (void)RvaToFileOffset(fd, 0x1010); },
       Table + 40},
      {"RvaToFileOffset in last section", [](int fd) { (void)RvaToFileOffset(fd, 0x3010); },
       Table + 120},
      // No section holds it: the second look at the last header is the last read.
      {"RvaToFileOffset unmapped", [](int fd) { (void)RvaToFileOffset(fd, 0x9000); },
       Table + 120},
      {"VaToFileOffset", [](int fd) { (void)VaToFileOffset(fd, 0x402010); }, Table + 80},
      {"VaToFileOffset below ImageBase", [](int fd) { (void)VaToFileOffset(fd, 0x3FFFFF); },
       Start},
      {"GetEntryPointFileOffset", [](int fd) { (void)GetEntryPointFileOffset(fd); }, Table + 40},
      {"ReadLastSectionHeader",
       [](int fd) {
         char n[SectionNameTextSize];
         IMAGE_SECTION_HEADER h;
         (void)ReadLastSectionHeader(fd, n, &h);
       },
       Table + 120},
  };
  PeImage image = ImageWithSections();
  image.Optional().AddressOfEntryPoint = 0x1200;
  OpenedFile f(image.Bytes());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(_lseek(f.fd, Start, SEEK_SET), Start);
    c.call(f.fd);
    EXPECT_EQ(_tell(f.fd), c.expected);
  }
}

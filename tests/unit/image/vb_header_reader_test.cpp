// The Visual Basic record readers on images built in the test: how the entry
// code leads to the program header, what stops each reader, and how the project
// path is narrowed and cut.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/vb_header_reader.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"

namespace {

using testpe::VbImage;
using testpe::VbRecord;

struct Answers {
  int isVbProgram;
  int readVbHeader;
};

Answers Ask(const VbImage& image) {
  testpe::OpenedFile file(image.Bytes());
  VbHeader header;
  std::memset(&header, 0, sizeof header);
  return {IsVbProgram(file.fd), ReadVbHeader(file.fd, &header)};
}

struct EntryCase {
  const char* name;
  std::function<void(VbImage&)> change;
  int isVbProgram;
  int readVbHeader;
};

TEST(VbHeaderLocation, FollowsThePushAtTheEntryPoint) {
  const EntryCase cases[] = {
      {"a Visual Basic program", [](VbImage&) {}, 1, 1},
      {"no call opcode at +5: the header is still read",
       [](VbImage& image) { image.Set(VbRecord::EntryCode, 5, 1, 0x90); }, 0, 1},
      {"no push opcode at +0", [](VbImage& image) { image.Set(VbRecord::EntryCode, 0, 1, 0x6A); }, 0, 0},
      {"entry point in no section",
       [](VbImage& image) { image.Pe().Optional().AddressOfEntryPoint = 0x900000; }, 0, 0},
      {"entry point at the end of the file",
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::EntryCode)); }, 0, 0},
      {"entry code shorter than 12 bytes",
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::EntryCode) + 11); }, 0, 0},
      {"pushed address below ImageBase", [](VbImage& image) { image.Set(VbRecord::EntryCode, 1, 4, 0x3FFFFF); }, 0, 0},
      {"pushed address mapping to file offset 0",
       [](VbImage& image) {
         image.PutBytes(0, {'V', 'B', '5', '!'});
         image.Set(VbRecord::EntryCode, 1, 4, 0x400000);
       },
       0, 0},
      {"pushed address mapping to file offset 1",
       [](VbImage& image) {
         image.PutBytes(1, {'V', 'B', '5', '!'});
         image.Set(VbRecord::EntryCode, 1, 4, 0x400001);
       },
       1, 1},
      {"pushed address beyond every section", [](VbImage& image) { image.Set(VbRecord::EntryCode, 1, 4, 0x900000); },
       0, 0},
      {"header in the last 3 bytes of the file",
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::Header) + 3); }, 0, 0},
      {"header magic in the last 4 bytes of the file",
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::Header) + 4); }, 1, 0},
      {"header ending exactly at the end of the file",
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::Header) + 104); }, 1, 1},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    VbImage image = testpe::VariantAImage();
    c.change(image);
    const Answers answers = Ask(image);
    EXPECT_EQ(answers.isVbProgram, c.isVbProgram);
    EXPECT_EQ(answers.readVbHeader, c.readVbHeader);
  }
}

TEST(VbHeaderMagic, EveryByteCountsLetterCaseIncluded) {
  const char* magics[] = {"vB5!", "Vb5!", "VB6!", "VB5?", "VB5\0"};
  for (const char* magic : magics) {
    SCOPED_TRACE(std::string(magic, 4));
    VbImage image = testpe::VariantAImage();
    std::memcpy(image.Bytes(VbRecord::Header).data(), magic, 4);
    const Answers answers = Ask(image);
    EXPECT_EQ(answers.isVbProgram, 0);
    EXPECT_EQ(answers.readVbHeader, 0);
  }
}

TEST(VbRecords, ReadAsTheyLieInTheFile) {
  const VbImage image = testpe::VariantCImage();
  testpe::OpenedFile file(image.Bytes());
  VbHeader header;
  VbProjectInfo info;
  VbComRegData comRegData;
  ASSERT_EQ(ReadVbHeader(file.fd, &header), 1);
  ASSERT_EQ(ReadVbProjectInfo(file.fd, &info), 1);
  ASSERT_EQ(ReadVbComRegData(file.fd, &comRegData), 1);
  VbImage copy = image;
  EXPECT_EQ(std::vector<uint8_t>(header.bytes, header.bytes + sizeof header.bytes), copy.Bytes(VbRecord::Header));
  EXPECT_EQ(std::vector<uint8_t>(info.bytes, info.bytes + sizeof info.bytes), copy.Bytes(VbRecord::ProjectInfo));
  EXPECT_EQ(std::vector<uint8_t>(comRegData.bytes, comRegData.bytes + sizeof comRegData.bytes),
            copy.Bytes(VbRecord::ComRegData));
}

struct RecordCase {
  const char* name;
  std::function<void(VbImage&)> change;
  int projectInfo;
  int comRegData;
};

TEST(VbRecords, StopWhereTheirAddressLeadsNowhere) {
  const RecordCase cases[] = {
      {"no COM registration data (address 0)", [](VbImage& image) { image.Set(VbRecord::Header, 0x54, 4, 0); }, 1, 0},
      {"project information below ImageBase", [](VbImage& image) { image.Set(VbRecord::Header, 0x30, 4, 0x3FF000); },
       0, 1},
      {"COM registration data mapping to offset 0", [](VbImage& image) { image.Set(VbRecord::Header, 0x54, 4, 0x400000); },
       1, 0},
      {"project information beyond every section",
       [](VbImage& image) { image.Set(VbRecord::Header, 0x30, 4, 0x4F0000); }, 0, 1},
      {"project information cut by the end of the file",
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::ProjectInfo) + 571); }, 0, 1},
      {"COM registration data cut by the end of the file",
       [](VbImage& image) {
         image.PlaceComRegData(0x402A00);  // after the project information
         image.SetFileLength(image.FileOffsetOf(VbRecord::ComRegData) + 41);
       },
       1, 0},
      {"no program header", [](VbImage& image) { image.Set(VbRecord::Header, 0, 1, 'X'); }, 0, 0},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    VbImage image = testpe::VariantAImage();
    c.change(image);
    testpe::OpenedFile file(image.Bytes());
    VbProjectInfo info;
    std::memset(&info, 0, sizeof info);
    VbComRegData comRegData;
    std::memset(&comRegData, 0xAA, sizeof comRegData);
    EXPECT_EQ(ReadVbProjectInfo(file.fd, &info), c.projectInfo);
    EXPECT_EQ(ReadVbComRegData(file.fd, &comRegData), c.comRegData);
    if (!c.comRegData && image.Get(VbRecord::Header, 0x54, 4) == 0) {
      for (uint8_t b : comRegData.bytes) EXPECT_EQ(b, 0xAA) << "nothing is read without an address";
    }
  }
}

TEST(NarrowWideString, KeepsTheLowByteOfEachUnit) {
  const uint8_t path[] = {0x43, 0x00, 0x3A, 0x00, 0x5C, 0x00, 0x61, 0x00, 0x00, 0x00};
  char out[16];
  std::memset(out, 0x7F, sizeof out);
  ASSERT_EQ(NarrowWideString(out, path), out);
  EXPECT_EQ(std::memcmp(out, "C:\\a\0", 5), 0);

  // No code page conversion: U+00E9 becomes 0xE9, U+4141 becomes 0x41, and a unit
  // with a zero low byte writes a zero byte without ending the copy.
  const uint8_t mixed[] = {0xE9, 0x00, 0x41, 0x41, 0x00, 0x41, 0x42, 0x00, 0x00, 0x00};
  std::memset(out, 0x7F, sizeof out);
  ASSERT_EQ(NarrowWideString(out, mixed), out);
  const char expected[] = {static_cast<char>(0xE9), 0x41, 0x00, 0x42, 0x00};
  EXPECT_EQ(std::memcmp(out, expected, sizeof expected), 0);

  EXPECT_EQ(NarrowWideString(nullptr, path), nullptr);
  EXPECT_EQ(NarrowWideString(out, nullptr), nullptr);
}

TEST(ReadVbProjectPath, NeedsRoomFor264Bytes) {
  VbImage image = testpe::VariantBImage();
  testpe::OpenedFile file(image.Bytes());
  char buffer[600];
  std::memset(buffer, 0x7F, sizeof buffer);
  EXPECT_EQ(ReadVbProjectPath(file.fd, buffer, 263), 0);
  for (char c : buffer) ASSERT_EQ(c, 0x7F) << "a refused buffer stays untouched";
  EXPECT_EQ(ReadVbProjectPath(file.fd, nullptr, 528), 0);

  ASSERT_EQ(ReadVbProjectPath(file.fd, buffer, 264), 1);
  EXPECT_STREQ(buffer, "C:\\Proj12\\app.vbp");
}

TEST(ReadVbProjectPath, CutsAPathWithoutATerminatingUnit) {
  // 264 units fill the field; the u32 at +0x234 that follows it is not part of the path.
  VbImage image = testpe::VariantCImage();
  image.SetProjectPath(std::u16string(264, u'x'));
  testpe::OpenedFile file(image.Bytes());

  struct Cut {
    uint32_t bufferSize;
    size_t length;
  };
  for (const Cut cut : {Cut{528, 264}, Cut{265, 264}, Cut{264, 263}}) {
    SCOPED_TRACE(cut.bufferSize);
    char buffer[600];
    std::memset(buffer, 0x7F, sizeof buffer);
    ASSERT_EQ(ReadVbProjectPath(file.fd, buffer, cut.bufferSize), 1);
    EXPECT_EQ(std::strlen(buffer), cut.length);
    EXPECT_EQ(std::string(buffer), std::string(cut.length, 'x'));
    for (size_t i = cut.length + 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x7F) << "written past the end at " << i;
  }
}

}  // namespace

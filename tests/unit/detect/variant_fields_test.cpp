// Every field test of the four signatures, written out again from the variant
// tables: each variant's image matches; each field set just outside its range makes
// that variant fail at exactly that field; both ends of a range still match.
// Fields of records the detector hands in (entry code, headers, last section) are
// changed in memory; fields the check reads itself are changed in the file.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "detect/check_trace.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"
#include "tests/unit/detect/all_checks.h"

namespace {

using testpe::VbImage;
using testpe::VbRecord;

void StoreLe(uint8_t* at, uint32_t width, uint32_t value) {
  for (uint32_t i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> LeBytes(uint32_t width, uint32_t value) {
  std::vector<uint8_t> bytes(width);
  StoreLe(bytes.data(), width, value);
  return bytes;
}

// Where a case puts its value: into the image before it is written, or into the
// shared records after they are read.
struct Where {
  std::function<void(VbImage&, uint32_t)> file;
  std::function<void(SharedRecords&, uint32_t)> records;
  uint32_t width;
};

Where Vb(VbRecord record, uint32_t offset, uint32_t width) {
  return {[=](VbImage& image, uint32_t v) { image.Set(record, offset, width, v); }, nullptr, width};
}
Where Header(uint32_t offset, uint32_t width) { return Vb(VbRecord::Header, offset, width); }
Where ProjectInfo(uint32_t offset, uint32_t width) { return Vb(VbRecord::ProjectInfo, offset, width); }
Where ComReg(uint32_t offset, uint32_t width) { return Vb(VbRecord::ComRegData, offset, width); }
Where StartCode(uint32_t offset) { return Vb(VbRecord::StartCode, offset, 1); }

// The pointer and the record it leads to move together, so a value inside the
// range still leads to a complete record.
Where MovesProjectInfo() {
  return {[](VbImage& image, uint32_t va) { image.PlaceProjectInfo(va); }, nullptr, 4};
}
Where MovesComRegData() {
  return {[](VbImage& image, uint32_t va) { image.PlaceComRegData(va); }, nullptr, 4};
}
Where MovesStartCode() {
  return {[](VbImage& image, uint32_t va) { image.PlaceStartCode(va); }, nullptr, 4};
}

// A section header field in the file's section table.
Where SectionInFile(size_t index, uint32_t offset, uint32_t width) {
  return {[=](VbImage& image, uint32_t v) {
            image.PutBytes(image.Pe().SectionHeaderOffset(index) + offset, LeBytes(width, v));
          },
          nullptr, width};
}

// Padding or cutting the file changes the length the detector hands in.
Where FileLength() {
  return {[](VbImage& image, uint32_t length) { image.SetFileLength(length); }, nullptr, 4};
}

Where EntryByte(uint32_t n) {
  return {nullptr, [=](SharedRecords& r, uint32_t v) { r.entryCode[n] = static_cast<uint8_t>(v); }, 1};
}
Where Optional(size_t offset, uint32_t width) {
  return {nullptr,
          [=](SharedRecords& r, uint32_t v) { StoreLe(reinterpret_cast<uint8_t*>(&r.optionalHeader) + offset, width, v); },
          width};
}
Where Sections() {
  return {nullptr, [](SharedRecords& r, uint32_t v) { r.fileHeader.NumberOfSections = static_cast<uint16_t>(v); }, 2};
}
Where LastSection(size_t offset) {
  return {nullptr,
          [=](SharedRecords& r, uint32_t v) { StoreLe(reinterpret_cast<uint8_t*>(&r.lastSection) + offset, 4, v); }, 4};
}

#define OPTIONAL_FIELD(field) Optional(offsetof(OptionalHeader32, field), sizeof(OptionalHeader32::field))

// A value outside the range that fails at another row first, because the field
// also steers how the file is read.
struct Detour {
  uint32_t value;
  const char* stopsAt;
};

struct FieldCase {
  const char* label;  // the field as the check names it in its explanation
  Where where;
  uint32_t low;
  uint32_t high;
  bool acceptsZero = false;       // "0, or low-high"
  std::vector<Detour> detours = {};  // replace the just-outside value they name
};

uint32_t MaxOf(uint32_t width) { return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

struct Outcome {
  int verdict;
  CheckTrace trace;
};

Outcome Judge(char variant, const Where& where, uint32_t value) {
  VbImage image = testpe::VariantImage(variant);
  if (where.file) where.file(image, value);
  testpe::TempFile file = image.Write();
  testpe::OpenFd fd = file.Open();
  Outcome outcome{-1, CheckTrace()};
  SharedRecords records;
  if (ReadSharedRecords(fd, &records) != ScanStop::Checked) {
    outcome.trace.failedTest = "(shared records)";
    return outcome;
  }
  if (where.records) where.records(records, value);
  outcome.verdict = RunCheck(variant, fd, records, &outcome.trace);
  return outcome;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

void RunFieldCases(char variant, const std::vector<FieldCase>& cases) {
  for (const FieldCase& c : cases) {
    std::vector<Detour> failing;
    if (c.low > 0) failing.push_back({c.low - 1, c.label});
    if (c.high < MaxOf(c.where.width)) failing.push_back({c.high + 1, c.label});
    for (Detour& f : failing)
      for (const Detour& d : c.detours)
        if (d.value == f.value) f.stopsAt = d.stopsAt;
    for (const Detour& f : failing) {
      SCOPED_TRACE(std::string(1, variant) + ": " + c.label + " = " + Hex(f.value) + " must fail");
      const Outcome outcome = Judge(variant, c.where, f.value);
      EXPECT_EQ(outcome.verdict, 0);
      ASSERT_NE(outcome.trace.failedTest, nullptr);
      EXPECT_STREQ(outcome.trace.failedTest, f.stopsAt);
      if (f.stopsAt == c.label) {
        EXPECT_TRUE(outcome.trace.hasFound);
        EXPECT_EQ(outcome.trace.found, f.value);
      }
    }
    std::vector<uint32_t> passing = {c.low, c.high};
    if (c.acceptsZero) passing.push_back(0);
    for (uint32_t value : passing) {
      SCOPED_TRACE(std::string(1, variant) + ": " + c.label + " = " + Hex(value) + " must match");
      const Outcome outcome = Judge(variant, c.where, value);
      EXPECT_EQ(outcome.verdict, 1) << "stopped at " << (outcome.trace.failedTest ? outcome.trace.failedTest : "?")
                                    << ", found " << Hex(outcome.trace.found) << ", required "
                                    << outcome.trace.required;
    }
  }
}

TEST(VariantImages, EachMatchesItsOwnVariantOnly) {
  for (char variant : {'A', 'B', 'C', 'D'}) {
    SCOPED_TRACE(std::string("variant ") + variant);
    testpe::TempFile file = testpe::VariantImage(variant).Write();
    const AllChecks checks = RunAllChecks(file.Path());
    ASSERT_TRUE(checks.recordsRead);
    EXPECT_EQ(MatchedVariants(checks), std::string(1, variant));
    for (int i = 0; i < 4; ++i) {
      if (i == variant - 'A') continue;
      SCOPED_TRACE(std::string("check ") + static_cast<char>('A' + i) + " stopped at " +
                   (checks.traces[i].failedTest ? checks.traces[i].failedTest : "?"));
      EXPECT_FALSE(checks.traces[i].matched);
    }
  }
}

TEST(VariantA, EveryFieldTest) {
  RunFieldCases('A', {
      {"entry code byte 0", EntryByte(0), 0x68, 0x68},
      {"entry code byte 5", EntryByte(5), 0xE8, 0xE8},
      {"entry code byte 9", EntryByte(9), 0xFF, 0xFF},
      {"entry code byte 16", EntryByte(16), 0x30, 0x30},
      {"COFF file header NumberOfSections", Sections(), 3, 3},
      {"optional header AddressOfEntryPoint", OPTIONAL_FIELD(AddressOfEntryPoint), 0x1000, 0x1300},
      {"optional header SizeOfInitializedData", OPTIONAL_FIELD(SizeOfInitializedData), 0x2000, 0x4000},
      {"optional header MajorLinkerVersion", OPTIONAL_FIELD(MajorLinkerVersion), 6, 6},
      {"optional header MajorOperatingSystemVersion", OPTIONAL_FIELD(MajorOperatingSystemVersion), 4, 4},
      {"optional header MajorSubsystemVersion", OPTIONAL_FIELD(MajorSubsystemVersion), 4, 4},
      {"optional header ImageBase", OPTIONAL_FIELD(ImageBase), 0x400000, 0x400000},
      {"optional header MajorImageVersion", OPTIONAL_FIELD(MajorImageVersion), 1, 1},
      {"optional header Subsystem", OPTIONAL_FIELD(Subsystem), 2, 2},
      {"VbHeader +0x04 (u16)", Header(0x04, 2), 0x2636, 0x2636},
      {"VbHeader +0x06 (u8)", Header(0x06, 1), 0x2A, 0x2A},
      {"VbHeader +0x07 (u8)", Header(0x07, 1), 0, 0},
      {"VbHeader +0x22 (u16)", Header(0x22, 2), 0x0A, 0x0A},
      {"VbHeader +0x14 (u8)", Header(0x14, 1), 0x7E, 0x7E},
      {"VbHeader +0x15 (u8)", Header(0x15, 1), 0, 0},
      {"VbHeader +0x24 (u32)", Header(0x24, 4), 0x409, 0x409},
      {"VbHeader +0x28 (u32)", Header(0x28, 4), 0, 0},
      {"VbHeader +0x2C (u32)", MovesStartCode(), 0x401000, 0x403000},
      {"VbHeader +0x30 (u32)", MovesProjectInfo(), 0x401000, 0x402000},
      {"VbHeader +0x38 (u32)", Header(0x38, 4), 0xFFFFFF00, 0xFFFFFF00},
      {"VbHeader +0x3C (u32)", Header(0x3C, 4), 8, 8},
      {"VbHeader +0x40 (u32)", Header(0x40, 4), 1, 1},
      {"VbHeader +0x44 (u16)", Header(0x44, 2), 3, 4},
      {"VbHeader +0x46 (u16)", Header(0x46, 2), 0, 0},
      {"VbHeader +0x48 (u32)", Header(0x48, 4), 0xE9, 0xE9},
      {"VbHeader +0x4C (u32)", Header(0x4C, 4), 0x401000, 0x402000},
      {"VbHeader +0x50 (u32)", Header(0x50, 4), 0x401000, 0x402000},
      {"VbHeader +0x58 (u32)", Header(0x58, 4), 0x78, 0x78},
      {"VbHeader +0x5C (u32)", Header(0x5C, 4), 0x81, 0x81},
      {"VbHeader +0x60 (u32)", Header(0x60, 4), 0x60, 0xC0},
      {"VbHeader +0x64 (u32)", Header(0x64, 4), 0x80, 0x90},
      {"VbProjectInfo +0x24 (u8)", ProjectInfo(0x24, 1), 0, 0},
      {"VbProjectInfo +0x04 (u32)", ProjectInfo(0x04, 4), 0x402000, 0x403000},
      {"VbProjectInfo +0x20 (u32)", ProjectInfo(0x20, 4), 0, 0},
      {"VbProjectInfo +0x234 (u32)", ProjectInfo(0x234, 4), 0x401000, 0x402000},
      {"VbComRegData +0x0C (u32)", ComReg(0x0C, 4), 0, 0},
      {"VbComRegData +0x00 (u32)", ComReg(0x00, 4), 0x30, 0x60, true},
      {"VbComRegData +0x04 (u32)", ComReg(0x04, 4), 0x30, 0x30},
      {"VbComRegData +0x08 (u32)", ComReg(0x08, 4), 0x30, 0x60},
      {"VbComRegData +0x26 (u16)", ComReg(0x26, 2), 1, 1},
      {"VbComRegData +0x28 (u16)", ComReg(0x28, 2), 0, 0},
      {"start code byte 0", StartCode(0), 0xBA, 0xBA},
      {"start code byte 12", StartCode(12), 0xBA, 0xBA},
      {"start code byte 24", StartCode(24), 0xBA, 0xBA},
      {"start code byte 5", StartCode(5), 0xB9, 0xB9},
      {"start code byte 17", StartCode(17), 0xB9, 0xB9},
      {"start code byte 29", StartCode(29), 0xB9, 0xB9},
      {"start code byte 10", StartCode(10), 0xFF, 0xFF},
      {"start code byte 22", StartCode(22), 0xFF, 0xFF},
      {".data section header SizeOfRawData", SectionInFile(1, 16, 4), 0, 0},
      {".data section header Characteristics", SectionInFile(1, 36, 4), 0xC0000040, 0xC0000040},
  });
}

TEST(VariantB, EveryFieldTest) {
  RunFieldCases('B', {
      {"entry code byte 0", EntryByte(0), 0x68, 0x68},
      {"entry code byte 5", EntryByte(5), 0xE8, 0xE8},
      {"entry code byte 9", EntryByte(9), 0xFF, 0xFF},
      {"COFF file header NumberOfSections", Sections(), 3, 3},
      {"optional header MajorLinkerVersion", OPTIONAL_FIELD(MajorLinkerVersion), 6, 6},
      {"file size", FileLength(), 0x20000, 0x60000},
      {"optional header SizeOfCode", OPTIONAL_FIELD(SizeOfCode), 0x20000, 0x40000},
      {"optional header SizeOfInitializedData", OPTIONAL_FIELD(SizeOfInitializedData), 0x2000, 0x2000},
      {"optional header AddressOfEntryPoint", OPTIONAL_FIELD(AddressOfEntryPoint), 0x1000, 0x1400},
      {"optional header FileAlignment", OPTIONAL_FIELD(FileAlignment), 0x1000, 0x1000},
      {"optional header SectionAlignment", OPTIONAL_FIELD(SectionAlignment), 0x1000, 0x1000},
      {"optional header MajorOperatingSystemVersion", OPTIONAL_FIELD(MajorOperatingSystemVersion), 4, 4},
      {"optional header MajorImageVersion", OPTIONAL_FIELD(MajorImageVersion), 1, 1},
      {"optional header MajorSubsystemVersion", OPTIONAL_FIELD(MajorSubsystemVersion), 4, 4},
      {"optional header SizeOfImage", OPTIONAL_FIELD(SizeOfImage), 0x30000, 0x50000},
      {"VbHeader +0x44 (u16)", Header(0x44, 2), 0, 0},
      {"VbHeader +0x04 (u16)", Header(0x04, 2), 0x1FF0, 0x1FF0},
      {"VbHeader +0x38 (u32)", Header(0x38, 4), 0xFFFFFF00, 0xFFFFFF00},
      {"VbHeader +0x3C (u32)", Header(0x3C, 4), 8, 8},
      {"VbHeader +0x40 (u32)", Header(0x40, 4), 1, 1},
      {"VbHeader +0x46 (u16)", Header(0x46, 2), 0, 0},
      {"VbHeader +0x48 (u32)", Header(0x48, 4), 0xE9, 0xE9},
      {"VbHeader +0x5C (u32)", Header(0x5C, 4), 0x7A, 0x7B},
      {"VbProjectInfo +0x20 (u32)", ProjectInfo(0x20, 4), 0, 0},
      {"VbComRegData +0x00 (u32)", ComReg(0x00, 4), 0, 0},
      {"VbComRegData +0x04 (u32)", ComReg(0x04, 4), 0x30, 0x30},
      {"VbComRegData +0x08 (u32)", ComReg(0x08, 4), 0x40, 0x40},
      {"VbComRegData +0x0C (u32)", ComReg(0x0C, 4), 0, 0},
      {"VbComRegData +0x26 (u16)", ComReg(0x26, 2), 1, 1},
      {"VbComRegData +0x28 (u16)", ComReg(0x28, 2), 0, 0},
      {".data section header SizeOfRawData", SectionInFile(1, 16, 4), 0, 0},
  });
}

TEST(VariantC, EveryFieldTest) {
  RunFieldCases('C', {
      {"file size", FileLength(), 0x1C000, 0x1E000},
      {"COFF file header NumberOfSections", Sections(), 3, 3},
      {"optional header AddressOfEntryPoint", OPTIONAL_FIELD(AddressOfEntryPoint), 0x1100, 0x1200},
      {"optional header MajorLinkerVersion", OPTIONAL_FIELD(MajorLinkerVersion), 6, 6},
      {"optional header SizeOfCode", OPTIONAL_FIELD(SizeOfCode), 0x1B000, 0x1B000},
      {"optional header SizeOfInitializedData", OPTIONAL_FIELD(SizeOfInitializedData), 0x2000, 0x2000},
      {"optional header BaseOfData", OPTIONAL_FIELD(BaseOfData), 0x1C000, 0x1C000},
      {"optional header FileAlignment", OPTIONAL_FIELD(FileAlignment), 0x1000, 0x1000},
      {"optional header MajorOperatingSystemVersion", OPTIONAL_FIELD(MajorOperatingSystemVersion), 4, 4},
      {"optional header MajorSubsystemVersion", OPTIONAL_FIELD(MajorSubsystemVersion), 4, 4},
      {"optional header SizeOfHeaders", OPTIONAL_FIELD(SizeOfHeaders), 0x1000, 0x1000},
      {"optional header Subsystem", OPTIONAL_FIELD(Subsystem), 2, 2},
      {"last section header SizeOfRawData", LastSection(16), 0x1000, 0x1000},
      {"last section header VirtualAddress", LastSection(12), 0x1D000, 0x1D000},
      {"last section header PointerToRawData", LastSection(20), 0x1C000, 0x1C000},
      {"entry code byte 0", EntryByte(0), 0x68, 0x68},
      {"entry code byte 5", EntryByte(5), 0xE8, 0xE8},
      {"entry code byte 7", EntryByte(7), 0xFF, 0xFF},
      {"entry code byte 8", EntryByte(8), 0xFF, 0xFF},
      {"entry code byte 9", EntryByte(9), 0xFF, 0xFF},
      {"section 2 header PointerToRawData", SectionInFile(1, 20, 4), 0, 0},
      {"section 2 header SizeOfRawData", SectionInFile(1, 16, 4), 0, 0},
      {"section 2 header Characteristics", SectionInFile(1, 36, 4), 0xC0000040, 0xC0000040},
      {"section 2 header VirtualSize", SectionInFile(1, 8, 4), 0x818, 0x818},
      {"section 2 header VirtualAddress", SectionInFile(1, 12, 4), 0x1C000, 0x1C000},
      {"section 1 header SizeOfRawData", SectionInFile(0, 16, 4), 0x1B000, 0x1B000},
      // Below 0x1000 the aligned raw pointer moves the whole code section, so the
      // entry code read through it is no longer the push.
      {"section 1 header PointerToRawData", SectionInFile(0, 20, 4), 0x1000, 0x1000, false,
       {{0xFFF, "entry code byte 0"}}},
      {"section 1 header VirtualSize", SectionInFile(0, 8, 4), 0x19000, 0x1C000},
      {"VbHeader +0x34 (u32)", Header(0x34, 4), 0x30F000, 0x30F000},
      {"VbHeader +0x38 (u32)", Header(0x38, 4), 0xFFFFFF00, 0xFFFFFF00},
      {"VbHeader +0x24 (u32)", Header(0x24, 4), 0x409, 0x409},
      {"VbHeader +0x58 (u32)", Header(0x58, 4), 0x70, 0x80},
      {"VbHeader +0x5C (u32)", Header(0x5C, 4), 0x70, 0x80},
      {"VbHeader +0x60 (u32)", Header(0x60, 4), 0x80, 0x90},
      {"VbHeader +0x64 (u32)", Header(0x64, 4), 0x80, 0x90},
      {"VbHeader +0x54 (u32)", MovesComRegData(), 0x4011B0, 0x4011D0},
      {"VbHeader +0x50 (u32)", Header(0x50, 4), 0x4011F0, 0x401210},
      {"VbHeader +0x4C (u32)", Header(0x4C, 4), 0x4011F0, 0x401210},
      {"VbHeader +0x2C (u32)", Header(0x2C, 4), 0x401700, 0x401800},
      {"VbHeader +0x28 (u32)", Header(0x28, 4), 0, 0},
      {"VbHeader +0x40 (u32)", Header(0x40, 4), 1, 1},
      {"VbHeader +0x3C (u32)", Header(0x3C, 4), 8, 8},
      {"VbHeader +0x48 (u32)", Header(0x48, 4), 0xE9, 0xE9},
      {"VbHeader +0x06 (u8)", Header(0x06, 1), 0x2A, 0x2A},
      {"VbHeader +0x14 (u8)", Header(0x14, 1), 0x7E, 0x7E},
      {"VbHeader +0x46 (u16)", Header(0x46, 2), 0, 0},
      {"VbHeader +0x44 (u16)", Header(0x44, 2), 0, 0},
      {"VbHeader +0x04 (u16)", Header(0x04, 2), 0x1FF0, 0x1FF0},
      {"VbHeader +0x22 (u16)", Header(0x22, 2), 0x0A, 0x0A},
      {"VbProjectInfo +0x14 (u32)", ProjectInfo(0x14, 4), 0x818, 0x818},
      {"VbProjectInfo +0x238 (u32)", ProjectInfo(0x238, 4), 6, 6},
      {"VbProjectInfo +0x1C (u32)", ProjectInfo(0x1C, 4), 0x401190, 0x4011B0},
      {"VbProjectInfo +0x10 (u32)", ProjectInfo(0x10, 4), 0x41B400, 0x41B900},
      {"VbProjectInfo +0x0C (u32)", ProjectInfo(0x0C, 4), 0x41B500, 0x41BA00},
      {"VbProjectInfo +0x234 (u32)", ProjectInfo(0x234, 4), 0x4011F0, 0x4012D0},
      {"VbProjectInfo +0x20 (u32)", ProjectInfo(0x20, 4), 0, 0},
      {"VbProjectInfo +0x04 (u32)", ProjectInfo(0x04, 4), 0x401B00, 0x401D00},
      {"VbProjectInfo +0x18 (u32)", ProjectInfo(0x18, 4), 0x41C000, 0x41C000},
      {"VbProjectInfo +0x00 (u32)", ProjectInfo(0x00, 4), 0x1F4, 0x1F4},
      {"VbComRegData +0x08 (u32)", ComReg(0x08, 4), 0x40, 0x40},
      {"VbComRegData +0x0C (u32)", ComReg(0x0C, 4), 0, 0},
      {"VbComRegData +0x04 (u32)", ComReg(0x04, 4), 0x30, 0x30},
      {"VbComRegData +0x00 (u32)", ComReg(0x00, 4), 0, 0},
      {"VbComRegData +0x20 (u32)", ComReg(0x20, 4), 0, 0},
      {"VbComRegData +0x26 (u16)", ComReg(0x26, 2), 1, 1},
      {"VbComRegData +0x28 (u16)", ComReg(0x28, 2), 0, 0},
  });
}

TEST(VariantD, EveryFieldTest) {
  RunFieldCases('D', {
      {"COFF file header NumberOfSections", Sections(), 3, 3},
      {"optional header MajorLinkerVersion", OPTIONAL_FIELD(MajorLinkerVersion), 6, 6},
      {"optional header FileAlignment", OPTIONAL_FIELD(FileAlignment), 0x1000, 0x1000},
      {"optional header AddressOfEntryPoint", OPTIONAL_FIELD(AddressOfEntryPoint), 0x1100, 0x1200},
      {"optional header MajorOperatingSystemVersion", OPTIONAL_FIELD(MajorOperatingSystemVersion), 4, 4},
      {"optional header MajorSubsystemVersion", OPTIONAL_FIELD(MajorSubsystemVersion), 4, 4},
      {"entry code byte 0", EntryByte(0), 0x68, 0x68},
      {"entry code byte 5", EntryByte(5), 0xE8, 0xE8},
      {"entry code byte 7", EntryByte(7), 0xFF, 0xFF},
      {"entry code byte 8", EntryByte(8), 0xFF, 0xFF},
      {"entry code byte 9", EntryByte(9), 0xFF, 0xFF},
      {"section 2 header PointerToRawData", SectionInFile(1, 20, 4), 0, 0},
      {"section 2 header SizeOfRawData", SectionInFile(1, 16, 4), 0, 0},
      {"section 2 header Characteristics", SectionInFile(1, 36, 4), 0xC0000040, 0xC0000040},
      {"VbHeader +0x34 (u32)", Header(0x34, 4), 0x30F000, 0x30F000},
      {"VbHeader +0x38 (u32)", Header(0x38, 4), 0xFFFFFF00, 0xFFFFFF00},
      {"VbHeader +0x24 (u32)", Header(0x24, 4), 0x409, 0x409},
      {"VbHeader +0x58 (u32)", Header(0x58, 4), 0x60, 0x90},
      {"VbHeader +0x5C (u32)", Header(0x5C, 4), 0x60, 0x90},
      {"VbHeader +0x60 (u32)", Header(0x60, 4), 0x60, 0x90},
      {"VbHeader +0x64 (u32)", Header(0x64, 4), 0x70, 0xA0},
      {"VbHeader +0x54 (u32)", MovesComRegData(), 0x401000, 0x401300},
      {"VbHeader +0x2C (u32)", Header(0x2C, 4), 0x401000, 0x401E00},
      {"VbHeader +0x28 (u32)", Header(0x28, 4), 0, 0},
      {"VbHeader +0x40 (u32)", Header(0x40, 4), 1, 1},
      {"VbHeader +0x3C (u32)", Header(0x3C, 4), 8, 8},
      {"VbHeader +0x48 (u32)", Header(0x48, 4), 0xE9, 0xE9},
      {"VbHeader +0x06 (u8)", Header(0x06, 1), 0x2A, 0x2A},
      {"VbHeader +0x14 (u8)", Header(0x14, 1), 0x7E, 0x7E},
      {"VbHeader +0x46 (u16)", Header(0x46, 2), 0, 0},
      {"VbHeader +0x04 (u16)", Header(0x04, 2), 0x1FF0, 0x1FF0},
      {"VbHeader +0x22 (u16)", Header(0x22, 2), 0x0A, 0x0A},
      {"VbHeader +0x44 (u16)", Header(0x44, 2), 0, 1},
      {"VbComRegData +0x08 (u32)", ComReg(0x08, 4), 0x40, 0x40},
      {"VbComRegData +0x0C (u32)", ComReg(0x0C, 4), 0, 0},
      {"VbComRegData +0x04 (u32)", ComReg(0x04, 4), 0x30, 0x30},
      {"VbComRegData +0x00 (u32)", ComReg(0x00, 4), 0, 0},
      {"VbComRegData +0x20 (u32)", ComReg(0x20, 4), 0, 0},
      {"VbComRegData +0x26 (u16)", ComReg(0x26, 2), 1, 1},
      {"VbComRegData +0x28 (u16)", ComReg(0x28, 2), 0, 0},
  });
}

}  // namespace

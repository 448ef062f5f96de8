// The signature steps written as code, through whole images: where the
// InternalName key may lie, the name rules as each variant applies them, variant
// B's project information pairs, the project path counts, the section names, the
// start code, and the windows of variants C and D at their file offsets.
#include <gtest/gtest.h>

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

struct RuleCase {
  std::string name;
  char variant;
  std::function<void(VbImage&)> change;
  bool matches;
  const char* stopsAt;  // the step that fails, when the variant does not match
};

void RunRuleCases(const std::vector<RuleCase>& cases) {
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(std::string(1, c.variant) + ": " + c.name);
    VbImage image = testpe::VariantImage(c.variant);
    c.change(image);
    testpe::TempFile file = image.Write();
    const AllChecks checks = RunAllChecks(file.Path());
    ASSERT_TRUE(checks.recordsRead);
    const int index = c.variant - 'A';
    const CheckTrace& trace = checks.traces[index];
    EXPECT_EQ(checks.verdicts[index], c.matches ? 1 : 0)
        << "stopped at " << (trace.failedTest ? trace.failedTest : "(matched)") << ", required " << trace.required;
    if (!c.matches) {
      ASSERT_NE(trace.failedTest, nullptr);
      EXPECT_STREQ(trace.failedTest, c.stopsAt);
    }
  }
}

std::function<void(VbImage&)> Name(const std::u16string& value, uint32_t keyOffset) {
  return [=](VbImage& image) { image.SetInternalName(value, keyOffset); };
}

std::function<void(VbImage&)> Path(const std::u16string& path) {
  return [=](VbImage& image) { image.SetProjectPath(path); };
}

// The version data starts 0x58 bytes into the resource section of these images;
// keys are placed relative to the 480-byte block, i.e. to the data's start.
TEST(VersionName, KeyMustLeaveRoomForTheValue) {
  RunRuleCases({
      {"key at block offset 436", 'A', Name(u"Fishbowl", 436), true, nullptr},
      {"key at block offset 437", 'A', Name(u"Fishbowl", 437), false, "InternalName key offset"},
      {"key at block offset 446", 'B', Name(u"42", 446), true, nullptr},
      {"key at block offset 447", 'B', Name(u"42", 447), false, "InternalName key offset"},
      {"key past the 480 bytes read", 'A', Name(u"Fishbowl", 470), false, "InternalName key"},
      {"no key at all", 'B', [](VbImage& image) { image.Bytes(VbRecord::VersionData).assign(testpe::VersionDataSize, 0); },
       false, "InternalName key"},
  });
}

TEST(VersionName, RulesAsTheVariantsApplyThem) {
  RunRuleCases({
      {"eight letters", 'A', Name(u"Fishbowl", 0x40), true, nullptr},
      {"eight letters, one a digit", 'A', Name(u"Fishbo3l", 0x40), false, "InternalName value"},
      {"seven letters", 'A', Name(u"Fishbow", 0x40), false, "InternalName value"},
      {"nine letters", 'A', Name(u"Fishbowls", 0x40), false, "InternalName value"},
      {"two digits", 'B', Name(u"17", 0x40), true, nullptr},
      {"digit 0", 'B', Name(u"0", 0x40), true, nullptr},
      {"three digits", 'B', Name(u"170", 0x40), false, "InternalName value"},
      {"a letter", 'B', Name(u"x", 0x40), false, "InternalName value"},
      {"empty", 'B', Name(u"", 0x40), false, "InternalName value"},
  });
}

TEST(VersionName, DataMustHold480BytesBeforeTheEndOfTheFile) {
  // The declared size plays no part: the 480 bytes are read whatever it is.
  RunRuleCases({
      {"file ends 480 bytes after the data starts", 'A',
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::VersionData) + 480); }, true, nullptr},
      {"file ends 479 bytes after the data starts", 'A',
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::VersionData) + 479); }, false,
       "version block read"},
  });
}

TEST(VersionName, NeedsAVersionResourceAndADataSection) {
  // Renaming a section header in the file keeps every offset where it was.
  auto renameData = [](VbImage& image) { image.PutBytes(image.Pe().SectionHeaderOffset(1), {'.', 'd', 'a', 't', 'x'}); };
  auto noVersion = [](VbImage& image) {
    // The root's only entry becomes type 6 (string table) instead of 16.
    image.PutBytes(image.Pe().SectionAt(2).PointerToRawData + 16, {6, 0, 0, 0});
  };
  auto dataUpperCase = [](VbImage& image) { image.PutBytes(image.Pe().SectionHeaderOffset(1), {'.', 'D', 'A', 'T', 'A'}); };
  RunRuleCases({
      {"no .data section", 'A', renameData, false, ".data section header"},
      {"no .data section", 'B', renameData, false, ".data section header"},
      {".DATA is found by name regardless of case", 'A', dataUpperCase, true, nullptr},
      {"no type 16 resource", 'A', noVersion, false, "version block read"},
      {"no type 16 resource", 'B', noVersion, false, "version block read"},
  });
}

std::function<void(VbImage&)> Pair(uint32_t first, uint32_t second) {
  return [=](VbImage& image) {
    image.Set(VbRecord::ProjectInfo, 0x14, 4, first);
    image.Set(VbRecord::ProjectInfo, 0x238, 4, second);
  };
}

TEST(VariantB, ProjectInfoValuesOnlyInTheirPairs) {
  const char* pair = "VbProjectInfo +0x14 (u32) with +0x238 (u32)";
  RunRuleCases({
      {"0x57C with 4", 'B', Pair(0x57C, 4), true, nullptr},
      {"0xA4C with 0x1E", 'B', Pair(0xA4C, 0x1E), true, nullptr},
      {"0x57C with 0x1E", 'B', Pair(0x57C, 0x1E), false, pair},
      {"0xA4C with 4", 'B', Pair(0xA4C, 4), false, pair},
      {"0x57D with 4", 'B', Pair(0x57D, 4), false, pair},
      {"0xA4C with 0x1F", 'B', Pair(0xA4C, 0x1F), false, pair},
  });
}

TEST(ProjectPath, TwoBackslashesAndEnoughDigits) {
  std::vector<RuleCase> cases;
  struct PathRow {
    const char16_t* path;
    bool passesB;   // at least two digits
    bool passesCD;  // at least one digit
    const char* stopsAt;
  };
  const PathRow rows[] = {
      {u"C:\\Proj12\\app.vbp", true, true, nullptr},
      {u"C:\\Proj1\\app.vbp", false, true, "project path digits"},
      {u"C:\\Proj\\app.vbp", false, false, "project path digits"},
      {u"C:\\app12.vbp", false, false, "project path backslashes"},
      {u"C:\\a\\b\\app12.vbp", false, false, "project path backslashes"},
      {u"", false, false, "project path backslashes"},
      {u"9\\9\\", true, true, nullptr},
  };
  for (const PathRow& row : rows) {
    for (char variant : {'B', 'C', 'D'}) {
      const bool passes = variant == 'B' ? row.passesB : row.passesCD;
      std::string name;
      for (const char16_t* unit = row.path; *unit != 0; ++unit) name += static_cast<char>(*unit);
      cases.push_back({"path \"" + name + "\"", variant, Path(row.path), passes, row.stopsAt});
    }
  }
  RunRuleCases(cases);
}

TEST(ProjectPath, EmptyForVariantA) {
  RunRuleCases({
      {"a path", 'A', Path(u"C:\\Proj12\\app.vbp"), false, "VbProjectInfo +0x24 (u8)"},
      {"a path of one unit whose low byte is 0", 'A', Path(u"\u0100x"), true, nullptr},
  });
}

std::function<void(VbImage&)> SectionName(size_t index, std::vector<uint8_t> name) {
  return [=](VbImage& image) {
    std::vector<uint8_t> bytes = name;
    bytes.resize(8, 0);
    image.PutBytes(image.Pe().SectionHeaderOffset(index), bytes);
  };
}

TEST(SectionNames, FirstFiveBytesByteForByte) {
  std::vector<RuleCase> cases;
  for (char variant : {'C', 'D'}) {
    cases.push_back({".textbss", variant, SectionName(0, {'.', 't', 'e', 'x', 't', 'b', 's', 's'}), true, nullptr});
    cases.push_back({".TEXT", variant, SectionName(0, {'.', 'T', 'E', 'X', 'T'}), false, "section 1 header Name"});
    cases.push_back({".tex", variant, SectionName(0, {'.', 't', 'e', 'x'}), false, "section 1 header Name"});
    cases.push_back({".data1", variant, SectionName(1, {'.', 'd', 'a', 't', 'a', '1'}), true, nullptr});
    cases.push_back({".Data", variant, SectionName(1, {'.', 'D', 'a', 't', 'a'}), false, "section 2 header Name"});
  }
  RunRuleCases(cases);
}

TEST(VariantA, StartCodeImmediatesMustBeEqual) {
  RunRuleCases({
      {"second immediate differs", 'A', [](VbImage& image) { image.Set(VbRecord::StartCode, 18, 4, 0x402404); }, false,
       "start code u32 at 6, 18 and 30"},
      {"third immediate differs", 'A', [](VbImage& image) { image.Set(VbRecord::StartCode, 30, 4, 0); }, false,
       "start code u32 at 6, 18 and 30"},
      {"all three changed alike", 'A',
       [](VbImage& image) {
         for (uint32_t at : {6u, 18u, 30u}) image.Set(VbRecord::StartCode, at, 4, 0x12345678);
       },
       true, nullptr},
      {"start code beyond the end of the file", 'A',
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::StartCode) + 63); }, false,
       "start code read"},
  });
}

std::function<void(VbImage&)> Put(uint32_t fileOffset, std::vector<uint8_t> bytes) {
  return [=](VbImage& image) { image.PutBytes(fileOffset, bytes); };
}

std::vector<uint8_t> Zeros(size_t count) { return std::vector<uint8_t>(count, 0); }

TEST(VariantC, StubAndRecordWindows) {
  const std::vector<uint8_t> stub = testpe::StubPattern();
  RunRuleCases({
      {"stub at window offset 64 (file offset 176)", 'C',
       [=](VbImage& image) {
         image.PutBytes(112, Zeros(16));
         image.PutBytes(176, stub);
       },
       true, nullptr},
      {"stub straddling file offset 192", 'C',
       [=](VbImage& image) {
         image.PutBytes(112, Zeros(16));
         image.PutBytes(180, stub);
       },
       false, "stub pattern"},
      {"no stub", 'C', Put(112, Zeros(16)), false, "stub pattern"},
      {"sixteen records every 12 bytes", 'C', Put(0x1B1B0, testpe::TemplateRecords(16, 12)), true, nullptr},
      {"eight records every 12 bytes", 'C',
       [](VbImage& image) {
         image.PutBytes(0x1B1B0, Zeros(8 * 13));
         image.PutBytes(0x1B1B0, testpe::TemplateRecords(8, 12));
       },
       false, "record count"},
      {"seven records every 13 bytes", 'C', Put(0x1B1B0 + 7 * 13, Zeros(11)), false, "record count"},
      {"the eighth record at window offset 516", 'C',
       [](VbImage& image) {
         image.PutBytes(0x1B1B0 + 7 * 13, Zeros(11));
         image.PutBytes(0x1B1B0 + 516, testpe::TemplateRecords(1, 11));
       },
       true, nullptr},
      {"the eighth record at window offset 517", 'C',
       [](VbImage& image) {
         image.PutBytes(0x1B1B0 + 7 * 13, Zeros(11));
         image.PutBytes(0x1B1B0 + 517, testpe::TemplateRecords(1, 11));
       },
       false, "record count"},
      {"records one byte before the window", 'C',
       [](VbImage& image) {
         image.PutBytes(0x1B1B0, Zeros(8 * 13));
         image.PutBytes(0x1B1B0 - 1, testpe::TemplateRecords(8, 13));
       },
       false, "record count"},
  });
}

TEST(VariantD, JumpWindow) {
  RunRuleCases({
      {"21 thunks", 'D',
       [](VbImage& image) {
         image.PutBytes(0x1040, Zeros(24 * 6));
         image.PutBytes(0x1040, testpe::JumpThunks(21));
       },
       true, nullptr},
      {"20 thunks", 'D',
       [](VbImage& image) {
         image.PutBytes(0x1040, Zeros(24 * 6));
         image.PutBytes(0x1040, testpe::JumpThunks(20));
       },
       false, "jump count"},
      {"21 thunks, the last at window offset 521", 'D',
       [](VbImage& image) {
         image.PutBytes(0x1040, Zeros(24 * 6));
         image.PutBytes(0x1040, testpe::JumpThunks(20));
         image.PutBytes(0x1000 + 521, testpe::JumpThunks(1));
       },
       true, nullptr},
      {"21 thunks, the last at window offset 522", 'D',
       [](VbImage& image) {
         image.PutBytes(0x1040, Zeros(24 * 6));
         image.PutBytes(0x1040, testpe::JumpThunks(20));
         image.PutBytes(0x1000 + 522, testpe::JumpThunks(1));
       },
       false, "jump count"},
  });
}

}  // namespace

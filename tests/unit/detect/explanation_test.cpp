// What a check says when it stops: the field or step, the value found and what was
// required, taken from the same evaluation that gave the verdict.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"

namespace {

using testpe::VbImage;
using testpe::VbRecord;

struct ExplanationCase {
  const char* name;
  char variant;
  std::function<void(VbImage&)> change;
  const char* failedTest;
  bool hasFound;
  uint32_t found;
  const char* required;
};

TEST(Explanation, NamesTheFirstFailingTest) {
  const ExplanationCase cases[] = {
      {"a header field", 'A', [](VbImage& image) { image.Set(VbRecord::Header, 0x04, 2, 0x2635); },
       "VbHeader +0x04 (u16)", true, 0x2635, "0x2636"},
      {"a range", 'A', [](VbImage& image) { image.Set(VbRecord::Header, 0x44, 2, 5); }, "VbHeader +0x44 (u16)", true,
       5, "0x3-0x4"},
      {"zero or a range", 'A', [](VbImage& image) { image.Set(VbRecord::ComRegData, 0x00, 4, 0x20); },
       "VbComRegData +0x00 (u32)", true, 0x20, "0 or 0x30-0x60"},
      {"the file size", 'B', [](VbImage& image) { image.SetFileLength(0x60001); }, "file size", true, 0x60001,
       "0x20000-0x60000"},
      {"an optional header field", 'C', [](VbImage& image) { image.Pe().Optional().SizeOfCode = 0x1A000; },
       "optional header SizeOfCode", true, 0x1A000, "0x1B000"},
      {"a step without a value", 'C', [](VbImage& image) { image.PutBytes(0x70, std::vector<uint8_t>(16, 0)); },
       "stub pattern", false, 0, "found"},
      {"a count", 'D', [](VbImage& image) { image.PutBytes(0x1040 + 20 * 6, std::vector<uint8_t>(24, 0)); },
       "jump count", true, 20, "at least 21"},
  };
  for (const ExplanationCase& c : cases) {
    SCOPED_TRACE(std::string(1, c.variant) + ": " + c.name);
    VbImage image = testpe::VariantImage(c.variant);
    c.change(image);
    testpe::TempFile file = image.Write();
    ScanTrace trace;
    EXPECT_EQ(JudgeImageFile(file.Path().c_str(), nullptr, &trace), Variant::None);
    ASSERT_EQ(trace.stop, ScanStop::Checked);
    const CheckTrace& check = trace.variants[c.variant - 'A'];
    EXPECT_FALSE(check.matched);
    ASSERT_NE(check.failedTest, nullptr);
    EXPECT_STREQ(check.failedTest, c.failedTest);
    EXPECT_EQ(check.hasFound, c.hasFound);
    if (c.hasFound) {
      EXPECT_EQ(check.found, c.found);
    }
    EXPECT_STREQ(check.required, c.required);
  }
}

TEST(Explanation, AMatchLeavesNoFailedTest) {
  testpe::TempFile file = testpe::VariantDImage().Write();
  ScanTrace trace;
  ASSERT_EQ(JudgeImageFile(file.Path().c_str(), nullptr, &trace), Variant::D);
  EXPECT_TRUE(trace.variants[3].matched);
  EXPECT_EQ(trace.variants[3].failedTest, nullptr);
  EXPECT_STREQ(trace.variants[3].required, "");
}

}  // namespace

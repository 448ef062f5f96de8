// The file signature detector: which variant it reports and in what order it asks,
// where it stops before the checks, that it always closes the file, and that a
// cut image never matches once a byte a signature needs is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "platform/crt_io.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"
#include "tests/unit/detect/all_checks.h"

namespace {

using testpe::VbImage;
using testpe::VbRecord;

// The lowest free descriptor: a file the detector left open would hold it.
int NextFreeDescriptor(const std::string& probe) {
  const int fd = _open(probe.c_str(), _O_BINARY);
  if (fd != -1) (void)_close(fd);
  return fd;
}

struct Probe {
  testpe::TempFile file{std::vector<uint8_t>(1, 0)};
  int before = NextFreeDescriptor(file.Path());
  void ExpectNothingLeftOpen() const { EXPECT_EQ(NextFreeDescriptor(file.Path()), before) << "a descriptor was left open"; }
};

Variant Identify(const VbImage& image, ScanTrace* trace) {
  testpe::TempFile file = image.Write();
  Probe probe;
  const Variant variant = JudgeImageFile(file.Path().c_str(), nullptr, trace);
  probe.ExpectNothingLeftOpen();
  EXPECT_EQ(ScanImageFile(file.Path().c_str()), variant != Variant::None);
  probe.ExpectNothingLeftOpen();
  return variant;
}

TEST(JudgeImageFile, ReportsEachVariantAfterTheEarlierOnesFailed) {
  for (char letter : {'A', 'B', 'C', 'D'}) {
    SCOPED_TRACE(std::string("variant ") + letter);
    ScanTrace trace;
    const Variant expected = static_cast<Variant>(letter - 'A' + 1);
    EXPECT_EQ(Identify(testpe::VariantImage(letter), &trace), expected);
    EXPECT_EQ(trace.stop, ScanStop::Checked);
    const int index = letter - 'A';
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(std::string("check ") + static_cast<char>('A' + i));
      EXPECT_EQ(trace.ran[i], i <= index) << "checks after the first match do not run";
      EXPECT_EQ(trace.variants[i].matched, i == index);
      if (i < index) {
        EXPECT_NE(trace.variants[i].failedTest, nullptr);
      }
    }
  }
}

// Variant A wants VbHeader +0x04 of 0x2636 and the others 0x1FF0, so no image
// matches A together with another variant; B with D and C with D can both hold.
VbImage MatchingBAndD() {
  VbImage image = testpe::VariantBImage();
  image.PlaceEntryPoint(0x1180);
  image.PlaceComRegData(0x401280);
  image.Set(VbRecord::Header, 0x2C, 4, 0x401900);
  image.Set(VbRecord::Header, 0x58, 4, 0x78);
  image.Set(VbRecord::Header, 0x60, 4, 0x78);
  image.Set(VbRecord::Header, 0x64, 4, 0x88);
  image.PutBytes(0x1040, testpe::JumpThunks(24));
  return image;
}

VbImage MatchingCAndD() {
  VbImage image = testpe::VariantCImage();
  image.PutBytes(0x1040, testpe::JumpThunks(24));
  return image;
}

TEST(JudgeImageFile, FirstMatchInOrderWins) {
  struct OrderCase {
    const char* name;
    VbImage image;
    const char* matching;  // every check that matches on its own
    Variant reported;
  };
  const OrderCase cases[] = {
      {"B and D", MatchingBAndD(), "BD", Variant::B},
      {"C and D", MatchingCAndD(), "CD", Variant::C},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    testpe::TempFile file = c.image.Write();
    EXPECT_EQ(MatchedVariants(RunAllChecks(file.Path())), c.matching);
    ScanTrace trace;
    EXPECT_EQ(Identify(c.image, &trace), c.reported);
    EXPECT_FALSE(trace.ran[3]) << "D is not asked once an earlier variant matched";
  }
}

TEST(JudgeImageFile, StopsBeforeTheChecks) {
  struct StopCase {
    const char* name;
    std::function<void(VbImage&)> change;
    ScanStop stop;
  };
  const StopCase cases[] = {
      {"entry point in no section", [](VbImage& image) { image.Pe().Optional().AddressOfEntryPoint = 0x900000; },
       ScanStop::NoEntryOffset},
      {"1023 bytes after the entry point",
       [](VbImage& image) { image.SetFileLength(image.FileOffsetOf(VbRecord::EntryCode) + 1023); },
       ScanStop::ShortEntryCode},
      {"no section headers", [](VbImage& image) { image.Pe().FileHeader().NumberOfSections = 0; },
       ScanStop::NoLastSection},
      {"file cut inside the section table",
       [](VbImage& image) {
         // The headers move up and the entry point to RVA 0, so that 1024 bytes of
         // entry code still lie before the cut.
         image.Pe().PeHeaderOffset() = 0x800;
         image.Pe().Optional().AddressOfEntryPoint = 0;
         image.SetFileLength(image.Pe().SectionHeaderOffset(2) + 39);
       },
       ScanStop::NoLastSection},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    VbImage image = testpe::VariantDImage();
    c.change(image);
    ScanTrace trace;
    EXPECT_EQ(Identify(image, &trace), Variant::None);
    EXPECT_EQ(trace.stop, c.stop);
    for (bool ran : trace.ran) EXPECT_FALSE(ran);
  }
  // With exactly 1024 bytes of entry code the checks run (and fail: the records
  // behind the entry code are gone).
  VbImage image = testpe::VariantDImage();
  image.SetFileLength(image.FileOffsetOf(VbRecord::EntryCode) + 1024);
  ScanTrace trace;
  EXPECT_EQ(Identify(image, &trace), Variant::None);
  EXPECT_EQ(trace.stop, ScanStop::Checked);
}

TEST(JudgeImageFile, PathsThatCannotBeOpened) {
  Probe probe;
  ScanTrace trace;
  const std::string missing = testpe::TempDirectory() + "pestkill-no-such-file.exe";
  EXPECT_EQ(JudgeImageFile(missing.c_str(), nullptr, &trace), Variant::None);
  EXPECT_EQ(trace.stop, ScanStop::CannotOpen);
  EXPECT_FALSE(ScanImageFile(missing.c_str()));
  EXPECT_EQ(JudgeImageFile(nullptr, nullptr, &trace), Variant::None);
  EXPECT_EQ(trace.stop, ScanStop::CannotOpen);
  EXPECT_FALSE(ScanImageFile(nullptr));
  EXPECT_FALSE(ScanImageFile(""));
  probe.ExpectNothingLeftOpen();
}

TEST(JudgeImageFile, CleanFilesAreNotReported) {
  testpe::PeImage plain;  // a valid image without any Visual Basic records
  plain.AddSection(".text", 0x1000, 0x800, 0x200, 0x800, testpe::CodeSection);
  plain.Optional().AddressOfEntryPoint = 0x1000;
  ScanTrace trace;
  testpe::TempFile file = plain.Write();
  EXPECT_EQ(JudgeImageFile(file.Path().c_str(), nullptr, &trace), Variant::None);
  EXPECT_EQ(trace.stop, ScanStop::Checked);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(trace.ran[i]);
}

// The end of the last byte each variant needs: the image matches at that length
// and at no shorter one.
uint32_t NeededLength(char variant, const VbImage& image) {
  const uint32_t entryEnd = image.FileOffsetOf(VbRecord::EntryCode) + 1024;
  const uint32_t headerEnd = image.FileOffsetOf(VbRecord::Header) + 104;
  const uint32_t infoEnd = image.FileOffsetOf(VbRecord::ProjectInfo) + 572;
  const uint32_t comRegEnd = image.FileOffsetOf(VbRecord::ComRegData) + 42;
  uint32_t needed = std::max({entryEnd, headerEnd, infoEnd, comRegEnd});
  switch (variant) {
    case 'A':
      needed = std::max({needed, image.FileOffsetOf(VbRecord::StartCode) + 64,
                         image.FileOffsetOf(VbRecord::VersionData) + 480});
      break;
    case 'B': needed = std::max({needed, image.FileOffsetOf(VbRecord::VersionData) + 480, 0x20000u}); break;
    case 'C': needed = std::max({needed, 0x1B1B0u + 528, 0x1C000u}); break;
    case 'D': needed = std::max(needed, 0x1000u + 528); break;
  }
  return needed;
}

TEST(TruncationSweep, CutImagesDoNotMatch) {
  for (char letter : {'A', 'B', 'C', 'D'}) {
    const VbImage image = testpe::VariantImage(letter);
    const std::vector<uint8_t> bytes = image.Bytes();
    const uint32_t needed = NeededLength(letter, image);
    ASSERT_LE(needed, bytes.size());

    // Every length through the DOS header, PE headers and section table, then
    // strides across the rest, and both sides of every record's end.
    std::set<uint32_t> lengths;
    for (uint32_t n = 0; n < 0x300; ++n) lengths.insert(n);
    for (uint32_t n = 0x300; n < 0x2000; n += 61) lengths.insert(n);
    for (uint32_t n = 0x2000; n < bytes.size(); n += 509) lengths.insert(n);
    for (VbRecord record : {VbRecord::EntryCode, VbRecord::Header, VbRecord::ProjectInfo, VbRecord::ComRegData}) {
      const uint32_t at = image.FileOffsetOf(record);
      for (uint32_t n : {at, at + 1, at + 41, at + 42, at + 103, at + 104, at + 571, at + 572, at + 1023, at + 1024})
        lengths.insert(n);
    }
    lengths.insert(needed - 1);
    lengths.insert(needed);
    lengths.insert(static_cast<uint32_t>(bytes.size()));

    const Variant variant = static_cast<Variant>(letter - 'A' + 1);
    Probe probe;
    for (uint32_t length : lengths) {
      if (length > bytes.size()) continue;
      SCOPED_TRACE(std::string("variant ") + letter + " cut at " + std::to_string(length));
      testpe::TempFile file(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
      const Variant found = JudgeImageFile(file.Path().c_str());
      EXPECT_EQ(found, length >= needed ? variant : Variant::None);
    }
    probe.ExpectNothingLeftOpen();
  }
}

}  // namespace

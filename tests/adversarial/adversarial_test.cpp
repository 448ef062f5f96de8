// Each hostile shape is judged to the end: no crash, no sanitizer report, no match,
// and the descriptor the detector opened is closed again. A walk that loops or
// grows exponentially shows up as a test that never ends (CTest's timeout); the
// times are measured by bench/adversarial.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "image/resource_walker.h"
#include "tests/adversarial/adversarial_shapes.h"
#include "tests/support/temp_file.h"

namespace {

using adversarial::ImageShape;
using adversarial::ResourceShape;

// The number the C runtime hands out for the next open: it grows when a reader
// leaves a descriptor open.
int NextDescriptor(const testpe::TempFile& file) { return file.Open().get(); }

class ImageShapeTest : public ::testing::TestWithParam<ImageShape> {};

TEST_P(ImageShapeTest, JudgementEndsCleanAndClosesTheFile) {
  const ImageShape& shape = GetParam();
  testpe::TempFile file(shape.bytes);
  int before = NextDescriptor(file);
  ScanTrace trace;
  EXPECT_EQ(JudgeImageFile(file.Path().c_str(), nullptr, &trace), Variant::None);
  EXPECT_NE(trace.stop, ScanStop::CannotOpen);
  EXPECT_FALSE(ScanImageFile(file.Path().c_str()));
  EXPECT_EQ(NextDescriptor(file), before);
}

// The trees grafted into a variant-A image are only a test of the walk if the
// judgement gets that far: variant A must fail at its version block and at no
// earlier row.
TEST(VariantAWithTree, JudgementReachesTheResourceWalk) {
  for (const ResourceShape& tree : adversarial::ResourceShapes()) {
    ImageShape shape = adversarial::VariantAWithTree(tree);
    SCOPED_TRACE(shape.name);
    testpe::TempFile file(shape.bytes);
    ScanTrace trace;
    (void)JudgeImageFile(file.Path().c_str(), nullptr, &trace);
    ASSERT_TRUE(trace.ran[0]);
    ASSERT_NE(trace.variants[0].failedTest, nullptr);
    EXPECT_STREQ(trace.variants[0].failedTest, "version block read");
  }
}

INSTANTIATE_TEST_SUITE_P(Hostile, ImageShapeTest, ::testing::ValuesIn(adversarial::ImageShapes()),
                         [](const ::testing::TestParamInfo<ImageShape>& info) { return info.param.name; });

class ResourceShapeTest : public ::testing::TestWithParam<ResourceShape> {};

// None of the trees holds a data entry that a correct walk can reach, so the walk
// must report nothing and leave the outputs alone.
TEST_P(ResourceShapeTest, WalkEndsWithoutAResult) {
  const ResourceShape& shape = GetParam();
  testpe::OpenedFile opened(shape.bytes);
  ASSERT_GE(opened.fd.get(), 0);
  uint32_t rva = 0x11111111u, size = 0x22222222u;
  uint32_t nameLength = shape.nameFilter != nullptr ? 3 : 0;
  EXPECT_EQ(FindResourceEntry(opened.fd, shape.nameFilter, nameLength, shape.identifier, 0, 0, &rva,
                              &size, 0),
            0);
  EXPECT_EQ(rva, 0x11111111u);
  EXPECT_EQ(size, 0x22222222u);
}

std::string ShapeName(const ::testing::TestParamInfo<ResourceShape>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Hostile, ResourceShapeTest, ::testing::ValuesIn(adversarial::ResourceShapes()),
                         ShapeName);

}  // namespace

// The read primitive as the seam for another read layer. This program links its own
// definitions of the descriptor's four operations (image/file_read.h) in place of
// the runtime's, as an offline scanner would: a layer that keeps each descriptor's
// position itself and reads with pread, so that no seek reaches the kernel. Switched
// to the runtime's calls it is the shipped program's road. Both must give the same
// verdicts, stops and explanations for whole images and damaged ones.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "image/file_read.h"
#include "platform/crt_io.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"

namespace {

enum class Layer { Runtime, Positioned };
Layer layer = Layer::Runtime;

// The positioned layer's state: one position per descriptor, in fixed storage.
constexpr int MaxDescriptors = 1024;
int64_t positions[MaxDescriptors];

struct Calls {
  int kernelSeeks = 0;
  int reads = 0;
};
Calls calls;

bool Positioned(int fd) { return layer == Layer::Positioned && fd >= 0 && fd < MaxDescriptors; }

}  // namespace

int32_t SeekFileTo(int fd, int32_t offset) {
  if (!Positioned(fd)) {
    ++calls.kernelSeeks;
    return static_cast<int32_t>(_lseek(fd, offset, SEEK_SET));
  }
  if (offset < 0) return -1;
  positions[fd] = offset;
  return offset;
}

int32_t TellFilePosition(int fd) {
  if (!Positioned(fd)) {
    ++calls.kernelSeeks;
    return static_cast<int32_t>(_tell(fd));
  }
  return positions[fd] > INT32_MAX ? -1 : static_cast<int32_t>(positions[fd]);
}

int32_t ReadFileHere(int fd, void* buffer, uint32_t count) {
  ++calls.reads;
  if (!Positioned(fd)) return _read(fd, buffer, count);
  const ssize_t got = pread(fd, buffer, count, positions[fd]);
  if (got < 0) return -1;
  positions[fd] += got;
  return static_cast<int32_t>(got);
}

int32_t GetFileLength(int fd) {
  if (!Positioned(fd)) return static_cast<int32_t>(_filelength(fd));
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size > INT32_MAX) return -1;
  return static_cast<int32_t>(st.st_size);
}

namespace {

// A verdict and its explanation, as text that can be compared.
std::string Judged(const std::string& path) {
  ScanTrace trace;
  const Variant variant = JudgeImageFile(path.c_str(), nullptr, &trace);
  std::string text = "variant " + std::to_string(static_cast<int>(variant)) + ", stop " +
                     std::to_string(static_cast<int>(trace.stop));
  for (int i = 0; i < 4; ++i) {
    const CheckTrace& check = trace.variants[i];
    text += std::string("; ") + static_cast<char>('A' + i) + (trace.ran[i] ? " ran " : " not run ");
    if (!trace.ran[i]) continue;
    text += check.matched ? "matched" : std::string(check.failedTest ? check.failedTest : "?") + " required " +
                                            check.required;
    if (check.hasFound) text += " found " + std::to_string(check.found);
  }
  return text;
}

std::vector<std::vector<uint8_t>> DamagedImages(char letter) {
  const std::vector<uint8_t> whole = testpe::VariantImage(letter).Bytes();
  std::vector<std::vector<uint8_t>> images = {whole};
  for (size_t length : {size_t{0}, size_t{63}, size_t{1023}, size_t{1024}, size_t{0x1000}, size_t{0x1200},
                        size_t{0x1400}, whole.size() / 2, whole.size() - 1})
    if (length <= whole.size()) images.emplace_back(whole.begin(), whole.begin() + length);
  // Bytes of the headers, the section table and the records behind the entry code.
  for (size_t at = 0; at < 0x1400 && at < whole.size(); at += 7) {
    if (whole[at] == 0 && at % 49 != 0) continue;
    std::vector<uint8_t> flipped = whole;
    flipped[at] ^= 0xFF;
    images.push_back(flipped);
  }
  return images;
}

TEST(ReadLayer, PositionedLayerJudgesAsTheRuntimeDoesWithoutSeeking) {
  for (char letter : {'A', 'B', 'C', 'D'}) {
    int compared = 0;
    for (const std::vector<uint8_t>& bytes : DamagedImages(letter)) {
      SCOPED_TRACE(std::string("variant ") + letter + " image " + std::to_string(compared));
      testpe::TempFile file(bytes);
      layer = Layer::Runtime;
      const std::string viaRuntime = Judged(file.Path());
      layer = Layer::Positioned;
      calls = Calls();
      const std::string viaLayer = Judged(file.Path());
      EXPECT_EQ(viaLayer, viaRuntime);
      EXPECT_EQ(calls.kernelSeeks, 0);
      if (bytes.size() >= 64) {
        EXPECT_GT(calls.reads, 0);
      }
      ++compared;
    }
    layer = Layer::Positioned;
    testpe::TempFile whole(testpe::VariantImage(letter).Bytes());
    EXPECT_EQ(JudgeImageFile(whole.Path().c_str()), static_cast<Variant>(letter - 'A' + 1));
  }
  layer = Layer::Runtime;
}

}  // namespace

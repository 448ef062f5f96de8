// The offline scanner's read layer against the runtime's descriptor reads: the
// table of read orders, failed seeks, the length rule, descriptors reused and files
// that grow, several threads at once, and the judgement of whole and damaged
// variant images. This program links the layer's descriptor operations, so a
// descriptor bound to the thread's view goes through the layer and any other one
// through the runtime's calls: both roads run side by side on the same file. The
// readers and checks in the static library reach the layer through the link alone
// (image/file_read.h): were the runtime's definitions linked instead, a judgement
// would move the kernel's position of the bound descriptor, which is checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "image/file_read.h"
#include "platform/crt_io.h"
#include "tests/support/judgement_text.h"
#include "tests/support/read_orders.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"
#include "tools/pestkill-scan/judgement/read_layer.h"

namespace {

// Where the kernel has the descriptor's position: the layer never moves it.
long KernelPosition(int fd) { return static_cast<long>(lseek(fd, 0, SEEK_CUR)); }

// Binds fd to this thread's view for the scope.
struct Bound {
  explicit Bound(int fd) { BindReadView(fd); }
  ~Bound() { UnbindReadView(); }
};

long LayerSeek(int fd, long at) { return SeekFileTo(fd, static_cast<int32_t>(at)); }
long LayerRead(int fd, void* buffer, unsigned count) { return ReadFileHere(fd, buffer, count); }
long LayerTell(int fd) { return TellFilePosition(fd); }

TEST(ReadLayer, ReadsGiveTheFileBytesInAnyOrder) {
  testpe::TempFile file(testpe::PatternBytes(testpe::ReadOrderFileSize));
  for (const testpe::ReadOrderCase& c : testpe::ReadOrderCases()) {
    testpe::OpenFd fd = file.Open();
    ASSERT_NE(fd.get(), -1);
    Bound bound(fd);
    testpe::ExpectReadOrder(fd, c, LayerSeek, LayerRead, LayerTell);
    EXPECT_EQ(KernelPosition(fd), 0) << c.name;
  }
}

// Reads far beyond the first blocks, over more blocks than the view keeps, each
// compared byte for byte with the same read through the runtime.
TEST(ReadLayer, LargeFileReadInBlocksAsTheRuntimeReadsIt) {
  const long size = 400 * 1024 + 77;
  testpe::TempFile file(testpe::PatternBytes(size));
  testpe::OpenFd layered = file.Open();
  testpe::OpenFd plain = file.Open();
  Bound bound(layered);
  std::vector<std::pair<long, unsigned>> steps = {
      {0, 64}, {65530, 20}, {16383, 2}, {size - 10, 40}, {size, 1}, {size + 5000, 8}, {100000, 70000}};
  for (long round = 0; round < 3; ++round)
    for (long block = 24; block >= 0; --block) steps.push_back({block * 16384 + round * 911 + 3, 600});
  for (const auto& step : steps) {
    SCOPED_TRACE("read of " + std::to_string(step.second) + " at " + std::to_string(step.first));
    std::vector<uint8_t> viaLayer(step.second, 0xEE), viaRuntime(step.second, 0xEE);
    ASSERT_EQ(SeekFileTo(layered, static_cast<int32_t>(step.first)), _lseek(plain, step.first, SEEK_SET));
    ASSERT_EQ(ReadFileHere(layered, viaLayer.data(), step.second), _read(plain, viaRuntime.data(), step.second));
    ASSERT_EQ(viaLayer, viaRuntime);
    ASSERT_EQ(TellFilePosition(layered), _tell(plain));
  }
  EXPECT_EQ(GetFileLength(layered), size);
  EXPECT_EQ(KernelPosition(layered), 0);
}

TEST(ReadLayer, FailedSeekKeepsThePosition) {
  testpe::TempFile file(testpe::PatternBytes(testpe::ReadOrderFileSize));
  testpe::OpenFd fd = file.Open();
  Bound bound(fd);
  ASSERT_EQ(SeekFileTo(fd, 1234), 1234);
  EXPECT_EQ(SeekFileTo(fd, -1), -1);
  EXPECT_EQ(SeekFileTo(fd, INT32_MIN), -1);
  EXPECT_EQ(TellFilePosition(fd), 1234);
  uint8_t byte = 0;
  ASSERT_EQ(ReadFileHere(fd, &byte, 1), 1);
  EXPECT_EQ(byte, testpe::PatternByteAt(1234));
  // Past the end a seek lands and a read gives nothing, as on a descriptor.
  EXPECT_EQ(SeekFileTo(fd, 50000), 50000);
  EXPECT_EQ(ReadFileHere(fd, &byte, 1), 0);
  EXPECT_EQ(TellFilePosition(fd), 50000);
  EXPECT_EQ(GetFileLength(fd), testpe::ReadOrderFileSize);
}

// A descriptor number reused for another file after the view was unbound reads
// that file, not what the view held before.
TEST(ReadLayer, ReusedDescriptorReadsTheNewFile) {
  const long size = 120 * 1024;  // blocks beyond the first one too
  testpe::TempFile one(testpe::PatternBytes(size));
  testpe::TempFile other(std::vector<uint8_t>(size, 0x5A));
  int number = -1;
  {
    testpe::OpenFd fd = one.Open();
    Bound bound(fd);
    number = fd;
    uint8_t byte = 0;
    ASSERT_EQ(ReadFileHere(fd, &byte, 1), 1);
    ASSERT_EQ(SeekFileTo(fd, 100000), 100000);
    ASSERT_EQ(ReadFileHere(fd, &byte, 1), 1);
  }
  testpe::OpenFd fd = other.Open();
  ASSERT_EQ(fd.get(), number);
  Bound bound(fd);
  uint8_t bytes[2] = {};
  EXPECT_EQ(TellFilePosition(fd), 0);
  ASSERT_EQ(ReadFileHere(fd, bytes, 2), 2);
  EXPECT_EQ(bytes[0], 0x5A);
  EXPECT_EQ(TellFilePosition(fd), 2);
  ASSERT_EQ(SeekFileTo(fd, 100000), 100000);
  ASSERT_EQ(ReadFileHere(fd, bytes, 2), 2);
  EXPECT_EQ(bytes[1], 0x5A);
}

// Bytes appended after a read met the end are read afterwards, also by a read that
// starts in the bytes the view holds and runs on beyond them; the length is asked
// again.
TEST(ReadLayer, ReadsWhatWasAppendedAfterTheEnd) {
  testpe::TempFile file(testpe::PatternBytes(100));
  testpe::OpenFd fd = file.Open();
  Bound bound(fd);
  uint8_t buffer[64];
  ASSERT_EQ(SeekFileTo(fd, 90), 90);
  ASSERT_EQ(ReadFileHere(fd, buffer, 20), 10);
  EXPECT_EQ(GetFileLength(fd), 100);
  std::FILE* append = std::fopen(file.Path().c_str(), "ab");
  ASSERT_NE(append, nullptr);
  const uint8_t more[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(std::fwrite(more, 1, sizeof more, append), sizeof more);
  ASSERT_EQ(std::fclose(append), 0);
  ASSERT_EQ(ReadFileHere(fd, buffer, 20), 8);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[7], 8);
  ASSERT_EQ(SeekFileTo(fd, 95), 95);
  ASSERT_EQ(ReadFileHere(fd, buffer, 20), 13);
  EXPECT_EQ(buffer[4], testpe::PatternByteAt(99));
  EXPECT_EQ(buffer[5], 1);
  EXPECT_EQ(GetFileLength(fd), 108);
}

// The length measured when the file was opened, where given, is the length for
// the judgement, with the same rule for 2 GiB and more.
TEST(ReadLayer, LengthGivenAtTheOpenIsHeldToTheRuntimeRule) {
  testpe::TempFile file(testpe::PatternBytes(100));
  testpe::OpenFd fd = file.Open();
  const struct {
    int64_t given;
    int32_t length;
  } cases[] = {{100, 100}, {0, 0}, {INT32_MAX, INT32_MAX}, {int64_t{1} << 31, INT32_MAX}, {int64_t{5} << 32, INT32_MAX},
               {-1, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    BindReadView(fd, c.given);
    EXPECT_EQ(GetFileLength(fd), c.length);
    UnbindReadView();
  }
  EXPECT_EQ(GetFileLength(fd), 100);  // unbound: the runtime's
}

// A descriptor the thread has not bound is read through the runtime: its position
// is the kernel's.
TEST(ReadLayer, UnboundDescriptorReadsThroughTheRuntime) {
  testpe::TempFile file(testpe::PatternBytes(testpe::ReadOrderFileSize));
  testpe::OpenFd bound = file.Open();
  testpe::OpenFd unbound = file.Open();
  Bound view(bound);
  ASSERT_EQ(SeekFileTo(unbound, 300), 300);
  EXPECT_EQ(KernelPosition(unbound), 300);
  uint8_t byte = 0;
  ASSERT_EQ(ReadFileHere(unbound, &byte, 1), 1);
  EXPECT_EQ(byte, testpe::PatternByteAt(300));
  EXPECT_EQ(KernelPosition(unbound), 301);
  ASSERT_EQ(SeekFileTo(bound, 5000), 5000);
  EXPECT_EQ(KernelPosition(bound), 0);
  EXPECT_EQ(TellFilePosition(unbound), 301);
}

// A file of 2 GiB or more: the length held at the largest 32-bit value, and a read
// that carries the position past it leaves it unknown to the 32-bit tell, on both
// roads alike.
TEST(ReadLayer, LongFileKeepsTheRuntimeLengthAndPositionRules) {
  testpe::TempFile file(testpe::PatternBytes(4096));
  ASSERT_EQ(truncate(file.Path().c_str(), (off_t{1} << 31) + 0x3000), 0);
  testpe::OpenFd layered = file.Open();
  testpe::OpenFd plain = file.Open();
  Bound bound(layered);
  EXPECT_EQ(GetFileLength(layered), INT32_MAX);
  std::vector<uint8_t> viaLayer(0x2000, 0xEE), viaRuntime(0x2000, 0xEE);
  for (int32_t at : {100, INT32_MAX - 0x1000, INT32_MAX - 5}) {
    SCOPED_TRACE(at);
    ASSERT_EQ(SeekFileTo(layered, at), _lseek(plain, at, SEEK_SET));
    ASSERT_EQ(ReadFileHere(layered, viaLayer.data(), 0x2000), _read(plain, viaRuntime.data(), 0x2000));
    EXPECT_EQ(viaLayer, viaRuntime);
    EXPECT_EQ(TellFilePosition(layered), _tell(plain));
  }
  EXPECT_EQ(TellFilePosition(layered), -1);
  EXPECT_EQ(SeekFileTo(layered, 7), 7);
  EXPECT_EQ(TellFilePosition(layered), 7);
}

// Each thread's view is its own: workers reading different files at once each
// get their file's bytes.
TEST(ReadLayer, ThreadsReadTheirOwnFiles) {
  constexpr int Threads = 4;
  const long size = 150 * 1024;
  std::vector<testpe::TempFile> files;
  for (int t = 0; t < Threads; ++t) {
    std::vector<uint8_t> bytes = testpe::PatternBytes(size);
    for (uint8_t& byte : bytes) byte ^= static_cast<uint8_t>(0x11 * (t + 1));
    files.emplace_back(bytes);
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) {
        testpe::OpenFd fd = files[t].Open();
        BindReadView(fd);
        for (long at = (round * 4099) % size; at < size; at += 9001) {
          uint8_t got[48];
          const long expected = std::min<long>(sizeof got, size - at);
          if (SeekFileTo(fd, static_cast<int32_t>(at)) != at || ReadFileHere(fd, got, sizeof got) != expected) {
            ++wrong;
            continue;
          }
          for (long k = 0; k < expected; ++k)
            if (got[k] != (testpe::PatternByteAt(at + k) ^ static_cast<uint8_t>(0x11 * (t + 1)))) ++wrong;
        }
        UnbindReadView();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Whole variant images, truncations and single inverted bytes of the headers and
// records, judged through the layer and through the runtime.
TEST(ReadLayer, JudgesAsTheRuntimeDoes) {
  for (char letter : {'A', 'B', 'C', 'D'}) {
    const std::vector<std::vector<uint8_t>> images = testpe::DamagedVariantImages(letter);
    int matched = 0;
    for (size_t i = 0; i < images.size(); ++i) {
      SCOPED_TRACE(std::string("variant ") + letter + " image " + std::to_string(i));
      testpe::TempFile file(images[i]);
      testpe::OpenFd layered = file.Open();
      testpe::OpenFd plain = file.Open();
      ScanTrace viaLayer, viaRuntime;
      const Variant layerVariant = JudgeThroughReadLayer(layered, -1, nullptr, &viaLayer);
      const Variant runtimeVariant = JudgeOpenImageFile(plain, nullptr, &viaRuntime);
      EXPECT_EQ(testpe::DescribedJudgement(layerVariant, viaLayer),
                testpe::DescribedJudgement(runtimeVariant, viaRuntime));
      EXPECT_EQ(KernelPosition(layered), 0);
      ScanStop stop = ScanStop::CannotOpen;
      testpe::OpenFd again = file.Open();
      // With the length measured at the open, as the scanner binds a file.
      EXPECT_EQ(JudgeThroughReadLayer(again, static_cast<int64_t>(images[i].size()), &stop, nullptr), runtimeVariant);
      EXPECT_EQ(stop, viaRuntime.stop);
      matched += layerVariant == static_cast<Variant>(letter - 'A' + 1) ? 1 : 0;
    }
    EXPECT_GE(matched, 1) << "the whole image of variant " << letter << " was not found";
  }
}

}  // namespace

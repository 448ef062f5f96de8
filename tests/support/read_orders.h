// The table of read orders the readers use: sequences of seeks and reads over a
// file of known bytes, each checked for the seek's result, the count, the bytes and
// the position afterwards. Run against the runtime's calls and against every read
// layer that stands in for them, so all are held to the same behaviour.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace testpe {

constexpr long ReadOrderFileSize = 10000;

inline uint8_t PatternByteAt(long offset) { return static_cast<uint8_t>(offset * 7 + (offset >> 8)); }

inline std::vector<uint8_t> PatternBytes(long size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  for (long i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = PatternByteAt(i);
  return bytes;
}

struct ReadStep {
  long seekTo;  // -1: read at the current position
  unsigned count;
};

struct ReadOrderCase {
  const char* name;
  std::vector<ReadStep> steps;
};

inline std::vector<ReadOrderCase> ReadOrderCases() {
  std::vector<ReadStep> backward;
  for (long at = 9960; at >= 0; at -= 40) backward.push_back({at, 40});
  std::vector<ReadStep> forward{{0, 0}};
  for (int i = 0; i < 700; ++i) forward.push_back({-1, 15});  // on past the end of the file
  // Six places far apart, visited in turn three times, each read a little further on.
  std::vector<ReadStep> cycling;
  for (long round = 0; round < 3; ++round)
    for (long place : {9500L, 100L, 4100L, 8000L, 2000L, 6200L}) cycling.push_back({place + round * 50, 30});
  return {
      {"header reads with the position put back", {{0, 64}, {0, 0}, {152, 96}, {0, 0}, {132, 20}, {0, 0}}},
      {"section table walked backwards, 40 bytes at a time", backward},
      {"read across the 4 KiB boundary", {{4090, 20}, {-1, 20}, {8180, 30}}},
      {"entry code read of 1 KiB and larger windows", {{3500, 1024}, {100, 3000}, {-1, 2100}, {9000, 2048}}},
      {"reads that run into and beyond the end", {{9990, 20}, {-1, 20}, {20000, 16}, {ReadOrderFileSize, 1}}},
      {"consecutive small reads through every block", forward},
      {"back and forth between distant blocks", {{9000, 40}, {10, 40}, {9040, 40}, {50, 40}, {4096, 4}, {4095, 2}}},
      {"round after round over more places than are kept", cycling},
  };
}

// Runs the case on fd, open at the start of a file of ReadOrderFileSize pattern
// bytes, through seek(fd, offset), read(fd, buffer, count) and tell(fd).
template <class Seek, class Read, class Tell>
void ExpectReadOrder(int fd, const ReadOrderCase& c, Seek seek, Read read, Tell tell) {
  long position = 0;
  for (size_t i = 0; i < c.steps.size(); ++i) {
    SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(i));
    const ReadStep& step = c.steps[i];
    if (step.seekTo >= 0) {
      ASSERT_EQ(seek(fd, step.seekTo), step.seekTo);
      position = step.seekTo;
    }
    std::vector<uint8_t> buffer(step.count + 1, 0xEE);
    const long expected =
        position >= ReadOrderFileSize ? 0 : std::min<long>(step.count, ReadOrderFileSize - position);
    ASSERT_EQ(read(fd, buffer.data(), step.count), expected);
    for (long k = 0; k < expected; ++k)
      ASSERT_EQ(buffer[static_cast<size_t>(k)], PatternByteAt(position + k)) << "byte " << k;
    EXPECT_EQ(buffer[static_cast<size_t>(expected)], 0xEE) << "wrote past the count read";
    position += expected;
    ASSERT_EQ(tell(fd), position);
  }
}

}  // namespace testpe

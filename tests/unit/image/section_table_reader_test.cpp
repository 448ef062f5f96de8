// The section table reader against the plain calls it stands for: two descriptors of
// one file, one read through the reader and one with a seek and a 40-byte read per
// step, must deliver the same bytes, report the same positions and stand at the
// same place once the reader is gone. Files are cut at many lengths and the tables
// lie inside the file, past its end, across 2 GiB and wrapping past 4 GiB, where
// seeks fail and reads take the bytes after the previous one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/file_read.h"
#include "image/section_table_reader.h"
#include "tests/support/temp_file.h"

namespace {

constexpr uint32_t HeaderSize = 40;

struct Placement {
  const char* what;
  uint32_t table;
  uint32_t count;
};

// The steps of a walk: seek to a header of the table, seek anywhere, read, ask
// the position.
enum class Step { SeekHeader, SeekAnywhere, Read, Position };

void ExpectSameAsPlainCalls(const std::vector<uint8_t>& bytes, const Placement& p, std::mt19937& random,
                            const std::vector<Step>& steps, const std::vector<uint32_t>& arguments) {
  testpe::OpenedFile viaReader(bytes);
  testpe::OpenedFile plain(bytes);
  const int32_t start = static_cast<int32_t>(random() % (bytes.size() + 1));
  ASSERT_EQ(SeekFileTo(viaReader.fd, start), start);
  ASSERT_EQ(SeekFileTo(plain.fd, start), start);
  {
    SectionTableReader reader(viaReader.fd, p.table, p.count);
    for (size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      switch (steps[i]) {
        case Step::SeekHeader:
        case Step::SeekAnywhere: {
          const uint32_t offset = steps[i] == Step::SeekHeader ? reader.HeaderOffset(arguments[i]) : arguments[i];
          EXPECT_EQ(reader.Seek(offset), SeekFileTo(plain.fd, AsFileOffset(offset)));
          break;
        }
        case Step::Read: {
          uint8_t fromReader[HeaderSize];
          uint8_t fromPlain[HeaderSize];
          std::memset(fromReader, 0xAA, sizeof fromReader);
          std::memset(fromPlain, 0xAA, sizeof fromPlain);
          const int32_t got = ReadFileHere(plain.fd, fromPlain, HeaderSize);
          ASSERT_EQ(reader.Read(reinterpret_cast<IMAGE_SECTION_HEADER*>(fromReader)),
                    static_cast<uint32_t>(got < 0 ? 0 : got));
          EXPECT_EQ(std::memcmp(fromReader, fromPlain, HeaderSize), 0);
          break;
        }
        case Step::Position: EXPECT_EQ(reader.Position(), TellFilePosition(plain.fd)); break;
      }
    }
  }
  EXPECT_EQ(TellFilePosition(viaReader.fd), TellFilePosition(plain.fd)) << "position after the reader";
}

TEST(SectionTableReader, DeliversWhatPlainSeeksAndReadsDeliver) {
  std::mt19937 random(20261211);
  const uint32_t fileSize = HeaderSize * 200 + 17;
  const Placement placements[] = {
      {"at the start of the file", 0, 150},
      {"in the file, not on a header boundary", 0x123, 120},
      {"running past the end of the file", fileSize - HeaderSize * 20 - 7, 70},
      {"past the end of the file", fileSize + 0x400, 40},
      {"just below 2 GiB", 0x7FFFFFFFu - HeaderSize * 10, 30},
      {"at 2 GiB", 0x80000000u, 20},
      {"wrapping past 4 GiB", 0u - HeaderSize * 3 - 8, 60},
      {"one header", 0x200, 1},
  };
  for (const Placement& p : placements) {
    for (int round = 0; round < 40; ++round) {
      SCOPED_TRACE(std::string(p.what) + ", round " + std::to_string(round));
      std::vector<uint8_t> bytes(fileSize - random() % 3000);
      for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
      std::vector<Step> steps;
      std::vector<uint32_t> arguments;
      // Walks as the readers make them (backwards one header at a time, forwards
      // after one seek), mixed with stray seeks and questions of the position.
      const int kind = round % 3;
      if (kind == 0) {
        for (uint32_t index = p.count; index-- > 0;) {
          steps.push_back(Step::SeekHeader), arguments.push_back(index);
          steps.push_back(Step::Read), arguments.push_back(0);
          if (random() % 8 == 0) steps.push_back(Step::Position), arguments.push_back(0);
        }
        steps.push_back(Step::SeekHeader), arguments.push_back(p.count - 1);
        steps.push_back(Step::Read), arguments.push_back(0);
      } else if (kind == 1) {
        steps.push_back(Step::SeekHeader), arguments.push_back(0);
        for (uint32_t i = 0; i < p.count; ++i) {
          steps.push_back(Step::Read), arguments.push_back(0);
          if (random() % 8 == 0) steps.push_back(Step::Position), arguments.push_back(0);
        }
      } else {
        for (int i = 0; i < 120; ++i) {
          switch (random() % 4) {
            case 0: steps.push_back(Step::SeekHeader), arguments.push_back(random() % p.count); break;
            case 1: steps.push_back(Step::SeekAnywhere), arguments.push_back(random() % (fileSize + 200)); break;
            case 2: steps.push_back(Step::Position), arguments.push_back(0); break;
            default: steps.push_back(Step::Read), arguments.push_back(0); break;
          }
        }
      }
      // Stop part way, as a walk does at a match.
      const size_t keep = round % 2 == 0 ? steps.size() : 1 + random() % steps.size();
      steps.resize(keep);
      arguments.resize(keep);
      ExpectSameAsPlainCalls(bytes, p, random, steps, arguments);
    }
  }
}

}  // namespace

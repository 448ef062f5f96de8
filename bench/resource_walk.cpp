// Times FindResourceEntry on the most expensive resource trees we can build: trees
// whose subdirectory pointers lead back up the path, shared subdirectories and
// directories that all point to each other. Plain program, host build only:
//   resource_walk [iterations]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "image/resource_walker.h"
#include "tests/support/pe_image_builder.h"

using testpe::IdPointer;
using testpe::OpenedFile;
using testpe::PeImage;
using testpe::ResourceDirectory;

namespace {

constexpr uint32_t ResourceRva = 0x3000;
constexpr uint32_t ResourceFileOffset = 0x800;
constexpr uint32_t SubdirectoryAt = 0x80000000u;
constexpr uint32_t EntriesPerDirectory = 16;
constexpr uint32_t DirectorySize = 16 + 8 * EntriesPerDirectory;

// One directory whose 16 entries all lead back to itself.
ResourceDirectory SelfLoop() {
  ResourceDirectory root;
  for (uint32_t i = 0; i < EntriesPerDirectory; ++i)
    root.Entries.push_back(IdPointer(16, SubdirectoryAt | 0));
  return root;
}

// A chain of `levels` directories, laid out back to back. In each, the last entry
// opens the next level; the other 15 lead back to the directories above it
// (round robin over the path), so no entry ever reaches a data entry.
PeImage BackReferenceChain(uint32_t levels, std::vector<uint8_t>& raw) {
  raw.assign(DirectorySize * levels, 0);
  for (uint32_t level = 0; level < levels; ++level) {
    uint32_t at = level * DirectorySize;
    testpe::StoreU16Le(raw, at + 14, static_cast<uint16_t>(EntriesPerDirectory));
    for (uint32_t i = 0; i < EntriesPerDirectory; ++i) {
      uint32_t target = (i + 1 == EntriesPerDirectory && level + 1 < levels)
                            ? (level + 1) * DirectorySize
                            : (i % (level + 1)) * DirectorySize;
      testpe::StoreU32Le(raw, at + 16 + 8 * i, 16);
      testpe::StoreU32Le(raw, at + 16 + 8 * i + 4, SubdirectoryAt | target);
    }
  }
  PeImage image;
  image.AddSection(".rsrc", ResourceRva, static_cast<uint32_t>(raw.size()), ResourceFileOffset,
                   static_cast<uint32_t>((raw.size() + 511) / 512 * 512),
                   testpe::ReadOnlyDataSection, raw);
  image.Directory(2) = testpe::DataDirectory{ResourceRva, static_cast<uint32_t>(raw.size())};
  return image;
}

// A chain without back references in which every entry of a level opens the same
// next level: 16^levels directory visits if each visit were walked afresh.
PeImage SharedSubdirectoryChain(uint32_t levels, std::vector<uint8_t>& raw) {
  raw.assign(DirectorySize * (levels + 1), 0);
  for (uint32_t level = 0; level <= levels; ++level) {
    uint32_t at = level * DirectorySize;
    if (level == levels) break;  // the bottom directory stays empty
    testpe::StoreU16Le(raw, at + 14, static_cast<uint16_t>(EntriesPerDirectory));
    for (uint32_t i = 0; i < EntriesPerDirectory; ++i) {
      testpe::StoreU32Le(raw, at + 16 + 8 * i, 16);
      testpe::StoreU32Le(raw, at + 16 + 8 * i + 4, SubdirectoryAt | ((level + 1) * DirectorySize));
    }
  }
  PeImage image;
  image.AddSection(".rsrc", ResourceRva, static_cast<uint32_t>(raw.size()), ResourceFileOffset,
                   static_cast<uint32_t>((raw.size() + 511) / 512 * 512),
                   testpe::ReadOnlyDataSection, raw);
  return image;
}

// n directories whose entries lead to every one of the n: the path rule alone would
// follow every simple path, about (n-1)! of them.
PeImage CompleteGraph(uint32_t n, std::vector<uint8_t>& raw) {
  const uint32_t size = 16 + 8 * n;
  raw.assign(size * n, 0);
  for (uint32_t d = 0; d < n; ++d) {
    testpe::StoreU16Le(raw, d * size + 14, static_cast<uint16_t>(n));
    for (uint32_t i = 0; i < n; ++i) {
      testpe::StoreU32Le(raw, d * size + 16 + 8 * i, 16);
      testpe::StoreU32Le(raw, d * size + 16 + 8 * i + 4, SubdirectoryAt | (i * size));
    }
  }
  PeImage image;
  image.AddSection(".rsrc", ResourceRva, static_cast<uint32_t>(raw.size()), ResourceFileOffset,
                   static_cast<uint32_t>((raw.size() + 511) / 512 * 512),
                   testpe::ReadOnlyDataSection, raw);
  return image;
}

void Time(const char* what, const PeImage& image, int iterations) {
  OpenedFile f(image.Bytes());
  uint32_t rva = 0, size = 0;
  int found = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < iterations; ++i)
    found |= FindResourceEntry(f.fd, nullptr, 0, 16, ResourceFileOffset, ResourceFileOffset,
                               &rva, &size, 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-58s %10.1f us per call (found %d)\n", what, seconds * 1e6 / iterations, found);
}

}  // namespace

int main(int argc, char** argv) {
  int iterations = argc > 1 ? std::atoi(argv[1]) : 200;
  std::vector<uint8_t> raw;

  PeImage loop;
  (void)loop.SetResourceTree(SelfLoop(), ResourceRva, ResourceFileOffset);
  Time("one directory, 16 entries back to itself", loop, iterations);

  Time("51 levels, 15 of 16 entries back up the path", BackReferenceChain(51, raw), iterations);

  for (uint32_t levels : {4u, 50u})
    Time(("shared subdirectories, " + std::to_string(levels) + " levels (16^" +
          std::to_string(levels) + " naive visits)").c_str(),
         SharedSubdirectoryChain(levels, raw), iterations);
  for (uint32_t n : {8u, 16u, 64u})
    Time(("every directory pointing to all " + std::to_string(n) + " directories").c_str(),
         CompleteGraph(n, raw), iterations);
  return 0;
}

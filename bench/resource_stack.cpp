// Stack used by FindResourceEntry on the deepest resource trees it will walk. The
// walk runs on a thread whose stack is a buffer painted with a byte pattern; the
// painted bytes left untouched at the low end tell how deep the stack went. An empty
// thread body gives the thread's own overhead, which is subtracted.
//   resource_stack       prints one line per tree: bytes of stack, whether found
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/resource_walker.h"
#include "tests/support/pe_image_builder.h"
#include "tests/support/temp_file.h"

namespace {

constexpr uint32_t ResourceRva = 0x3000;
constexpr uint32_t ResourceFileOffset = 0x800;
constexpr uint32_t SubdirectoryAt = 0x80000000u;
constexpr size_t StackBytes = 1 << 20;
constexpr uint8_t Paint = 0xA5;

struct Walk {
  int fd = -1;  // -1: run nothing (the thread's own overhead)
  int found = 0;
};

void* RunWalk(void* argument) {
  Walk* walk = static_cast<Walk*>(argument);
  if (walk->fd < 0) return nullptr;
  uint32_t rva = 0, size = 0;
  walk->found = FindResourceEntry(walk->fd, nullptr, 0, 16, ResourceFileOffset, ResourceFileOffset,
                                  &rva, &size, 0);
  return nullptr;
}

// Bytes of the painted stack that the thread wrote to (the stack grows down).
size_t StackUsed(Walk* walk) {
  std::vector<uint8_t> stack(StackBytes, Paint);
  pthread_attr_t attributes;
  (void)pthread_attr_init(&attributes);
  (void)pthread_attr_setstack(&attributes, stack.data(), stack.size());
  pthread_t thread;
  if (pthread_create(&thread, &attributes, RunWalk, walk) != 0) return 0;
  (void)pthread_join(thread, nullptr);
  (void)pthread_attr_destroy(&attributes);
  size_t untouched = 0;
  while (untouched < stack.size() && stack[untouched] == Paint) ++untouched;
  return stack.size() - untouched;
}

testpe::PeImage WithTree(const std::vector<uint8_t>& raw) {
  testpe::PeImage image;
  image.AddSection(".rsrc", ResourceRva, static_cast<uint32_t>(raw.size()), ResourceFileOffset,
                   static_cast<uint32_t>((raw.size() + 511) / 512 * 512), testpe::ReadOnlyDataSection, raw);
  image.Directory(2) = testpe::DataDirectory{ResourceRva, static_cast<uint32_t>(raw.size())};
  return image;
}

// levels directories of one entry each, every one opening the next; the last entry
// is a data entry, so the walk succeeds at the bottom of the chain.
std::vector<uint8_t> DeepChain(uint32_t levels) {
  constexpr uint32_t DirectorySize = 16 + 8;
  std::vector<uint8_t> raw(DirectorySize * levels + 16, 0);
  for (uint32_t level = 0; level < levels; ++level) {
    const uint32_t at = level * DirectorySize;
    testpe::StoreU16Le(raw, at + 14, 1);
    testpe::StoreU32Le(raw, at + 16, 16);
    const uint32_t next = (level + 1) * DirectorySize;
    testpe::StoreU32Le(raw, at + 20, level + 1 < levels ? (SubdirectoryAt | next) : next);
  }
  const uint32_t data = DirectorySize * levels;
  testpe::StoreU32Le(raw, data, ResourceRva + 0x10);
  testpe::StoreU32Le(raw, data + 4, 0x10);
  return raw;
}

// levels directories of 16 entries: the last opens the next level, the other 15 lead
// back to directories above (the walk refuses them); nothing is found.
std::vector<uint8_t> BackReferenceChain(uint32_t levels) {
  constexpr uint32_t Entries = 16;
  constexpr uint32_t DirectorySize = 16 + 8 * Entries;
  std::vector<uint8_t> raw(DirectorySize * levels, 0);
  for (uint32_t level = 0; level < levels; ++level) {
    const uint32_t at = level * DirectorySize;
    testpe::StoreU16Le(raw, at + 14, static_cast<uint16_t>(Entries));
    for (uint32_t i = 0; i < Entries; ++i) {
      const uint32_t target = (i + 1 == Entries && level + 1 < levels) ? (level + 1) * DirectorySize
                                                                       : (i % (level + 1)) * DirectorySize;
      testpe::StoreU32Le(raw, at + 16 + 8 * i, 16);
      testpe::StoreU32Le(raw, at + 16 + 8 * i + 4, SubdirectoryAt | target);
    }
  }
  return raw;
}

void Report(const char* what, const std::vector<uint8_t>& raw, size_t overhead) {
  testpe::OpenedFile file(WithTree(raw).Bytes());
  Walk walk;
  walk.fd = file.fd;
  const size_t used = StackUsed(&walk);
  std::printf("%zu\t%d\t%s\n", used > overhead ? used - overhead : 0, walk.found, what);
}

}  // namespace

int main() {
  Walk idle;
  const size_t overhead = StackUsed(&idle);
  Report("one directory, one data entry", DeepChain(1), overhead);
  Report("chain of 51 directories, data entry at the bottom", DeepChain(51), overhead);
  Report("chain of 64 directories (beyond the depth limit)", DeepChain(64), overhead);
  Report("51 levels, 15 of 16 entries back up the path", BackReferenceChain(51), overhead);
  return 0;
}

#include "tests/fuzz/memory_file.h"

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

MemoryFile* SharedMemoryFile() {
  static MemoryFile file;
  if (file.fd < 0) {
    file.fd = memfd_create("pestkill-fuzz-input", MFD_CLOEXEC);
    if (file.fd < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    (void)std::snprintf(file.path, sizeof file.path, "/proc/self/fd/%d", file.fd);
  }
  return &file;
}

void FillMemoryFile(MemoryFile* file, const uint8_t* data, size_t size) {
  if (ftruncate(file->fd, 0) != 0 ||
      (size > 0 && pwrite(file->fd, data, size, 0) != static_cast<ssize_t>(size)) ||
      lseek(file->fd, 0, SEEK_SET) != 0) {
    std::perror("memory file");
    std::abort();
  }
}

int LowestFreeDescriptor() {
  int probe = dup(0);
  if (probe >= 0) (void)close(probe);
  return probe;
}

#include "image/file_read.h"

int ReadExactAt(int fd, int32_t offset, void* buffer, uint32_t count) {
  // A negative offset is no file offset; -1 in particular would compare equal to a
  // failed seek's result and pass for a landed one.
  if (offset < 0) return 0;
  if (SeekFileTo(fd, offset) != offset) return 0;
  return ReadFileHere(fd, buffer, count) == static_cast<int32_t>(count) ? 1 : 0;
}

uint32_t ReadUpTo(int fd, int32_t offset, void* buffer, uint32_t count) {
  if (offset < 0 || SeekFileTo(fd, offset) != offset) return 0;
  const int32_t got = ReadFileHere(fd, buffer, count);
  return got < 0 ? 0u : static_cast<uint32_t>(got);
}

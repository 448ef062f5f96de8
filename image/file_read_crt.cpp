// The descriptor's operations as the C runtime gives them: the shipped program and
// every build here read through these. Keep nothing else in this file, so that a
// program linking its own read layer replaces exactly these four.
#include "image/file_read.h"

#include <cstdint>

#include "platform/crt_io.h"

int32_t SeekFileTo(int fd, int32_t offset) { return static_cast<int32_t>(_lseek(fd, offset, SEEK_SET)); }

int32_t TellFilePosition(int fd) { return static_cast<int32_t>(_tell(fd)); }

int32_t ReadFileHere(int fd, void* buffer, uint32_t count) { return _read(fd, buffer, count); }

int32_t GetFileLength(int fd) {
  const long long length = _filelengthi64(fd);
  if (length < 0) return -1;
  return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

#include "image/read_exact.h"

#include "platform/crt_io.h"

int ReadExactAt(int fd, int32_t offset, void* buffer, uint32_t count) {
  // A negative offset is no file offset; -1 in particular would compare equal to a
  // failed seek's result and pass for a landed one.
  if (offset < 0) return 0;
  if (_lseek(fd, offset, SEEK_SET) != offset) return 0;
  return _read(fd, buffer, count) == static_cast<int>(count) ? 1 : 0;
}

// Stand-in for the Windows C runtime's low-level I/O and string helpers on Linux,
// so that the portable readers and checks build and run natively.
// Only what the readers call, with the runtime's results: -1 on failure, counts
// of bytes actually read, and a descriptor position that a failed seek leaves alone.
// Built with a 64-bit off_t on every host, so that a 32-bit Linux build opens and
// measures files of 2 GiB and more as the Windows runtime does.
#define _FILE_OFFSET_BITS 64
#include "platform/crt_io.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int _open(const char* path, int flags, ...) {
  if (path == nullptr) return -1;
  return open(path, (flags & 3) | O_CLOEXEC);
}

int _read(int fd, void* buffer, unsigned int count) {
  if (count > INT_MAX) count = INT_MAX;
  ssize_t got = read(fd, buffer, count);
  return got < 0 ? -1 : static_cast<int>(got);
}

// The runtime's offsets are 32-bit longs: a position beyond that range cannot be
// expressed, so such a seek fails as it does on Windows.
long _lseek(int fd, long offset, int origin) {
  if (offset < INT32_MIN || offset > INT32_MAX) return -1;
  off_t at = lseek(fd, offset, origin);
  if (at < 0 || at > INT32_MAX) return -1;
  return static_cast<long>(at);
}

long _tell(int fd) { return _lseek(fd, 0, SEEK_CUR); }

long _filelength(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size > INT32_MAX) return -1;
  return static_cast<long>(st.st_size);
}

long long _filelengthi64(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

int _close(int fd) { return close(fd); }

int _stricmp(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    int cx = std::tolower(*x), cy = std::tolower(*y);
    if (cx != cy || cx == 0) return cx - cy;
  }
}

char* _strupr(char* text) {
  for (char* p = text; *p != 0; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  return text;
}

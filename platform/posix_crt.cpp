// Stand-in for the Windows C runtime's low-level I/O and string helpers on Linux,
// so that the portable readers and checks build and run natively.
// Only what the readers call, with the runtime's results: -1 on failure, counts
// of bytes actually read, and a descriptor position that a failed seek leaves alone.
//
// The readers work in many small seeks and reads (a fixed-header reader saves and
// restores the position around each read, the address mapping reads the section
// table one 40-byte header at a time), which as one kernel call each made the
// offline scan of a directory tree cost over a hundred calls per clean file and
// 130,000 for a file of 65,535 sections. A descriptor that _open opened on a regular
// file therefore keeps its position here and reads through four 4 KiB blocks (the
// headers, the entry code, the Visual Basic records and the resource data are
// usually apart): a seek is arithmetic and a read inside a block is a copy. Results are the same as with
// a kernel call each. A descriptor opened any other way (or numbered beyond the
// table) is passed straight to the kernel. Descriptors from _open are closed with
// _close, as the runtime requires; each is used by one thread at a time.
#include "platform/crt_io.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int TrackedDescriptors = 256;
constexpr long BlockSize = 4096;
constexpr int BlocksPerFile = 4;

// Everything starts as zero, so the table lies in zero-filled memory that takes no
// room in the program file and no memory until a descriptor uses its entry.
struct Block {
  bool filled;
  long start;
  long length;
  unsigned char bytes[BlockSize];
};

struct OpenFile {
  bool tracked;
  long position;
  int nextToReplace;
  Block blocks[BlocksPerFile];
};

OpenFile openFiles[TrackedDescriptors];

OpenFile* Tracked(int fd) {
  if (fd < 0 || fd >= TrackedDescriptors || !openFiles[fd].tracked) return nullptr;
  return &openFiles[fd];
}

long KernelSeek(int fd, long offset, int origin) {
  off_t at = lseek(fd, offset, origin);
  if (at < 0 || at > INT32_MAX) return -1;
  return static_cast<long>(at);
}

long FileSize(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size > INT32_MAX) return -1;
  return static_cast<long>(st.st_size);
}

// The block that holds [position, position + count), or null.
Block* FindBlock(OpenFile* file, long count) {
  for (Block& block : file->blocks)
    if (block.filled && file->position >= block.start &&
        count <= block.start + block.length - file->position)
      return &block;
  return nullptr;
}

// Fills the next block in turn with [position, position + count) as far as the file
// has it: the aligned 4 KiB block around the position, or a block starting at the
// position when the request crosses the aligned block's end.
Block* FillBlock(int fd, OpenFile* file, long count) {
  long start = file->position & ~(BlockSize - 1);
  if (count > start + BlockSize - file->position) start = file->position;
  Block& block = file->blocks[file->nextToReplace];
  ssize_t got = pread(fd, block.bytes, BlockSize, start);
  if (got < 0) return nullptr;
  file->nextToReplace = (file->nextToReplace + 1) % BlocksPerFile;
  block.filled = true;
  block.start = start;
  block.length = static_cast<long>(got);
  return &block;
}

}  // namespace

int _open(const char* path, int flags, ...) {
  if (path == nullptr) return -1;
  int fd = open(path, (flags & 3) | O_CLOEXEC);
  if (fd >= 0 && fd < TrackedDescriptors) {
    OpenFile& file = openFiles[fd];
    struct stat st;
    file.tracked = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    file.position = 0;
    file.nextToReplace = 0;
    for (Block& block : file.blocks) block.filled = false;
  }
  return fd;
}

int _read(int fd, void* buffer, unsigned int count) {
  if (count > INT_MAX) count = INT_MAX;
  OpenFile* file = Tracked(fd);
  if (file == nullptr) {
    ssize_t got = read(fd, buffer, count);
    return got < 0 ? -1 : static_cast<int>(got);
  }
  const long wanted = static_cast<long>(count);
  if (wanted > BlockSize / 2) {  // large reads go straight to the file
    ssize_t got = pread(fd, buffer, count, file->position);
    if (got < 0) return -1;
    file->position += static_cast<long>(got);
    return static_cast<int>(got);
  }
  // A request that runs past a block's end is read again: the file may have grown.
  Block* block = FindBlock(file, wanted);
  if (block == nullptr) block = FillBlock(fd, file, wanted);
  if (block == nullptr) return -1;
  long available = block->start + block->length - file->position;
  if (available < 0) available = 0;  // positioned beyond the end of the file
  const long n = wanted < available ? wanted : available;
  if (n > 0) std::memcpy(buffer, block->bytes + (file->position - block->start), static_cast<size_t>(n));
  file->position += n;
  return static_cast<int>(n);
}

// The runtime's offsets are 32-bit longs: a position beyond that range cannot be
// expressed, so such a seek fails as it does on Windows.
long _lseek(int fd, long offset, int origin) {
  if (offset < INT32_MIN || offset > INT32_MAX) return -1;
  OpenFile* file = Tracked(fd);
  if (file == nullptr) return KernelSeek(fd, offset, origin);
  long base;
  switch (origin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = file->position; break;
    case SEEK_END: base = FileSize(fd); if (base < 0) return -1; break;
    default: return -1;
  }
  const long at = base + offset;
  if (at < 0 || at > INT32_MAX) return -1;
  file->position = at;
  return at;
}

long _tell(int fd) { return _lseek(fd, 0, SEEK_CUR); }

long _filelength(int fd) { return FileSize(fd); }

int _close(int fd) {
  if (OpenFile* file = Tracked(fd)) file->tracked = false;
  return close(fd);
}

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

// The scanner's read layer on Linux: the descriptor's four operations served from
// the calling thread's view of the file it is judging (see read_layer.h).
//
// The view holds BlockCount blocks of BlockBytes, each a piece of the file at a
// multiple of BlockBytes. The first read below HeadBytes fills the head blocks in
// one pread, and they stay; any other block is read when first needed, in place of
// the block used longest ago. A block that came back short ends where the file
// ended then: what lies beyond is read straight from the kernel, never assumed
// absent. Blocks are small on purpose: a clean file needs the headers and the
// entry code, and every byte read beyond them is copied for nothing (a first read
// of 64 KiB made the scan of real files take half as long again).
#include "tools/pestkill-scan/judgement/read_layer.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "detect/file_signature_detector.h"
#include "image/file_read.h"
#include "platform/crt_io.h"

namespace {

constexpr uint32_t BlockBytes = 16 * 1024;
constexpr int HeadBlocks = 1;  // the first 16 KiB: headers, section table and, in small files, the entry code
constexpr int BlockCount = 8;
constexpr int64_t HeadBytes = int64_t{HeadBlocks} * BlockBytes;

struct Block {
  int64_t start = -1;    // file offset of the block's first byte; -1 when empty
  uint32_t length = 0;   // bytes the read gave: fewer than BlockBytes at the end of the file
  uint64_t lastUse = 0;
};

struct ReadView {
  int fd = -1;         // the descriptor bound, or -1
  ReadSource source;   // where blocks come from when set; else pread on fd
  int64_t position = 0;
  int64_t size = -1;   // the length measured at the open, or -1: ask the kernel
  uint64_t uses = 0;
  bool headRead = false;
  Block blocks[BlockCount];
  // The head blocks lie one after another, so that one read fills them all.
  alignas(64) uint8_t bytes[BlockCount][BlockBytes];
};

thread_local ReadView view;

// The number a read source is judged under: above every descriptor the kernel
// hands out (its table ends below 2^31 - 64), so the operations know it is bound.
constexpr int SourceDescriptor = INT_MAX;

bool Bound(int fd) { return fd >= 0 && fd == view.fd; }

ssize_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) {
  if (fd == view.fd && view.source.readAt != nullptr) {
    const int64_t got = view.source.readAt(view.source.context, buffer, count, offset);
    return got < 0 ? -1 : static_cast<ssize_t>(got);
  }
  for (;;) {
    const ssize_t got = pread(fd, buffer, count, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
}

// The head blocks in one read; false when the read failed.
bool ReadHead() {
  const ssize_t got = ReadAt(view.fd, view.bytes[0], static_cast<size_t>(HeadBytes), 0);
  if (got < 0) return false;
  view.headRead = true;
  for (int i = 0; i < HeadBlocks; ++i) {
    Block& block = view.blocks[i];
    block.start = int64_t{i} * BlockBytes;
    const int64_t left = got - block.start;
    block.length = left <= 0 ? 0 : left >= BlockBytes ? BlockBytes : static_cast<uint32_t>(left);
    block.lastUse = ++view.uses;
  }
  return true;
}

// The block holding offset, read when it is not held; null when the read failed.
const Block* BlockAt(int64_t offset) {
  const int64_t start = offset - offset % BlockBytes;
  if (start < HeadBytes && !view.headRead) {
    if (!ReadHead()) return nullptr;
  }
  int oldest = HeadBlocks;
  for (int i = 0; i < BlockCount; ++i) {
    Block& block = view.blocks[i];
    if (block.start == start) {
      block.lastUse = ++view.uses;
      return &block;
    }
    if (i >= HeadBlocks && block.lastUse < view.blocks[oldest].lastUse) oldest = i;
  }
  Block& block = view.blocks[oldest];
  block.start = -1;
  const ssize_t got = ReadAt(view.fd, view.bytes[oldest], BlockBytes, start);
  if (got < 0) return nullptr;
  block.start = start;
  block.length = static_cast<uint32_t>(got);
  block.lastUse = ++view.uses;
  return &block;
}

// Up to count bytes at offset, as one read of the descriptor there gives them.
int32_t ReadThroughView(void* buffer, uint32_t count, int64_t offset) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const int64_t at = offset + done;
    const Block* block = BlockAt(at);
    if (block == nullptr) return done > 0 ? static_cast<int32_t>(done) : -1;
    const int64_t inside = at - block->start;
    if (inside >= block->length) {
      // Beyond the end the file had when the block was read: ask the kernel.
      const ssize_t got = ReadAt(view.fd, out + done, count - done, at);
      if (got < 0) return done > 0 ? static_cast<int32_t>(done) : -1;
      return static_cast<int32_t>(done + static_cast<uint32_t>(got));
    }
    uint32_t take = block->length - static_cast<uint32_t>(inside);
    if (take > count - done) take = count - done;
    std::memcpy(out + done, view.bytes[block - view.blocks] + inside, take);
    done += take;
  }
  return static_cast<int32_t>(done);
}

}  // namespace

void BindReadView(int fd, int64_t size) {
  view.fd = fd;
  view.source = ReadSource();
  view.position = 0;
  view.size = size;
  view.headRead = false;
  for (Block& block : view.blocks) block = Block();
}

void UnbindReadView() { view.fd = -1; }

Variant JudgeThroughReadLayer(int fd, int64_t size, ScanStop* stop, ScanTrace* trace) {
  BindReadView(fd, size);
  const Variant variant = JudgeOpenImageFile(fd, stop, trace);
  UnbindReadView();
  return variant;
}

Variant JudgeThroughReadSource(const ReadSource& source, int64_t size, ScanStop* stop, ScanTrace* trace) {
  BindReadView(SourceDescriptor, size);
  view.source = source;
  const Variant variant = JudgeOpenImageFile(SourceDescriptor, stop, trace);
  UnbindReadView();
  view.source = ReadSource();
  return variant;
}

// --- The descriptor's operations -------------------------------------------

int32_t SeekFileTo(int fd, int32_t offset) {
  if (!Bound(fd)) return static_cast<int32_t>(_lseek(fd, offset, SEEK_SET));
  if (offset < 0) return -1;
  view.position = offset;
  return offset;
}

int32_t TellFilePosition(int fd) {
  if (!Bound(fd)) return static_cast<int32_t>(_tell(fd));
  return view.position > INT32_MAX ? -1 : static_cast<int32_t>(view.position);
}

int32_t ReadFileHere(int fd, void* buffer, uint32_t count) {
  if (!Bound(fd)) return _read(fd, buffer, count);
  if (count > INT_MAX) count = INT_MAX;
  const int32_t got = ReadThroughView(buffer, count, view.position);
  if (got > 0) view.position += got;
  return got;
}

// With the runtime's rule; asked of the kernel each time, as the runtime does,
// unless the length measured at the open was given.
int32_t GetFileLength(int fd) {
  const long long length = Bound(fd) && view.size >= 0 ? view.size : _filelengthi64(fd);
  if (length < 0) return -1;
  return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

#include "image/section_table_reader.h"

#include <cstring>

#include "image/file_read.h"

namespace {

// The runtime's positions are signed 32-bit: the reader never leaves the descriptor
// past this, so every position it keeps can be sought back to.
constexpr int64_t MaxPosition = 0x7FFFFFFF;

}  // namespace

SectionTableReader::SectionTableReader(int fd, uint32_t table, uint32_t count)
    : fd_(fd), table_(table), count_(count) {}

SectionTableReader::~SectionTableReader() {
  if (knowPosition_ && (!knowFilePosition_ || filePosition_ != position_))
    (void)SeekFileTo(fd_, static_cast<int32_t>(position_));
}

int32_t SectionTableReader::Seek(uint32_t offset) {
  const int32_t at = AsFileOffset(offset);
  if (at < 0) return -1;  // the runtime refuses it and leaves the position alone
  knowPosition_ = true;
  position_ = at;
  return at;
}

int32_t SectionTableReader::Position() {
  if (!knowPosition_) return TellFilePosition(fd_);
  return static_cast<int32_t>(position_);
}

uint32_t SectionTableReader::Read(IMAGE_SECTION_HEADER* header) {
  if (!knowPosition_) {
    const int32_t at = TellFilePosition(fd_);
    if (at < 0) return ReadStraight(header);  // a position the runtime cannot tell
    knowPosition_ = knowFilePosition_ = true;
    position_ = filePosition_ = at;
  }
  uint32_t delivered = 0;
  if (!ReadFromBlock(header, &delivered)) {
    FillBlock();
    if (!ReadFromBlock(header, &delivered)) return ReadStraight(header);
  }
  position_ += delivered;
  lastReadEnd_ = position_;
  return delivered;
}

// Near 2 GiB, or on a descriptor that does not seek like a file: the header is read
// straight from the descriptor at the position, which the reader no longer keeps.
uint32_t SectionTableReader::ReadStraight(IMAGE_SECTION_HEADER* header) {
  if (knowPosition_ && (!knowFilePosition_ || filePosition_ != position_))
    (void)SeekFileTo(fd_, static_cast<int32_t>(position_));
  knowPosition_ = knowFilePosition_ = false;
  const int32_t got = ReadFileHere(fd_, header, SectionHeaderBytes);
  return got < 0 ? 0u : static_cast<uint32_t>(got);
}

bool SectionTableReader::ReadFromBlock(IMAGE_SECTION_HEADER* header, uint32_t* delivered) {
  if (!haveBlock_ || position_ < blockStart_) return false;
  const int64_t blockEnd = blockStart_ + blockLength_;
  if (position_ + SectionHeaderBytes <= blockEnd) {
    *delivered = SectionHeaderBytes;
  } else if (blockAtEnd_) {
    // The file ends inside this header or before it: a read delivers what is left.
    *delivered = position_ < blockEnd ? static_cast<uint32_t>(blockEnd - position_) : 0u;
  } else {
    return false;
  }
  std::memcpy(header, block_ + (position_ - blockStart_), *delivered);
  return true;
}

void SectionTableReader::FillBlock() {
  // The header the position stands on, if it is one of the table's, and the run of
  // headers next to it, in the direction the reads go: reads that follow one another
  // go forwards (so does a walk that starts at the first header), seeks to lower
  // headers go backwards. A run stays below 2 GiB and does not wrap past 4 GiB.
  int64_t start = position_;
  uint32_t headers = 1;
  const uint32_t delta = static_cast<uint32_t>(position_) - table_;
  const bool onHeader = delta % SectionHeaderBytes == 0 && delta / SectionHeaderBytes < count_;
  if (onHeader && position_ + SectionHeaderBytes <= MaxPosition) {
    const uint32_t index = delta / SectionHeaderBytes;
    if (lastReadEnd_ == position_ || index == 0) {
      while (headers < HeadersPerBlock && index + headers < count_ &&
             HeaderOffset(index + headers) > HeaderOffset(index + headers - 1) &&
             static_cast<int64_t>(HeaderOffset(index + headers)) + SectionHeaderBytes <= MaxPosition)
        ++headers;
    } else {
      while (headers < HeadersPerBlock && headers <= index &&
             HeaderOffset(index - headers) < HeaderOffset(index - headers + 1))
        ++headers;
      start = HeaderOffset(index - headers + 1);
    }
  }
  const uint32_t length = headers * SectionHeaderBytes;
  haveBlock_ = false;
  if (start + length > MaxPosition) return;
  if (!knowFilePosition_ || filePosition_ != start) {
    knowFilePosition_ = false;
    if (SeekFileTo(fd_, static_cast<int32_t>(start)) != start) return;
    knowFilePosition_ = true;
    filePosition_ = start;
  }
  const int32_t got = ReadFileHere(fd_, block_, length);
  // Only the end of the file cuts a read of a file short; an error reads nothing.
  blockLength_ = got < 0 ? 0u : static_cast<uint32_t>(got);
  blockStart_ = start;
  blockAtEnd_ = blockLength_ < length;
  filePosition_ = start + blockLength_;
  haveBlock_ = true;
}

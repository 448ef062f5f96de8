// Section headers read as seeks and 40-byte reads of the descriptor, with the
// headers delivered and the position left behind exactly as those plain calls would
// give them, but fetched in blocks of up to 32 headers per read: a walk over a table
// of 65,535 headers costs about 2,000 reads instead of 65,535 seeks and reads.
//
// The position matters after a seek that fails: the section table of a hostile
// image may start at or above 2 GiB, or wrap past 4 GiB to the start of the file,
// and then a read takes the 40 bytes after the previous one. The reader keeps the
// position the plain calls would have and moves the descriptor only when it must
// read; when the reader goes out of scope the descriptor stands where the plain
// calls would have left it.
#pragma once

#include <cstdint>

#include "image/pe_records.h"

class SectionTableReader {
 public:
  // The table's file offset and header count, from the file header; the blocks read
  // stay within the table's headers.
  SectionTableReader(int fd, uint32_t table, uint32_t count);
  ~SectionTableReader();
  SectionTableReader(const SectionTableReader&) = delete;
  SectionTableReader& operator=(const SectionTableReader&) = delete;

  // File offset of header index (the sum wraps at 4 GiB, as in the format).
  uint32_t HeaderOffset(uint32_t index) const { return table_ + SectionHeaderBytes * index; }

  // As a seek from the start of the file: the new position, or -1 with the position
  // unchanged for an offset at or above 2 GiB.
  int32_t Seek(uint32_t offset);
  // As a read of one header at the position: the bytes delivered (40, fewer at the
  // end of the file, 0 past it); the position moves on by them.
  uint32_t Read(IMAGE_SECTION_HEADER* header);
  // As the descriptor's position.
  int32_t Position();

  static constexpr uint32_t SectionHeaderBytes = sizeof(IMAGE_SECTION_HEADER);
  static constexpr uint32_t HeadersPerBlock = 32;

 private:
  // Copies what a read at the position delivers when the block already tells it.
  bool ReadFromBlock(IMAGE_SECTION_HEADER* header, uint32_t* delivered);
  // Reads the block of headers around the position in the direction of travel.
  void FillBlock();
  uint32_t ReadStraight(IMAGE_SECTION_HEADER* header);

  int fd_;
  uint32_t table_;
  uint32_t count_;
  // The position the plain calls would have, and the descriptor's own.
  bool knowPosition_ = false;
  int64_t position_ = 0;
  bool knowFilePosition_ = false;
  int64_t filePosition_ = 0;
  int64_t lastReadEnd_ = -1;
  // The block: bytes [blockStart_, blockStart_ + blockLength_) of the file; when
  // blockAtEnd_, the file ends right after them.
  bool haveBlock_ = false;
  bool blockAtEnd_ = false;
  int64_t blockStart_ = 0;
  uint32_t blockLength_ = 0;
  uint8_t block_[HeadersPerBlock * SectionHeaderBytes];
};

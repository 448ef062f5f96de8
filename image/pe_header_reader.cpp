#include "image/pe_header_reader.h"

#include <cstring>

#include "platform/crt_io.h"

namespace {

constexpr uint32_t DosHeaderSize = 64;
constexpr uint32_t DosPeHeaderOffsetField = 0x3C;  // e_lfanew
constexpr uint32_t SignatureSize = 4;              // "PE\0\0", skipped, never read
constexpr uint32_t FileHeaderSize = sizeof(IMAGE_FILE_HEADER);
constexpr uint32_t OptionalHeaderSize = sizeof(OptionalHeader32);
constexpr uint32_t SectionHeaderSize = sizeof(IMAGE_SECTION_HEADER);
constexpr uint32_t DataDirectorySize = 8;
constexpr uint16_t NativeSubsystem = 1;
// The loader rounds PointerToRawData down to the file alignment, but never in units
// larger than a 512-byte disk sector: a FileAlignment of 4096 clears only the low 9
// bits. Native images (drivers) are mapped without this rounding.
constexpr uint32_t MaxAlignmentUnit = 512;

// Offsets are computed in unsigned 32-bit arithmetic from untrusted fields and
// handed to the runtime as its signed 32-bit file offsets; a value at or above 2 GiB
// becomes negative and the seek fails, as it does in the runtime.
long AsFileOffset(uint32_t offset) { return static_cast<long>(static_cast<int32_t>(offset)); }

uint32_t SeekTo(int fd, uint32_t offset) {
  return static_cast<uint32_t>(_lseek(fd, AsFileOffset(offset), SEEK_SET));
}

// Reads count bytes at the current position; returns how many came back (0 on error).
uint32_t ReadHere(int fd, void* buffer, uint32_t count) {
  int got = _read(fd, buffer, count);
  return got < 0 ? 0u : static_cast<uint32_t>(got);
}

// The section table is read in blocks of this many headers: a walk over a table of
// 65,535 headers costs about 2,000 reads instead of 65,535 seeks and reads.
constexpr uint32_t HeadersPerRead = 32;
constexpr uint32_t BlockSize = HeadersPerRead * SectionHeaderSize;

// A position tracked past a read, handed back to the runtime's 32-bit offsets.
long AsPosition(int64_t position) { return static_cast<long>(static_cast<int32_t>(position)); }

// The runtime's file offsets are signed 32-bit: a seek to a header at or above 2 GiB
// fails and leaves the position where it was.
constexpr uint32_t MaxSeekable = 0x7FFFFFFFu;

// File offset of a section header; a table near the top of the 32-bit range wraps
// around to the start of the file.
uint32_t HeaderOffset(uint32_t table, uint32_t index) { return table + SectionHeaderSize * index; }

bool Seekable(uint32_t table, uint32_t index) { return HeaderOffset(table, index) <= MaxSeekable; }

// How many headers just below index end (at most one block's worth) lie on the same
// side of 2 GiB as header end-1. A table spans under 3 MB, so it crosses 2 GiB or
// wraps past 4 GiB at most once, and a run below 2 GiB never wraps.
uint32_t RunLength(uint32_t table, uint32_t end) {
  bool seekable = Seekable(table, end - 1);
  uint32_t headers = 1;
  while (headers < HeadersPerRead && headers < end &&
         Seekable(table, end - 1 - headers) == seekable)
    ++headers;
  return headers;
}

IMAGE_SECTION_HEADER HeaderIn(const uint8_t* block, uint32_t index) {
  IMAGE_SECTION_HEADER header;
  std::memcpy(&header, block + SectionHeaderSize * index, sizeof header);
  return header;
}

void FormSectionNameText(const IMAGE_SECTION_HEADER& header, char* text) {
  std::memcpy(text, header.Name, IMAGE_SIZEOF_SHORT_NAME);
  text[IMAGE_SIZEOF_SHORT_NAME] = 0;
}

uint32_t SectionSize(const IMAGE_SECTION_HEADER& header) {
  return header.Misc.VirtualSize > header.SizeOfRawData ? header.Misc.VirtualSize
                                                        : header.SizeOfRawData;
}

// End of a section's address range; a range that would pass 4 GiB reaches to the
// top of the address space instead of wrapping around to low addresses.
uint32_t SectionEnd(const IMAGE_SECTION_HEADER& header) {
  uint32_t size = SectionSize(header);
  if (size > 0xFFFFFFFFu - header.VirtualAddress) return 0xFFFFFFFFu;
  return header.VirtualAddress + size;
}

uint32_t AlignmentMask(const OptionalHeader32& optional) {
  uint32_t unit = optional.FileAlignment < MaxAlignmentUnit ? optional.FileAlignment
                                                            : MaxAlignmentUnit;
  return 0u - unit;
}

uint32_t MapIntoSection(const OptionalHeader32& optional, const IMAGE_SECTION_HEADER& header,
                        uint32_t rva) {
  uint32_t base = header.PointerToRawData;
  if (optional.Subsystem != NativeSubsystem) base &= AlignmentMask(optional);
  return base + (rva - header.VirtualAddress);
}

}  // namespace

// A file shorter than a DOS header has no e_lfanew. Such a file cannot hold the
// kilobyte of entry code that every signature reads, so no verdict depends on the
// value; 0 keeps the offsets built on it small and non-negative.
int32_t GetPeHeaderOffset(int fd) {
  long saved = _tell(fd);
  uint8_t dos[DosHeaderSize];
  (void)_lseek(fd, 0, SEEK_SET);
  if (ReadHere(fd, dos, DosHeaderSize) != DosHeaderSize) return 0;
  (void)_lseek(fd, saved, SEEK_SET);
  return static_cast<int32_t>(LoadU32Le(dos, DosPeHeaderOffsetField));
}

int ReadFileHeader(int fd, IMAGE_FILE_HEADER* header) {
  long saved = _tell(fd);
  uint32_t at = static_cast<uint32_t>(GetPeHeaderOffset(fd)) + SignatureSize;
  (void)SeekTo(fd, at);
  (void)ReadHere(fd, header, FileHeaderSize);
  (void)_lseek(fd, saved, SEEK_SET);
  return 1;
}

int GetSectionCount(int fd) {
  IMAGE_FILE_HEADER header;
  std::memset(&header, 0, sizeof header);
  (void)ReadFileHeader(fd, &header);
  return header.NumberOfSections;
}

int32_t GetOptionalHeaderOffset(int fd) {
  return static_cast<int32_t>(static_cast<uint32_t>(GetPeHeaderOffset(fd)) + SignatureSize +
                              FileHeaderSize);
}

int ReadOptionalHeader(int fd, OptionalHeader32* header) {
  long saved = _tell(fd);
  uint32_t at = static_cast<uint32_t>(GetOptionalHeaderOffset(fd));
  (void)SeekTo(fd, at);
  (void)ReadHere(fd, header, OptionalHeaderSize);
  (void)_lseek(fd, saved, SEEK_SET);
  return 1;
}

// The section table follows the optional header as SizeOfOptionalHeader declares it;
// with that field 0 it follows the data directories that NumberOfRvaAndSizes declares.
int32_t GetSectionTableOffset(int fd) {
  IMAGE_FILE_HEADER header;
  std::memset(&header, 0, sizeof header);
  (void)ReadFileHeader(fd, &header);
  uint32_t optionalOffset = static_cast<uint32_t>(GetOptionalHeaderOffset(fd));
  if (header.SizeOfOptionalHeader != 0)
    return static_cast<int32_t>(optionalOffset + header.SizeOfOptionalHeader);
  OptionalHeader32 optional;
  std::memset(&optional, 0, sizeof optional);
  (void)ReadOptionalHeader(fd, &optional);
  return static_cast<int32_t>(optionalOffset + OptionalHeaderSize +
                              DataDirectorySize * optional.NumberOfRvaAndSizes);
}

int32_t FindSectionHeaderOffset(int fd, const char* name) {
  uint32_t table = static_cast<uint32_t>(GetSectionTableOffset(fd));
  uint32_t count = static_cast<uint32_t>(GetSectionCount(fd));
  (void)SeekTo(fd, table);
  if (count == 0 || name == nullptr) return -1;
  // The headers are read back to back from wherever the seek left the position (a
  // seek that fails leaves it where it was), so blocks deliver the same bytes as
  // reads of one header each.
  int64_t position = _tell(fd);
  uint8_t block[BlockSize];
  char text[SectionNameTextSize];
  for (uint32_t left = count; left > 0;) {
    uint32_t headers = left < HeadersPerRead ? left : HeadersPerRead;
    uint32_t got = ReadHere(fd, block, SectionHeaderSize * headers);
    uint32_t complete = got / SectionHeaderSize;  // a header cut short never matches
    for (uint32_t i = 0; i < complete; ++i) {
      IMAGE_SECTION_HEADER header = HeaderIn(block, i);
      FormSectionNameText(header, text);
      if (_stricmp(text, name) != 0) continue;
      int64_t at = position + SectionHeaderSize * i;
      // The position ends just past the matching header, as after a read of it alone.
      if (SectionHeaderSize * (i + 1) != got)
        (void)_lseek(fd, AsPosition(at + SectionHeaderSize), SEEK_SET);
      return static_cast<int32_t>(at);
    }
    // Only the end of the file cuts a read short: every later header is missing too.
    if (got != SectionHeaderSize * headers) break;
    position += got;
    left -= headers;
  }
  return -1;
}

int ReadSectionHeaderByName(int fd, const char* name, IMAGE_SECTION_HEADER* header) {
  int32_t offset = FindSectionHeaderOffset(fd, name);
  if (offset == -1) return 0;
  long saved = _tell(fd);
  (void)_lseek(fd, offset, SEEK_SET);
  (void)ReadHere(fd, header, SectionHeaderSize);
  (void)_lseek(fd, saved, SEEK_SET);
  return 1;
}

// The table is walked from its end so that an RVA inside overlapping sections maps
// through the later header, as the loader leaves the later section's bytes in place.
// The last section's range includes its end address: a pointer just past the image's
// last byte still lands in the file.
uint32_t RvaToFileOffset(int fd, uint32_t rva) {
  OptionalHeader32 optional;
  std::memset(&optional, 0, sizeof optional);
  (void)ReadOptionalHeader(fd, &optional);
  uint32_t table = static_cast<uint32_t>(GetSectionTableOffset(fd));
  uint32_t count = static_cast<uint32_t>(GetSectionCount(fd));

  uint32_t lowest = 0xFFFFFFFFu;
  IMAGE_SECTION_HEADER header;
  uint8_t block[BlockSize];
  for (uint32_t end = count; end > 0;) {
    // Headers first..end-1, all below 2 GiB or all at or above it, in one read.
    uint32_t headers = RunLength(table, end);
    uint32_t first = end - headers;
    if (HeaderOffset(table, end - 1) <= MaxSeekable) {
      // Back to back in the file, lowest first; the walk takes them from the top.
      uint32_t at = HeaderOffset(table, first);
      (void)SeekTo(fd, at);
      uint32_t got = ReadHere(fd, block, SectionHeaderSize * headers);
      if (got != SectionHeaderSize * headers) {
        // The file ends inside the top header, the first one the walk reads: the walk
        // stops there, and the position is where a read of that header alone leaves it.
        if (got < SectionHeaderSize * (headers - 1)) (void)SeekTo(fd, HeaderOffset(table, end - 1));
        break;
      }
      for (uint32_t i = headers; i-- > 0;) {
        header = HeaderIn(block, i);
        if (header.VirtualAddress < lowest) lowest = header.VirtualAddress;
        if (header.SizeOfRawData == 0) continue;
        if (header.VirtualAddress <= rva && rva < SectionEnd(header)) {
          // The position ends just past the matching header.
          if (i + 1 != headers) (void)SeekTo(fd, HeaderOffset(table, first + i + 1));
          return MapIntoSection(optional, header, rva);
        }
      }
      // A header-at-a-time walk would stand just past the lowest header now; the next
      // read depends on that when its seek fails.
      uint32_t next = first != 0 ? HeaderOffset(table, first - 1) : HeaderOffset(table, count - 1);
      if (headers > 1 && next > MaxSeekable) (void)SeekTo(fd, at + SectionHeaderSize);
    } else {
      // Each seek fails and leaves the position alone, so each read takes the 40
      // bytes after the previous one: the run comes in walk order from here.
      int64_t position = _tell(fd);
      uint32_t got = ReadHere(fd, block, SectionHeaderSize * headers);
      uint32_t complete = got / SectionHeaderSize;
      for (uint32_t i = 0; i < complete; ++i) {
        header = HeaderIn(block, i);
        if (header.VirtualAddress < lowest) lowest = header.VirtualAddress;
        if (header.SizeOfRawData == 0) continue;
        if (header.VirtualAddress <= rva && rva < SectionEnd(header)) {
          if (i + 1 != headers)
            (void)_lseek(fd, AsPosition(position + SectionHeaderSize * (i + 1)), SEEK_SET);
          return MapIntoSection(optional, header, rva);
        }
      }
      if (complete != headers) break;
    }
    end = first;
  }

  if (count != 0) {
    (void)SeekTo(fd, table + SectionHeaderSize * (count - 1));
    if (ReadHere(fd, &header, SectionHeaderSize) != SectionHeaderSize) return rva;
    if (header.SizeOfRawData != 0 && header.VirtualAddress <= rva && rva <= SectionEnd(header))
      return MapIntoSection(optional, header, rva);
  }

  // Below the first section lie the headers, which are mapped at their file offsets.
  return rva < lowest ? rva : NoFileOffset;
}

uint32_t VaToFileOffset(int fd, uint32_t va) {
  OptionalHeader32 optional;
  std::memset(&optional, 0, sizeof optional);
  (void)ReadOptionalHeader(fd, &optional);
  if (va < optional.ImageBase) return NoFileOffset;
  return RvaToFileOffset(fd, va - optional.ImageBase);
}

uint32_t GetEntryPointFileOffset(int fd) {
  OptionalHeader32 optional;
  std::memset(&optional, 0, sizeof optional);
  (void)ReadOptionalHeader(fd, &optional);
  return RvaToFileOffset(fd, optional.AddressOfEntryPoint);
}

int ReadLastSectionHeader(int fd, char* name, IMAGE_SECTION_HEADER* header) {
  if (fd == -1 || name == nullptr || header == nullptr) return 0;
  uint32_t table = static_cast<uint32_t>(GetSectionTableOffset(fd));
  uint32_t count = static_cast<uint32_t>(GetSectionCount(fd));
  if (count != 0) {
    (void)SeekTo(fd, table + SectionHeaderSize * (count - 1));
    if (ReadHere(fd, header, SectionHeaderSize) == SectionHeaderSize) {
      FormSectionNameText(*header, name);
      return 1;
    }
  }
  std::memcpy(name, "C_NONAME", SectionNameTextSize);
  std::memset(header, 0, sizeof *header);
  return 0;
}

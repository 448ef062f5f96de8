#include "image/pe_header_reader.h"

#include <cstring>

#include "image/file_read.h"
#include "image/section_table_reader.h"
#include "platform/crt_io.h"  // _stricmp

namespace {

constexpr uint32_t DosHeaderSize = 64;
constexpr uint32_t DosPeHeaderOffsetField = 0x3C;  // e_lfanew
constexpr uint32_t SignatureSize = 4;              // "PE\0\0", skipped, never read
constexpr uint32_t FileHeaderSize = sizeof(IMAGE_FILE_HEADER);
constexpr uint32_t OptionalHeaderSize = sizeof(OptionalHeader32);
constexpr uint32_t SectionHeaderSize = sizeof(IMAGE_SECTION_HEADER);

// Seeks whose result the header readers do not test: a seek that fails leaves the
// position where it was, and the read that follows reads from there.
void SeekUnchecked(int fd, uint32_t offset) { (void)SeekFileTo(fd, AsFileOffset(offset)); }

// Reads count bytes at the position; returns how many came back (0 on error).
uint32_t ReadHere(int fd, void* buffer, uint32_t count) {
  const int32_t got = ReadFileHere(fd, buffer, count);
  return got < 0 ? 0u : static_cast<uint32_t>(got);
}

// Puts the position back where a fixed-header reader found it.
void RestorePosition(int fd, int32_t saved) { (void)SeekFileTo(fd, saved); }

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
  const int32_t saved = TellFilePosition(fd);
  uint8_t dos[DosHeaderSize];
  SeekUnchecked(fd, 0);
  if (ReadHere(fd, dos, DosHeaderSize) != DosHeaderSize) return 0;
  RestorePosition(fd, saved);
  return static_cast<int32_t>(LoadU32Le(dos, DosPeHeaderOffsetField));
}

int ReadFileHeader(int fd, IMAGE_FILE_HEADER* header) {
  const int32_t saved = TellFilePosition(fd);
  uint32_t at = static_cast<uint32_t>(GetPeHeaderOffset(fd)) + SignatureSize;
  SeekUnchecked(fd, at);
  (void)ReadHere(fd, header, FileHeaderSize);
  RestorePosition(fd, saved);
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
  const int32_t saved = TellFilePosition(fd);
  uint32_t at = static_cast<uint32_t>(GetOptionalHeaderOffset(fd));
  SeekUnchecked(fd, at);
  (void)ReadHere(fd, header, OptionalHeaderSize);
  RestorePosition(fd, saved);
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

// The headers are read back to back after one seek to the table: when that seek
// fails, they come from wherever the position was.
int32_t FindSectionHeaderOffset(int fd, const char* name) {
  const uint32_t table = static_cast<uint32_t>(GetSectionTableOffset(fd));
  const uint32_t count = static_cast<uint32_t>(GetSectionCount(fd));
  SectionTableReader headers(fd, table, count);
  (void)headers.Seek(table);
  if (count == 0 || name == nullptr) return -1;
  IMAGE_SECTION_HEADER header;
  char text[SectionNameTextSize];
  for (uint32_t i = 0; i < count; ++i) {
    if (headers.Read(&header) != SectionHeaderSize) continue;  // a header cut short never matches
    FormSectionNameText(header, text);
    if (_stricmp(text, name) == 0) return headers.Position() - static_cast<int32_t>(SectionHeaderSize);
  }
  return -1;
}

int ReadSectionHeaderByName(int fd, const char* name, IMAGE_SECTION_HEADER* header) {
  int32_t offset = FindSectionHeaderOffset(fd, name);
  if (offset == -1) return 0;
  const int32_t saved = TellFilePosition(fd);
  (void)SeekFileTo(fd, offset);
  (void)ReadHere(fd, header, SectionHeaderSize);
  RestorePosition(fd, saved);
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
  const uint32_t table = static_cast<uint32_t>(GetSectionTableOffset(fd));
  const uint32_t count = static_cast<uint32_t>(GetSectionCount(fd));
  SectionTableReader headers(fd, table, count);

  uint32_t lowest = 0xFFFFFFFFu;
  IMAGE_SECTION_HEADER header;
  for (uint32_t index = count; index-- > 0;) {
    (void)headers.Seek(headers.HeaderOffset(index));
    if (headers.Read(&header) != SectionHeaderSize) break;
    if (header.VirtualAddress < lowest) lowest = header.VirtualAddress;
    if (header.SizeOfRawData != 0 && header.VirtualAddress <= rva && rva < SectionEnd(header))
      return MapIntoSection(optional, header, rva);
  }

  // A second look at the last section, whose end is inclusive.
  if (count != 0) {
    (void)headers.Seek(headers.HeaderOffset(count - 1));
    if (headers.Read(&header) != SectionHeaderSize) return rva;
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
    SeekUnchecked(fd, table + SectionHeaderSize * (count - 1));
    if (ReadHere(fd, header, SectionHeaderSize) == SectionHeaderSize) {
      FormSectionNameText(*header, name);
      return 1;
    }
  }
  std::memcpy(name, "C_NONAME", SectionNameTextSize);
  std::memset(header, 0, sizeof *header);
  return 0;
}

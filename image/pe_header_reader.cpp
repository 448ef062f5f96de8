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
  int count = GetSectionCount(fd);
  (void)SeekTo(fd, table);
  if (count == 0 || name == nullptr) return -1;
  char text[SectionNameTextSize];
  for (int i = 0; i < count; ++i) {
    IMAGE_SECTION_HEADER header;
    if (ReadHere(fd, &header, SectionHeaderSize) != SectionHeaderSize) continue;
    FormSectionNameText(header, text);
    if (_stricmp(text, name) == 0) return static_cast<int32_t>(_tell(fd) - SectionHeaderSize);
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
  for (uint32_t index = count; index-- > 0;) {
    (void)SeekTo(fd, table + SectionHeaderSize * index);
    if (ReadHere(fd, &header, SectionHeaderSize) != SectionHeaderSize) break;
    if (header.VirtualAddress < lowest) lowest = header.VirtualAddress;
    if (header.SizeOfRawData == 0) continue;
    if (header.VirtualAddress <= rva && rva < SectionEnd(header))
      return MapIntoSection(optional, header, rva);
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

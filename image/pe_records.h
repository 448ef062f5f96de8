// Fixed little-endian records of the PE32 image format, as the image readers read
// them straight from the file. Windows builds take IMAGE_FILE_HEADER and
// IMAGE_SECTION_HEADER from the SDK; the Linux build declares the same layout.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;

#define IMAGE_SIZEOF_SHORT_NAME 8

#pragma pack(push, 1)
struct IMAGE_FILE_HEADER {
  WORD Machine;
  WORD NumberOfSections;
  DWORD TimeDateStamp;
  DWORD PointerToSymbolTable;
  DWORD NumberOfSymbols;
  WORD SizeOfOptionalHeader;
  WORD Characteristics;
};

struct IMAGE_SECTION_HEADER {
  BYTE Name[IMAGE_SIZEOF_SHORT_NAME];
  union {
    DWORD PhysicalAddress;
    DWORD VirtualSize;
  } Misc;
  DWORD VirtualAddress;
  DWORD SizeOfRawData;
  DWORD PointerToRawData;
  DWORD PointerToRelocations;
  DWORD PointerToLinenumbers;
  WORD NumberOfRelocations;
  WORD NumberOfLinenumbers;
  DWORD Characteristics;
};
#pragma pack(pop)
#endif

// The PE32 optional header up to and including NumberOfRvaAndSizes: everything
// before the data directories, 96 bytes.
#pragma pack(push, 1)
struct OptionalHeader32 {
  WORD Magic;
  BYTE MajorLinkerVersion;
  BYTE MinorLinkerVersion;
  DWORD SizeOfCode;
  DWORD SizeOfInitializedData;
  DWORD SizeOfUninitializedData;
  DWORD AddressOfEntryPoint;
  DWORD BaseOfCode;
  DWORD BaseOfData;
  DWORD ImageBase;
  DWORD SectionAlignment;
  DWORD FileAlignment;
  WORD MajorOperatingSystemVersion;
  WORD MinorOperatingSystemVersion;
  WORD MajorImageVersion;
  WORD MinorImageVersion;
  WORD MajorSubsystemVersion;
  WORD MinorSubsystemVersion;
  DWORD Win32VersionValue;
  DWORD SizeOfImage;
  DWORD SizeOfHeaders;
  DWORD CheckSum;
  WORD Subsystem;
  WORD DllCharacteristics;
  DWORD SizeOfStackReserve;
  DWORD SizeOfStackCommit;
  DWORD SizeOfHeapReserve;
  DWORD SizeOfHeapCommit;
  DWORD LoaderFlags;
  DWORD NumberOfRvaAndSizes;
};
#pragma pack(pop)

static_assert(sizeof(IMAGE_FILE_HEADER) == 20, "COFF file header is 20 bytes");
static_assert(offsetof(IMAGE_FILE_HEADER, NumberOfSections) == 2, "layout");
static_assert(offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader) == 16, "layout");
static_assert(sizeof(IMAGE_SECTION_HEADER) == 40, "section header is 40 bytes");
static_assert(offsetof(IMAGE_SECTION_HEADER, VirtualAddress) == 12, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, SizeOfRawData) == 16, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, PointerToRawData) == 20, "layout");
static_assert(offsetof(IMAGE_SECTION_HEADER, Characteristics) == 36, "layout");
static_assert(sizeof(OptionalHeader32) == 96, "optional header before the data directories");
static_assert(offsetof(OptionalHeader32, SizeOfCode) == 4, "layout");
static_assert(offsetof(OptionalHeader32, AddressOfEntryPoint) == 16, "layout");
static_assert(offsetof(OptionalHeader32, BaseOfData) == 24, "layout");
static_assert(offsetof(OptionalHeader32, ImageBase) == 28, "layout");
static_assert(offsetof(OptionalHeader32, FileAlignment) == 36, "layout");
static_assert(offsetof(OptionalHeader32, MajorOperatingSystemVersion) == 40, "layout");
static_assert(offsetof(OptionalHeader32, SizeOfImage) == 56, "layout");
static_assert(offsetof(OptionalHeader32, SizeOfHeaders) == 60, "layout");
static_assert(offsetof(OptionalHeader32, Subsystem) == 68, "layout");
static_assert(offsetof(OptionalHeader32, NumberOfRvaAndSizes) == 92, "layout");

// Offset of the resource table's entry (index 2) in the data directories, counted
// from the start of the optional header.
constexpr uint32_t ResourceDirectoryEntryOffset = 96 + 8 * 2;

// Section name text: the 8 Name bytes and a terminating zero.
constexpr size_t SectionNameTextSize = IMAGE_SIZEOF_SHORT_NAME + 1;

// Little-endian field access into the byte images of records.
inline uint16_t LoadU16Le(const uint8_t* bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}
inline uint32_t LoadU32Le(const uint8_t* bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 16) | (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

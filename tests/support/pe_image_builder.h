// A small PE32 image built in test code. It starts as a valid, consistent image
// (DOS header, "PE\0\0", file header, optional header with 16 data directories,
// section table, section raw data); a test changes only the fields its case is
// about and writes the result to a temporary file for the descriptor readers.
//
//   testpe::PeImage image;
//   image.Optional().FileAlignment = 32;
//   image.AddSection(".text", 0x1000, 0x800, 0x400, 0x600, testpe::CodeSection);
//   image.PutU32(0x3C, 0x100);          // applied last, over everything else
//   testpe::TempFile file = image.Write();
//   testpe::OpenFd fd = file.Open();
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "image/pe_records.h"
#include "tests/support/temp_file.h"

namespace testpe {

// A header field that the builder derives from the image unless the test assigns it.
template <typename T>
class Derived {
 public:
  Derived& operator=(T value) {
    value_ = value;
    assigned_ = true;
    return *this;
  }
  operator T() const { return value_; }
  bool Assigned() const { return assigned_; }
  // Used by the builder itself; does not count as an assignment.
  void Derive(T value) {
    if (!assigned_) value_ = value;
  }

 private:
  T value_{};
  bool assigned_ = false;
};

// The COFF file header as a test sees it; NumberOfSections and SizeOfOptionalHeader
// follow the sections and directories unless assigned.
struct FileHeaderFields {
  uint16_t Machine = 0x014C;  // i386
  Derived<uint16_t> NumberOfSections;
  uint32_t TimeDateStamp = 0x3F000000;
  uint32_t PointerToSymbolTable = 0;
  uint32_t NumberOfSymbols = 0;
  Derived<uint16_t> SizeOfOptionalHeader;
  uint16_t Characteristics = 0x010F;  // executable, 32-bit, stripped
};

struct DataDirectory {
  uint32_t VirtualAddress = 0;
  uint32_t Size = 0;
};

constexpr uint32_t CodeSection = 0x60000020;         // code, execute, read
constexpr uint32_t DataSection = 0xC0000040;         // initialized data, read, write
constexpr uint32_t ReadOnlyDataSection = 0x40000040;  // initialized data, read

struct Section {
  std::string Name;  // up to 8 bytes; longer names are cut to 8
  uint32_t VirtualSize = 0;
  uint32_t VirtualAddress = 0;
  uint32_t SizeOfRawData = 0;
  uint32_t PointerToRawData = 0;
  uint32_t PointerToRelocations = 0;
  uint32_t PointerToLinenumbers = 0;
  uint16_t NumberOfRelocations = 0;
  uint16_t NumberOfLinenumbers = 0;
  uint32_t Characteristics = 0;
  // Written at PointerToRawData; the rest of the raw extent is zeros.
  std::vector<uint8_t> Raw;
};

// Resource tree, laid out by SetResourceTree. Named entries should come first in a
// directory, as the format stores them; the builder keeps the order given and counts
// the named entries for NumberOfNamedEntries.
struct ResourceDirectory;
struct ResourceEntry {
  bool Named = false;
  std::u16string Name;  // Named: the UTF-16 units of the name string
  uint32_t Id = 0;      // not Named: the whole 32-bit Name field
  // Exactly one target: a subdirectory, a data entry with its data, or a raw
  // OffsetToData value written unchanged (to point back, beyond the end, ...).
  std::shared_ptr<ResourceDirectory> Subdirectory;
  bool HasData = false;
  std::vector<uint8_t> Data;
  uint32_t CodePage = 0;
  bool HasRawTarget = false;
  uint32_t RawOffsetToData = 0;
};

struct ResourceDirectory {
  std::vector<ResourceEntry> Entries;
};

ResourceEntry IdDirectory(uint32_t id, ResourceDirectory directory);
ResourceEntry NamedDirectory(std::u16string name, ResourceDirectory directory);
ResourceEntry IdData(uint32_t id, std::vector<uint8_t> data, uint32_t codePage = 0);
ResourceEntry NamedData(std::u16string name, std::vector<uint8_t> data, uint32_t codePage = 0);
// OffsetToData stored as given: 0x80000000 | offset is a subdirectory at that offset
// from the resource base, a value without the high bit a data entry there.
ResourceEntry IdPointer(uint32_t id, uint32_t offsetToData);
ResourceEntry NamedPointer(std::u16string name, uint32_t offsetToData);

// Where SetResourceTree put things, as offsets from the resource base (the start of
// the resource section's raw data) and as file offsets.
struct ResourceLayout {
  uint32_t BaseFileOffset = 0;
  uint32_t BaseRva = 0;
  std::vector<uint32_t> DirectoryOffsets;  // in depth-first pre-order, root first
  std::vector<uint32_t> DataRvas;          // each data entry's data, in pre-order
  uint32_t Size = 0;
};

class PeImage {
 public:
  PeImage();

  // e_lfanew: file offset of "PE\0\0"; the headers follow it.
  uint32_t& PeHeaderOffset() { return peHeaderOffset_; }
  FileHeaderFields& FileHeader() { return fileHeader_; }
  OptionalHeader32& Optional() { return optional_; }
  DataDirectory& Directory(unsigned index) { return directories_.at(index); }

  // Appends a section header (and optionally its raw bytes) to the section table.
  Section& AddSection(const std::string& name, uint32_t virtualAddress, uint32_t virtualSize,
                      uint32_t pointerToRawData, uint32_t sizeOfRawData, uint32_t characteristics,
                      std::vector<uint8_t> raw = {});
  Section& SectionAt(size_t index) { return sections_.at(index); }
  size_t SectionCount() const { return sections_.size(); }

  // Lays the tree out into a new ".rsrc" section at the given RVA and file offset,
  // and points data directory 2 at it.
  const ResourceLayout& SetResourceTree(const ResourceDirectory& root, uint32_t virtualAddress,
                                        uint32_t pointerToRawData);

  // Bytes written at a file offset after everything else, so they can corrupt any
  // header or table; later calls win over earlier ones.
  void PutBytes(uint32_t fileOffset, std::vector<uint8_t> bytes);
  void PutU16(uint32_t fileOffset, uint16_t value);
  void PutU32(uint32_t fileOffset, uint32_t value);
  void PutText(uint32_t fileOffset, const std::string& text);  // no terminating zero

  // Final file length: shorter cuts the image off, longer pads with zeros.
  void SetFileLength(uint32_t length) {
    fileLength_ = length;
    hasFileLength_ = true;
  }

  // File offsets derived from the current headers.
  uint32_t FileHeaderOffset() const { return peHeaderOffset_ + 4; }
  uint32_t OptionalHeaderOffset() const { return peHeaderOffset_ + 24; }
  // Where the section table starts: after SizeOfOptionalHeader bytes of optional
  // header or, when that is 0, after the declared data directories.
  uint32_t SectionTableOffset() const;
  uint32_t SectionHeaderOffset(size_t index) const {
    return SectionTableOffset() + 40 * static_cast<uint32_t>(index);
  }

  std::vector<uint8_t> Bytes() const;
  TempFile Write() const { return TempFile(Bytes()); }

 private:
  struct Patch {
    uint32_t offset;
    std::vector<uint8_t> bytes;
  };
  FileHeaderFields Resolved() const;

  uint32_t peHeaderOffset_ = 0x80;
  FileHeaderFields fileHeader_;
  OptionalHeader32 optional_{};
  std::vector<DataDirectory> directories_;
  std::vector<Section> sections_;
  std::vector<Patch> patches_;
  ResourceLayout resourceLayout_;
  uint32_t fileLength_ = 0;
  bool hasFileLength_ = false;
};

// Little-endian helpers for building raw bytes in tests.
void StoreU16Le(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void StoreU32Le(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
// UTF-16LE units as bytes, without a terminator.
std::vector<uint8_t> Utf16Le(const std::u16string& text);

}  // namespace testpe

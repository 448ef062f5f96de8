#include "tests/support/pe_image_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace testpe {

namespace {

// Fixtures stay small; an extent beyond this is a deliberately hostile field value
// (a huge SizeOfRawData, say) that must not grow the file.
constexpr uint64_t MaxFixtureExtent = 64u * 1024 * 1024;

constexpr uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void Put(std::vector<uint8_t>& bytes, uint64_t offset, const uint8_t* data, size_t count) {
  if (count == 0) return;
  if (offset + count > bytes.size()) bytes.resize(static_cast<size_t>(offset + count), 0);
  std::memcpy(bytes.data() + offset, data, count);
}

template <typename Record>
void PutRecord(std::vector<uint8_t>& bytes, uint64_t offset, const Record& record) {
  Put(bytes, offset, reinterpret_cast<const uint8_t*>(&record), sizeof record);
}

}  // namespace

void StoreU16Le(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  if (offset + 2 > bytes.size()) bytes.resize(offset + 2, 0);
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void StoreU32Le(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  if (offset + 4 > bytes.size()) bytes.resize(offset + 4, 0);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Utf16Le(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

ResourceEntry IdDirectory(uint32_t id, ResourceDirectory directory) {
  ResourceEntry entry;
  entry.Id = id;
  entry.Subdirectory = std::make_shared<ResourceDirectory>(std::move(directory));
  return entry;
}

ResourceEntry NamedDirectory(std::u16string name, ResourceDirectory directory) {
  ResourceEntry entry = IdDirectory(0, std::move(directory));
  entry.Named = true;
  entry.Name = std::move(name);
  return entry;
}

ResourceEntry IdData(uint32_t id, std::vector<uint8_t> data, uint32_t codePage) {
  ResourceEntry entry;
  entry.Id = id;
  entry.HasData = true;
  entry.Data = std::move(data);
  entry.CodePage = codePage;
  return entry;
}

ResourceEntry NamedData(std::u16string name, std::vector<uint8_t> data, uint32_t codePage) {
  ResourceEntry entry = IdData(0, std::move(data), codePage);
  entry.Named = true;
  entry.Name = std::move(name);
  return entry;
}

ResourceEntry IdPointer(uint32_t id, uint32_t offsetToData) {
  ResourceEntry entry;
  entry.Id = id;
  entry.HasRawTarget = true;
  entry.RawOffsetToData = offsetToData;
  return entry;
}

ResourceEntry NamedPointer(std::u16string name, uint32_t offsetToData) {
  ResourceEntry entry = IdPointer(0, offsetToData);
  entry.Named = true;
  entry.Name = std::move(name);
  return entry;
}

PeImage::PeImage() : directories_(16) {
  optional_.Magic = 0x010B;  // PE32
  optional_.MajorLinkerVersion = 6;
  optional_.BaseOfCode = 0x1000;
  optional_.BaseOfData = 0x2000;
  optional_.ImageBase = 0x00400000;
  optional_.SectionAlignment = 0x1000;
  optional_.FileAlignment = 0x200;
  optional_.MajorOperatingSystemVersion = 4;
  optional_.MajorSubsystemVersion = 4;
  optional_.Subsystem = 2;  // Windows GUI
  optional_.SizeOfStackReserve = 0x100000;
  optional_.SizeOfStackCommit = 0x1000;
  optional_.SizeOfHeapReserve = 0x100000;
  optional_.SizeOfHeapCommit = 0x1000;
  optional_.NumberOfRvaAndSizes = 16;
  // SizeOfImage and SizeOfHeaders stay 0 here: Bytes() derives them unless set.
}

Section& PeImage::AddSection(const std::string& name, uint32_t virtualAddress, uint32_t virtualSize,
                             uint32_t pointerToRawData, uint32_t sizeOfRawData,
                             uint32_t characteristics, std::vector<uint8_t> raw) {
  Section section;
  section.Name = name;
  section.VirtualAddress = virtualAddress;
  section.VirtualSize = virtualSize;
  section.PointerToRawData = pointerToRawData;
  section.SizeOfRawData = sizeOfRawData;
  section.Characteristics = characteristics;
  section.Raw = std::move(raw);
  sections_.push_back(std::move(section));
  return sections_.back();
}

void PeImage::PutBytes(uint32_t fileOffset, std::vector<uint8_t> bytes) {
  patches_.push_back(Patch{fileOffset, std::move(bytes)});
}

void PeImage::PutU16(uint32_t fileOffset, uint16_t value) {
  std::vector<uint8_t> bytes;
  StoreU16Le(bytes, 0, value);
  PutBytes(fileOffset, std::move(bytes));
}

void PeImage::PutU32(uint32_t fileOffset, uint32_t value) {
  std::vector<uint8_t> bytes;
  StoreU32Le(bytes, 0, value);
  PutBytes(fileOffset, std::move(bytes));
}

void PeImage::PutText(uint32_t fileOffset, const std::string& text) {
  PutBytes(fileOffset, std::vector<uint8_t>(text.begin(), text.end()));
}

FileHeaderFields PeImage::Resolved() const {
  FileHeaderFields header = fileHeader_;
  header.NumberOfSections.Derive(static_cast<uint16_t>(sections_.size()));
  header.SizeOfOptionalHeader.Derive(static_cast<uint16_t>(96 + 8 * directories_.size()));
  return header;
}

uint32_t PeImage::SectionTableOffset() const {
  uint32_t optionalSize = Resolved().SizeOfOptionalHeader;
  if (optionalSize == 0) optionalSize = 96 + 8 * optional_.NumberOfRvaAndSizes;
  return OptionalHeaderOffset() + optionalSize;
}

namespace {

struct FlatDirectory {
  const ResourceDirectory* directory;
  std::vector<size_t> childIndex;  // per entry with a subdirectory
};

size_t Flatten(const ResourceDirectory& directory, std::vector<FlatDirectory>& flat) {
  size_t index = flat.size();
  flat.push_back(FlatDirectory{&directory, std::vector<size_t>(directory.Entries.size(), 0)});
  for (size_t i = 0; i < directory.Entries.size(); ++i) {
    const ResourceEntry& entry = directory.Entries[i];
    if (entry.Subdirectory) {
      size_t child = Flatten(*entry.Subdirectory, flat);
      flat[index].childIndex[i] = child;
    }
  }
  return index;
}

}  // namespace

const ResourceLayout& PeImage::SetResourceTree(const ResourceDirectory& root,
                                               uint32_t virtualAddress,
                                               uint32_t pointerToRawData) {
  std::vector<FlatDirectory> flat;
  (void)Flatten(root, flat);

  ResourceLayout layout;
  layout.BaseFileOffset = pointerToRawData;
  layout.BaseRva = virtualAddress;

  // Directories first (pre-order), then name strings, then data entries, then data.
  uint32_t cursor = 0;
  for (const FlatDirectory& node : flat) {
    layout.DirectoryOffsets.push_back(cursor);
    cursor += 16 + 8 * static_cast<uint32_t>(node.directory->Entries.size());
  }
  std::vector<std::vector<uint32_t>> nameOffset(flat.size()), dataEntryOffset(flat.size()),
      dataOffset(flat.size());
  for (size_t d = 0; d < flat.size(); ++d) {
    nameOffset[d].assign(flat[d].directory->Entries.size(), 0);
    for (size_t i = 0; i < flat[d].directory->Entries.size(); ++i) {
      const ResourceEntry& entry = flat[d].directory->Entries[i];
      if (!entry.Named) continue;
      nameOffset[d][i] = cursor;
      cursor += 2 + 2 * static_cast<uint32_t>(entry.Name.size());
    }
  }
  cursor = AlignUp(cursor, 4);
  for (size_t d = 0; d < flat.size(); ++d) {
    dataEntryOffset[d].assign(flat[d].directory->Entries.size(), 0);
    for (size_t i = 0; i < flat[d].directory->Entries.size(); ++i) {
      if (!flat[d].directory->Entries[i].HasData) continue;
      dataEntryOffset[d][i] = cursor;
      cursor += 16;
    }
  }
  for (size_t d = 0; d < flat.size(); ++d) {
    dataOffset[d].assign(flat[d].directory->Entries.size(), 0);
    for (size_t i = 0; i < flat[d].directory->Entries.size(); ++i) {
      const ResourceEntry& entry = flat[d].directory->Entries[i];
      if (!entry.HasData) continue;
      dataOffset[d][i] = cursor;
      layout.DataRvas.push_back(virtualAddress + cursor);
      cursor = AlignUp(cursor + static_cast<uint32_t>(entry.Data.size()), 4);
    }
  }
  layout.Size = cursor;

  std::vector<uint8_t> raw(cursor, 0);
  for (size_t d = 0; d < flat.size(); ++d) {
    const ResourceDirectory& directory = *flat[d].directory;
    uint32_t at = layout.DirectoryOffsets[d];
    uint16_t named = static_cast<uint16_t>(std::count_if(
        directory.Entries.begin(), directory.Entries.end(),
        [](const ResourceEntry& e) { return e.Named; }));
    StoreU16Le(raw, at + 12, named);
    StoreU16Le(raw, at + 14, static_cast<uint16_t>(directory.Entries.size() - named));
    for (size_t i = 0; i < directory.Entries.size(); ++i) {
      const ResourceEntry& entry = directory.Entries[i];
      uint32_t entryAt = at + 16 + 8 * static_cast<uint32_t>(i);
      if (entry.Named) {
        StoreU32Le(raw, entryAt, 0x80000000u | nameOffset[d][i]);
        StoreU16Le(raw, nameOffset[d][i], static_cast<uint16_t>(entry.Name.size()));
        std::vector<uint8_t> units = Utf16Le(entry.Name);
        std::copy(units.begin(), units.end(), raw.begin() + nameOffset[d][i] + 2);
      } else {
        StoreU32Le(raw, entryAt, entry.Id);
      }
      uint32_t target = 0;
      if (entry.HasRawTarget) {
        target = entry.RawOffsetToData;
      } else if (entry.Subdirectory) {
        target = 0x80000000u | layout.DirectoryOffsets[flat[d].childIndex[i]];
      } else if (entry.HasData) {
        target = dataEntryOffset[d][i];
        StoreU32Le(raw, target, virtualAddress + dataOffset[d][i]);
        StoreU32Le(raw, target + 4, static_cast<uint32_t>(entry.Data.size()));
        StoreU32Le(raw, target + 8, entry.CodePage);
        std::copy(entry.Data.begin(), entry.Data.end(), raw.begin() + dataOffset[d][i]);
      } else {
        throw std::logic_error("resource entry without a target");
      }
      StoreU32Le(raw, entryAt + 4, target);
    }
  }

  uint32_t rawSize = AlignUp(std::max<uint32_t>(cursor, 1), 0x200);
  AddSection(".rsrc", virtualAddress, cursor, pointerToRawData, rawSize, ReadOnlyDataSection,
             std::move(raw));
  directories_[2] = DataDirectory{virtualAddress, cursor};
  resourceLayout_ = std::move(layout);
  return resourceLayout_;
}

std::vector<uint8_t> PeImage::Bytes() const {
  const FileHeaderFields header = Resolved();
  const uint32_t tableOffset = SectionTableOffset();
  const uint64_t tableEnd = uint64_t{tableOffset} + 40 * uint64_t{sections_.size()};
  if (tableEnd > MaxFixtureExtent) throw std::logic_error("headers beyond the fixture limit");

  OptionalHeader32 optional = optional_;
  uint32_t headersSize = AlignUp(static_cast<uint32_t>(tableEnd), 0x200);
  if (optional.SizeOfHeaders == 0) optional.SizeOfHeaders = headersSize;
  if (optional.SizeOfImage == 0) {
    uint32_t end = AlignUp(headersSize, 0x1000);
    for (const Section& s : sections_) {
      uint64_t sectionEnd = uint64_t{s.VirtualAddress} + std::max(s.VirtualSize, s.SizeOfRawData);
      if (sectionEnd <= 0xFFFFF000u) end = std::max(end, AlignUp(static_cast<uint32_t>(sectionEnd), 0x1000));
    }
    optional.SizeOfImage = end;
  }

  std::vector<uint8_t> bytes(headersSize, 0);
  // DOS header: "MZ", the usual real-mode fields, e_lfanew at 0x3C.
  bytes[0] = 'M';
  bytes[1] = 'Z';
  StoreU16Le(bytes, 0x02, 0x0090);  // e_cblp
  StoreU16Le(bytes, 0x04, 0x0003);  // e_cp
  StoreU16Le(bytes, 0x08, 0x0004);  // e_cparhdr
  StoreU16Le(bytes, 0x0C, 0xFFFF);  // e_maxalloc
  StoreU16Le(bytes, 0x10, 0x00B8);  // e_sp
  StoreU16Le(bytes, 0x18, 0x0040);  // e_lfarlc
  StoreU32Le(bytes, 0x3C, peHeaderOffset_);

  const uint8_t signature[4] = {'P', 'E', 0, 0};
  Put(bytes, peHeaderOffset_, signature, 4);
  IMAGE_FILE_HEADER fileHeader{};
  fileHeader.Machine = header.Machine;
  fileHeader.NumberOfSections = header.NumberOfSections;
  fileHeader.TimeDateStamp = header.TimeDateStamp;
  fileHeader.PointerToSymbolTable = header.PointerToSymbolTable;
  fileHeader.NumberOfSymbols = header.NumberOfSymbols;
  fileHeader.SizeOfOptionalHeader = header.SizeOfOptionalHeader;
  fileHeader.Characteristics = header.Characteristics;
  PutRecord(bytes, FileHeaderOffset(), fileHeader);
  PutRecord(bytes, OptionalHeaderOffset(), optional);
  // Data directories, as many as fit before the section table.
  for (size_t i = 0; i < directories_.size(); ++i) {
    uint64_t at = uint64_t{OptionalHeaderOffset()} + 96 + 8 * i;
    if (at + 8 > tableOffset) break;
    std::vector<uint8_t> entry;
    StoreU32Le(entry, 0, directories_[i].VirtualAddress);
    StoreU32Le(entry, 4, directories_[i].Size);
    Put(bytes, at, entry.data(), entry.size());
  }

  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    IMAGE_SECTION_HEADER record{};
    std::memcpy(record.Name, s.Name.data(), std::min<size_t>(s.Name.size(), IMAGE_SIZEOF_SHORT_NAME));
    record.Misc.VirtualSize = s.VirtualSize;
    record.VirtualAddress = s.VirtualAddress;
    record.SizeOfRawData = s.SizeOfRawData;
    record.PointerToRawData = s.PointerToRawData;
    record.PointerToRelocations = s.PointerToRelocations;
    record.PointerToLinenumbers = s.PointerToLinenumbers;
    record.NumberOfRelocations = s.NumberOfRelocations;
    record.NumberOfLinenumbers = s.NumberOfLinenumbers;
    record.Characteristics = s.Characteristics;
    PutRecord(bytes, tableOffset + 40 * uint64_t{i}, record);
  }

  for (const Section& s : sections_) {
    uint64_t rawEnd = uint64_t{s.PointerToRawData} + s.SizeOfRawData;
    if (rawEnd <= MaxFixtureExtent && rawEnd > bytes.size()) bytes.resize(rawEnd, 0);
    if (uint64_t{s.PointerToRawData} + s.Raw.size() > MaxFixtureExtent)
      throw std::logic_error("section raw bytes beyond the fixture limit");
    Put(bytes, s.PointerToRawData, s.Raw.data(), s.Raw.size());
  }

  for (const Patch& patch : patches_) {
    if (uint64_t{patch.offset} + patch.bytes.size() > MaxFixtureExtent)
      throw std::logic_error("patch beyond the fixture limit");
    Put(bytes, patch.offset, patch.bytes.data(), patch.bytes.size());
  }

  if (hasFileLength_) bytes.resize(fileLength_, 0);
  return bytes;
}

}  // namespace testpe

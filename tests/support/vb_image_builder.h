// A PE32 image of a Visual Basic 5/6 program, built on testpe::PeImage: the entry
// code (push of the program header's VA, call backwards), the program header, the
// project information with its UTF-16 project path, the COM registration data, the
// start code, a version resource whose data holds an InternalName, and any bytes
// at fixed file offsets. Records are plain byte images placed at VAs; a test edits
// a field by record and offset, exactly as the signatures name it.
//
//   testpe::VbImage image = testpe::VariantAImage();       // variant_images.h
//   image.Set(testpe::VbRecord::Header, 0x04, 2, 0x2635);  // VbHeader +0x04 (u16)
//   testpe::TempFile file = image.Write();
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/pe_image_builder.h"

namespace testpe {

enum class VbRecord {
  EntryCode,    // the first EntryCodeHeadSize bytes at the entry point
  Header,       // VbHeader, 104 bytes
  ProjectInfo,  // VbProjectInfo, 572 bytes
  ComRegData,   // the first 42 bytes of the COM registration data
  StartCode,    // 64 bytes at the VA in VbHeader +0x2C
  VersionData,  // the version resource's data (its size is fixed when it is laid out)
};

constexpr uint32_t EntryCodeHeadSize = 32;
constexpr uint32_t VersionDataSize = 512;
constexpr uint32_t DefaultVersionKeyOffset = 0x120;

class VbImage {
 public:
  // ImageBase 0x400000, FileAlignment and SectionAlignment 0x1000, e_lfanew 0x100
  // (so that the DOS stub area from 0x40 holds test bytes), no sections yet.
  VbImage();

  PeImage& Pe() { return pe_; }
  const PeImage& Pe() const { return pe_; }

  // Placement: each writes the pointer that leads to the record, where the program
  // keeps it (the entry code's push, VbHeader +0x30, +0x54, +0x2C), and remembers
  // where the record's bytes go. A later Set of that pointer field changes only the
  // pointer, not the placement.
  void PlaceEntryPoint(uint32_t rva);  // also AddressOfEntryPoint
  void PlaceHeader(uint32_t va);
  void PlaceProjectInfo(uint32_t va);
  void PlaceComRegData(uint32_t va);
  void PlaceStartCode(uint32_t va);
  // Lays out a resource tree with one version resource (type 16, name 1, language
  // 0x409) of VersionDataSize bytes as a new section.
  void PlaceVersionResource(uint32_t rva, uint32_t pointerToRawData);

  // Field access by record, byte offset and width (1, 2 or 4), little-endian.
  void Set(VbRecord record, uint32_t offset, uint32_t width, uint32_t value);
  uint32_t Get(VbRecord record, uint32_t offset, uint32_t width) const;
  std::vector<uint8_t>& Bytes(VbRecord record);

  // The project path as UTF-16 units at VbProjectInfo +0x24, zero unit appended
  // when it fits (264 units of room).
  void SetProjectPath(const std::u16string& path);
  // The version data: zeros, the key "InternalName" and its zero unit at keyOffset,
  // then the value's units and a zero unit.
  void SetInternalName(const std::u16string& value, uint32_t keyOffset = DefaultVersionKeyOffset);

  // Where a record lies in the file (from its placement VA and the section table).
  uint32_t FileOffsetOf(VbRecord record) const;
  uint32_t VaOf(VbRecord record) const;
  uint32_t VaToFileOffset(uint32_t va) const;

  // Written after every record, so they can overwrite anything.
  void PutBytes(uint32_t fileOffset, std::vector<uint8_t> bytes);
  void SetFileLength(uint32_t length) { pe_.SetFileLength(length); }

  std::vector<uint8_t> Bytes() const;
  TempFile Write() const { return TempFile(Bytes()); }

 private:
  struct Patch {
    uint32_t offset;
    std::vector<uint8_t> bytes;
  };
  const std::vector<uint8_t>& RecordBytes(VbRecord record) const;

  PeImage pe_;
  uint32_t entryRva_ = 0;
  uint32_t headerVa_ = 0;
  uint32_t projectInfoVa_ = 0;
  uint32_t comRegDataVa_ = 0;
  uint32_t startCodeVa_ = 0;
  uint32_t versionDataRva_ = 0;
  bool hasVersion_ = false;
  std::vector<uint8_t> entryCode_;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> projectInfo_;
  std::vector<uint8_t> comRegData_;
  std::vector<uint8_t> startCode_;
  std::vector<uint8_t> versionData_;
  std::vector<Patch> patches_;
};

// UTF-16LE bytes of the key "InternalName" followed by its zero unit (26 bytes).
std::vector<uint8_t> InternalNameKey();

}  // namespace testpe

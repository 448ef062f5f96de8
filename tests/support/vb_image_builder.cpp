#include "tests/support/vb_image_builder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace testpe {

namespace {

constexpr uint32_t ImageBase = 0x400000;
constexpr uint32_t PushedAddressAt = 0x01;
constexpr uint32_t ProjectInfoAddressAt = 0x30;
constexpr uint32_t ComRegDataAddressAt = 0x54;
constexpr uint32_t StartCodeAddressAt = 0x2C;
constexpr uint32_t ProjectPathAt = 0x24;
constexpr uint32_t ProjectPathUnits = 264;
constexpr uint32_t RtVersion = 16;

void Store(std::vector<uint8_t>& bytes, uint32_t offset, uint32_t width, uint32_t value) {
  if (offset + width > bytes.size()) throw std::logic_error("field beyond its record");
  for (uint32_t i = 0; i < width; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<uint8_t> InternalNameKey() {
  std::vector<uint8_t> key = Utf16Le(u"InternalName");
  key.push_back(0);
  key.push_back(0);
  return key;
}

VbImage::VbImage()
    : entryCode_(EntryCodeHeadSize, 0),
      header_(0x68, 0),
      projectInfo_(0x23C, 0),
      comRegData_(0x2A, 0),
      startCode_(64, 0),
      versionData_(VersionDataSize, 0) {
  pe_.PeHeaderOffset() = 0x100;
  pe_.Optional().FileAlignment = 0x1000;
  pe_.Optional().SectionAlignment = 0x1000;
  pe_.Optional().ImageBase = ImageBase;
}

void VbImage::PlaceEntryPoint(uint32_t rva) {
  entryRva_ = rva;
  pe_.Optional().AddressOfEntryPoint = rva;
}

void VbImage::PlaceHeader(uint32_t va) {
  headerVa_ = va;
  Store(entryCode_, PushedAddressAt, 4, va);
}

void VbImage::PlaceProjectInfo(uint32_t va) {
  projectInfoVa_ = va;
  Store(header_, ProjectInfoAddressAt, 4, va);
}

void VbImage::PlaceComRegData(uint32_t va) {
  comRegDataVa_ = va;
  Store(header_, ComRegDataAddressAt, 4, va);
}

void VbImage::PlaceStartCode(uint32_t va) {
  startCodeVa_ = va;
  Store(header_, StartCodeAddressAt, 4, va);
}

void VbImage::PlaceVersionResource(uint32_t rva, uint32_t pointerToRawData) {
  ResourceDirectory languages;
  languages.Entries.push_back(IdData(0x409, std::vector<uint8_t>(VersionDataSize, 0)));
  ResourceDirectory names;
  names.Entries.push_back(IdDirectory(1, languages));
  ResourceDirectory root;
  root.Entries.push_back(IdDirectory(RtVersion, names));
  const ResourceLayout& layout = pe_.SetResourceTree(root, rva, pointerToRawData);
  versionDataRva_ = layout.DataRvas.at(0);
  hasVersion_ = true;
}

std::vector<uint8_t>& VbImage::Bytes(VbRecord record) {
  return const_cast<std::vector<uint8_t>&>(RecordBytes(record));
}

const std::vector<uint8_t>& VbImage::RecordBytes(VbRecord record) const {
  switch (record) {
    case VbRecord::EntryCode: return entryCode_;
    case VbRecord::Header: return header_;
    case VbRecord::ProjectInfo: return projectInfo_;
    case VbRecord::ComRegData: return comRegData_;
    case VbRecord::StartCode: return startCode_;
    case VbRecord::VersionData: return versionData_;
  }
  throw std::logic_error("unknown record");
}

void VbImage::Set(VbRecord record, uint32_t offset, uint32_t width, uint32_t value) {
  Store(Bytes(record), offset, width, value);
}

uint32_t VbImage::Get(VbRecord record, uint32_t offset, uint32_t width) const {
  const std::vector<uint8_t>& bytes = RecordBytes(record);
  if (offset + width > bytes.size()) throw std::logic_error("field beyond its record");
  uint32_t value = 0;
  for (uint32_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
  return value;
}

void VbImage::SetProjectPath(const std::u16string& path) {
  if (path.size() > ProjectPathUnits) throw std::logic_error("project path longer than its field");
  std::fill(projectInfo_.begin() + ProjectPathAt, projectInfo_.begin() + ProjectPathAt + 2 * ProjectPathUnits, 0);
  const std::vector<uint8_t> units = Utf16Le(path);
  std::copy(units.begin(), units.end(), projectInfo_.begin() + ProjectPathAt);
}

void VbImage::SetInternalName(const std::u16string& value, uint32_t keyOffset) {
  std::fill(versionData_.begin(), versionData_.end(), 0);
  std::vector<uint8_t> text = InternalNameKey();
  const std::vector<uint8_t> units = Utf16Le(value);
  text.insert(text.end(), units.begin(), units.end());
  if (keyOffset + text.size() > versionData_.size()) throw std::logic_error("InternalName beyond the data");
  std::copy(text.begin(), text.end(), versionData_.begin() + keyOffset);
}

uint32_t VbImage::VaOf(VbRecord record) const {
  switch (record) {
    case VbRecord::EntryCode: return ImageBase + entryRva_;
    case VbRecord::Header: return headerVa_;
    case VbRecord::ProjectInfo: return projectInfoVa_;
    case VbRecord::ComRegData: return comRegDataVa_;
    case VbRecord::StartCode: return startCodeVa_;
    case VbRecord::VersionData: return ImageBase + versionDataRva_;
  }
  throw std::logic_error("unknown record");
}

// The plain mapping of a well-formed image: the section whose extent holds the
// RVA, or the RVA itself below the first section (the headers).
uint32_t VbImage::VaToFileOffset(uint32_t va) const {
  const uint32_t rva = va - ImageBase;
  uint32_t lowest = 0xFFFFFFFFu;
  for (size_t i = 0; i < pe_.SectionCount(); ++i) {
    // SectionAt has no const overload; the section is only read here.
    const Section& s = const_cast<PeImage&>(pe_).SectionAt(i);
    lowest = std::min(lowest, s.VirtualAddress);
    if (s.SizeOfRawData == 0) continue;
    const uint32_t size = std::max(s.VirtualSize, s.SizeOfRawData);
    if (rva >= s.VirtualAddress && rva - s.VirtualAddress < size) return s.PointerToRawData + (rva - s.VirtualAddress);
  }
  if (rva < lowest) return rva;
  throw std::logic_error("VA outside every section with raw data");
}

uint32_t VbImage::FileOffsetOf(VbRecord record) const { return VaToFileOffset(VaOf(record)); }

void VbImage::PutBytes(uint32_t fileOffset, std::vector<uint8_t> bytes) {
  patches_.push_back(Patch{fileOffset, std::move(bytes)});
}

std::vector<uint8_t> VbImage::Bytes() const {
  PeImage image = pe_;
  // Later writes win where records overlap; the entry code goes last so that the
  // push and call always stand at the entry point.
  if (startCodeVa_ != 0) image.PutBytes(FileOffsetOf(VbRecord::StartCode), startCode_);
  if (projectInfoVa_ != 0) image.PutBytes(FileOffsetOf(VbRecord::ProjectInfo), projectInfo_);
  if (comRegDataVa_ != 0) image.PutBytes(FileOffsetOf(VbRecord::ComRegData), comRegData_);
  if (headerVa_ != 0) image.PutBytes(FileOffsetOf(VbRecord::Header), header_);
  if (hasVersion_) image.PutBytes(FileOffsetOf(VbRecord::VersionData), versionData_);
  if (entryRva_ != 0) image.PutBytes(FileOffsetOf(VbRecord::EntryCode), entryCode_);
  for (const Patch& patch : patches_) image.PutBytes(patch.offset, patch.bytes);
  return image.Bytes();
}

}  // namespace testpe

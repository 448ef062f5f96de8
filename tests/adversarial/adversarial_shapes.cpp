#include "tests/adversarial/adversarial_shapes.h"

#include <cstring>

#include "tests/support/pe_image_builder.h"
#include "tests/support/variant_images.h"

namespace adversarial {

namespace {

using testpe::PeImage;
using testpe::StoreU16Le;
using testpe::StoreU32Le;

constexpr uint32_t SubdirectoryBit = 0x80000000u;
constexpr uint32_t RtVersion = 16;

// A plain image with one code section holding 4 KB of entry code at RVA 0x1000:
// every field a shape does not change is sane, so each shape breaks one thing.
PeImage SaneImage() {
  PeImage image;
  image.Optional().AddressOfEntryPoint = 0x1000;
  image.AddSection(".text", 0x1000, 0x1000, 0x400, 0x1000, testpe::CodeSection,
                   std::vector<uint8_t>(0x1000, 0xCC));
  return image;
}

ImageShape Shape(const std::string& name, const PeImage& image) { return {name, image.Bytes()}; }

// A section table of 65,535 entries that really is in the file (2.6 MB): every
// address mapping and every lookup by name walks all of it.
ImageShape SixtyFiveThousandSections() {
  PeImage image = SaneImage();
  image.FileHeader().NumberOfSections = 0xFFFF;
  uint32_t table = image.SectionTableOffset();
  std::vector<uint8_t> headers(40u * 0xFFFF, 0);
  for (uint32_t i = 0; i < 0xFFFF; ++i) {
    uint8_t* header = headers.data() + 40 * i;
    std::memcpy(header, ".s", 2);
    std::vector<uint8_t> fields;
    StoreU32Le(fields, 0, 0x1000);                  // VirtualSize
    StoreU32Le(fields, 4, 0x2000 + 0x1000 * i);     // VirtualAddress, past the entry point
    StoreU32Le(fields, 8, 0x200);                   // SizeOfRawData
    StoreU32Le(fields, 12, 0x400);                  // PointerToRawData
    std::memcpy(header + 8, fields.data(), fields.size());
  }
  // Entry 0 stays the real code section so that the entry point maps.
  image.PutBytes(table + 40, std::vector<uint8_t>(headers.begin() + 40, headers.end()));
  return Shape("sections_65535_in_file", image);
}

ImageShape ClaimedSections(const std::string& name, uint16_t count) {
  PeImage image = SaneImage();
  image.FileHeader().NumberOfSections = count;
  return Shape(name, image);
}

ImageShape PeOffset(const std::string& name, uint32_t eLfanew) {
  PeImage image = SaneImage();
  image.PutU32(0x3C, eLfanew);
  return Shape(name, image);
}

ImageShape WrappingSection() {
  PeImage image;
  image.Optional().AddressOfEntryPoint = 0xFFFFF800;
  image.AddSection(".wrap", 0xFFFFF000, 0x2000, 0x400, 0x400, testpe::CodeSection);
  image.PutU32(image.SectionHeaderOffset(0) + 20, 0xFFFFFE00);  // PointerToRawData
  image.SetFileLength(0x2000);
  return Shape("section_ranges_wrap_32_bits", image);
}

ImageShape EntryInWrappingRawData() {
  PeImage image;
  image.Optional().AddressOfEntryPoint = 0x1800;
  image.AddSection(".wrap", 0x1000, 0x1000, 0x400, 0x1000, testpe::CodeSection);
  image.PutU32(image.SectionHeaderOffset(0) + 20, 0xFFFFFF00);  // PointerToRawData
  image.SetFileLength(0x2000);
  return Shape("raw_data_pointer_wraps", image);
}

// Raw resource trees, written directory by directory at offsets from the base.
void PutDirectory(std::vector<uint8_t>& tree, uint32_t at, uint16_t named, uint16_t ids) {
  StoreU16Le(tree, at + 12, named);
  StoreU16Le(tree, at + 14, ids);
}

void PutEntry(std::vector<uint8_t>& tree, uint32_t directory, uint32_t index, uint32_t name,
              uint32_t offsetToData) {
  StoreU32Le(tree, directory + 16 + 8 * index, name);
  StoreU32Le(tree, directory + 16 + 8 * index + 4, offsetToData);
}

// A chain of `levels` directories below the root, one entry each; the last one
// holds a data entry, which a walk limited to 50 levels below the root never reads.
std::vector<uint8_t> ChainTree(uint32_t levels) {
  std::vector<uint8_t> tree;
  constexpr uint32_t Stride = 24;
  for (uint32_t level = 0; level <= levels; ++level) {
    uint32_t at = level * Stride;
    PutDirectory(tree, at, 0, 1);
    uint32_t id = level == 0 ? RtVersion : 1;
    if (level < levels) {
      PutEntry(tree, at, 0, id, SubdirectoryBit | (at + Stride));
    } else {
      uint32_t dataEntry = (levels + 1) * Stride;
      PutEntry(tree, at, 0, id, dataEntry);
      StoreU32Le(tree, dataEntry, 0x3000);  // OffsetToData (an RVA)
      StoreU32Le(tree, dataEntry + 4, 0x1E0);
      StoreU32Le(tree, dataEntry + 12, 0);
    }
  }
  return tree;
}

// 50 levels of directories in which every entry leads to the same next directory
// and the last directory is empty. No pointer leads back to a directory on the
// path, yet a walk that revisits shared directories visits width^50 entries.
std::vector<uint8_t> SharedChildren(uint16_t width, uint32_t levels) {
  std::vector<uint8_t> tree;
  uint32_t stride = 16 + 8u * width;
  for (uint32_t level = 0; level < levels; ++level) {
    uint32_t at = level * stride;
    PutDirectory(tree, at, 0, width);
    for (uint32_t i = 0; i < width; ++i) {
      PutEntry(tree, at, i, level == 0 ? RtVersion : i + 1, SubdirectoryBit | (at + stride));
    }
  }
  PutDirectory(tree, levels * stride, 0, 0);
  return tree;
}

std::vector<uint8_t> SelfLoop() {
  std::vector<uint8_t> tree;
  PutDirectory(tree, 0, 0, 1);
  PutEntry(tree, 0, 0, RtVersion, SubdirectoryBit | 0);
  return tree;
}

std::vector<uint8_t> LoopOfEight() {
  std::vector<uint8_t> tree;
  constexpr uint32_t Stride = 32;
  for (uint32_t i = 0; i < 8; ++i) {
    uint32_t at = i * Stride;
    PutDirectory(tree, at, 0, 2);
    uint32_t next = (i + 1) % 8 * Stride;  // the last leads back to the root
    PutEntry(tree, at, 0, i == 0 ? RtVersion : 1, SubdirectoryBit | next);
    PutEntry(tree, at, 1, i == 0 ? RtVersion : 2, SubdirectoryBit | at);  // and to itself
  }
  return tree;
}

// Counts that claim 65,535 entries (or twice that) in a file of a few dozen bytes.
std::vector<uint8_t> ClaimedEntries(uint16_t named, uint16_t ids) {
  std::vector<uint8_t> tree;
  PutDirectory(tree, 0, named, ids);
  PutEntry(tree, 0, 0, SubdirectoryBit | 0x7FFFFFF0u, SubdirectoryBit | 0);
  PutEntry(tree, 0, 1, RtVersion, SubdirectoryBit | 0);
  return tree;
}

// Named entries whose name strings lie past the end, claim 65,535 units, or point
// at the directory itself.
std::vector<uint8_t> HostileNames() {
  std::vector<uint8_t> tree;
  PutDirectory(tree, 0, 4, 0);
  PutEntry(tree, 0, 0, SubdirectoryBit | 0x7FFFFFFFu, SubdirectoryBit | 0);
  PutEntry(tree, 0, 1, SubdirectoryBit | 64, SubdirectoryBit | 0);
  PutEntry(tree, 0, 2, SubdirectoryBit | 0, SubdirectoryBit | 0);
  PutEntry(tree, 0, 3, SubdirectoryBit | 70, 0xFFFFFFF0u);
  StoreU16Le(tree, 64, 0xFFFF);
  StoreU16Le(tree, 70, 3);
  StoreU16Le(tree, 72, 'A');
  StoreU16Le(tree, 74, 'B');
  StoreU16Le(tree, 76, 'C');
  return tree;
}

}  // namespace

std::vector<ImageShape> ImageShapes() {
  std::vector<ImageShape> shapes;
  shapes.push_back({"empty_file", {}});
  shapes.push_back(SixtyFiveThousandSections());
  shapes.push_back(ClaimedSections("sections_65535_claimed_in_short_file", 0xFFFF));
  shapes.push_back(ClaimedSections("sections_0", 0));
  shapes.push_back(PeOffset("e_lfanew_negative", 0x80000000u));
  shapes.push_back(PeOffset("e_lfanew_minus_one", 0xFFFFFFFFu));
  shapes.push_back(PeOffset("e_lfanew_past_end", 0x7FFFFFF0u));
  shapes.push_back(PeOffset("e_lfanew_into_itself", 0x3C));
  shapes.push_back(PeOffset("e_lfanew_zero", 0));
  {
    PeImage image = SaneImage();
    image.FileHeader().SizeOfOptionalHeader = 0xFFFF;
    shapes.push_back(Shape("size_of_optional_header_65535", image));
  }
  {
    PeImage image = SaneImage();
    image.Optional().FileAlignment = 0;
    shapes.push_back(Shape("file_alignment_0", image));
  }
  {
    PeImage image = SaneImage();
    image.Optional().NumberOfRvaAndSizes = 0xFFFFFFFFu;
    image.FileHeader().SizeOfOptionalHeader = 0;
    shapes.push_back(Shape("rva_and_sizes_huge_without_optional_size", image));
  }
  shapes.push_back(WrappingSection());
  shapes.push_back(EntryInWrappingRawData());
  {
    PeImage image = SaneImage();
    image.Directory(2).VirtualAddress = 0x1000;  // resource table inside the code bytes
    image.Directory(2).Size = 0x1000;
    shapes.push_back(Shape("resource_table_over_code", image));
  }
  for (const ResourceShape& tree : ResourceShapes()) shapes.push_back(VariantAWithTree(tree));
  return shapes;
}

std::vector<ResourceShape> ResourceShapes() {
  return {
      {"tree_points_to_itself", SelfLoop(), RtVersion, nullptr},
      {"tree_loop_of_eight_directories", LoopOfEight(), RtVersion, nullptr},
      {"tree_loop_with_name_filter", LoopOfEight(), 0, "ABC"},
      {"tree_51_levels_deep", ChainTree(51), RtVersion, nullptr},
      {"tree_claims_65535_entries", ClaimedEntries(0, 0xFFFF), RtVersion, nullptr},
      {"tree_claims_131070_entries", ClaimedEntries(0xFFFF, 0xFFFF), 0, "ABC"},
      {"tree_hostile_names", HostileNames(), 0, "ABC"},
      {"tree_shared_children_2_wide_50_deep", SharedChildren(2, 50), RtVersion, nullptr},
      {"tree_shared_children_16_wide_50_deep", SharedChildren(16, 50), RtVersion, nullptr},
      {"tree_shared_children_2_wide_50_deep_name_filter", SharedChildren(2, 50), 0, "ABC"},
  };
}

ImageShape VariantAWithTree(const ResourceShape& tree) {
  testpe::VbImage image = testpe::VariantAImage();
  uint32_t rva = image.Pe().Directory(2).VirtualAddress;
  uint32_t base = image.VaToFileOffset(image.Pe().Optional().ImageBase + rva);
  image.PutBytes(base, tree.bytes);
  return {"variant_a_with_" + tree.name, image.Bytes()};
}

}  // namespace adversarial

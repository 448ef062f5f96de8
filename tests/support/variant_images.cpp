#include "tests/support/variant_images.h"

#include <stdexcept>

namespace testpe {

namespace {

using R = VbRecord;

// What every Visual Basic 6 program of these builds shares: the entry code
// `push header; call backwards` and the program header fields that all four
// signatures pin the same way.
void SetCommonFields(VbImage& image) {
  image.Set(R::EntryCode, 0x00, 1, 0x68);
  image.Set(R::EntryCode, 0x05, 1, 0xE8);
  image.Set(R::EntryCode, 0x06, 4, 0xFFFFFFEE);  // call rel32 -18: bytes 7, 8, 9 are 0xFF

  image.Bytes(R::Header)[0] = 'V';
  image.Bytes(R::Header)[1] = 'B';
  image.Bytes(R::Header)[2] = '5';
  image.Bytes(R::Header)[3] = '!';
  image.Set(R::Header, 0x04, 2, 0x1FF0);
  image.Set(R::Header, 0x06, 1, 0x2A);  // "*": language DLL name
  image.Set(R::Header, 0x14, 1, 0x7E);  // "~": backup language DLL name
  image.Set(R::Header, 0x22, 2, 0x0A);
  image.Set(R::Header, 0x24, 4, 0x409);
  image.Set(R::Header, 0x34, 4, 0x30F000);
  image.Set(R::Header, 0x38, 4, 0xFFFFFF00);
  image.Set(R::Header, 0x3C, 4, 8);
  image.Set(R::Header, 0x40, 4, 1);
  image.Set(R::Header, 0x48, 4, 0xE9);

  image.Set(R::ComRegData, 0x04, 4, 0x30);
  image.Set(R::ComRegData, 0x08, 4, 0x40);
  image.Set(R::ComRegData, 0x26, 2, 1);
}

// Three sections: .text with raw data, .data without, and a resource section
// holding the version resource whose raw extent is resourceRawSize.
void AddSections(VbImage& image, uint32_t textVirtualSize, uint32_t textRawSize, uint32_t dataRva,
                 uint32_t resourceRva, uint32_t resourceRaw, uint32_t resourceRawSize) {
  image.Pe().AddSection(".text", 0x1000, textVirtualSize, 0x1000, textRawSize, CodeSection);
  image.Pe().AddSection(".data", dataRva, 0x818, 0, 0, DataSection);
  image.PlaceVersionResource(resourceRva, resourceRaw);
  image.Pe().SectionAt(2).SizeOfRawData = resourceRawSize;
  image.Pe().Optional().SizeOfCode = textRawSize;
  image.Pe().Optional().BaseOfCode = 0x1000;
  image.Pe().Optional().BaseOfData = dataRva;
}

}  // namespace

std::vector<uint8_t> JumpThunks(uint32_t count) {
  std::vector<uint8_t> bytes;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t slot = 0x401000 + 4 * i;
    bytes.push_back(0xFF);
    bytes.push_back(0x25);
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(slot >> (8 * b)));
  }
  return bytes;
}

std::vector<uint8_t> TemplateRecords(uint32_t count, uint32_t stride) {
  if (stride < 11) throw std::logic_error("records overlap");
  std::vector<uint8_t> bytes(count * stride, 0);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t record[11] = {0x76, 0x01, 0x00, 0x1B, static_cast<uint8_t>(i), 0x00,
                                0x2A, 0xFD, 0xB7, 0x01, 0x00};
    std::copy(record, record + 11, bytes.begin() + i * stride);
  }
  return bytes;
}

std::vector<uint8_t> StubPattern() {
  return {0xB7, 0x12, 0x07, 0xDB, 0xF3, 0x73, 0x69, 0x88, 0xF3, 0x73, 0x69, 0x88, 0xF3, 0x73, 0x69, 0x88};
}

VbImage VariantAImage() {
  VbImage image;
  AddSections(image, 0x3800, 0x4000, 0x5000, 0x6000, 0x5000, 0x1000);
  image.Pe().Optional().SizeOfInitializedData = 0x3000;
  image.Pe().Optional().MajorImageVersion = 1;
  image.PlaceEntryPoint(0x1100);
  image.PlaceHeader(0x401600);
  image.PlaceComRegData(0x401700);
  image.PlaceProjectInfo(0x401800);
  image.PlaceStartCode(0x402400);
  SetCommonFields(image);
  image.Set(R::EntryCode, 16, 1, 0x30);

  image.Set(R::Header, 0x04, 2, 0x2636);
  image.Set(R::Header, 0x44, 2, 3);
  image.Set(R::Header, 0x4C, 4, 0x401A40);
  image.Set(R::Header, 0x50, 4, 0x401A60);
  image.Set(R::Header, 0x58, 4, 0x78);
  image.Set(R::Header, 0x5C, 4, 0x81);
  image.Set(R::Header, 0x60, 4, 0x90);
  image.Set(R::Header, 0x64, 4, 0x88);

  image.Set(R::ProjectInfo, 0x00, 4, 0x1F4);
  image.Set(R::ProjectInfo, 0x04, 4, 0x402800);
  image.Set(R::ProjectInfo, 0x234, 4, 0x401C00);  // the project path stays empty

  // mov edx, imm32; mov ecx, imm32; jmp ecx: three groups with the same ecx.
  for (uint32_t group = 0; group < 3; ++group) {
    image.Set(R::StartCode, 12 * group + 0, 1, 0xBA);
    image.Set(R::StartCode, 12 * group + 1, 4, 0x402200 + 0x10 * group);
    image.Set(R::StartCode, 12 * group + 5, 1, 0xB9);
    image.Set(R::StartCode, 12 * group + 6, 4, 0x402400);
    image.Set(R::StartCode, 12 * group + 10, 2, 0xE1FF);
  }
  image.SetInternalName(u"Fishbowl");
  return image;
}

VbImage VariantBImage() {
  VbImage image;
  // The file ends at 0x20000, the smallest size variant B accepts.
  AddSections(image, 0x1E000, 0x1E000, 0x1F000, 0x20000, 0x1F000, 0x1000);
  image.Pe().Optional().SizeOfCode = 0x20000;
  image.Pe().Optional().SizeOfInitializedData = 0x2000;
  image.Pe().Optional().MajorImageVersion = 1;
  image.Pe().Optional().SizeOfImage = 0x40000;
  image.PlaceEntryPoint(0x1300);
  image.PlaceHeader(0x401600);
  image.PlaceComRegData(0x401700);
  image.PlaceProjectInfo(0x401800);
  SetCommonFields(image);

  image.Set(R::Header, 0x5C, 4, 0x7A);

  image.Set(R::ProjectInfo, 0x14, 4, 0x57C);
  image.Set(R::ProjectInfo, 0x238, 4, 4);
  image.SetProjectPath(u"C:\\Proj12\\app.vbp");
  image.SetInternalName(u"42");
  return image;
}

VbImage VariantCImage() {
  VbImage image;
  AddSections(image, 0x1A800, 0x1B000, 0x1C000, 0x1D000, 0x1C000, 0x1000);
  image.Pe().Optional().SizeOfInitializedData = 0x2000;
  image.Pe().Optional().SizeOfHeaders = 0x1000;
  image.PlaceEntryPoint(0x1180);
  image.PlaceHeader(0x401600);
  image.PlaceComRegData(0x4011C0);
  image.PlaceProjectInfo(0x401E00);
  SetCommonFields(image);

  image.Set(R::Header, 0x2C, 4, 0x401780);
  image.Set(R::Header, 0x4C, 4, 0x401200);
  image.Set(R::Header, 0x50, 4, 0x401200);
  image.Set(R::Header, 0x58, 4, 0x78);
  image.Set(R::Header, 0x5C, 4, 0x78);
  image.Set(R::Header, 0x60, 4, 0x88);
  image.Set(R::Header, 0x64, 4, 0x88);

  image.Set(R::ProjectInfo, 0x00, 4, 0x1F4);
  image.Set(R::ProjectInfo, 0x04, 4, 0x401C00);
  image.Set(R::ProjectInfo, 0x0C, 4, 0x41B700);
  image.Set(R::ProjectInfo, 0x10, 4, 0x41B600);
  image.Set(R::ProjectInfo, 0x14, 4, 0x818);
  image.Set(R::ProjectInfo, 0x18, 4, 0x41C000);
  image.Set(R::ProjectInfo, 0x1C, 4, 0x4011A0);
  image.Set(R::ProjectInfo, 0x234, 4, 0x401260);
  image.Set(R::ProjectInfo, 0x238, 4, 6);
  image.SetProjectPath(u"C:\\Work7\\stub.vbp");

  image.PutBytes(0x70, StubPattern());
  image.PutBytes(0x1B1B0, TemplateRecords(8, 13));
  image.SetInternalName(u"helper");
  return image;
}

VbImage VariantDImage() {
  VbImage image;
  AddSections(image, 0x1800, 0x2000, 0x3000, 0x4000, 0x3000, 0x1000);
  image.Pe().Optional().SizeOfInitializedData = 0x2000;
  image.PlaceEntryPoint(0x1180);
  image.PlaceHeader(0x401600);
  image.PlaceComRegData(0x401280);
  image.PlaceProjectInfo(0x401800);
  SetCommonFields(image);

  image.Set(R::Header, 0x2C, 4, 0x401900);
  image.Set(R::Header, 0x58, 4, 0x78);
  image.Set(R::Header, 0x5C, 4, 0x78);
  image.Set(R::Header, 0x60, 4, 0x78);
  image.Set(R::Header, 0x64, 4, 0x88);

  image.SetProjectPath(u"D:\\Src1\\x.vbp");
  // Import thunks near the start of the code, as the linker lays them out; the
  // first 0x40 bytes stay free for COM registration data placed at 0x401000.
  image.PutBytes(0x1040, JumpThunks(24));
  image.SetInternalName(u"helper");
  return image;
}

VbImage VariantImage(char variant) {
  switch (variant) {
    case 'A': return VariantAImage();
    case 'B': return VariantBImage();
    case 'C': return VariantCImage();
    case 'D': return VariantDImage();
  }
  throw std::logic_error("no such variant");
}

}  // namespace testpe

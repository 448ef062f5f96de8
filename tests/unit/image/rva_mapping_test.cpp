// Address mapping: every quirk here can change a signature's verdict, because the
// signatures read exact bytes at the offsets these functions hand out.
#include <gtest/gtest.h>

#include <functional>

#include "image/pe_header_reader.h"
#include "platform/crt_io.h"
#include "tests/support/pe_image_builder.h"

using testpe::OpenedFile;
using testpe::PeImage;

namespace {

struct MappingCase {
  const char* what;
  std::function<void(PeImage&)> build;
  uint32_t rva;
  uint32_t expected;
};

void PrintTo(const MappingCase& c, std::ostream* os) { *os << c.what; }

class RvaMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(RvaMapping, MapsAsTheLoaderLaysOutTheFile) {
  const MappingCase& c = GetParam();
  PeImage image;
  c.build(image);
  OpenedFile f(image.Bytes());
  EXPECT_EQ(RvaToFileOffset(f.fd, c.rva), c.expected);
}

// .text 0x1000..0x2000 from 0x400, .data 0x3000..0x3200 from 0x1400 (the last).
void TwoSections(PeImage& image) {
  image.AddSection(".text", 0x1000, 0x1000, 0x400, 0x1000, testpe::CodeSection);
  image.AddSection(".data", 0x3000, 0x200, 0x1400, 0x200, testpe::DataSection);
}

void AlignedAt(PeImage& image, uint32_t fileAlignment, uint16_t subsystem) {
  image.Optional().FileAlignment = fileAlignment;
  image.Optional().Subsystem = subsystem;
  image.AddSection(".text", 0x1000, 0x200, 0x1234, 0x200, testpe::CodeSection);
  image.AddSection(".data", 0x2000, 0x200, 0x1600, 0x200, testpe::DataSection);
}

const MappingCase kMappingCases[] = {
    {"inside first section", TwoSections, 0x1010, 0x410},
    {"first byte of a section", TwoSections, 0x3000, 0x1400},
    {"inside last section", TwoSections, 0x31FF, 0x15FF},
    {"end of last section is inclusive", TwoSections, 0x3200, 0x1600},
    {"one past end of last section", TwoSections, 0x3201, NoFileOffset},
    {"end of a non-last section is exclusive", TwoSections, 0x2000, NoFileOffset},
    {"gap between sections", TwoSections, 0x2800, NoFileOffset},
    {"below the first section maps to itself", TwoSections, 0x400, 0x400},
    {"zero maps to itself", TwoSections, 0, 0},
    {"beyond every section", TwoSections, 0x10000, NoFileOffset},
    {"end of a section that touches the next falls into the next",
     [](PeImage& i) {
       i.AddSection(".text", 0x1000, 0x1000, 0x400, 0x1000, testpe::CodeSection);
       i.AddSection(".data", 0x2000, 0x200, 0x2000, 0x200, testpe::DataSection);
       i.AddSection(".rsrc", 0x5000, 0x200, 0x2200, 0x200, testpe::DataSection);
     },
     0x2000, 0x2000},
    {"VirtualSize beyond raw data still maps, past the raw data",
     [](PeImage& i) {
       i.AddSection(".text", 0x1000, 0x2000, 0x400, 0x600, testpe::CodeSection);
       i.AddSection(".data", 0x3000, 0x200, 0xA00, 0x200, testpe::DataSection);
     },
     0x2F00, 0x400 + 0x1F00},
    {"SizeOfRawData beyond VirtualSize extends the section",
     [](PeImage& i) {
       i.AddSection(".text", 0x1000, 0x10, 0x400, 0x800, testpe::CodeSection);
       i.AddSection(".data", 0x3000, 0x200, 0xC00, 0x200, testpe::DataSection);
     },
     0x1700, 0xB00},
    {"overlapping sections: the later header wins",
     [](PeImage& i) {
       i.AddSection(".text", 0x1000, 0x2000, 0x400, 0x2000, testpe::CodeSection);
       i.AddSection(".over", 0x1800, 0x400, 0x4000, 0x400, testpe::DataSection);
       i.AddSection(".data", 0x5000, 0x200, 0x4400, 0x200, testpe::DataSection);
     },
     0x1900, 0x4100},
    {"overlap seen from the earlier section's part outside the later one",
     [](PeImage& i) {
       i.AddSection(".text", 0x1000, 0x2000, 0x400, 0x2000, testpe::CodeSection);
       i.AddSection(".over", 0x1800, 0x400, 0x4000, 0x400, testpe::DataSection);
       i.AddSection(".data", 0x5000, 0x200, 0x4400, 0x200, testpe::DataSection);
     },
     0x2000, 0x1400},
    {"SizeOfRawData 0 never maps but lowers the lowest address",
     [](PeImage& i) {
       i.AddSection(".bss", 0x1000, 0x1000, 0, 0, testpe::DataSection);
       i.AddSection(".text", 0x2000, 0x200, 0x400, 0x200, testpe::CodeSection);
     },
     0x1800, NoFileOffset},
    {"without the empty section the same RVA lies below the first",
     [](PeImage& i) { i.AddSection(".text", 0x2000, 0x200, 0x400, 0x200, testpe::CodeSection); },
     0x1800, 0x1800},
    {"empty last section gets no inclusive end",
     [](PeImage& i) {
       i.AddSection(".text", 0x1000, 0x200, 0x400, 0x200, testpe::CodeSection);
       i.AddSection(".bss", 0x2000, 0x200, 0x600, 0, testpe::DataSection);
     },
     0x2200, NoFileOffset},
    {"VirtualAddress plus size overflowing covers the top of the address space",
     [](PeImage& i) {
       i.AddSection(".text", 0x1000, 0x200, 0x400, 0x200, testpe::CodeSection);
       i.AddSection(".high", 0xFFFFF000, 0x2000, 0x600, 0x200, testpe::DataSection);
     },
     0xFFFFFFF0, 0x600 + 0xFF0},
    {"overflowing non-last section covers the top too",
     [](PeImage& i) {
       i.AddSection(".high", 0xFFFFF000, 0x2000, 0x600, 0x200, testpe::DataSection);
       i.AddSection(".text", 0x1000, 0x200, 0x400, 0x200, testpe::CodeSection);
     },
     0xFFFFFFFE, 0x600 + 0xFFE},
    {"no sections: every RVA maps to itself",
     [](PeImage&) {}, 0x12345678, 0x12345678},
    {"no sections: all bits set is no offset", [](PeImage&) {}, 0xFFFFFFFF, NoFileOffset},
    {"last header cut off: the walk stops and the RVA maps to itself",
     [](PeImage& i) {
       TwoSections(i);
       i.SetFileLength(i.SectionHeaderOffset(1) + 30);
     },
     0x1010, 0x1010},
    {"FileAlignment 512 clears the low 9 bits",
     [](PeImage& i) { AlignedAt(i, 512, 2); }, 0x1010, 0x1210},
    {"FileAlignment 4096 is capped to 512",
     [](PeImage& i) { AlignedAt(i, 4096, 2); }, 0x1010, 0x1210},
    {"FileAlignment 768 is capped to 512",
     [](PeImage& i) { AlignedAt(i, 768, 2); }, 0x1010, 0x1210},
    {"FileAlignment 32 clears the low 5 bits",
     [](PeImage& i) { AlignedAt(i, 32, 2); }, 0x1010, 0x1230},
    {"FileAlignment 1 keeps every bit",
     [](PeImage& i) { AlignedAt(i, 1, 2); }, 0x1010, 0x1244},
    {"FileAlignment 0 gives a mask of 0",
     [](PeImage& i) { AlignedAt(i, 0, 2); }, 0x1010, 0x10},
    {"native subsystem uses PointerToRawData unmasked",
     [](PeImage& i) { AlignedAt(i, 512, 1); }, 0x1010, 0x1244},
    {"native subsystem with FileAlignment 0",
     [](PeImage& i) { AlignedAt(i, 0, 1); }, 0x1010, 0x1244},
    {"SizeOfOptionalHeader 0 still finds the table",
     [](PeImage& i) {
       i.FileHeader().SizeOfOptionalHeader = 0;
       i.Optional().NumberOfRvaAndSizes = 2;
       TwoSections(i);
     },
     0x1010, 0x410},
};

INSTANTIATE_TEST_SUITE_P(Cases, RvaMapping, ::testing::ValuesIn(kMappingCases));

TEST(VaMapping, SubtractsImageBaseAndRefusesAddressesBelowIt) {
  PeImage image;
  image.Optional().ImageBase = 0x00400000;
  image.AddSection(".text", 0x1000, 0x1000, 0x400, 0x1000, testpe::CodeSection);
  OpenedFile f(image.Bytes());
  EXPECT_EQ(VaToFileOffset(f.fd, 0x00401010), 0x410u);
  EXPECT_EQ(VaToFileOffset(f.fd, 0x00400000), 0u);  // the headers, below the first section
  EXPECT_EQ(VaToFileOffset(f.fd, 0x003FFFFF), NoFileOffset);
  EXPECT_EQ(VaToFileOffset(f.fd, 0x00000010), NoFileOffset);
}

TEST(EntryPoint, MapsAddressOfEntryPoint) {
  PeImage image;
  image.Optional().AddressOfEntryPoint = 0x1234;
  image.Optional().FileAlignment = 0x1000;
  image.AddSection(".text", 0x1000, 0x1000, 0x1000, 0x1000, testpe::CodeSection);
  OpenedFile f(image.Bytes());
  EXPECT_EQ(GetEntryPointFileOffset(f.fd), 0x1234u);
}

}  // namespace

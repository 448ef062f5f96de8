#include "tools/yara-rules/yara_terms.h"

#include <cstddef>
#include <cstdio>
#include <vector>

#include "image/pe_header_reader.h"  // MaxAlignmentUnit, NativeSubsystem, DataDirectorySize
#include "image/pe_records.h"

namespace yara_terms {

namespace {

// Larger than any file a scan reads: an offset that maps nowhere lands here, and
// every read at it is undefined.
constexpr uint64_t NoOffset = 1ull << 40;


// 1 when a < b, else 0 (values well inside 63 bits).
std::string Less(const std::string& a, const std::string& b) { return "(((" + a + ") - (" + b + ")) >> 63 & 1)"; }
std::string NotLess(const std::string& a, const std::string& b) { return "(1 - " + Less(a, b) + ")"; }
// 1 when value > 0, for value >= 0.
std::string Positive(const std::string& value) { return Less("0", value); }
std::string Equal(const std::string& a, const std::string& b) {
  return "(" + NotLess(a, b) + " * " + NotLess(b, a) + ")";
}
std::string Min(const std::string& a, const std::string& b) {
  return "((" + b + ") + ((" + a + ") - (" + b + ")) * " + Less(a, b) + ")";
}

std::string Plus(const std::string& base, uint64_t offset) {
  return offset == 0 ? base : base + " + " + Hex(offset);
}

std::string OptionalField(size_t offset, uint32_t width) { return Read(width, Plus(OptionalHeader(), offset)); }

struct SectionTerms {
  std::string virtualSize, virtualAddress, rawSize, rawPointer;
};

SectionTerms Section(uint32_t index) {
  const std::string at = SectionHeader(index);
  return {Read(4, Plus(at, 8)), Read(4, Plus(at, offsetof(IMAGE_SECTION_HEADER, VirtualAddress))),
          Read(4, Plus(at, offsetof(IMAGE_SECTION_HEADER, SizeOfRawData))),
          Read(4, Plus(at, offsetof(IMAGE_SECTION_HEADER, PointerToRawData)))};
}

// 1 when the section holds rva, its end included: raw data present and
// VirtualAddress <= rva <= VirtualAddress + max(VirtualSize, SizeOfRawData).
std::string Holds(const SectionTerms& s, const std::string& rva) {
  const std::string into = "(" + rva + " - " + s.virtualAddress + ")";
  return Positive(s.rawSize) + " * " + NotLess(rva, s.virtualAddress) + " * (1 - " + Less(s.virtualSize, into) +
         " * " + Less(s.rawSize, into) + ")";
}

// The file offset through one section: PointerToRawData, rounded down unless the
// image is native, plus the distance into the section, in 32 bits.
std::string ThroughSection(const SectionTerms& s, const std::string& rva) {
  const std::string subsystem = OptionalField(offsetof(OptionalHeader32, Subsystem), 2);
  const std::string unit = Min(OptionalField(offsetof(OptionalHeader32, FileAlignment), 4), Hex(MaxAlignmentUnit));
  const std::string rounded = "(" + s.rawPointer + " & ~(" + unit + " - 1))";
  const std::string base = "(" + s.rawPointer + " - (" + s.rawPointer + " - " + rounded + ") * (1 - " +
                           Equal(subsystem, Hex(NativeSubsystem)) + "))";
  return "((" + base + " + " + rva + " - " + s.virtualAddress + ") & 0xFFFFFFFF)";
}

}  // namespace

std::string Hex(uint64_t value) {
  char text[24];
  if (value < 10)
    (void)std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
  else
    (void)std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string PeHeader() { return "uint32(0x3C)"; }
std::string FileHeader() { return PeHeader() + " + 4"; }
std::string OptionalHeader() { return PeHeader() + " + " + Hex(4 + sizeof(IMAGE_FILE_HEADER)); }

std::string SectionTable() {
  const std::string optionalSize = Read(2, Plus(FileHeader(), offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader)));
  const std::string directories =
      Hex(sizeof(OptionalHeader32)) + " + " + Hex(DataDirectorySize) + " * " +
      OptionalField(offsetof(OptionalHeader32, NumberOfRvaAndSizes), 4);
  return "(" + OptionalHeader() + " + " + optionalSize + " + (1 - " + Positive(optionalSize) + ") * (" +
         directories + "))";
}

std::string SectionHeader(uint32_t index) { return Plus(SectionTable(), sizeof(IMAGE_SECTION_HEADER) * index); }

std::string Read(uint32_t width, const std::string& offset) {
  const char* name = width == 1 ? "uint8" : width == 2 ? "uint16" : "uint32";
  return std::string(name) + "(" + offset + ")";
}

// The detector walks the section table from its end and maps through the first
// header that holds the RVA, then looks at the last section once more with its end
// included; an RVA below every section maps to itself. The rules offer every
// section that holds the RVA (its end included), and the RVA itself when it lies
// below every section: the detector's offset is always among them. An offset that
// does not apply is moved past any file.
namespace {

std::vector<std::string> Candidates(const std::string& rva, uint32_t sectionCount) {
  std::vector<std::string> candidates;
  std::string belowAll = "1";
  for (uint32_t i = sectionCount; i-- > 0;) {
    const SectionTerms s = Section(i);
    candidates.push_back(ThroughSection(s, rva) + " + (1 - " + Holds(s, rva) + ") * " + Hex(NoOffset));
    belowAll += " * " + Less(rva, s.virtualAddress);
  }
  candidates.push_back(rva + " + (1 - " + belowAll + ") * " + Hex(NoOffset));
  return candidates;
}

std::string Joined(const std::vector<std::string>& items, const std::string& suffix) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item + suffix;
  return text;
}

}  // namespace

std::string RvaToOffset(Form form, const std::string& rva, uint32_t sectionCount) {
  if (form == Form::PeModule) return "pe.rva_to_offset(" + rva + ")";
  return Joined(Candidates(rva, sectionCount), "");
}

std::string VaToOffset(Form form, const std::string& va, uint32_t sectionCount) {
  if (form == Form::PeModule) return "pe.rva_to_offset(" + va + " - pe.image_base)";
  const std::string imageBase = OptionalField(offsetof(OptionalHeader32, ImageBase), 4);
  // Every candidate moved past any file when the VA lies below ImageBase.
  return Joined(Candidates("(" + va + " - " + imageBase + ")", sectionCount),
                " + " + Less(va, imageBase) + " * " + Hex(NoOffset));
}

std::string RowTest(const FieldTest& row, const std::string& recordOffset) {
  const std::string value =
      row.record == FileSizeRecord ? std::string("filesize") : Read(row.width, Plus(recordOffset, row.offset));
  // The file size compares signed: both bounds as signed 32-bit values.
  const int64_t low = row.record == FileSizeRecord ? static_cast<int32_t>(row.low) : int64_t{row.low};
  const int64_t high = row.record == FileSizeRecord ? static_cast<int32_t>(row.high) : int64_t{row.high};
  std::string test;
  if (low == high)
    test = value + " == " + Hex(static_cast<uint64_t>(low));
  else if (low <= 0)
    test = value + " <= " + Hex(static_cast<uint64_t>(high));
  else
    test = value + " >= " + Hex(static_cast<uint64_t>(low)) + " and " + value + " <= " + Hex(static_cast<uint64_t>(high));
  if (row.accept == Accept::ZeroOrRange) test = "(" + value + " == 0 or (" + test + "))";
  return test;
}

std::string RowTests(const FieldTest* rows, size_t count, const std::string& recordOffset, const std::string& indent) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += (i == 0 ? "" : " and\n" + indent) + RowTest(rows[i], recordOffset);
  }
  return text;
}

}  // namespace yara_terms

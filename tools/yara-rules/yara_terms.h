// YARA condition text for the pieces every rule is built of: the PE record offsets
// read with integer reads, the address mapping of the file signature detector as a
// closed arithmetic form, and one field test per signature row.
//
// YARA has no conditional value and no local names; a value is named by a loop over
// one element ("for any h in (EXPR) : (...)"), and loops nest at most four deep.
// Truth values become 0 or 1 by the sign bit of a difference ((a - b) >> 63 & 1),
// so a choice between offsets is a sum of products. Every read that leaves the file
// makes YARA's value undefined, and an undefined condition is false.
#pragma once

#include <string>

#include "detect/field_rules.h"

namespace yara_terms {

enum class Form {
  IntegerReads,  // headers and section table read with uint16/uint32 alone
  PeModule,      // addresses mapped with the pe module's pe.rva_to_offset
};

// Offsets of the records in the file, as YARA expressions.
std::string PeHeader();       // e_lfanew
std::string FileHeader();     // IMAGE_FILE_HEADER
std::string OptionalHeader(); // the PE32 optional header
std::string SectionTable();   // as the detector finds it: SizeOfOptionalHeader, or the data directories
std::string SectionHeader(uint32_t index);

// The file offset the detector maps an RVA to, for an image of sectionCount
// sections (the count a variant's rows fix); a value past any file when it maps
// nowhere.
std::string RvaToOffset(Form form, const std::string& rva, uint32_t sectionCount);
// The same for a VA (below ImageBase maps nowhere).
std::string VaToOffset(Form form, const std::string& va, uint32_t sectionCount);

// uint8/uint16/uint32 at offset.
std::string Read(uint32_t width, const std::string& offset);

// The row's test on its field in the record at recordOffset (for the file size row
// the record offset is ignored).
std::string RowTest(const FieldTest& row, const std::string& recordOffset);

// "a and b and ..." over the rows, one per line with the given indent.
std::string RowTests(const FieldTest* rows, size_t count, const std::string& recordOffset,
                     const std::string& indent);

std::string Hex(uint64_t value);

}  // namespace yara_terms

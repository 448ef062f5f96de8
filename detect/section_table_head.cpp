#include "detect/section_table_head.h"

#include <cstring>

#include "image/file_read.h"
#include "image/pe_header_reader.h"

int ReadSectionTableHead(int fd, uint8_t* head) {
  return ReadExactAt(fd, GetSectionTableOffset(fd), head, SectionTableHeadSize);
}

bool SectionNameStartsWith(const uint8_t* sectionHeader, const char (&fiveBytes)[ComparedNameBytes + 1]) {
  return std::memcmp(sectionHeader, fiveBytes, ComparedNameBytes) == 0;
}

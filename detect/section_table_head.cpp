#include <cstring>

#include "detect/signature_steps.h"
#include "image/pe_header_reader.h"
#include "image/read_exact.h"

int ReadSectionTableHead(int fd, uint8_t* head) {
  return ReadExactAt(fd, GetSectionTableOffset(fd), head, SectionTableHeadSize);
}

bool SectionNameStartsWith(const uint8_t* sectionHeader, const char (&fiveBytes)[6]) {
  return std::memcmp(sectionHeader, fiveBytes, 5) == 0;
}

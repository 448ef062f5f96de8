#include <cstring>

#include "tools/pestkill-scan/sources/tree/file_walk.h"

namespace {

bool IsSeparator(char c, char separator) { return c == separator || c == '/'; }

}  // namespace

bool AppendPathComponent(char* buffer, uint32_t capacity, const char* name, char separator) {
  size_t length = std::strlen(buffer);
  size_t nameLength = std::strlen(name);
  bool needSeparator = length == 0 || !IsSeparator(buffer[length - 1], separator);
  size_t needed = length + (needSeparator ? 1 : 0) + nameLength + 1;
  if (needed > capacity) return false;
  if (needSeparator) buffer[length++] = separator;
  std::memcpy(buffer + length, name, nameLength + 1);
  return true;
}

#include "driver/image_path.h"

#include <cstring>

namespace {

// The NT object-manager form and the Win32 long-path form of a DOS path.
const char* const PathPrefixes[] = {"\\??\\", "\\\\?\\"};

}  // namespace

bool HoldsSubstitutedCharacter(const char* path) {
  if (path == nullptr) return false;
  for (const char* prefix : PathPrefixes) {
    const size_t length = std::strlen(prefix);
    if (std::strncmp(path, prefix, length) == 0) {
      path += length;
      break;
    }
  }
  return std::strchr(path, '?') != nullptr;
}

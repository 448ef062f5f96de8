#include "detect/template_count.h"

namespace {

bool MatchesAt(const uint8_t* at, const ByteTemplate& pattern) {
  for (uint32_t i = 0; i < pattern.length; ++i)
    if (i != pattern.freeByte && at[i] != pattern.bytes[i]) return false;
  return true;
}

}  // namespace

uint32_t CountTemplateHits(const uint8_t* window, uint32_t windowLength, const ByteTemplate& pattern) {
  if (pattern.length >= windowLength) return 0;
  // Positions below windowLength - length are tested. The one position at which the
  // template would end exactly on the window's last byte is not: the detected builds
  // are recognised this way, and a hit that begins there is not counted.
  const uint32_t stop = windowLength - pattern.length;
  uint32_t count = 0;
  uint32_t position = 0;
  while (count < pattern.countLimit && position < stop) {
    if (MatchesAt(window + position, pattern)) {
      ++count;
      position += pattern.advanceAfterHit;
    } else {
      ++position;
    }
  }
  return count;
}

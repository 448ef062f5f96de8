#include "image/byte_pattern.h"

// Boyer-Moore-Horspool: the window moves by the distance from the text byte under
// the pattern's last position to that byte's last occurrence in the rest of the
// pattern, so no shift passes over a possible match and the first matching window
// is the leftmost occurrence.
int32_t FindBytePattern(const uint8_t* text, int32_t textLength, const uint8_t* pattern,
                        int32_t patternLength) {
  const int32_t n = textLength;
  const int32_t m = patternLength;
  if (m < 0 || (m > 0 && (text == nullptr || pattern == nullptr))) return -1;

  int32_t lastPosition[256];
  for (int32_t& entry : lastPosition) entry = -1;
  for (int32_t i = 0; i + 1 < m; ++i) lastPosition[pattern[i]] = i;

  if (n - m < 0) return -1;
  int32_t p = 0;
  for (;;) {
    if (m == 0) return p;
    const uint8_t* window = text + p;
    bool equal = window[m - 1] == pattern[m - 1] && window[0] == pattern[0];
    for (int32_t i = m - 2; equal && i >= 1; --i) equal = window[i] == pattern[i];
    if (equal) return p;
    p += (m - 1) - lastPosition[window[m - 1]];
    if (p > n - m) return -1;
  }
}

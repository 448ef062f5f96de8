// Leftmost occurrence of a byte pattern in a byte buffer (Boyer-Moore-Horspool).
#pragma once

#include <cstdint>

// Position of the first occurrence, or -1.
int32_t FindBytePattern(const uint8_t* text, int32_t textLength, const uint8_t* pattern,
                        int32_t patternLength);

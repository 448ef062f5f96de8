// Counts the hits of a byte template with one free byte in a window, moving on by
// a fixed step after each hit, as the record and jump counts of variants C and D do.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteTemplate {
  const uint8_t* bytes;
  uint32_t length;
  uint32_t freeByte;        // the one byte of the template that is not compared
  uint32_t advanceAfterHit; // positions moved after a hit (1 after a miss)
  uint32_t countLimit;      // the count stops growing here
};

// Tests positions 0 .. windowLength - template length - 1. Returns the hit count.
uint32_t CountTemplateHits(const uint8_t* window, uint32_t windowLength, const ByteTemplate& pattern);

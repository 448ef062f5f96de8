// Registry values written as the text that "reg import" and the registry editor read
// back ("Windows Registry Editor Version 5.00", UTF-16): each value with its exact
// type and data. Plain text is written in quotes, a 32-bit number of four bytes as
// dword:, raw bytes as hex:, and everything else (expandable and multi-strings,
// numbers of another size, strings without their terminator or with a line break,
// types without a name) as hex(N): with N the type in hex, so that nothing is
// changed on the way back. Written once for any 16-bit code unit; nothing here calls
// the system.
#pragma once

#include <cstddef>
#include <cstdint>

// Output goes into a fixed buffer that is handed on whole each time it fills, and at
// the end. A hand-over that fails marks the text as failed; what follows is dropped.
template <typename Unit>
struct RegFileText {
  Unit* buffer;
  size_t capacity;  // in units, at least 1
  // Takes the units written so far; false when they could not be kept.
  bool (*handOver)(const Unit* units, size_t count, void* context);
  void* context;
  size_t used;
  size_t column;  // units since the last line break, for the wrapping of hex lines
  bool failed;
};

// A text with nothing written yet.
template <typename Unit>
RegFileText<Unit> MakeRegFileText(Unit* buffer, size_t capacity,
                                  bool (*handOver)(const Unit*, size_t, void*), void* context);

// The byte order mark and the header line, with which every such file begins.
template <typename Unit>
void WriteRegFileHeader(RegFileText<Unit>* text);

// A blank line and the key's line: [HKEY_LOCAL_MACHINE\SOFTWARE\...]. keyPath is
// terminated and written as it is.
template <typename Unit>
void WriteRegKeyLine(RegFileText<Unit>* text, const Unit* keyPath);

// One value line of the key written last. name holds nameLength units (0: the key's
// default value, written @). False, with nothing written, for a name that the format
// cannot hold (a line break or a NUL in it).
template <typename Unit>
bool WriteRegValueLine(RegFileText<Unit>* text, const Unit* name, size_t nameLength, uint32_t type,
                       const uint8_t* data, size_t dataSize);

// Hands on what the buffer still holds. True when everything written so far was
// kept.
template <typename Unit>
bool FinishRegFileText(RegFileText<Unit>* text);

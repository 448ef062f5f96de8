#include "remedy/reg_file_text.h"

namespace {

// The registry's types by the numbers the format gives them.
constexpr uint32_t RegString = 1;
constexpr uint32_t RegBinary = 3;
constexpr uint32_t RegNumber = 4;

// Hex lines are wrapped before this column, as the registry editor wraps them: the
// line ends in a comma and a backslash, and the next one starts with two blanks.
constexpr size_t HexLineColumns = 77;

template <typename Unit>
void Put(RegFileText<Unit>* text, Unit unit) {
  if (text->failed) return;
  if (text->used == text->capacity) {
    if (!text->handOver(text->buffer, text->used, text->context)) {
      text->failed = true;
      return;
    }
    text->used = 0;
  }
  text->buffer[text->used++] = unit;
  text->column = unit == Unit('\n') ? 0 : text->column + 1;
}

template <typename Unit>
void PutAscii(RegFileText<Unit>* text, const char* ascii) {
  while (*ascii != '\0') Put(text, static_cast<Unit>(static_cast<unsigned char>(*ascii++)));
}

template <typename Unit>
void PutLineBreak(RegFileText<Unit>* text) {
  PutAscii(text, "\r\n");
}

template <typename Unit>
void PutHex(RegFileText<Unit>* text, uint32_t value, int digits) {
  static const char Digits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    Put(text, static_cast<Unit>(Digits[(value >> shift) & 0xF]));
}

// A name or a string in quotes; a backslash and a quote are escaped with a backslash.
template <typename Unit>
void PutQuoted(RegFileText<Unit>* text, const Unit* units, size_t count) {
  Put(text, Unit('"'));
  for (size_t i = 0; i < count; ++i) {
    if (units[i] == Unit('\\') || units[i] == Unit('"')) Put(text, Unit('\\'));
    Put(text, units[i]);
  }
  Put(text, Unit('"'));
}

bool BreaksLine(uint32_t unit) { return unit == 0 || unit == '\r' || unit == '\n'; }

uint32_t UnitAt(const uint8_t* data, size_t index) {
  return static_cast<uint32_t>(data[2 * index]) | (static_cast<uint32_t>(data[2 * index + 1]) << 8);
}

// A string the quoted form gives back exactly: whole UTF-16 units, one terminator at
// the end and none before it, and no line break.
bool IsPlainText(const uint8_t* data, size_t size) {
  if (size < 2 || size % 2 != 0) return false;
  const size_t units = size / 2;
  if (UnitAt(data, units - 1) != 0) return false;
  for (size_t i = 0; i + 1 < units; ++i)
    if (BreaksLine(UnitAt(data, i))) return false;
  return true;
}

template <typename Unit>
void PutHexBytes(RegFileText<Unit>* text, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    PutHex(text, data[i], 2);
    if (i + 1 == size) break;
    Put(text, Unit(','));
    if (text->column >= HexLineColumns) {
      Put(text, Unit('\\'));
      PutLineBreak(text);
      PutAscii(text, "  ");
    }
  }
}

}  // namespace

template <typename Unit>
RegFileText<Unit> MakeRegFileText(Unit* buffer, size_t capacity,
                                  bool (*handOver)(const Unit*, size_t, void*), void* context) {
  return {buffer, capacity, handOver, context, 0, 0, false};
}

template <typename Unit>
void WriteRegFileHeader(RegFileText<Unit>* text) {
  Put(text, static_cast<Unit>(0xFEFF));
  PutAscii(text, "Windows Registry Editor Version 5.00");
  PutLineBreak(text);
}

template <typename Unit>
void WriteRegKeyLine(RegFileText<Unit>* text, const Unit* keyPath) {
  PutLineBreak(text);
  Put(text, Unit('['));
  for (const Unit* unit = keyPath; *unit != Unit(0); ++unit) Put(text, *unit);
  Put(text, Unit(']'));
  PutLineBreak(text);
}

template <typename Unit>
bool WriteRegValueLine(RegFileText<Unit>* text, const Unit* name, size_t nameLength, uint32_t type,
                       const uint8_t* data, size_t dataSize) {
  for (size_t i = 0; i < nameLength; ++i)
    if (BreaksLine(static_cast<uint32_t>(name[i]))) return false;

  if (nameLength == 0)
    Put(text, Unit('@'));
  else
    PutQuoted(text, name, nameLength);
  Put(text, Unit('='));

  if (type == RegString && IsPlainText(data, dataSize)) {
    Put(text, Unit('"'));
    const size_t units = dataSize / 2 - 1;
    for (size_t i = 0; i < units; ++i) {
      const Unit unit = static_cast<Unit>(UnitAt(data, i));
      if (unit == Unit('\\') || unit == Unit('"')) Put(text, Unit('\\'));
      Put(text, unit);
    }
    Put(text, Unit('"'));
  } else if (type == RegNumber && dataSize == 4) {
    PutAscii(text, "dword:");
    PutHex(text, UnitAt(data, 0) | (UnitAt(data, 1) << 16), 8);
  } else {
    if (type == RegBinary) {
      PutAscii(text, "hex:");
    } else {
      PutAscii(text, "hex(");
      // As few digits as the type needs: hex(2), hex(7), hex(b), hex(12345678).
      int digits = 1;
      while (digits < 8 && (type >> (digits * 4)) != 0) ++digits;
      PutHex(text, type, digits);
      PutAscii(text, "):");
    }
    PutHexBytes(text, data, dataSize);
  }
  PutLineBreak(text);
  return true;
}

template <typename Unit>
bool FinishRegFileText(RegFileText<Unit>* text) {
  if (!text->failed && text->used != 0) {
    if (!text->handOver(text->buffer, text->used, text->context)) text->failed = true;
    text->used = 0;
  }
  return !text->failed;
}

#define PESTKILL_REG_FILE_TEXT_FOR(Unit)                                                         \
  template RegFileText<Unit> MakeRegFileText<Unit>(Unit*, size_t,                                \
                                                   bool (*)(const Unit*, size_t, void*), void*); \
  template void WriteRegFileHeader<Unit>(RegFileText<Unit>*);                                    \
  template void WriteRegKeyLine<Unit>(RegFileText<Unit>*, const Unit*);                          \
  template bool WriteRegValueLine<Unit>(RegFileText<Unit>*, const Unit*, size_t, uint32_t,       \
                                        const uint8_t*, size_t);                                 \
  template bool FinishRegFileText<Unit>(RegFileText<Unit>*);

PESTKILL_REG_FILE_TEXT_FOR(char16_t)
#ifdef _WIN32
PESTKILL_REG_FILE_TEXT_FOR(wchar_t)
#endif

#undef PESTKILL_REG_FILE_TEXT_FOR

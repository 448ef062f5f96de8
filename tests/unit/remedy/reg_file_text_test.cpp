// Registry values written as registry-editor text: one table of values of every kind
// (plain strings with quotes and backslashes, strings the quoted form cannot give back,
// expandable and multi-strings, numbers of four bytes and of others, raw bytes, types
// without a name) and the exact line each must give, so that "reg import" restores the
// type and every byte. The text is collected through a buffer of a few units, so every
// line is also cut across hand-overs.
#include "remedy/reg_file_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {


std::string Ascii(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return out;
}

// UTF-16 little-endian bytes of a text, each unit as stored in the registry.
std::vector<uint8_t> Bytes(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

struct Collected {
  std::u16string text;
  int handOvers = 0;
  int failAt = -1;  // the hand-over that fails, counted from 0
};

bool Collect(const char16_t* units, size_t count, void* context) {
  Collected* collected = static_cast<Collected*>(context);
  if (collected->handOvers++ == collected->failAt) return false;
  collected->text.append(units, count);
  return true;
}

// The line one value gives, written through a buffer of five units.
std::u16string ValueLine(const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data,
                         bool* written = nullptr) {
  char16_t buffer[5];
  Collected collected;
  RegFileText<char16_t> text = MakeRegFileText<char16_t>(buffer, 5, Collect, &collected);
  const bool ok = WriteRegValueLine(&text, name.data(), name.size(), type, data.data(), data.size());
  if (written != nullptr) *written = ok;
  EXPECT_TRUE(FinishRegFileText(&text));
  return collected.text;
}

struct ValueCase {
  const char* label;
  std::u16string name;
  uint32_t type;
  std::vector<uint8_t> data;
  std::string line;
};

std::vector<uint8_t> Range(size_t count) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(i));
  return bytes;
}

TEST(WriteRegValueLine, EachKindOfValue) {
  const std::vector<ValueCase> cases = {
      {"plain string", u"Logon Helper", 1, Bytes(u"C:\\pk\\winlogon.exe" + std::u16string(1, 0)),
       "\"Logon Helper\"=\"C:\\\\pk\\\\winlogon.exe\"\r\n"},
      {"quotes and backslashes in name and data", u"a\"b\\c", 1,
       Bytes(u"\"C:\\a b\\x.exe\" /s \\\"" + std::u16string(1, 0)),
       "\"a\\\"b\\\\c\"=\"\\\"C:\\\\a b\\\\x.exe\\\" /s \\\\\\\"\"\r\n"},
      {"the default value", u"", 1, Bytes(u"x" + std::u16string(1, 0)), "@=\"x\"\r\n"},
      {"a value named @", u"@", 1, Bytes(u"x" + std::u16string(1, 0)), "\"@\"=\"x\"\r\n"},
      {"empty string with its terminator", u"e", 1, {0, 0}, "\"e\"=\"\"\r\n"},
      {"string of no bytes", u"e", 1, {}, "\"e\"=hex(1):\r\n"},
      {"string without its terminator", u"s", 1, Bytes(u"ab"), "\"s\"=hex(1):61,00,62,00\r\n"},
      {"string with an odd byte", u"s", 1, {0x61, 0, 0}, "\"s\"=hex(1):61,00,00\r\n"},
      {"string with a NUL inside", u"s", 1, Bytes(u"a" + std::u16string(1, 0) + u"b" + std::u16string(1, 0)),
       "\"s\"=hex(1):61,00,00,00,62,00,00,00\r\n"},
      {"string with a line break", u"s", 1, Bytes(u"a\nb" + std::u16string(1, 0)),
       "\"s\"=hex(1):61,00,0a,00,62,00,00,00\r\n"},
      {"expandable string", u"x", 2, Bytes(u"%A%" + std::u16string(1, 0)),
       "\"x\"=hex(2):25,00,41,00,25,00,00,00\r\n"},
      {"multi-string", u"m", 7, Bytes(u"a" + std::u16string(1, 0) + u"b" + std::u16string(2, 0)),
       "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"},
      {"32-bit number", u"n", 4, {0x78, 0x56, 0x34, 0x12}, "\"n\"=dword:12345678\r\n"},
      {"32-bit number with the top bit", u"n", 4, {0xff, 0xff, 0xff, 0xff}, "\"n\"=dword:ffffffff\r\n"},
      {"number type of three bytes", u"n", 4, {1, 2, 3}, "\"n\"=hex(4):01,02,03\r\n"},
      {"big-endian number", u"n", 5, {0, 0, 0, 1}, "\"n\"=hex(5):00,00,00,01\r\n"},
      {"64-bit number", u"q", 11, {1, 0, 0, 0, 0, 0, 0, 0}, "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"},
      {"raw bytes", u"b", 3, {0x00, 0xab, 0xff}, "\"b\"=hex:00,ab,ff\r\n"},
      {"raw bytes, none", u"b", 3, {}, "\"b\"=hex:\r\n"},
      {"no type", u"z", 0, {0x41}, "\"z\"=hex(0):41\r\n"},
      {"a type without a name", u"z", 0x12345678, {0x41, 0x42}, "\"z\"=hex(12345678):41,42\r\n"},
      // The registry editor's wrapping: a comma and a backslash end a line of at most
      // 80 columns, and the next one starts with two blanks.
      {"long raw bytes", u"b", 3, Range(30),
       "\"b\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
       "  17,18,19,1a,1b,1c,1d\r\n"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.label);
    bool written = false;
    EXPECT_EQ(Ascii(ValueLine(c.name, c.type, c.data, &written)), c.line);
    EXPECT_TRUE(written);
  }
}

TEST(WriteRegValueLine, KeepsCharactersBeyondAsciiAsTheyAre) {
  const std::u16string name = u"\u0442\u0435\u0441\u0442";
  const std::u16string data = u"C:\\\u041f\\\U0001F600.exe";
  const std::u16string line = ValueLine(name, 1, Bytes(data + std::u16string(1, 0)));
  EXPECT_EQ(line, u"\"" + name + u"\"=\"C:\\\\\u041f\\\\\U0001F600.exe\"\r\n");
}

TEST(WriteRegValueLine, RefusesNamesTheFormatCannotHold) {
  for (const std::u16string& name : {std::u16string(u"a\nb"), std::u16string(u"a\rb"), std::u16string(u"a\0b", 3)}) {
    bool written = true;
    EXPECT_EQ(ValueLine(name, 1, {0, 0}, &written), u"");
    EXPECT_FALSE(written);
  }
}

TEST(RegFileText, HeaderKeysAndValuesInOrder) {
  char16_t buffer[3];
  Collected collected;
  RegFileText<char16_t> text = MakeRegFileText<char16_t>(buffer, 3, Collect, &collected);
  WriteRegFileHeader(&text);
  const std::u16string key = u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  WriteRegKeyLine(&text, key.c_str());
  const std::vector<uint8_t> number = {1, 0, 0, 0};
  EXPECT_TRUE(WriteRegValueLine(&text, u"n", 1, 4, number.data(), number.size()));
  EXPECT_TRUE(FinishRegFileText(&text));
  EXPECT_EQ(collected.text, u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n[" + key + u"]\r\n\"n\"=dword:00000001\r\n");
}

TEST(RegFileText, AFailedHandOverDropsTheRest) {
  char16_t buffer[4];
  Collected collected;
  collected.failAt = 1;
  RegFileText<char16_t> text = MakeRegFileText<char16_t>(buffer, 4, Collect, &collected);
  WriteRegFileHeader(&text);
  EXPECT_FALSE(FinishRegFileText(&text));
  EXPECT_EQ(collected.text, u"\uFEFFWin");
  EXPECT_EQ(collected.handOvers, 2);
}

}  // namespace

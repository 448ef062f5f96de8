// Names in the scanner's output as a script or a person gets them back: a text
// line as it is, or with the escapes undone where it starts with a backslash, and
// the --json "path" (or "path_bytes" where it is needed) decoded, give every name's
// exact bytes, and two names never give the same line or object.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "tools/pestkill-scan/report/json_text.h"
#include "tools/pestkill-scan/report/name_text.h"

namespace {

std::string Written(void (*put)(FILE*, const char*), const std::string& text) {
  FILE* out = std::tmpfile();
  if (out == nullptr) return "(no temporary file)";
  put(out, text.c_str());
  std::string written;
  std::rewind(out);
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) written += static_cast<char>(c);
  (void)std::fclose(out);
  return written;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The escapes of the text output undone, as the help text describes them; "(bad
// escape)" for anything else after a backslash.
std::string Unescaped(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    const char kind = i + 1 < text.size() ? text[++i] : 0;
    if (kind == '\\') {
      bytes += '\\';
    } else if (kind == 't' || kind == 'n' || kind == 'r') {
      bytes += kind == 't' ? '\t' : kind == 'n' ? '\n' : '\r';
    } else if (kind == 'x' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      return "(bad escape)";
    }
  }
  return bytes;
}

std::string Base64Decoded(const std::string& text) {
  static const std::string Digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return "(bad base64)";
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 4) {
    unsigned long group = 0;
    int padding = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      size_t value = 0;
      if (c == '=') {
        ++padding;
      } else if ((value = Digits.find(c)) == std::string::npos || padding > 0) {
        return "(bad base64)";
      }
      group = group << 6 | (c == '=' ? 0 : value);
    }
    bytes += static_cast<char>(group >> 16 & 0xFF);
    if (padding < 2) bytes += static_cast<char>(group >> 8 & 0xFF);
    if (padding < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}

// The value of a JSON string that starts at text[*at] (the opening quote), with
// every \uXXXX below 0x100 taken as that byte (as the scanner writes them).
std::string JsonStringValue(const std::string& text, size_t* at) {
  std::string value;
  for (size_t i = *at + 1; i < text.size(); ++i) {
    if (text[i] == '"') {
      *at = i + 1;
      return value;
    }
    if (text[i] != '\\') {
      value += text[i];
      continue;
    }
    const char kind = text[++i];
    if (kind == 'u') {
      value += static_cast<char>(std::stoi(text.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      value += kind;  // \" and \\ (the only other escapes written)
    }
  }
  return "(unterminated)";
}

// The bytes a script gets back from the "path" members of one object: path_bytes
// when present, otherwise path (which is then UTF-8 text, taken byte for byte).
std::string PathFromJson(const std::string& members, bool* hasBytes, const std::string& member = "path") {
  const std::string key = "\"" + member + "\":";
  if (members.compare(0, key.size(), key) != 0) return "(no " + member + " member)";
  size_t at = key.size();
  const std::string path = JsonStringValue(members, &at);
  const std::string bytesKey = ",\"" + member + "_bytes\":";
  *hasBytes = members.compare(at, bytesKey.size(), bytesKey) == 0;
  if (!*hasBytes) return at == members.size() ? path : "(unexpected members)";
  at += bytesKey.size();
  const std::string encoded = JsonStringValue(members, &at);
  return at == members.size() ? Base64Decoded(encoded) : "(unexpected members)";
}

struct NameCase {
  const char* name;
  std::string bytes;
  std::string text;  // the name as a text line writes it, the line's leading backslash included
  bool pathBytes;    // --json needs "path_bytes"
};

const NameCase Names[] = {
    {"plain", "/mnt/evidence/a.exe", "/mnt/evidence/a.exe", false},
    {"newline forging a second line", std::string("evil\n/mnt/evidence/Windows/System32/svchost.exe"),
     "\\evil\\n/mnt/evidence/Windows/System32/svchost.exe", false},
    {"escape sequence and carriage return", "x\x1b[2K\rclean.exe", "\\x\\x1b[2K\\rclean.exe", false},
    {"tab", "a\tb", "\\a\\tb", false},
    {"backslash, alone and before x", "C:\\x41\\", "\\C:\\\\x41\\\\", false},
    {"text that looks like an escape", "a\\n", "\\a\\\\n", false},
    {"a leading backslash", "\\a", "\\\\\\a", false},
    {"every other control byte", std::string("\x01\x1f\x7f", 3), "\\\\x01\\x1f\\x7f", false},
    {"Latin-1", "caf\xe9.exe", "caf\xe9.exe", true},
    {"UTF-8", "caf\xc3\xa9.exe", "caf\xc3\xa9.exe", false},
    {"overlong slash", "\xc0\xaf", "\xc0\xaf", true},
    {"one byte of padding", "\xff", "\xff", true},
    {"two bytes of padding", "\xff\xfe", "\xff\xfe", true},
    {"no padding", "\xff\xfe\xfd", "\xff\xfe\xfd", true},
    {"quote", "say \"hi\"", "say \"hi\"", false},
};

// The line as a reader of the checksum tools' convention takes it back.
std::string LineRead(const std::string& line) {
  return !line.empty() && line[0] == '\\' ? Unescaped(line.substr(1)) : line;
}

TEST(OutputNames, TextLinesGiveTheNameBackAndHoldNoControlByte) {
  std::set<std::string> seen;
  for (const NameCase& c : Names) {
    SCOPED_TRACE(c.name);
    const std::string line = TextLine().Name(c.bytes).Words(": OK").Text();
    EXPECT_EQ(line, c.text + ": OK");
    EXPECT_EQ(LineRead(line), c.bytes + ": OK");
    EXPECT_EQ(NameNeedsEscapes(c.bytes), line[0] == '\\');
    for (unsigned char byte : line) EXPECT_FALSE(byte < 0x20 || byte == 0x7F) << "byte " << int(byte);
    EXPECT_TRUE(seen.insert(line).second) << "two names give the same line";
    EXPECT_EQ(TextLine().Name(c.bytes).Words(": OK").Text(true), c.bytes + ": OK");  // -0: raw
  }
}

// A registry line of the volume scan: the key path is the program's own words and
// reads as a registry editor spells it, until a name from the hive needs escapes;
// then the separators are escaped too, so that an entry named "nasty" after one of
// them cannot read as a newline.
TEST(OutputNames, RegistryKeyPathsAsTheyAreUntilANameNeedsEscapes) {
  const std::string runKey = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::string optionsKey = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
  const struct {
    const char* name;
    std::string value, key, entry, line;
  } cases[] = {
      {"plain Run value", "sys", runKey, "",
       "--clean would delete value \"sys\" of " + runKey + " in /mnt/x/SOFTWARE"},
      {"plain Debugger value", "Debugger", optionsKey, "nasty.exe",
       "--clean would delete value \"Debugger\" of " + optionsKey + "nasty.exe in /mnt/x/SOFTWARE"},
      {"value name with a newline", "sys\nx", runKey, "",
       "\\--clean would delete value \"sys\\nx\" of "
       "HKLM\\\\SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run in /mnt/x/SOFTWARE"},
      {"entry name with a backslash", "Debugger", optionsKey, "nasty\\x", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TextLine line;
    line.Words("--clean would delete value \"").Name(c.value).Words("\" of ").Words(c.key).Name(c.entry);
    line.Words(" in ").Name("/mnt/x/SOFTWARE");
    const std::string text = line.Text();
    if (!c.line.empty()) {
      EXPECT_EQ(text, c.line);
    }
    EXPECT_EQ(LineRead(text),
              "--clean would delete value \"" + c.value + "\" of " + c.key + c.entry + " in /mnt/x/SOFTWARE");
  }
}

// A message of the program that quotes a name with a control byte is escaped too.
TEST(OutputNames, WordsWithAControlByteEscapeTheLine) {
  const std::string text = TextLine().Name("/mnt/x/hive").Words(": ERROR cannot read key a\nb").Text();
  EXPECT_EQ(text, "\\/mnt/x/hive: ERROR cannot read key a\\nb");
  EXPECT_EQ(TextLine().Name("/mnt/x/hive").Words(": ERROR key a\\b is gone").Text(),
            "/mnt/x/hive: ERROR key a\\b is gone");
}

TEST(OutputNames, JsonGivesEveryNameBackAndNeverTwoTheSame) {
  std::set<std::string> seen;
  for (const NameCase& c : Names) {
    SCOPED_TRACE(c.name);
    const std::string members = Written(PutJsonPathMembers, c.bytes);
    bool hasBytes = false;
    EXPECT_EQ(PathFromJson(members, &hasBytes), c.bytes) << members;
    EXPECT_EQ(hasBytes, c.pathBytes) << members;
    EXPECT_TRUE(seen.insert(members).second) << "two names give the same object";
  }
  // The pair of the complaint: the Latin-1 and the UTF-8 spelling of one name.
  EXPECT_NE(Written(PutJsonPathMembers, "caf\xe9.exe"), Written(PutJsonPathMembers, "caf\xc3\xa9.exe"));
}

// A hive's path on a mounted volume, under its own member ("hive", "hive_bytes").
TEST(OutputNames, JsonGivesAPathBackUnderAnotherMemberName) {
  for (const NameCase& c : Names) {
    SCOPED_TRACE(c.name);
    const std::string members = Written([](FILE* out, const char* text) { PutJsonPathMembers(out, "hive", text); },
                                        c.bytes);
    bool hasBytes = false;
    EXPECT_EQ(PathFromJson(members, &hasBytes, "hive"), c.bytes) << members;
    EXPECT_EQ(hasBytes, c.pathBytes) << members;
  }
}

}  // namespace

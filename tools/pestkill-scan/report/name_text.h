// Names in the scanner's text output, written in the convention of the checksum
// tools. A file name on a disk an attacker prepared may hold any byte but '/' and
// 0: a newline would start a line of its own (one that could read as a detection
// of another file), and ESC or CR would let the terminal overwrite what is already
// on screen. So a line that names such a name (one holding a backslash or a control
// byte) starts with a backslash and writes every byte of it that is a backslash or
// a control byte as an escape; such a line reads back to exactly the bytes it
// names. Every other line is written as it is: its names and the program's own
// words, among them registry key paths such as HKLM\SOFTWARE\Microsoft.
#pragma once

#include <string>
#include <utility>
#include <vector>

// True when name holds a backslash or a control byte (0x00-0x1F, 0x7F).
bool NameNeedsEscapes(const std::string& name);

// text with every control byte and backslash escaped: "\\" for a backslash, "\t",
// "\n" and "\r" for those three, "\xHH" (two lower-case hex digits) for every other
// control byte. All other bytes, including those that are not UTF-8, unchanged.
std::string EscapedName(const std::string& text);

// One line of text output, put together from the program's own words and names
// from the evidence (paths, hive paths, registry key and value names):
//   TextLine().Name(path).Words(": OK").Text()
// A name holding a backslash or a control byte, or words holding a control byte
// (a message may quote a name), make the line escaped: a backslash first, then
// every part escaped, the program's words too, so that a key path's separators
// cannot be read as escapes. Text(true), for output with raw names (-0), gives
// every part as it is.
class TextLine {
 public:
  TextLine& Words(const std::string& words);
  TextLine& Name(const std::string& name);
  // The line without its end.
  std::string Text(bool raw = false) const;

 private:
  std::vector<std::string> parts_;
  bool escaped_ = false;
};

#include "tools/pestkill-scan/report/name_text.h"

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool HoldsControl(const std::string& text) {
  for (unsigned char c : text)
    if (IsControl(c)) return true;
  return false;
}

}  // namespace

bool NameNeedsEscapes(const std::string& name) {
  return name.find('\\') != std::string::npos || HoldsControl(name);
}

std::string EscapedName(const std::string& text) {
  static const char Hex[] = "0123456789abcdef";
  std::string escaped;
  for (unsigned char c : text) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\t' || c == '\n' || c == '\r') {
      escaped += '\\';
      escaped += c == '\t' ? 't' : c == '\n' ? 'n' : 'r';
    } else if (IsControl(c)) {
      escaped += '\\';
      escaped += 'x';
      escaped += Hex[c >> 4];
      escaped += Hex[c & 0xF];
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

TextLine& TextLine::Words(const std::string& words) {
  parts_.push_back(words);
  escaped_ = escaped_ || HoldsControl(words);
  return *this;
}

TextLine& TextLine::Name(const std::string& name) {
  parts_.push_back(name);
  escaped_ = escaped_ || NameNeedsEscapes(name);
  return *this;
}

std::string TextLine::Text(bool raw) const {
  const bool escaped = escaped_ && !raw;
  std::string text = escaped ? "\\" : "";
  for (const std::string& part : parts_) text += escaped ? EscapedName(part) : part;
  return text;
}

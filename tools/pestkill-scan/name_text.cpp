#include "tools/pestkill-scan/name_text.h"

namespace {

// Appends the escaped form of one byte, or the byte itself, to out.
template <typename Sink>
void EscapeByte(unsigned char c, Sink put) {
  static const char Hex[] = "0123456789abcdef";
  if (c == '\\') {
    put('\\');
    put('\\');
  } else if (c == '\t' || c == '\n' || c == '\r') {
    put('\\');
    put(c == '\t' ? 't' : c == '\n' ? 'n' : 'r');
  } else if (c < 0x20 || c == 0x7F) {
    put('\\');
    put('x');
    put(Hex[c >> 4]);
    put(Hex[c & 0xF]);
  } else {
    put(static_cast<char>(c));
  }
}

}  // namespace

void PutEscapedName(FILE* out, const char* text) {
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != 0; ++at)
    EscapeByte(*at, [out](char c) { (void)std::fputc(static_cast<unsigned char>(c), out); });
}

std::string EscapedName(const char* text) {
  std::string escaped;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != 0; ++at)
    EscapeByte(*at, [&escaped](char c) { escaped += c; });
  return escaped;
}

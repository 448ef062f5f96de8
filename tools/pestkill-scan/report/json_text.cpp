#include "tools/pestkill-scan/report/json_text.h"

#include <cstring>

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void PutByteEscape(FILE* out, unsigned char c) {
  (void)std::fprintf(out, "\\u%04x", static_cast<unsigned>(c));
}

}  // namespace

int Utf8SequenceLength(const unsigned char* text) {
  const unsigned char lead = text[0];
  int length = 0;
  // Bounds on the second byte rule out overlong forms, surrogates and values above
  // U+10FFFF (the table of well-formed byte sequences of Unicode, chapter 3).
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  // A zero byte ends the text and is never a continuation byte, so the loop never
  // reads past the terminator.
  if (text[1] < low || text[1] > high) return 0;
  for (int i = 2; i < length; ++i) {
    if (!IsContinuation(text[i])) return 0;
  }
  return length;
}

void PutJsonString(FILE* out, const char* text) {
  const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
  (void)std::fputc('"', out);
  while (*at != 0) {
    const unsigned char c = *at;
    if (c == '"' || c == '\\') {
      (void)std::fputc('\\', out);
      (void)std::fputc(c, out);
      ++at;
    } else if (c < 0x20 || c == 0x7F) {
      PutByteEscape(out, c);
      ++at;
    } else if (c < 0x80) {
      (void)std::fputc(c, out);
      ++at;
    } else if (const int length = Utf8SequenceLength(at)) {
      (void)std::fwrite(at, 1, static_cast<size_t>(length), out);
      at += length;
    } else {
      PutByteEscape(out, c);
      ++at;
    }
  }
  (void)std::fputc('"', out);
}

bool IsUtf8Text(const char* text) {
  const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
  while (*at != 0) {
    if (*at < 0x80) {
      ++at;
    } else if (const int length = Utf8SequenceLength(at)) {
      at += length;
    } else {
      return false;
    }
  }
  return true;
}

namespace {

void PutBase64(FILE* out, const unsigned char* bytes, size_t count) {
  static const char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < count; i += 3) {
    const size_t left = count - i;
    const unsigned long group = (static_cast<unsigned long>(bytes[i]) << 16) |
                                (left > 1 ? static_cast<unsigned long>(bytes[i + 1]) << 8 : 0) |
                                (left > 2 ? bytes[i + 2] : 0);
    (void)std::fputc(Digits[(group >> 18) & 63], out);
    (void)std::fputc(Digits[(group >> 12) & 63], out);
    (void)std::fputc(left > 1 ? Digits[(group >> 6) & 63] : '=', out);
    (void)std::fputc(left > 2 ? Digits[group & 63] : '=', out);
  }
}

}  // namespace

void PutJsonPathMembers(FILE* out, const char* path) { PutJsonPathMembers(out, "path", path); }

void PutJsonPathMembers(FILE* out, const char* name, const char* path) {
  (void)std::fprintf(out, "\"%s\":", name);
  PutJsonString(out, path);
  if (IsUtf8Text(path)) return;
  (void)std::fprintf(out, ",\"%s_bytes\":\"", name);
  PutBase64(out, reinterpret_cast<const unsigned char*>(path), std::strlen(path));
  (void)std::fputc('"', out);
}

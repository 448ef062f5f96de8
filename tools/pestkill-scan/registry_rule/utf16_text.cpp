#include "tools/pestkill-scan/registry_rule/utf16_text.h"

#include <cstdint>

namespace {

void PutUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

bool Utf8ToUtf16(const std::string& text, std::u16string* out) {
  out->clear();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    uint32_t code = *p;
    int more = 0;
    uint32_t least = 0;
    if (code < 0x80) {
      more = 0;
    } else if ((code & 0xE0) == 0xC0) {
      more = 1, code &= 0x1F, least = 0x80;
    } else if ((code & 0xF0) == 0xE0) {
      more = 2, code &= 0x0F, least = 0x800;
    } else if ((code & 0xF8) == 0xF0) {
      more = 3, code &= 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (end - p <= more) return false;
    for (int i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    p += more + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    PutUtf8(code, &out);
  }
  return out;
}

char16_t UpperUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - 0x20);
  if (unit < 0xE0) return unit;
  // Latin-1: à..þ except the division sign; ÿ pairs with Ÿ in Latin Extended-A.
  if (unit <= 0xFE) return unit == 0xF7 ? unit : static_cast<char16_t>(unit - 0x20);
  if (unit == 0xFF) return 0x178;
  // Latin Extended-A: capital and small letter alternate, with a shifted run in the middle.
  if (unit >= 0x100 && unit <= 0x137) return static_cast<char16_t>(unit & ~1u);
  if (unit >= 0x139 && unit <= 0x148) return (unit & 1) == 0 ? static_cast<char16_t>(unit - 1) : unit;
  if (unit >= 0x14A && unit <= 0x177) return static_cast<char16_t>(unit & ~1u);
  if (unit == 0x17A || unit == 0x17C || unit == 0x17E) return static_cast<char16_t>(unit - 1);
  // Greek: α..ω except final sigma, which upper-cases to Σ too.
  if (unit == 0x3C2) return 0x3A3;
  if (unit >= 0x3B1 && unit <= 0x3C9) return static_cast<char16_t>(unit - 0x20);
  // Cyrillic: а..я, and ѐ..џ.
  if (unit >= 0x430 && unit <= 0x44F) return static_cast<char16_t>(unit - 0x20);
  if (unit >= 0x450 && unit <= 0x45F) return static_cast<char16_t>(unit - 0x50);
  return unit;
}

void UpperCase16(char16_t* text) {
  for (; *text != 0; ++text) *text = UpperUnit(*text);
}

std::u16string Upper16(const std::u16string& text) {
  std::u16string out = text;
  for (char16_t& unit : out) unit = UpperUnit(unit);
  return out;
}

bool EqualIgnoringCase16(const char16_t* left, const char16_t* right) {
  for (;; ++left, ++right) {
    if (UpperUnit(*left) != UpperUnit(*right)) return false;
    if (*left == 0) return true;
  }
}

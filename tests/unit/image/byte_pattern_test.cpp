// Leftmost occurrence of a byte pattern: the edges of the window walk and the shift
// table, then every small text and pattern against a plain search.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/byte_pattern.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

int32_t Find(const Bytes& text, const Bytes& pattern) {
  return FindBytePattern(text.data(), static_cast<int32_t>(text.size()), pattern.data(),
                         static_cast<int32_t>(pattern.size()));
}

TEST(BytePattern, Edges) {
  struct Case {
    const char* what;
    Bytes text;
    Bytes pattern;
    int32_t expected;
  } cases[] = {
      {"empty pattern in text", B("abc"), B(""), 0},
      {"empty pattern in empty text", B(""), B(""), 0},
      {"pattern in empty text", B(""), B("a"), -1},
      {"pattern longer than text", B("abc"), B("abcd"), -1},
      {"pattern as long as text, equal", B("abc"), B("abc"), 0},
      {"pattern as long as text, last byte differs", B("abd"), B("abc"), -1},
      {"pattern as long as text, first byte differs", B("xbc"), B("abc"), -1},
      {"pattern as long as text, middle byte differs", B("axc"), B("abc"), -1},
      {"at the very start", B("abcxxxx"), B("abc"), 0},
      {"at the very end", B("xxxxabc"), B("abc"), 4},
      {"one byte at the end", B("xxxxa"), B("a"), 4},
      {"one byte at the start", B("axxxx"), B("a"), 0},
      {"one byte absent", B("xxxxx"), B("a"), -1},
      {"two occurrences give the first", B("xxabyyabzz"), B("ab"), 2},
      {"overlapping occurrences", B("aaaaa"), B("aaa"), 0},
      {"repeated byte in pattern keeps its last position", B("xabaabab"), B("abab"), 4},
      {"last byte occurs earlier in pattern", B("xxaxaa"), B("aa"), 4},
      {"near miss before the match", B("abcabdabc"), B("abd"), 3},
      {"high-bit bytes", Bytes{0x10, 0x80, 0xFF, 0x80, 0xFE, 0xFF}, Bytes{0x80, 0xFE, 0xFF}, 3},
      {"high-bit byte absent from pattern shifts by its length",
       Bytes{0xFF, 0xFF, 0xFF, 0x01, 0x02}, Bytes{0x01, 0x02}, 3},
      {"zero bytes", Bytes{0, 0, 1, 0, 0, 0}, Bytes{0, 0, 0}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Find(c.text, c.pattern), c.expected);
  }
}

TEST(BytePattern, InvalidArgumentsFindNothing) {
  const uint8_t text[] = {1, 2, 3};
  const uint8_t pattern[] = {2};
  EXPECT_EQ(FindBytePattern(text, 3, pattern, -1), -1);
  EXPECT_EQ(FindBytePattern(text, -1, pattern, 1), -1);
  EXPECT_EQ(FindBytePattern(nullptr, 3, pattern, 1), -1);
  EXPECT_EQ(FindBytePattern(text, 3, nullptr, 1), -1);
  EXPECT_EQ(FindBytePattern(nullptr, 0, nullptr, 0), 0);
}

// Every text up to 8 bytes and every pattern up to 4 bytes over a three-letter
// alphabet whose letters include a high-bit byte, against std::search.
TEST(BytePattern, AgreesWithPlainSearchOnAllSmallInputs) {
  const uint8_t alphabet[] = {'a', 0x80, 0xFF};
  auto enumerate = [&](size_t length, size_t index) {
    Bytes out(length);
    for (size_t i = 0; i < length; ++i, index /= 3) out[i] = alphabet[index % 3];
    return out;
  };
  for (size_t m = 0; m <= 4; ++m) {
    size_t patterns = 1;
    for (size_t i = 0; i < m; ++i) patterns *= 3;
    for (size_t pi = 0; pi < patterns; ++pi) {
      Bytes pattern = enumerate(m, pi);
      for (size_t n = 0; n <= 8; ++n) {
        size_t texts = 1;
        for (size_t i = 0; i < n; ++i) texts *= 3;
        for (size_t ti = 0; ti < texts; ++ti) {
          Bytes text = enumerate(n, ti);
          auto at = std::search(text.begin(), text.end(), pattern.begin(), pattern.end());
          int32_t expected = at == text.end() && m > 0 ? -1 : static_cast<int32_t>(at - text.begin());
          ASSERT_EQ(Find(text, pattern), expected)
              << "text length " << n << " index " << ti << ", pattern length " << m << " index " << pi;
        }
      }
    }
  }
}

}  // namespace

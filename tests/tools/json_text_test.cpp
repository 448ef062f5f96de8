// The --json string escaping: any byte string, however malformed as text, comes
// out as one valid JSON string whose bytes are valid UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/pestkill-scan/report/json_text.h"

namespace {

std::string Escaped(const std::string& text) {
  FILE* out = std::tmpfile();
  if (out == nullptr) return "(no temporary file)";
  PutJsonString(out, text.c_str());
  std::string written;
  std::rewind(out);
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) written += static_cast<char>(c);
  (void)std::fclose(out);
  return written;
}

struct EscapeCase {
  const char* name;
  std::string text;
  std::string json;
};

TEST(JsonText, EscapesEveryByteStringToValidJson) {
  const EscapeCase cases[] = {
      {"plain", "C:\\dir/a.exe", "\"C:\\\\dir/a.exe\""},
      {"quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
      {"control characters", "a\nb\tc\x01\x1f\x7f", "\"a\\u000ab\\u0009c\\u0001\\u001f\\u007f\""},
      {"two-byte UTF-8 kept", "caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"three-byte UTF-8 kept", "\xE2\x82\xAC", "\"\xE2\x82\xAC\""},
      {"four-byte UTF-8 kept", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
      {"Latin-1 byte", "caf\xE9", "\"caf\\u00e9\""},
      {"lone continuation byte", "\x80x", "\"\\u0080x\""},
      {"overlong slash", "\xC0\xAF", "\"\\u00c0\\u00af\""},
      {"overlong three-byte", "\xE0\x80\xAF", "\"\\u00e0\\u0080\\u00af\""},
      {"surrogate", "\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
      {"sequence cut by the end", "a\xE2\x82", "\"a\\u00e2\\u0082\""},
      {"sequence cut by ASCII", "\xE2" "A", "\"\\u00e2A\""},
      {"empty", "", "\"\""},
  };
  for (const EscapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Escaped(c.text), c.json);
  }
}

}  // namespace

// The normalisation and matching rules of auto-start data, one table of cases run with
// 8-bit units, UTF-16 units and the platform's wide characters. The cases are written
// as 8-bit text and widened unit by unit; upper-casing and comparison are those of
// the C runtime's default locale (a-z only, as the shared helpers do it), and the short forms of existing paths come from a small
// table, as a file system would give them.
#include "remedy/run_data_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

template <typename Unit>
std::basic_string<Unit> Widen(const char* text, size_t length) {
  std::basic_string<Unit> wide;
  for (size_t i = 0; i < length; ++i) wide.push_back(static_cast<Unit>(static_cast<unsigned char>(text[i])));
  return wide;
}

template <typename Unit>
std::basic_string<Unit> Widen(const char* text) {
  return Widen<Unit>(text, std::strlen(text));
}

template <typename Unit>
size_t Length(const Unit* text) {
  size_t length = 0;
  while (text[length] != Unit(0)) ++length;
  return length;
}

struct ShortFormEntry {
  const char* path;   // the normalised command line, as it reaches the file system
  const char* form;   // its short form
  size_t reported;    // 0: the form's length; otherwise the value returned instead
};

struct ShortForms {
  const ShortFormEntry* entries;
  size_t count;
};

template <typename Unit>
size_t ShortFormFromTable(const Unit* path, Unit* out, size_t capacity, void* context) {
  const ShortForms* forms = static_cast<const ShortForms*>(context);
  for (size_t i = 0; i < forms->count; ++i) {
    const ShortFormEntry& entry = forms->entries[i];
    if (Widen<Unit>(entry.path) != std::basic_string<Unit>(path)) continue;
    std::basic_string<Unit> form = Widen<Unit>(entry.form);
    if (form.size() < capacity) std::copy(form.c_str(), form.c_str() + form.size() + 1, out);
    return entry.reported != 0 ? entry.reported : form.size();
  }
  return 0;
}

template <typename Unit>
RunDataCalls<Unit> TestCalls(const ShortForms* forms) {
  // No file identities and no expansion: the rules of the text alone.
  return {UpperCaseAsciiLetters<Unit>, EqualIgnoringAsciiCase<Unit>, ShortFormFromTable<Unit>,
          const_cast<ShortForms*>(forms), nullptr, nullptr, nullptr};
}

constexpr size_t Capacity = 64;

// --- Normalisation -----------------------------------------------------------------

struct NormaliseCase {
  const char* name;
  const char* stale;  // what the buffer held before, from an earlier value
  const char* data;   // the units the enumeration wrote
  int written;        // how many of them: kWithTerminator for the text and its terminator
  int reported;       // the count the enumeration returned: kAsWritten for written
  const char* expected;
};

constexpr int kWithTerminator = -1;
constexpr int kAsWritten = -1;

const NormaliseCase NormaliseCases[] = {
    {"quoted path, arguments, a run of spaces", "", "\"C:\\Program Files\\Tool\\tool.exe\"  -start",
     kWithTerminator, kAsWritten, "C:\\PROGRAM FILES\\TOOL\\TOOL.EXE -START"},
    {"string with its terminator keeps its text", "", "c:\\x\\a.exe", kWithTerminator, kAsWritten,
     "C:\\X\\A.EXE"},
    {"data without terminator loses its last unit", "", "C:\\X\\A.EXE!", 11, kAsWritten,
     "C:\\X\\A.EXE"},
    {"no units is an empty text", "C:\\X\\A.EXE", "", 0, kAsWritten, ""},
    {"stale units behind shorter data never show", "C:\\X\\A.EXE", "XY", 2, kAsWritten, "X"},
    {"text ends at the first terminator", "", "AB\0CD", 6, kAsWritten, "AB"},
    {"one trailing backslash removed", "", "C:\\DIR\\", kWithTerminator, kAsWritten, "C:\\DIR"},
    {"only one trailing backslash removed", "", "C:\\DIR\\\\", kWithTerminator, kAsWritten,
     "C:\\DIR\\"},
    {"quoted trailing backslash stays", "", "\"C:\\DIR\\\"", kWithTerminator, kAsWritten,
     "C:\\DIR\\"},
    {"blanks at both ends and runs inside", "", " \t C:\\A  \t B\t ", kWithTerminator, kAsWritten,
     "C:\\A B"},
    {"a run keeps its first blank, a tab", "", "A\t  B", kWithTerminator, kAsWritten, "A\tB"},
    {"only blanks and quotes", "", " \t\" ", kWithTerminator, kAsWritten, ""},
    {"count beyond the buffer: its last unit ends the text", "",
     "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF", 64, 200,
     "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDE"},
    {"only a-z are upper-cased", "", "a\xE9z\xFF{", kWithTerminator, kAsWritten, "A\xE9Z\xFF{"},
};

// --- Matching ------------------------------------------------------------------------

struct MatchCase {
  const char* name;
  const char* target;  // upper-cased, as the callers pass it
  const char* data;    // a string value with its terminator, normalised before the test
  bool matches;
};

const ShortFormEntry ShortFormTable[] = {
    // The form names the target.
    {"C:\\PROGRAM FILES\\TOOL.EXE", "C:\\PROGRA~1\\TOOL.EXE", 0},
    // An existing file whose name only starts like the target.
    {"C:\\PKH3\\A.EXE PARAM", "C:\\PKH3\\AEXEPA~1", 0},
    // Forms as the system spells them: lower case is not upper-cased again.
    {"C:\\PKH3\\LOWER CASE\\A.EXE", "c:\\pkh3\\lower~1\\a.exe", 0},
    // A form followed by a comma: the comma ends the target only in the data itself.
    {"C:\\PKH3\\COMMA DIR\\X", "C:\\PKH3\\A.DLL,X", 0},
    // A form followed by a space.
    {"C:\\PKH3\\SPACE DIR\\X", "C:\\PKH3\\A.EXE X", 0},
    // The form would need the whole buffer or more: it is not used.
    {"C:\\PKH3\\A.EXE /NEEDS-ROOM", "C:\\ELSEWHERE", Capacity},
    // The largest form that fits is used.
    {"C:\\PKH3\\A.EXE /FITS", "C:\\ELSEWHERE", Capacity - 1},
    // The first occurrence in the form decides.
    {"C:\\PKH3\\TWICE\\A.EXE", "C:\\PKH3\\A.EXE.BAK C:\\PKH3\\A.EXE", 0},
};

const MatchCase MatchCases[] = {
    {"quoted path with arguments", "C:\\X\\A.EXE", "\"C:\\X\\A.EXE\" /S", true},
    {"equal length, other case", "C:\\X\\A.EXE", "c:\\x\\a.exe", true},
    {"equal length, another file", "C:\\X\\A.EXE", "C:\\X\\B.EXE", false},
    {"longer name that only starts with the target", "C:\\X\\A.EXE", "C:\\X\\A.EXEC", false},
    {"behind a host program, then a comma", "C:\\X\\A.DLL", "RUNDLL32.EXE C:\\X\\A.DLL,Start", true},
    {"behind a host program, then a space", "C:\\X\\A.EXE", "CMD.EXE /C C:\\X\\A.EXE /Q", true},
    {"tab right after the target", "C:\\X\\A.EXE", "C:\\X\\A.EXE\t/S", false},
    {"only the first occurrence counts", "C:\\X\\A.EXE", "C:\\X\\A.EXE.BAK C:\\X\\A.EXE", false},
    {"shorter data never matches", "C:\\X\\A.EXE", "C:\\X\\A.EX", false},
    {"short data for a long target never matches", "C:\\PKH3\\LONGNAME.EXE", "C:\\PKH3\\LONGNA~1.EXE",
     false},
    {"empty data", "C:\\X\\A.EXE", "", false},
    {"trailing backslash", "C:\\DIR", "C:\\DIR\\", true},
    {"quoted trailing backslash", "C:\\DIR", "\"C:\\DIR\\\"", false},
    {"blanks around and inside", "C:\\MY APP.EXE", "   C:\\MY   APP.EXE   ", true},
    {"short form names the target", "C:\\PROGRA~1\\TOOL.EXE", "C:\\Program Files\\Tool.exe", true},
    {"short form decides, the data is not searched", "C:\\PKH3\\A.EXE", "C:\\PKH3\\A.EXE PARAM", false},
    {"short form is compared as spelt", "C:\\PKH3\\LOWER~1\\A.EXE", "C:\\PKH3\\LOWER CASE\\A.EXE", false},
    {"short form, target then a comma", "C:\\PKH3\\A.DLL", "C:\\PKH3\\COMMA DIR\\X", false},
    {"short form, target then a space", "C:\\PKH3\\A.EXE", "C:\\PKH3\\SPACE DIR\\X", true},
    {"short form, first occurrence only", "C:\\PKH3\\A.EXE", "C:\\PKH3\\TWICE\\A.EXE", false},
    {"short form too large for the buffer", "C:\\PKH3\\A.EXE", "C:\\PKH3\\A.EXE /NEEDS-ROOM", true},
    {"short form just fits", "C:\\PKH3\\A.EXE", "C:\\PKH3\\A.EXE /FITS", false},
    {"same length, other letters outside a-z", "C:\\\xC0\xC1\\W.EXE", "C:\\\xC2\xC3\\W.EXE", false},
    {"same letters outside a-z", "C:\\\xC0\xC1\\W.EXE", "\"C:\\\xC0\xC1\\W.EXE\" -x", true},
};

template <typename Unit>
class RunDataRules : public ::testing::Test {};

using CodeUnits = ::testing::Types<char, char16_t, wchar_t>;
TYPED_TEST_SUITE(RunDataRules, CodeUnits);

TYPED_TEST(RunDataRules, Normalise) {
  using Unit = TypeParam;
  const ShortForms none = {nullptr, 0};
  const RunDataCalls<Unit> calls = TestCalls<Unit>(&none);
  for (const NormaliseCase& c : NormaliseCases) {
    SCOPED_TRACE(c.name);
    Unit data[Capacity];
    Unit collapse[Capacity];
    std::fill(data, data + Capacity, Unit('Z'));
    std::fill(collapse, collapse + Capacity, Unit('Z'));
    std::basic_string<Unit> stale = Widen<Unit>(c.stale);
    std::copy(stale.c_str(), stale.c_str() + stale.size() + 1, data);
    size_t count = c.written == kWithTerminator ? std::strlen(c.data) + 1 : size_t(c.written);
    std::basic_string<Unit> written = Widen<Unit>(c.data, count);
    std::copy(written.begin(), written.end(), data);

    size_t reported = c.reported == kAsWritten ? count : size_t(c.reported);
    NormaliseRunData(data, Capacity, reported, collapse, calls);
    EXPECT_EQ(Widen<Unit>(c.expected), std::basic_string<Unit>(data));
  }
}

TYPED_TEST(RunDataRules, Match) {
  using Unit = TypeParam;
  const ShortForms forms = {ShortFormTable, sizeof(ShortFormTable) / sizeof(ShortFormTable[0])};
  const RunDataCalls<Unit> calls = TestCalls<Unit>(&forms);
  for (const MatchCase& c : MatchCases) {
    SCOPED_TRACE(c.name);
    Unit data[Capacity] = {};
    Unit collapse[Capacity];
    Unit shortPath[Capacity];
    std::basic_string<Unit> text = Widen<Unit>(c.data);
    std::copy(text.c_str(), text.c_str() + text.size() + 1, data);
    NormaliseRunData(data, Capacity, text.size() + 1, collapse, calls);

    std::basic_string<Unit> target = Widen<Unit>(c.target);
    EXPECT_EQ(c.matches, RunDataNamesTarget(data, target.c_str(), shortPath, Capacity, calls));
  }
}

TYPED_TEST(RunDataRules, OnlyAsciiLettersHaveACase) {
  using Unit = TypeParam;
  struct Case {
    const char* left;
    const char* right;
    bool equal;
  } cases[] = {
      {"c:\\x\\a.exe", "C:\\X\\A.EXE", true},
      {"abc", "abcd", false},
      {"", "", true},
      {"caf\xE9", "CAF\xC9", false},  // the default locale leaves other letters alone
      {"[", "{", false},              // neighbours of the letters in the table
      {"@", "`", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.left);
    const std::basic_string<Unit> left = Widen<Unit>(c.left);
    const std::basic_string<Unit> right = Widen<Unit>(c.right);
    EXPECT_EQ(c.equal, EqualIgnoringAsciiCase(left.c_str(), right.c_str()));
    EXPECT_EQ(c.equal, EqualIgnoringAsciiCase(right.c_str(), left.c_str()));
  }
  std::basic_string<Unit> text = Widen<Unit>("az AZ `{ @[ \xE9\xFF 09");
  UpperCaseAsciiLetters(&text[0]);
  EXPECT_EQ(Widen<Unit>("AZ AZ `{ @[ \xE9\xFF 09"), text);
}

TYPED_TEST(RunDataRules, CollapseBlanksIgnoresNullPointers) {
  using Unit = TypeParam;
  Unit destination[2] = {Unit('x'), Unit(0)};
  CollapseRunDataBlanks<Unit>(nullptr, destination);
  EXPECT_EQ(Unit('x'), destination[0]);
  const Unit source[2] = {Unit('y'), Unit(0)};
  CollapseRunDataBlanks<Unit>(source, nullptr);
}

// Wide units compare whole: two characters that share their low byte are different
// characters, and neither is taken for an ASCII letter.
TEST(RunDataRulesWide, UnitsAboveOneByteCompareWhole) {
  const ShortForms none = {nullptr, 0};
  const RunDataCalls<char16_t> calls = TestCalls<char16_t>(&none);
  struct Case {
    const char* name;
    const char16_t* target;
    const char16_t* data;
    bool matches;
  } cases[] = {
      {"same folder", u"C:\\\u041F\u0420\u041E\u0413\u0410\\WINLOGON.EXE",
       u"C:\\\u041F\u0420\u041E\u0413\u0410\\winlogon.exe", true},
      {"same-length foreign folder", u"C:\\\u041F\u0420\u041E\u0413\u0410\\WINLOGON.EXE",
       u"C:\\\u0414\u0420\u0410\u041C\u0410\\WINLOGON.EXE", false},
      {"low bytes alike, not letters", u"C:\\\u0141\\A.EXE", u"C:\\\u0161\\A.EXE /S", false},
      {"behind a host program", u"C:\\\u30C7\u30FC\u30BF\\T.DLL",
       u"RUNDLL32.EXE \"C:\\\u30C7\u30FC\u30BF\\T.DLL\",Start", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char16_t data[Capacity] = {};
    char16_t collapse[Capacity];
    char16_t shortPath[Capacity];
    size_t length = Length(c.data);
    std::copy(c.data, c.data + length + 1, data);
    NormaliseRunData(data, Capacity, length + 1, collapse, calls);
    EXPECT_EQ(c.matches, RunDataNamesTarget(data, c.target, shortPath, Capacity, calls));
  }
}

}  // namespace

#include "tools/pestkill-scan/judgement/glob_match.h"

namespace {

// Matches the bracket expression at pattern (just after '[') against c. Returns
// the position after the closing ']', or nullptr when the expression is not closed.
const unsigned char* MatchBracket(const unsigned char* pattern, unsigned char c, bool* matched) {
  bool negate = false;
  if (*pattern == '!' || *pattern == '^') {
    negate = true;
    ++pattern;
  }
  bool member = false;
  const unsigned char* at = pattern;
  do {
    unsigned char low = *at;
    if (low == 0) return nullptr;
    if (low == '\\' && at[1] != 0) low = *++at;
    ++at;
    unsigned char high = low;
    if (*at == '-' && at[1] != ']' && at[1] != 0) {
      high = at[1];
      if (high == '\\' && at[2] != 0) {
        high = at[2];
        ++at;
      }
      at += 2;
    }
    if (c >= low && c <= high) member = true;
  } while (*at != ']');
  *matched = member != negate;
  return at + 1;
}

}  // namespace

bool MatchesGlob(const char* patternText, const char* subject) {
  const unsigned char* pattern = reinterpret_cast<const unsigned char*>(patternText);
  const unsigned char* text = reinterpret_cast<const unsigned char*>(subject);
  // The last '*' seen and the text position it is tried at: on a mismatch the star
  // takes one more byte (the classic backtracking of one star, enough because a
  // later star can always absorb what an earlier one would have).
  const unsigned char* starPattern = nullptr;
  const unsigned char* starText = nullptr;
  for (;;) {
    if (*pattern == '*') {
      while (*pattern == '*') ++pattern;
      starPattern = pattern;
      starText = text;
      continue;
    }
    bool step = false;
    const unsigned char* next = pattern + 1;
    if (*text != 0 && *pattern != 0) {
      if (*pattern == '?') {
        step = true;
      } else if (*pattern == '[') {
        bool matched = false;
        const unsigned char* after = MatchBracket(pattern + 1, *text, &matched);
        if (after != nullptr) {
          step = matched;
          next = after;
        } else {
          step = *text == '[';
        }
      } else if (*pattern == '\\' && pattern[1] != 0) {
        step = *text == pattern[1];
        next = pattern + 2;
      } else {
        step = *text == *pattern;
      }
    }
    if (step) {
      pattern = next;
      ++text;
      continue;
    }
    if (*pattern == 0 && *text == 0) return true;
    if (starPattern == nullptr || *starText == 0) return false;
    pattern = starPattern;
    text = ++starText;
  }
}

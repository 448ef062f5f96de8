#include "remedy/collapse_blanks.h"

#include <cstddef>

namespace {

// Blanks in a command line, as the shell splits it: space and tab.
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void CollapseBlanks(const char* source, char* destination) {
  if (source == nullptr || destination == nullptr) return;

  while (IsBlank(*source)) ++source;

  size_t length = 0;
  unsigned blankRun = 0;
  for (; *source != '\0'; ++source) {
    if (IsBlank(*source)) {
      // Only the first blank of a run is kept, unchanged (a tab stays a tab).
      if (blankRun++ == 0) destination[length++] = *source;
    } else {
      blankRun = 0;
      destination[length++] = *source;
    }
  }
  destination[length] = '\0';

  while (length > 0 && IsBlank(destination[length - 1])) destination[--length] = '\0';
}

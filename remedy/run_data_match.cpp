#include "remedy/run_data_match.h"

#include "remedy/run_data_file_match.h"

namespace {

// Blanks in a command line, as the shell splits it: space and tab.
template <typename Unit>
bool IsBlank(Unit c) {
  return c == Unit(' ') || c == Unit('\t');
}

template <typename Unit>
size_t TextLength(const Unit* text) {
  size_t length = 0;
  while (text[length] != Unit(0)) ++length;
  return length;
}

template <typename Unit>
void CopyText(const Unit* source, Unit* destination) {
  while ((*destination++ = *source++) != Unit(0)) {
  }
}

// The first occurrence of needle in text, or null; an empty needle is found at the start.
template <typename Unit>
const Unit* FindText(const Unit* text, const Unit* needle) {
  for (; ; ++text) {
    size_t i = 0;
    while (needle[i] != Unit(0) && text[i] == needle[i]) ++i;
    if (needle[i] == Unit(0)) return text;
    if (*text == Unit(0)) return nullptr;
  }
}

template <typename Unit>
bool EndsCommandWord(Unit c, bool commaEnds) {
  return c == Unit(' ') || c == Unit(0) || (commaEnds && c == Unit(','));
}

template <typename Unit>
Unit AsciiUpper(Unit c) {
  return (c >= Unit('a') && c <= Unit('z')) ? static_cast<Unit>(c - Unit('a') + Unit('A')) : c;
}

// Whatever the value's type, its units are taken as text. A string stored with its
// terminator ends there; data stored without one loses its last unit. Nothing of an
// earlier, longer value can show behind the end. Returns dataUnits held to capacity.
template <typename Unit>
size_t TerminateRunData(Unit* data, size_t capacity, size_t dataUnits) {
  if (dataUnits > capacity) dataUnits = capacity;
  data[capacity - 1] = Unit(0);
  data[dataUnits == 0 ? 0 : dataUnits - 1] = Unit(0);
  return dataUnits;
}

}  // namespace

template <typename Unit>
void UpperCaseAsciiLetters(Unit* text) {
  for (; *text != Unit(0); ++text) *text = AsciiUpper(*text);
}

template <typename Unit>
bool EqualIgnoringAsciiCase(const Unit* left, const Unit* right) {
  for (;; ++left, ++right) {
    if (AsciiUpper(*left) != AsciiUpper(*right)) return false;
    if (*left == Unit(0)) return true;
  }
}

template <typename Unit>
void CollapseRunDataBlanks(const Unit* source, Unit* destination) {
  if (source == nullptr || destination == nullptr) return;

  while (IsBlank(*source)) ++source;

  size_t length = 0;
  unsigned blankRun = 0;
  for (; *source != Unit(0); ++source) {
    if (IsBlank(*source)) {
      // Only the first blank of a run is kept, unchanged (a tab stays a tab).
      if (blankRun++ == 0) destination[length++] = *source;
    } else {
      blankRun = 0;
      destination[length++] = *source;
    }
  }
  destination[length] = Unit(0);

  while (length > 0 && IsBlank(destination[length - 1])) destination[--length] = Unit(0);
}

template <typename Unit>
void NormaliseRunData(Unit* data, size_t capacity, size_t dataUnits, Unit* collapseBuffer,
                      const RunDataCalls<Unit>& calls) {
  TerminateRunData(data, capacity, dataUnits);

  calls.upperCase(data);

  // Quotes only group a path with spaces; the loader does not see them.
  for (Unit* p = data; *p != Unit(0); ++p)
    if (*p == Unit('"')) *p = Unit(' ');

  // A directory named with its trailing separator is the same directory. Only the very
  // last unit counts: a quoted "C:\DIR\" now ends in a space and keeps its backslash.
  size_t length = TextLength(data);
  if (length > 0 && data[length - 1] == Unit('\\')) data[length - 1] = Unit(0);

  CollapseRunDataBlanks(data, collapseBuffer);
  CopyText(collapseBuffer, data);
}

template <typename Unit>
bool RunDataNamesTarget(const Unit* commandLine, const Unit* target, Unit* shortPath,
                        size_t shortCapacity, const RunDataCalls<Unit>& calls) {
  size_t targetLength = TextLength(target);
  if (TextLength(commandLine) <= targetLength) return calls.equalIgnoringCase(commandLine, target);

  // A command line that is itself an existing path may name the target by its short
  // form; then only that form is searched, as the system spells it. A result of the
  // buffer's size or more is the size the short form would need, not a length.
  size_t shortLength = calls.shortForm(commandLine, shortPath, shortCapacity, calls.context);
  if (shortLength != 0 && shortLength < shortCapacity) {
    const Unit* at = FindText(static_cast<const Unit*>(shortPath), target);
    return at != nullptr && EndsCommandWord(at[targetLength], false);
  }

  // Otherwise the target may stand anywhere, also behind a host program such as
  // RUNDLL32.EXE, which takes its DLL followed by a comma and the entry point. Only
  // the first occurrence is looked at.
  const Unit* at = FindText(commandLine, target);
  return at != nullptr && EndsCommandWord(at[targetLength], true);
}

template <typename Unit>
size_t ExpandRunData(Unit* data, size_t capacity, size_t dataUnits, Unit* scratch,
                     const RunDataCalls<Unit>& calls) {
  // The text ends where the normalisation will end it.
  dataUnits = TerminateRunData(data, capacity, dataUnits);
  if (calls.expandStrings == nullptr) return dataUnits;

  const size_t written = calls.expandStrings(data, scratch, capacity, calls.expandContext);
  if (written == 0 || written > capacity) return dataUnits;
  // Whatever count the call gave, the expansion ends at its own terminator.
  scratch[capacity - 1] = Unit(0);
  CopyText(static_cast<const Unit*>(scratch), data);
  return TextLength(data) + 1;
}

template <typename Unit>
bool RunDataStartsTarget(const Unit* commandLine, const Unit* target, const RunDataFileId* targetFile,
                         Unit* scratch, size_t scratchCapacity, const RunDataCalls<Unit>& calls) {
  // Everything the text names keeps matching as it did; the file is asked about only
  // for a line whose text does not name the target.
  if (RunDataNamesTarget(commandLine, target, scratch, scratchCapacity, calls)) return true;
  return targetFile != nullptr && RunDataNamesFile(commandLine, *targetFile, scratch, scratchCapacity, calls);
}

#define PESTKILL_RUN_DATA_RULES_FOR(Unit)                                                   \
  template void UpperCaseAsciiLetters<Unit>(Unit*);                                         \
  template bool EqualIgnoringAsciiCase<Unit>(const Unit*, const Unit*);                     \
  template void CollapseRunDataBlanks<Unit>(const Unit*, Unit*);                            \
  template void NormaliseRunData<Unit>(Unit*, size_t, size_t, Unit*, const RunDataCalls<Unit>&); \
  template bool RunDataNamesTarget<Unit>(const Unit*, const Unit*, Unit*, size_t,           \
                                         const RunDataCalls<Unit>&);                        \
  template size_t ExpandRunData<Unit>(Unit*, size_t, size_t, Unit*, const RunDataCalls<Unit>&); \
  template bool RunDataStartsTarget<Unit>(const Unit*, const Unit*, const RunDataFileId*, Unit*, size_t, \
                                          const RunDataCalls<Unit>&);

PESTKILL_RUN_DATA_RULES_FOR(char)
PESTKILL_RUN_DATA_RULES_FOR(char16_t)
PESTKILL_RUN_DATA_RULES_FOR(wchar_t)

#undef PESTKILL_RUN_DATA_RULES_FOR

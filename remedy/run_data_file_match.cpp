#include "remedy/run_data_file_match.h"

#include <cstdint>

namespace {

template <typename Unit>
bool IsBlank(Unit c) {
  return c == Unit(' ') || c == Unit('\t');
}

template <typename Unit>
bool IsSeparator(Unit c) {
  return c == Unit('\\') || c == Unit('/');
}

template <typename Unit>
bool IsAsciiLetter(Unit c) {
  return (c >= Unit('A') && c <= Unit('Z')) || (c >= Unit('a') && c <= Unit('z'));
}

template <typename Unit>
Unit AsciiUpper(Unit c) {
  return (c >= Unit('a') && c <= Unit('z')) ? static_cast<Unit>(c - Unit('a') + Unit('A')) : c;
}

// Where a word of the command line ends.
template <typename Unit>
bool EndsPathWord(Unit c) {
  return c == Unit(0) || IsBlank(c) || c == Unit(',');
}

// A drive letter, a colon and a separator, at the start of the line or of a word. A
// backslash in front (\\?\C:\, \\.\C:\) makes it part of a path of another kind.
template <typename Unit>
bool BeginsLocalPath(const Unit* commandLine, const Unit* at) {
  if (!IsAsciiLetter(at[0]) || at[1] != Unit(':') || !IsSeparator(at[2])) return false;
  if (at == commandLine) return true;
  const Unit before = at[-1];
  return IsBlank(before) || before == Unit(',') || before == Unit('=');
}

// The names the system takes for devices in any folder: "C:\X\NUL.TXT" is NUL.
bool IsDeviceName(const char* name, size_t length) {
  static const char* const Devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : Devices) {
    size_t i = 0;
    while (i < length && device[i] != 0 && device[i] == name[i]) ++i;
    if (i == length && device[i] == 0) return true;
  }
  const bool serialPort = name[0] == 'C' && name[1] == 'O' && name[2] == 'M';
  const bool printerPort = name[0] == 'L' && name[1] == 'P' && name[2] == 'T';
  return length == 4 && (serialPort || printerPort) && name[3] >= '1' && name[3] <= '9';
}

template <typename Unit>
bool IsControl(Unit c) {
  return c != Unit(0) && static_cast<uint32_t>(c) < 0x20;
}

// A path the file system may be asked about: no wildcards or other characters that a
// file name cannot hold, no colon but the drive's, no device as its last part.
template <typename Unit>
bool MayBeAsked(const Unit* path, size_t length) {
  size_t lastPart = 0;
  for (size_t i = 0; i < length; ++i) {
    const Unit c = path[i];
    if (c == Unit('?') || c == Unit('*') || c == Unit('<') || c == Unit('>') || c == Unit('|') ||
        c == Unit('"') || (c == Unit(':') && i != 1) || IsControl(c))
      return false;
    if (IsSeparator(c)) lastPart = i + 1;
  }
  // The device name is the last part up to its first dot, trailing blanks dropped.
  char name[8];
  size_t nameLength = 0;
  for (size_t i = lastPart; i < length && path[i] != Unit('.'); ++i) {
    if (nameLength == sizeof(name)) return true;  // longer than any device name
    const Unit c = AsciiUpper(path[i]);
    if (static_cast<uint32_t>(c) < 0x20 || static_cast<uint32_t>(c) > 0x7E) return true;
    name[nameLength++] = static_cast<char>(c);
  }
  while (nameLength > 0 && name[nameLength - 1] == ' ') --nameLength;
  return !IsDeviceName(name, nameLength);
}

}  // namespace

template <typename Unit>
bool RunDataNamesFile(const Unit* commandLine, const RunDataFileId& target, Unit* candidate,
                      size_t capacity, const RunDataCalls<Unit>& calls) {
  if (calls.identifyFile == nullptr || capacity == 0) return false;
  // A line that is itself an existing path (the file system gives it a short form)
  // is that path and nothing else, as for the text: a folder named "A.EXE,X" is no
  // A.EXE with an argument.
  if (calls.shortForm != nullptr && calls.shortForm(commandLine, candidate, capacity, calls.context) != 0) {
    size_t length = 0;
    while (commandLine[length] != Unit(0)) ++length;
    RunDataFileId found;
    return BeginsLocalPath(commandLine, commandLine) && MayBeAsked(commandLine, length) &&
           calls.identifyFile(commandLine, &found, calls.context) && found.volume == target.volume &&
           found.index == target.index;
  }
  size_t probes = 0;
  for (const Unit* start = commandLine; *start != Unit(0); ++start) {
    if (!BeginsLocalPath(commandLine, start)) continue;
    for (const Unit* end = start + 3;; ++end) {
      if (!EndsPathWord(*end)) continue;
      const size_t length = static_cast<size_t>(end - start);
      if (length < capacity && MayBeAsked(start, length)) {
        if (probes++ == RunDataFileProbeLimit) return false;
        for (size_t i = 0; i < length; ++i) candidate[i] = start[i];
        candidate[length] = Unit(0);
        RunDataFileId found;
        if (calls.identifyFile(candidate, &found, calls.context))
          return found.volume == target.volume && found.index == target.index;
      }
      if (*end == Unit(0)) break;
    }
  }
  return false;
}

#define PESTKILL_RUN_DATA_FILE_RULE_FOR(Unit) \
  template bool RunDataNamesFile<Unit>(const Unit*, const RunDataFileId&, Unit*, size_t, const RunDataCalls<Unit>&);

PESTKILL_RUN_DATA_FILE_RULE_FOR(char)
PESTKILL_RUN_DATA_FILE_RULE_FOR(char16_t)
PESTKILL_RUN_DATA_FILE_RULE_FOR(wchar_t)

#undef PESTKILL_RUN_DATA_FILE_RULE_FOR

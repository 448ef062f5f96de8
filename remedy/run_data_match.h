// The rules by which the data of an auto-start value is made comparable and judged to
// start a given file. They are written once for any code unit: 8-bit text in the
// system code page on the live ANSI road, wide text on the live wide road, and the
// UTF-16 data of registry hive files read offline. Nothing here calls the system:
// the few steps that depend on it come in through RunDataCalls.
#pragma once

#include <cstddef>
#include <cstdint>

// A file as the file system tells it apart from every other: two paths name the same
// file when both give the same volume and index (hard links and drive aliases alike).
struct RunDataFileId {
  uint64_t volume;
  uint64_t index;
};

template <typename Unit>
struct RunDataCalls {
  // Upper-cases a terminated text in place.
  void (*upperCase)(Unit* text);
  // True when two terminated texts are equal ignoring case.
  bool (*equalIgnoringCase)(const Unit* left, const Unit* right);
  // Writes the short (8.3) form of an existing path into out, which holds capacity
  // units. Returns its length without the terminator, 0 when the path has no short
  // form (it does not exist, or there is no file system to ask), or a value of
  // capacity or more when the form does not fit. context is passed through.
  size_t (*shortForm)(const Unit* path, Unit* out, size_t capacity, void* context);
  void* context;
  // Tells which existing file a local drive path names, without running or changing
  // anything. False when no file answers (nothing there, a directory, a drive that is
  // no local one) or when there is no file system to ask (a null call). Passed
  // context too.
  bool (*identifyFile)(const Unit* path, RunDataFileId* file, void* context);
  // Expands the environment variables of an expandable string into out, which holds
  // capacity units. Returns the units written with the terminator, 0 when it cannot,
  // or a value above capacity when the expansion does not fit. A null call expands
  // nothing. expandContext is passed through.
  size_t (*expandStrings)(const Unit* text, Unit* out, size_t capacity, void* expandContext);
  void* expandContext;
};

// Upper-casing and comparison as the C runtime does them for 8-bit text in its
// default locale: only the letters a-z have a case, every other unit stays as it is.
// For wide text, whose other letters that locale leaves alone in the 8-bit form.
template <typename Unit>
void UpperCaseAsciiLetters(Unit* text);
template <typename Unit>
bool EqualIgnoringAsciiCase(const Unit* left, const Unit* right);

// Every run of blanks (spaces, tabs) shrunk to its first character, blanks at both
// ends dropped. destination holds at least the source's length plus one unit. A null
// pointer does nothing.
template <typename Unit>
void CollapseRunDataBlanks(const Unit* source, Unit* destination);

// Turns the data of one value into a comparable command line, in place. data holds
// capacity units (at least 1); dataUnits is how many units the enumeration returned.
// The last of them is taken for a terminator: a string stored with its own keeps its
// whole text, data stored without one loses its last unit. collapseBuffer holds
// capacity units too.
template <typename Unit>
void NormaliseRunData(Unit* data, size_t capacity, size_t dataUnits, Unit* collapseBuffer,
                      const RunDataCalls<Unit>& calls);

// The data of an expandable string with its environment variables expanded, before
// it is normalised: data and dataUnits as NormaliseRunData takes them. Returns the
// count of units to normalise: the expansion's with its terminator, or, when there
// is nothing to expand with or the expansion does not fit, the text as it was.
// scratch holds capacity units.
template <typename Unit>
size_t ExpandRunData(Unit* data, size_t capacity, size_t dataUnits, Unit* scratch,
                     const RunDataCalls<Unit>& calls);

// True when the normalised command line starts the file target (upper-cased).
// shortPath is a scratch buffer of shortCapacity units for the short form of the
// command line.
template <typename Unit>
bool RunDataNamesTarget(const Unit* commandLine, const Unit* target, Unit* shortPath,
                        size_t shortCapacity, const RunDataCalls<Unit>& calls);

// True when the normalised command line starts the target: by its text as above, or,
// when targetFile is given, by a local path in it that names that very file however
// it is spelt (see RunDataNamesFile). scratch holds scratchCapacity units.
template <typename Unit>
bool RunDataStartsTarget(const Unit* commandLine, const Unit* target, const RunDataFileId* targetFile,
                         Unit* scratch, size_t scratchCapacity, const RunDataCalls<Unit>& calls);

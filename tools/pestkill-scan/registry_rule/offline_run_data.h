// The Run data rules of the live tool applied to the UTF-16 data of an offline hive:
// the shared normalisation and matching (remedy/run_data_match.h) at 16-bit code
// units, with this volume's upper-casing and short forms.
#pragma once

#include <string>

#include "remedy/run_data_match.h"
#include "tools/pestkill-scan/registry_rule/hive_file.h"

// The live walk reads names and data into buffers of this many units and passes
// over a value that does not fit them.
constexpr size_t RunDataCapacity = 1024;

// The live rule's upper-casing and comparison; an expandable value is expanded with
// the VolumeEnvironment that expandContext is set to for its hive (null: nothing is
// expanded). No short forms and no file identities: each source that holds the
// volume's files sets those (shortForm, identifyFile and their context).
RunDataCalls<char16_t> OfflineRunDataCalls();


// The code units the live enumeration would hand over: a string value's UTF-16
// units, every other type's bytes one unit each. False when the value's name or
// data do not fit the buffers (the live walk passes over such a value).
bool RunDataUnits(const HiveValue& value, std::u16string* units);

// The normalised command line of one value; an expandable string's is expanded
// first.
std::u16string NormalisedRunData(const std::u16string& units, const RunDataCalls<char16_t>& calls);
std::u16string NormalisedRunData(const std::u16string& units, bool expandable, const RunDataCalls<char16_t>& calls);

// True when the normalised command line starts upperTarget (an upper-cased path).
// The target's file is asked for on the volume here; the overload takes what was
// asked already (null: the file could not be told, the text alone counts).
bool RunDataStarts(const std::u16string& commandLine, const std::u16string& upperTarget,
                   const RunDataCalls<char16_t>& calls);
bool RunDataStarts(const std::u16string& commandLine, const std::u16string& upperTarget,
                   const RunDataFileId* targetFile, const RunDataCalls<char16_t>& calls);

#include "tools/pestkill-scan/registry_rule/offline_run_data.h"

#include <algorithm>
#include <vector>

#include "tools/pestkill-scan/registry_rule/utf16_text.h"
#include "tools/pestkill-scan/registry_rule/volume_environment.h"

namespace {

bool IsStringType(hive_type type) {
  return type == hive_t_string || type == hive_t_expand_string || type == hive_t_multiple_strings;
}

}  // namespace

RunDataCalls<char16_t> OfflineRunDataCalls() {
  RunDataCalls<char16_t> calls;
  // The live rule's upper-casing and comparison (a-z only), not the volume's wider
  // case folding of file names.
  calls.upperCase = UpperCaseAsciiLetters<char16_t>;
  calls.equalIgnoringCase = EqualIgnoringAsciiCase<char16_t>;
  calls.shortForm = nullptr;
  calls.context = nullptr;
  calls.identifyFile = nullptr;
  calls.expandStrings = ExpandWithVolumeEnvironment;
  calls.expandContext = nullptr;
  return calls;
}

bool RunDataUnits(const HiveValue& value, std::u16string* units) {
  std::u16string name;
  if (!Utf8ToUtf16(value.name, &name) || name.size() >= RunDataCapacity) return false;
  units->clear();
  if (IsStringType(value.type)) {
    for (size_t i = 0; i + 1 < value.data.size(); i += 2)
      units->push_back(static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8));
  } else {
    for (uint8_t byte : value.data) units->push_back(byte);
  }
  return units->size() <= RunDataCapacity;
}

std::u16string NormalisedRunData(const std::u16string& units, const RunDataCalls<char16_t>& calls) {
  return NormalisedRunData(units, false, calls);
}

std::u16string NormalisedRunData(const std::u16string& units, bool expandable, const RunDataCalls<char16_t>& calls) {
  std::vector<char16_t> data(RunDataCapacity, 0);
  std::vector<char16_t> collapse(RunDataCapacity, 0);
  std::copy(units.begin(), units.end(), data.begin());
  size_t dataUnits = units.size();
  if (expandable) dataUnits = ExpandRunData(data.data(), data.size(), dataUnits, collapse.data(), calls);
  NormaliseRunData(data.data(), data.size(), dataUnits, collapse.data(), calls);
  return std::u16string(data.data());
}

bool RunDataStarts(const std::u16string& commandLine, const std::u16string& upperTarget,
                   const RunDataCalls<char16_t>& calls) {
  RunDataFileId targetFile;
  const bool told = calls.identifyFile != nullptr && calls.identifyFile(upperTarget.c_str(), &targetFile, calls.context);
  return RunDataStarts(commandLine, upperTarget, told ? &targetFile : nullptr, calls);
}

bool RunDataStarts(const std::u16string& commandLine, const std::u16string& upperTarget,
                   const RunDataFileId* targetFile, const RunDataCalls<char16_t>& calls) {
  // The target fills a buffer of the same size on the live road; a longer one is
  // never compared.
  if (upperTarget.size() >= RunDataCapacity) return false;
  std::vector<char16_t> scratch(RunDataCapacity, 0);
  return RunDataStartsTarget(commandLine.c_str(), upperTarget.c_str(), targetFile, scratch.data(), scratch.size(),
                             calls);
}

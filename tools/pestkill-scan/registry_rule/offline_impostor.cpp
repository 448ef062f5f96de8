#include "tools/pestkill-scan/registry_rule/offline_impostor.h"

#include "tools/pestkill-scan/registry_rule/offline_run_data.h"

namespace {

const char16_t LogonProgramName[] = u"Winlogon";

}  // namespace

std::vector<RunValueMatch> FindStartingRunValues(const VolumeRegistry& registry, const std::u16string& upperTarget,
                                                 bool withDefaultUser, const RunDataCalls<char16_t>& calls) {
  std::vector<RunValueMatch> matches;
  // Which file of the volume the target is, asked once for all values.
  RunDataFileId targetFile;
  const bool told = calls.identifyFile != nullptr && calls.identifyFile(upperTarget.c_str(), &targetFile, calls.context);
  for (size_t h = 0; h < registry.hives.size(); ++h) {
    const VolumeHive& hive = registry.hives[h];
    if (hive.role == HiveRole::DefaultUser && !withDefaultUser) continue;
    for (size_t v = 0; v < hive.runValues.size(); ++v) {
      const RunValue& value = hive.runValues[v];
      const RunDataFileId* file = told ? &targetFile : nullptr;
      if (RunDataStarts(value.commandLine, upperTarget, file, calls) ||
          (!value.writtenCommandLine.empty() && RunDataStarts(value.writtenCommandLine, upperTarget, file, calls)))
        matches.push_back({h, v});
    }
  }
  return matches;
}

bool IsOfflineWinlogonImpostor(const VolumeRegistry& registry, const std::u16string& windowsPath,
                               const RunDataCalls<char16_t>& calls, std::u16string* upperTarget) {
  const size_t lastSeparator = windowsPath.rfind(u'\\');
  if (lastSeparator == std::u16string::npos) return false;
  const std::u16string directory = windowsPath.substr(0, lastSeparator);
  std::u16string name = windowsPath.substr(lastSeparator + 1);
  // Everything from the first dot on goes, so winlogon.tmp.exe counts as winlogon.
  const size_t firstDot = name.find(u'.');
  if (firstDot != std::u16string::npos) name.erase(firstDot);
  // Names, directories and Run data are compared as the live rule compares them:
  // ignoring the case of a-z only, so the two roads never judge a path differently.
  if (!EqualIgnoringAsciiCase(name.c_str(), LogonProgramName)) return false;
  // The real logon program lives right in the system directory; a subdirectory of it
  // is somewhere else.
  if (EqualIgnoringAsciiCase(directory.c_str(), registry.systemDirectory.c_str())) return false;

  *upperTarget = windowsPath;
  UpperCaseAsciiLetters(&(*upperTarget)[0]);
  return !FindStartingRunValues(registry, *upperTarget, false, calls).empty();
}

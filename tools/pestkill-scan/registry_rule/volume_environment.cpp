#include "tools/pestkill-scan/registry_rule/volume_environment.h"

#include <algorithm>

#include "tools/pestkill-scan/registry_rule/utf16_text.h"

namespace {

void Set(VolumeEnvironment* environment, const char16_t* name, const std::u16string& value) {
  if (value.empty()) return;
  for (auto& variable : environment->variables) {
    if (EqualIgnoringCase16(variable.first.c_str(), name)) {
      variable.second = value;
      return;
    }
  }
  environment->variables.push_back({name, value});
}

const std::u16string* Find(const VolumeEnvironment& environment, const std::u16string& name) {
  for (const auto& variable : environment.variables)
    if (EqualIgnoringCase16(variable.first.c_str(), name.c_str())) return &variable.second;
  return nullptr;
}

}  // namespace

void AddSystemVariables(const std::u16string& systemRoot, const std::u16string& programFiles,
                        const std::u16string& programFilesX86, const std::u16string& commonFiles,
                        const std::u16string& commonFilesX86, VolumeEnvironment* environment) {
  Set(environment, u"SystemRoot", systemRoot);
  Set(environment, u"windir", systemRoot);
  Set(environment, u"SystemDrive", systemRoot.substr(0, std::min<size_t>(2, systemRoot.size())));
  Set(environment, u"ProgramFiles", programFiles);
  Set(environment, u"ProgramFiles(x86)", programFilesX86);
  Set(environment, u"CommonProgramFiles", commonFiles);
  Set(environment, u"CommonProgramFiles(x86)", commonFilesX86);
}

void AddProfileVariables(const std::u16string& profile, bool olderLayout, VolumeEnvironment* environment) {
  Set(environment, u"USERPROFILE", profile);
  if (olderLayout) {
    Set(environment, u"APPDATA", profile + u"\\Application Data");
    Set(environment, u"LOCALAPPDATA", profile + u"\\Local Settings\\Application Data");
    Set(environment, u"TEMP", profile + u"\\Local Settings\\Temp");
    Set(environment, u"TMP", profile + u"\\Local Settings\\Temp");
  } else {
    Set(environment, u"APPDATA", profile + u"\\AppData\\Roaming");
    Set(environment, u"LOCALAPPDATA", profile + u"\\AppData\\Local");
    Set(environment, u"TEMP", profile + u"\\AppData\\Local\\Temp");
    Set(environment, u"TMP", profile + u"\\AppData\\Local\\Temp");
  }
}

size_t ExpandWithVolumeEnvironment(const char16_t* text, char16_t* out, size_t capacity, void* expandContext) {
  const VolumeEnvironment* environment = static_cast<const VolumeEnvironment*>(expandContext);
  if (text == nullptr || environment == nullptr) return 0;
  const std::u16string source = text;
  std::u16string result;
  size_t at = 0;
  while (at < source.size()) {
    const size_t open = source.find(u'%', at);
    if (open == std::u16string::npos) break;
    const size_t close = source.find(u'%', open + 1);
    if (close == std::u16string::npos) break;
    const std::u16string* value = Find(*environment, source.substr(open + 1, close - open - 1));
    if (close == open + 1 || value == nullptr) {
      // Not a known variable: its first percent sign stays, and the second may open
      // the next one.
      result.append(source, at, close - at);
      at = close;
      continue;
    }
    result.append(source, at, open - at);
    result += *value;
    at = close + 1;
  }
  result.append(source, std::min(at, source.size()), std::u16string::npos);
  if (result.size() + 1 > capacity) return result.size() + 1;
  std::copy(result.begin(), result.end(), out);
  out[result.size()] = 0;
  return result.size() + 1;
}

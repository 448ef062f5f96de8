#include "tools/pestkill-scan/registry_rule/volume_registry.h"

#include <strings.h>

#include "tools/pestkill-scan/registry_rule/offline_run_data.h"
#include "tools/pestkill-scan/registry_rule/utf16_text.h"

const char SampleImageEntry[] = "Your Image File Name Here without a path";

namespace {

// SOFTWARE is mounted as HKLM\SOFTWARE, so its paths lack the "Software\" that the
// user hives and DEFAULT carry below their roots. On 64-bit Windows a 32-bit
// program (the trojan, and the live tool alike) sees HKLM\SOFTWARE through
// Wow6432Node, so both views are read and cleaned.
const char* const MachineRunKeys[] = {"Microsoft\\Windows\\CurrentVersion\\Run",
                                      "Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"};
const char* const UserRunKeys[] = {"Software\\Microsoft\\Windows\\CurrentVersion\\Run"};
const char* const ImageOptionsKeys[] = {
    "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options"};
const char CurrentVersionPath[] = "Microsoft\\Windows NT\\CurrentVersion";
const char ProgramFoldersPath[] = "Microsoft\\Windows\\CurrentVersion";
const char16_t DefaultSystemRoot[] = u"C:\\Windows";

void ReadRunValues(const HiveFile& file, const RunDataCalls<char16_t>& calls, const char* key, VolumeHive* hive) {
  std::string error;
  hive_node_h run = file.FindKey(key, &error);
  if (run == 0) {
    if (!error.empty()) hive->error = error;  // otherwise there is no such key, nothing to read
    return;
  }
  std::vector<HiveValue> values;
  if (!file.ReadValues(run, &values, &error)) {
    hive->error = error;
    return;
  }
  for (const HiveValue& value : values) {
    std::u16string units;
    if (!RunDataUnits(value, &units)) continue;
    const bool expandable = value.type == hive_t_expand_string;
    const std::u16string commandLine = NormalisedRunData(units, expandable, calls);
    std::u16string written;
    if (expandable) written = NormalisedRunData(units, false, calls);
    if (written == commandLine) written.clear();
    hive->runValues.push_back({key, value.name, commandLine, written});
  }
}

void ReadDebuggers(const HiveFile& file, const char* key, VolumeHive* hive) {
  std::string error;
  hive_node_h options = file.FindKey(key, &error);
  if (options == 0) {
    if (!error.empty()) hive->error = error;
    return;
  }
  std::vector<std::pair<std::string, hive_node_h>> entries;
  if (!file.ReadSubkeys(options, &entries, &error)) {
    hive->error = error;
    return;
  }
  for (const auto& entry : entries) {
    if (strcasecmp(entry.first.c_str(), SampleImageEntry) == 0) continue;
    std::vector<HiveValue> values;
    if (!file.ReadValues(entry.second, &values, &error)) {
      hive->error = error;
      return;
    }
    // Whatever its type and data, the value is deleted.
    for (const HiveValue& value : values)
      if (strcasecmp(value.name.c_str(), "Debugger") == 0)
        hive->debuggers.push_back({std::string(key) + "\\" + entry.first, value.name, entry.first});
  }
}

void ReadSystemDirectoryOf(const HiveFile& file, VolumeRegistry* registry) {
  std::u16string systemRoot = DefaultSystemRoot;
  std::string error;
  hive_node_h currentVersion = file.FindKey(CurrentVersionPath, &error);
  std::vector<HiveValue> values;
  if (currentVersion != 0 && file.ReadValues(currentVersion, &values, &error)) {
    for (const HiveValue& value : values) {
      if (strcasecmp(value.name.c_str(), "SystemRoot") != 0) continue;
      if (value.type != hive_t_string && value.type != hive_t_expand_string) continue;
      std::u16string text = ValueText(value);
      if (text.empty()) continue;
      systemRoot = text;
      registry->systemRootFromHive = true;
    }
  }
  while (!systemRoot.empty() && systemRoot.back() == u'\\') systemRoot.pop_back();
  registry->systemDirectory = systemRoot + u"\\System32";

  // The program folders, as SOFTWARE names them.
  std::u16string folders[4];
  const char* const folderNames[4] = {"ProgramFilesDir", "ProgramFilesDir (x86)", "CommonFilesDir",
                                      "CommonFilesDir (x86)"};
  hive_node_h programFolders = file.FindKey(ProgramFoldersPath, &error);
  values.clear();
  if (programFolders != 0 && file.ReadValues(programFolders, &values, &error)) {
    for (const HiveValue& value : values) {
      if (value.type != hive_t_string && value.type != hive_t_expand_string) continue;
      for (size_t i = 0; i < 4; ++i)
        if (strcasecmp(value.name.c_str(), folderNames[i]) == 0) folders[i] = ValueText(value);
    }
  }
  registry->systemEnvironment = VolumeEnvironment();
  AddSystemVariables(systemRoot, folders[0], folders[1], folders[2], folders[3], &registry->systemEnvironment);
}

}  // namespace

void ReadHive(const RunDataCalls<char16_t>& calls, VolumeHive* hive) {
  hive->baseBlock = ReadBaseBlockState(hive->path);
  ReadHiveKeys(calls, hive);
}

void ReadSystemDirectory(const VolumeHive& machine, VolumeRegistry* registry) {
  HiveFile file;
  std::string ignored;
  if (file.Open(machine.path, 0, &ignored)) ReadSystemDirectoryOf(file, registry);
}

void StartSystemEnvironment(VolumeRegistry* registry) {
  registry->systemDirectory = std::u16string(DefaultSystemRoot) + u"\\System32";
  registry->systemRootFromHive = false;
  registry->systemEnvironment = VolumeEnvironment();
  AddSystemVariables(DefaultSystemRoot, u"", u"", u"", u"", &registry->systemEnvironment);
}

void ReadHiveExpanded(const RunDataCalls<char16_t>& calls, const VolumeRegistry& registry, VolumeHive* hive,
                      void (*read)(const RunDataCalls<char16_t>&, VolumeHive*)) {
  VolumeEnvironment environment = registry.systemEnvironment;
  if (hive->role == HiveRole::User && !hive->profile.empty())
    AddProfileVariables(hive->profile, hive->olderLayout, &environment);
  RunDataCalls<char16_t> hiveCalls = calls;
  hiveCalls.expandContext = &environment;
  read(hiveCalls, hive);
}

void KeepSystemDirectoryOfReadableMachine(const VolumeHive& machine, VolumeRegistry* registry) {
  // What SOFTWARE says counts only when it could be read whole.
  if (machine.present && !machine.readable) {
    registry->systemDirectory = std::u16string(DefaultSystemRoot) + u"\\System32";
    registry->systemRootFromHive = false;
  }
}

void ReadHiveKeys(const RunDataCalls<char16_t>& calls, VolumeHive* hive) {
  HiveFile file;
  if (!file.Open(hive->path, 0, &hive->error)) return;
  if (hive->role == HiveRole::Machine) {
    for (const char* key : MachineRunKeys)
      if (hive->error.empty()) ReadRunValues(file, calls, key, hive);
    for (const char* key : ImageOptionsKeys)
      if (hive->error.empty()) ReadDebuggers(file, key, hive);
  } else {
    for (const char* key : UserRunKeys)
      if (hive->error.empty()) ReadRunValues(file, calls, key, hive);
  }
  hive->readable = hive->error.empty();
}

#include "tools/pestkill-scan/windows_root/volume_registry.h"

#include <strings.h>

#include "tools/pestkill-scan/windows_root/offline_run_data.h"
#include "tools/pestkill-scan/windows_root/utf16_text.h"
#include "tools/pestkill-scan/windows_root/volume_path.h"

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
const char16_t DefaultSystemRoot[] = u"C:\\Windows";

// Profile folders of Vista and later, and of XP.
const char16_t* const ProfileFolders[] = {u"Users", u"Documents and Settings"};

VolumeHive SystemHive(const std::string& root, HiveRole role, const char16_t* name, const char* label) {
  VolumeHive hive;
  hive.role = role;
  hive.label = label;
  const std::u16string relative = std::u16string(u"Windows\\System32\\config\\") + name;
  std::vector<std::string> stored;
  EntryType type = EntryType::Missing;
  std::string host;
  if (ResolveBelowRoot(root, relative, &host, &stored, &type) && type == EntryType::File) {
    hive.path = host;
    hive.present = true;
  } else {
    hive.path = root + "/" + Utf16ToUtf8(relative);
    for (char& c : hive.path)
      if (c == '\\') c = '/';
    hive.error = type == EntryType::Missing ? "hive missing" : "hive is not a regular file";
  }
  return hive;
}

void FindProfileHives(const std::string& root, std::vector<VolumeHive>* hives) {
  for (const char16_t* folder : ProfileFolders) {
    std::string stored;
    if (FindEntryIgnoringCase(root, folder, &stored) != EntryType::Directory) continue;
    const std::string profiles = root + "/" + stored;
    for (const std::string& profile : ListSubdirectories(profiles)) {
      std::string hiveName;
      const std::string directory = profiles + "/" + profile;
      // A profile folder without a hive (Public, All Users) is no account.
      if (FindEntryIgnoringCase(directory, u"NTUSER.DAT", &hiveName) != EntryType::File) continue;
      VolumeHive hive;
      hive.role = HiveRole::User;
      hive.label = "HKCU of " + profile;
      hive.path = directory + "/" + hiveName;
      hive.present = true;
      hives->push_back(std::move(hive));
    }
  }
}

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
    hive->runValues.push_back({key, value.name, NormalisedRunData(units, calls)});
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
        hive->debuggers.push_back({std::string(key) + "\\" + entry.first, value.name});
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

void LoadVolumeRegistry(const std::string& root, const RunDataCalls<char16_t>& calls, VolumeRegistry* registry) {
  registry->hives.clear();
  registry->hives.push_back(SystemHive(root, HiveRole::Machine, u"SOFTWARE", "HKLM\\SOFTWARE"));
  registry->hives.push_back(SystemHive(root, HiveRole::DefaultUser, u"DEFAULT", "HKU\\.DEFAULT"));
  FindProfileHives(root, &registry->hives);
  registry->systemDirectory = std::u16string(DefaultSystemRoot) + u"\\System32";
  for (VolumeHive& hive : registry->hives) {
    if (!hive.present) continue;
    ReadHive(calls, &hive);
    if (hive.role == HiveRole::Machine && hive.readable) ReadSystemDirectory(hive, registry);
  }
}

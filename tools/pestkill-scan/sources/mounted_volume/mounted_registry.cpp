#include "tools/pestkill-scan/sources/mounted_volume/mounted_registry.h"

#include "tools/pestkill-scan/registry_rule/utf16_text.h"
#include "tools/pestkill-scan/sources/mounted_volume/volume_path.h"

namespace {

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
      hive.profileName = profile;
      hive.path = directory + "/" + hiveName;
      hive.present = true;
      std::u16string folderName;
      std::u16string profileName;
      if (Utf8ToUtf16(stored, &folderName) && Utf8ToUtf16(profile, &profileName))
        hive.profile = u"C:\\" + folderName + u"\\" + profileName;
      hive.olderLayout = EqualIgnoringCase16(folder, u"Documents and Settings");
      hives->push_back(std::move(hive));
    }
  }
}

}  // namespace

void LoadVolumeRegistry(const std::string& root, const RunDataCalls<char16_t>& calls, VolumeRegistry* registry) {
  registry->hives.clear();
  registry->hives.push_back(SystemHive(root, HiveRole::Machine, u"SOFTWARE", "HKLM\\SOFTWARE"));
  registry->hives.push_back(SystemHive(root, HiveRole::DefaultUser, u"DEFAULT", "HKU\\.DEFAULT"));
  FindProfileHives(root, &registry->hives);
  StartSystemEnvironment(registry);
  // The system's variables come first: the machine's own Run values are expanded
  // with them.
  const VolumeHive& machine = registry->hives.front();
  if (machine.present) ReadSystemDirectory(machine, registry);
  for (VolumeHive& hive : registry->hives)
    if (hive.present) ReadHiveExpanded(calls, *registry, &hive, ReadHive);
  KeepSystemDirectoryOfReadableMachine(machine, registry);
}

#include "tools/pestkill-scan/sources/mounted_volume/volume_path.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>

#include "tools/pestkill-scan/registry_rule/utf16_text.h"
#include "tools/pestkill-scan/registry_rule/offline_run_data.h"

namespace {

EntryType TypeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return EntryType::Missing;
  if (S_ISDIR(st.st_mode)) return EntryType::Directory;
  if (S_ISREG(st.st_mode)) return EntryType::File;
  return EntryType::Other;
}

std::string Joined(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

// Components of a relative Windows path; empty ones (doubled separators) are dropped
// as the system drops them.
std::vector<std::u16string> SplitComponents(const std::u16string& relative) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t unit : relative) {
    if (IsSeparator(unit)) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(unit);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

}  // namespace

EntryType FindEntryIgnoringCase(const std::string& directory, const std::u16string& name, std::string* found) {
  const std::string exact = Utf16ToUtf8(name);
  EntryType type = TypeOf(Joined(directory, exact));
  if (type != EntryType::Missing) {
    *found = exact;
    return type;
  }
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) return EntryType::Missing;
  const std::u16string wanted = Upper16(name);
  std::vector<std::string> matches;
  for (struct dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
    std::u16string entryName;
    if (!Utf8ToUtf16(entry->d_name, &entryName)) continue;
    if (Upper16(entryName) == wanted) matches.push_back(entry->d_name);
  }
  (void)closedir(listing);
  if (matches.empty()) return EntryType::Missing;
  std::sort(matches.begin(), matches.end());
  *found = matches.front();
  return TypeOf(Joined(directory, *found));
}

std::vector<std::string> ListSubdirectories(const std::string& directory) {
  std::vector<std::string> names;
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) return names;
  for (struct dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (TypeOf(Joined(directory, name)) == EntryType::Directory) names.push_back(name);
  }
  (void)closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

bool ResolveBelowRoot(const std::string& root, const std::u16string& relative, std::string* host,
                      std::vector<std::string>* hostComponents, EntryType* type) {
  std::string at = root;
  hostComponents->clear();
  EntryType atType = EntryType::Directory;
  for (const std::u16string& part : SplitComponents(relative)) {
    if (part == u"." || part == u"..") return false;
    if (atType != EntryType::Directory) return false;
    std::string stored;
    atType = FindEntryIgnoringCase(at, part, &stored);
    if (atType == EntryType::Missing) return false;
    at = Joined(at, stored);
    hostComponents->push_back(stored);
  }
  *host = at;
  *type = atType;
  return true;
}

bool WindowsPathOf(const std::string& root, const std::string& host, std::u16string* windowsPath) {
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (host.compare(0, base.size(), base) != 0) return false;
  std::string rest = host.substr(base.size());
  if (rest.empty() || rest[0] != '/') return false;
  // A '\' inside a name on the mount cannot be part of a Windows name.
  if (rest.find('\\') != std::string::npos) return false;
  std::replace(rest.begin(), rest.end(), '/', '\\');
  std::u16string relative;
  if (!Utf8ToUtf16(rest, &relative)) return false;
  *windowsPath = u"C:" + relative;
  return true;
}

std::string NtfsDosName(const std::string& hostPath) {
  char name[64];
  ssize_t length = lgetxattr(hostPath.c_str(), "system.ntfs_dos_name", name, sizeof name);
  if (length <= 0) return std::string();
  return std::string(name, static_cast<size_t>(length));
}

size_t ShortFormOnVolume(const char16_t* path, char16_t* out, size_t capacity, void* context) {
  const VolumeShortForms* volume = static_cast<const VolumeShortForms*>(context);
  std::u16string relative;
  if (path == nullptr || !SplitDriveC(path, &relative)) return 0;
  std::string host;
  std::vector<std::string> stored;
  EntryType type = EntryType::Missing;
  if (!ResolveBelowRoot(volume->root, relative, &host, &stored, &type) || stored.empty()) return 0;

  const std::vector<std::u16string> written = SplitComponents(relative);
  std::u16string shortForm(path, 2);  // the drive as written
  std::string at = volume->root;
  for (size_t i = 0; i < stored.size(); ++i) {
    at = Joined(at, stored[i]);
    std::u16string dosName;
    const std::string dos = volume->lookUp(at);
    shortForm += u'\\';
    if (!dos.empty() && Utf8ToUtf16(dos, &dosName)) {
      shortForm += dosName;
    } else {
      shortForm += written[i];
    }
  }
  if (shortForm.size() >= capacity) return shortForm.size() + 1;
  std::copy(shortForm.begin(), shortForm.end(), out);
  out[shortForm.size()] = 0;
  return shortForm.size();
}

namespace {

// The entry of directory whose DOS (8.3) name is dosName ignoring case.
bool FindEntryByDosName(const std::string& directory, const std::u16string& dosName, DosNameLookup lookUp,
                        std::string* found) {
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) return false;
  const std::u16string wanted = Upper16(dosName);
  std::vector<std::string> matches;
  for (struct dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::u16string dos;
    const std::string given = lookUp(Joined(directory, name));
    if (!given.empty() && Utf8ToUtf16(given, &dos) && Upper16(dos) == wanted) matches.push_back(name);
  }
  (void)closedir(listing);
  if (matches.empty()) return false;
  std::sort(matches.begin(), matches.end());
  *found = matches.front();
  return true;
}

}  // namespace

bool IdentifyFileOnVolume(const char16_t* path, RunDataFileId* file, void* context) {
  const VolumeShortForms* volume = static_cast<const VolumeShortForms*>(context);
  std::u16string relative;
  if (path == nullptr || volume == nullptr || !SplitDriveC(path, &relative)) return false;

  std::vector<std::u16string> parts;
  for (const std::u16string& part : SplitComponents(relative)) {
    if (part == u".") continue;
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  if (parts.empty()) return false;

  std::string at = volume->root;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string stored;
    EntryType type = FindEntryIgnoringCase(at, parts[i], &stored);
    // Only a name with a tilde can be a generated DOS name; others are not looked up
    // entry by entry.
    if (type == EntryType::Missing && volume->lookUp != nullptr && parts[i].find(u'~') != std::u16string::npos &&
        FindEntryByDosName(at, parts[i], volume->lookUp, &stored))
      type = TypeOf(Joined(at, stored));
    at = Joined(at, stored);
    const bool last = i + 1 == parts.size();
    if (type != (last ? EntryType::File : EntryType::Directory)) return false;
  }
  struct stat st;
  if (lstat(at.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  file->volume = static_cast<uint64_t>(st.st_dev);
  file->index = static_cast<uint64_t>(st.st_ino);
  return true;
}

RunDataCalls<char16_t> MountedVolumeRunDataCalls(VolumeShortForms* volume) {
  RunDataCalls<char16_t> calls = OfflineRunDataCalls();
  calls.shortForm = ShortFormOnVolume;
  calls.context = volume;
  calls.identifyFile = IdentifyFileOnVolume;
  return calls;
}

#include "tools/pestkill-scan/sources/disk_image/image_registry.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/pestkill-scan/sources/disk_image/image_file_identity.h"
#include "tools/pestkill-scan/registry_rule/offline_run_data.h"
#include "tools/pestkill-scan/registry_rule/utf16_text.h"

namespace {

// A hive larger than this is no registry the system loads; it is not copied.
constexpr TSK_OFF_T MaxHiveBytes = TSK_OFF_T{2} << 30;

struct Child {
  TSK_INUM_T address = 0;
  std::string name;       // as stored
  std::string shortName;  // the NTFS 8.3 name beside it, or empty
  bool directory = false;
};

// The children in use of the directory at address, "." and ".." aside.
std::vector<Child> ListChildren(TSK_FS_INFO* fs, TSK_INUM_T address) {
  std::vector<Child> children;
  TSK_FS_DIR* listing = tsk_fs_dir_open_meta(fs, address);
  if (listing == nullptr) {
    tsk_error_reset();
    return children;
  }
  for (size_t i = 0; i < tsk_fs_dir_getsize(listing); ++i) {
    TSK_FS_FILE* file = tsk_fs_dir_get(listing, i);
    if (file == nullptr) continue;
    const TSK_FS_NAME* name = file->name;
    if (name != nullptr && name->name != nullptr && (name->flags & TSK_FS_NAME_FLAG_ALLOC) != 0 &&
        std::string(name->name) != "." && std::string(name->name) != ".." && file->meta != nullptr &&
        (file->meta->type == TSK_FS_META_TYPE_DIR || file->meta->type == TSK_FS_META_TYPE_REG)) {
      children.push_back({file->meta->addr, name->name, name->shrt_name != nullptr ? name->shrt_name : "",
                          file->meta->type == TSK_FS_META_TYPE_DIR});
    }
    tsk_fs_file_close(file);
  }
  tsk_fs_dir_close(listing);
  tsk_error_reset();
  std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) { return a.name < b.name; });
  return children;
}

enum class Kind { Directory, File, Either };

// The child named name ignoring case (the exact spelling first), of the kind asked.
bool FindChild(TSK_FS_INFO* fs, TSK_INUM_T address, const char* name, Kind kind, Child* found) {
  const std::vector<Child> children = ListChildren(fs, address);
  for (int exact = 1; exact >= 0; --exact) {
    for (const Child& child : children) {
      const bool same = exact ? child.name == name : strcasecmp(child.name.c_str(), name) == 0;
      if (same && (kind == Kind::Either || child.directory == (kind == Kind::Directory))) {
        *found = child;
        return true;
      }
    }
  }
  return false;
}

// The hive's bytes in a sealed memory file: its descriptor, or -1 with *error.
int HiveInMemory(TSK_FS_INFO* fs, TSK_INUM_T address, std::vector<unsigned char>* head, std::string* error) {
  TSK_FS_FILE* file = tsk_fs_file_open_meta(fs, nullptr, address);
  const TSK_FS_ATTR* data = file != nullptr ? tsk_fs_file_attr_get(file) : nullptr;
  if (data == nullptr || data->size > MaxHiveBytes) {
    *error = data == nullptr ? "the hive's data cannot be found in the image" : "the hive is larger than 2 GiB";
    if (file != nullptr) tsk_fs_file_close(file);
    tsk_error_reset();
    return -1;
  }
  const int fd = memfd_create("hive", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  bool copied = fd >= 0;
  std::vector<char> piece(1 << 20);
  for (TSK_OFF_T at = 0; copied && at < data->size;) {
    const size_t want = static_cast<size_t>(std::min<TSK_OFF_T>(piece.size(), data->size - at));
    const ssize_t got = tsk_fs_attr_read(data, at, piece.data(), want, TSK_FS_FILE_READ_FLAG_NONE);
    if (got <= 0) {
      *error = "the hive cannot be read whole from the image";
      copied = false;
      break;
    }
    if (at == 0) head->assign(piece.begin(), piece.begin() + std::min<ssize_t>(got, 512));
    copied = pwrite(fd, piece.data(), static_cast<size_t>(got), at) == got;
    at += got;
  }
  tsk_fs_file_close(file);
  tsk_error_reset();
  if (copied) copied = fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0;
  if (!copied) {
    if (error->empty()) *error = "no memory file for the hive";
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// The short form of an existing path of the volume, as the system's short-path
// call gives it: each component with an 8.3 name replaced by it, the others as
// written; 0 when the path does not exist in the volume. The Run data matching's
// short-form call, with the volume's file system as context.
size_t ShortFormInImage(const char16_t* path, char16_t* out, size_t capacity, void* context) {
  TSK_FS_INFO* fs = static_cast<TSK_FS_INFO*>(context);
  if (path == nullptr || (path[0] != u'C' && path[0] != u'c') || path[1] != u':') return 0;
  std::u16string shortForm(path, 2);
  TSK_INUM_T at = fs->root_inum;
  bool directory = true;
  size_t found = 0;
  for (const char16_t* p = path + 2; *p != 0;) {
    while (*p == u'\\' || *p == u'/') ++p;
    const char16_t* end = p;
    while (*end != 0 && *end != u'\\' && *end != u'/') ++end;
    if (end == p) break;
    const std::u16string written(p, end);
    std::string name = Utf16ToUtf8(written);
    Child child;
    if (!directory || name == "." || name == ".." || !FindChild(fs, at, name.c_str(), Kind::Either, &child)) return 0;
    std::u16string shortName;
    shortForm += u'\\';
    shortForm += !child.shortName.empty() && Utf8ToUtf16(child.shortName, &shortName) ? shortName : written;
    at = child.address;
    directory = child.directory;
    ++found;
    p = end;
  }
  if (found == 0) return 0;
  if (shortForm.size() >= capacity) return shortForm.size() + 1;
  std::copy(shortForm.begin(), shortForm.end(), out);
  out[shortForm.size()] = 0;
  return shortForm.size();
}

// A hive found at inner: read through its memory file, or kept with its error.
void ReadImageHive(TSK_FS_INFO* fs, TSK_INUM_T address, VolumeRules* rules, VolumeHive* hive) {
  std::vector<unsigned char> head;
  const int fd = HiveInMemory(fs, address, &head, &hive->error);
  if (fd < 0) return;
  hive->path = "/proc/self/fd/" + std::to_string(fd);
  hive->baseBlock = BaseBlockStateOf(head.data(), head.size());
  // SOFTWARE is read first: its SystemRoot and program folders expand the Run
  // values of every hive, its own among them.
  if (hive->role == HiveRole::Machine) ReadSystemDirectory(*hive, &rules->registry);
  ReadHiveExpanded(rules->calls, rules->registry, hive, ReadHiveKeys);
  if (hive->role == HiveRole::Machine) KeepSystemDirectoryOfReadableMachine(*hive, &rules->registry);
  close(fd);
  hive->path = hive->shown;
}

}  // namespace

bool WindowsPathInVolume(const std::string& inner, std::u16string* windowsPath) {
  std::u16string relative;
  if (!Utf8ToUtf16(inner, &relative)) return false;
  for (char16_t& unit : relative)
    if (unit == u'/') unit = u'\\';
  *windowsPath = u"C:" + relative;
  return true;
}

bool LoadImageRegistry(TSK_FS_INFO* fs, const VolumePlace& place, VolumeRules* rules) {
  Child windows, system32, config;
  if (!FindChild(fs, fs->root_inum, "Windows", Kind::Directory, &windows) ||
      !FindChild(fs, windows.address, "System32", Kind::Directory, &system32) ||
      !FindChild(fs, system32.address, "config", Kind::Directory, &config))
    return false;
  // A volume with the folders but neither system hive (a copy of the layout, a
  // system being set up) has no registry to read: it is scanned as files alone.
  Child hiveFile;
  if (!FindChild(fs, config.address, "SOFTWARE", Kind::File, &hiveFile) &&
      !FindChild(fs, config.address, "DEFAULT", Kind::File, &hiveFile))
    return false;
  rules->calls = OfflineRunDataCalls();
  rules->calls.shortForm = ShortFormInImage;
  rules->calls.identifyFile = IdentifyFileInImage;
  rules->calls.context = fs;
  VolumeRegistry& registry = rules->registry;
  registry.hives.clear();
  StartSystemEnvironment(&registry);
  const std::string configInner = "/" + windows.name + "/" + system32.name + "/" + config.name;
  struct SystemHive {
    HiveRole role;
    const char* name;
    const char* label;
  };
  for (const SystemHive& wanted : {SystemHive{HiveRole::Machine, "SOFTWARE", "HKLM\\SOFTWARE"},
                                   SystemHive{HiveRole::DefaultUser, "DEFAULT", "HKU\\.DEFAULT"}}) {
    VolumeHive hive;
    hive.role = wanted.role;
    hive.label = wanted.label;
    Child found;
    if (FindChild(fs, config.address, wanted.name, Kind::File, &found)) {
      hive.shown = EntryPath(place, configInner + "/" + found.name);
      hive.present = true;
      ReadImageHive(fs, found.address, rules, &hive);
    } else {
      hive.shown = EntryPath(place, configInner + "/" + wanted.name);
      hive.error = "hive missing";
    }
    hive.path = hive.shown;
    registry.hives.push_back(std::move(hive));
  }
  // On Vista and later "Documents and Settings" is a junction to Users, which the
  // library lists as a directory: a hive met twice is read once.
  std::vector<TSK_INUM_T> read;
  for (const char* folder : {"Users", "Documents and Settings"}) {
    Child profiles;
    if (!FindChild(fs, fs->root_inum, folder, Kind::Directory, &profiles)) continue;
    for (const Child& profile : ListChildren(fs, profiles.address)) {
      Child found;
      if (!profile.directory || !FindChild(fs, profile.address, "NTUSER.DAT", Kind::File, &found)) continue;
      if (std::find(read.begin(), read.end(), found.address) != read.end()) continue;
      read.push_back(found.address);
      VolumeHive hive;
      hive.role = HiveRole::User;
      hive.label = "HKCU of " + profile.name;
      hive.profileName = profile.name;
      std::u16string folderName, profileName;
      if (Utf8ToUtf16(profiles.name, &folderName) && Utf8ToUtf16(profile.name, &profileName))
        hive.profile = u"C:\\" + folderName + u"\\" + profileName;
      hive.olderLayout = std::string(folder) == "Documents and Settings";
      hive.shown = EntryPath(place, "/" + profiles.name + "/" + profile.name + "/" + found.name);
      hive.present = true;
      ReadImageHive(fs, found.address, rules, &hive);
      hive.path = hive.shown;
      registry.hives.push_back(std::move(hive));
    }
  }
  return true;
}

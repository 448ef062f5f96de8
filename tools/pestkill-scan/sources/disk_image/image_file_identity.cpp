#include "tools/pestkill-scan/sources/disk_image/image_file_identity.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tools/pestkill-scan/registry_rule/utf16_text.h"
#include "tools/pestkill-scan/registry_rule/windows_path.h"

namespace {

// The file attribute flags, a 32-bit field at this offset of $STANDARD_INFORMATION.
constexpr TSK_OFF_T StandardFlagsAt = 32;
constexpr uint32_t HiddenFlag = 0x2;
constexpr uint32_t SystemFlag = 0x4;
constexpr uint32_t ReparsePointFlag = 0x400;

// An Interix link holds its magic and then its target, at most this many bytes in all
// (the mount's limit); a device its magic and two 8-byte numbers.
constexpr TSK_OFF_T InterixMagicBytes = 8;
constexpr TSK_OFF_T InterixLinkMaxBytes = InterixMagicBytes + 2 * 4096;
constexpr TSK_OFF_T InterixDeviceBytes = 24;

struct DirectoryName {
  TSK_INUM_T address = 0;
  uint32_t sequence = 0;  // of the MFT entry the name was given to
  std::string name;       // the long name, as stored
  std::string shortName;  // the 8.3 name beside it, or empty
};

// The names in use of the directory at address, "." and ".." aside, in byte order.
// Only the directory's index is read, not the entries it names.
std::vector<DirectoryName> NamesIn(TSK_FS_INFO* fs, TSK_INUM_T address) {
  std::vector<DirectoryName> names;
  TSK_FS_DIR* listing = tsk_fs_dir_open_meta(fs, address);
  if (listing == nullptr) {
    tsk_error_reset();
    return names;
  }
  for (size_t i = 0; i < tsk_fs_dir_getsize(listing); ++i) {
    const TSK_FS_NAME* name = tsk_fs_dir_get_name(listing, i);
    if (name == nullptr || name->name == nullptr || (name->flags & TSK_FS_NAME_FLAG_ALLOC) == 0) continue;
    if (std::strcmp(name->name, ".") == 0 || std::strcmp(name->name, "..") == 0) continue;
    names.push_back({name->meta_addr, name->meta_seq, name->name, name->shrt_name != nullptr ? name->shrt_name : ""});
  }
  tsk_fs_dir_close(listing);
  tsk_error_reset();
  std::stable_sort(names.begin(), names.end(),
                   [](const DirectoryName& a, const DirectoryName& b) { return a.name < b.name; });
  return names;
}

bool SameIgnoringCase(const std::string& stored, const std::u16string& upperWanted) {
  std::u16string name;
  return !stored.empty() && Utf8ToUtf16(stored, &name) && Upper16(name) == upperWanted;
}

// The entry the mount gives for part in the directory: the name as written (the
// mount's own lookup, which knows the 8.3 names too), else the first listed name
// equal ignoring case, else, for a name with a tilde, the first 8.3 name equal
// ignoring case.
const DirectoryName* FindPart(const std::vector<DirectoryName>& names, const std::u16string& part) {
  const std::string written = Utf16ToUtf8(part);
  for (const DirectoryName& entry : names)
    if (entry.name == written || entry.shortName == written) return &entry;
  const std::u16string wanted = Upper16(part);
  for (const DirectoryName& entry : names)
    if (SameIgnoringCase(entry.name, wanted)) return &entry;
  if (part.find(u'~') == std::u16string::npos) return nullptr;
  for (const DirectoryName& entry : names)
    if (SameIgnoringCase(entry.shortName, wanted)) return &entry;
  return nullptr;
}

bool StandardFlagsOf(TSK_FS_FILE* file, uint32_t* flags) {
  const TSK_FS_ATTR* standard = tsk_fs_file_attr_get_type(file, TSK_FS_ATTR_TYPE_NTFS_SI, 0, 0);
  unsigned char field[4];
  if (standard == nullptr ||
      tsk_fs_attr_read(standard, StandardFlagsAt, reinterpret_cast<char*>(field), sizeof field,
                       TSK_FS_FILE_READ_FLAG_NONE) != static_cast<ssize_t>(sizeof field))
    return false;
  *flags = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
           static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
  return true;
}

// A system file that the mount shows as an Interix pipe or socket (0 or 1 byte and
// not hidden), link or device (its data begins with their magic).
bool IsInterixSpecial(TSK_FS_FILE* file, uint32_t flags) {
  const TSK_FS_ATTR* data = tsk_fs_file_attr_get(file);
  if (data == nullptr) return false;
  if (data->size <= 1) return (flags & HiddenFlag) == 0;
  char magic[InterixMagicBytes];
  if (data->size <= InterixMagicBytes || data->size > InterixLinkMaxBytes ||
      tsk_fs_attr_read(data, 0, magic, sizeof magic, TSK_FS_FILE_READ_FLAG_NONE) != static_cast<ssize_t>(sizeof magic))
    return false;
  if (std::memcmp(magic, "IntxLNK\1", sizeof magic) == 0) return true;
  return data->size == InterixDeviceBytes &&
         (std::memcmp(magic, "IntxBLK\0", sizeof magic) == 0 || std::memcmp(magic, "IntxCHR\0", sizeof magic) == 0);
}

// What the mount shows the named entry as: missing when its MFT entry is no longer
// in use or was given to another file since (the mount refuses an old sequence
// number); a link for a reparse point (a junction, a symbolic link, any other tag).
EntryType ShownAs(TSK_FS_INFO* fs, const DirectoryName& entry) {
  TSK_FS_FILE* file = tsk_fs_file_open_meta(fs, nullptr, entry.address);
  EntryType type = EntryType::Missing;
  uint32_t flags = 0;
  if (file != nullptr && file->meta != nullptr && (file->meta->flags & TSK_FS_META_FLAG_ALLOC) != 0 &&
      file->meta->seq == entry.sequence && StandardFlagsOf(file, &flags)) {
    if ((flags & ReparsePointFlag) != 0) {
      type = EntryType::Other;
    } else if (file->meta->type == TSK_FS_META_TYPE_DIR) {
      type = EntryType::Directory;
    } else if (file->meta->type == TSK_FS_META_TYPE_REG) {
      type = (flags & SystemFlag) != 0 && IsInterixSpecial(file, flags) ? EntryType::Other : EntryType::File;
    } else {
      type = EntryType::Other;
    }
  }
  if (file != nullptr) tsk_fs_file_close(file);
  tsk_error_reset();
  return type;
}

// The components of a relative path that the system opens: empty ones (doubled
// separators) and "." dropped, each ".." taking away the one before it (at the
// root it stays there).
std::vector<std::u16string> ComponentsOpened(const std::u16string& relative) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && relative[i] != u'\\' && relative[i] != u'/') {
      part.push_back(relative[i]);
      continue;
    }
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    part.clear();
  }
  return parts;
}

}  // namespace

bool IdentifyFileInImage(const char16_t* path, RunDataFileId* file, void* context) {
  TSK_FS_INFO* fs = static_cast<TSK_FS_INFO*>(context);
  std::u16string relative;
  if (path == nullptr || fs == nullptr || !SplitDriveC(path, &relative)) return false;

  const std::vector<std::u16string> parts = ComponentsOpened(relative);
  if (parts.empty()) return false;

  TSK_INUM_T at = fs->root_inum;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::vector<DirectoryName> names = NamesIn(fs, at);
    const DirectoryName* entry = FindPart(names, parts[i]);
    const bool last = i + 1 == parts.size();
    if (entry == nullptr || ShownAs(fs, *entry) != (last ? EntryType::File : EntryType::Directory)) return false;
    at = entry->address;
  }
  file->volume = static_cast<uint64_t>(fs->offset);
  file->index = static_cast<uint64_t>(at);
  return true;
}

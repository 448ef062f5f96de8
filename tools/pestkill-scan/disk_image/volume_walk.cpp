#include "tools/pestkill-scan/disk_image/volume_walk.h"

#include <cstring>
#include <set>
#include <vector>

namespace {

struct DirectoryToRead {
  TSK_INUM_T address;
  std::string inner;  // "" for the root
};

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

std::string LibraryError(const char* what) {
  const char* detail = tsk_error_get();
  std::string reason = what;
  if (detail != nullptr && *detail != 0) reason += std::string(": ") + detail;
  tsk_error_reset();
  return reason;
}

}  // namespace

void WalkVolume(TSK_FS_INFO* fs, const VolumeWalkVisitor& visitor, VolumeWalkCounts* counts) {
  std::vector<DirectoryToRead> pending{{fs->root_inum, ""}};
  std::set<TSK_INUM_T> entered{fs->root_inum};
  while (!pending.empty() && !visitor.stopping(visitor.context)) {
    const DirectoryToRead directory = pending.back();
    pending.pop_back();
    tsk_error_reset();
    TSK_FS_DIR* listing = tsk_fs_dir_open_meta(fs, directory.address);
    if (listing == nullptr) {
      const std::string shown = directory.inner.empty() ? "/" : directory.inner;
      visitor.error(visitor.context, shown, LibraryError("the directory cannot be read").c_str());
      continue;
    }
    ++counts->directories;
    std::vector<DirectoryToRead> below;
    const size_t size = tsk_fs_dir_getsize(listing);
    for (size_t i = 0; i < size && !visitor.stopping(visitor.context); ++i) {
      TSK_FS_FILE* file = tsk_fs_dir_get(listing, i);
      if (file == nullptr) continue;
      const TSK_FS_NAME* name = file->name;
      if (name == nullptr || name->name == nullptr || IsDotEntry(name->name) ||
          (name->flags & TSK_FS_NAME_FLAG_ALLOC) == 0 || name->meta_addr == TSK_FS_ORPHANDIR_INUM(fs)) {
        tsk_fs_file_close(file);
        continue;
      }
      ++counts->entries;
      const std::string inner = directory.inner + "/" + name->name;
      if (!visitor.admit(visitor.context, inner, name->name)) {
        tsk_fs_file_close(file);
        continue;
      }
      const TSK_FS_META* meta = file->meta;
      if (meta == nullptr) {
        visitor.error(visitor.context, inner, "its metadata cannot be read");
      } else if (meta->type == TSK_FS_META_TYPE_DIR || meta->type == TSK_FS_META_TYPE_VIRT_DIR) {
        if (entered.insert(meta->addr).second) {
          below.push_back({meta->addr, inner});
        } else {
          visitor.error(visitor.context, inner, "a directory already walked (a loop in the metadata): not entered again");
        }
      } else if (meta->type == TSK_FS_META_TYPE_REG) {
        visitor.file(visitor.context, inner, file);
      } else if (meta->type == TSK_FS_META_TYPE_LNK) {
        visitor.skipped(visitor.context, inner, "symbolic link");
      } else {
        visitor.skipped(visitor.context, inner, "not a regular file (device, pipe or socket)");
      }
      tsk_fs_file_close(file);
    }
    tsk_fs_dir_close(listing);
    // Last pushed is read first: the directories come in the order they were listed.
    for (auto at = below.rbegin(); at != below.rend(); ++at) pending.push_back(std::move(*at));
  }
}

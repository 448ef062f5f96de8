#include "tools/pestkill-scan/sources/disk_image/volume_walk.h"

#include <cstring>
#include <set>
#include <vector>

namespace {

struct DirectoryToRead {
  TSK_INUM_T address;
  std::string inner;  // "" for the root
  bool deleted;       // a deleted directory, or one below it: everything in it is deleted
};

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// The metadata entry a deleted name points to, where the library did not load it
// with the name (it does not when the entry's sequence number moved on, which NTFS
// does when it frees an entry). Kept when it is in use again (by another file:
// "realloc"), or free and one deletion away from the name's sequence number: the
// deleted file itself, whose metadata may still describe its data. Null otherwise.
TSK_FS_FILE* DeletedNameMetadata(TSK_FS_INFO* fs, const TSK_FS_NAME* name) {
  if (name->meta_addr == 0 && !TSK_FS_TYPE_ISNTFS(fs->ftype)) return nullptr;  // NTFS numbers its $MFT 0
  TSK_FS_FILE* file = tsk_fs_file_open_meta(fs, nullptr, name->meta_addr);
  tsk_error_reset();
  if (file == nullptr) return nullptr;
  const TSK_FS_META* meta = file->meta;
  const bool inUse = meta != nullptr && (meta->flags & TSK_FS_META_FLAG_ALLOC) != 0;
  const uint32_t nameSequence = name->meta_seq & 0xFFFF;
  const uint32_t sequence = meta != nullptr ? meta->seq & 0xFFFF : 0;
  const bool sameFile = sequence == nameSequence || sequence == ((nameSequence + 1) & 0xFFFF);
  // An entry that was never in use (NTFS keeps a few reserved) held no file.
  const bool neverUsed = meta != nullptr && (meta->flags & TSK_FS_META_FLAG_UNUSED) != 0;
  if (meta == nullptr || neverUsed || (!inUse && !sameFile)) {
    tsk_fs_file_close(file);
    return nullptr;
  }
  return file;
}

uint64_t ImageBytes(const TSK_FS_INFO* fs) {
  return fs->img_info != nullptr && fs->img_info->size > 0 ? static_cast<uint64_t>(fs->img_info->size) : 0;
}

TSK_WALK_RET_ENUM CountOne(TSK_FS_FILE*, void* count) {
  ++*static_cast<uint64_t*>(count);
  return TSK_WALK_CONT;
}

}  // namespace

std::string LibraryError(const char* what) {
  const char* detail = tsk_error_get();
  std::string reason = what;
  if (detail != nullptr && *detail != 0) {
    reason += ": ";
    // The library breaks some of its texts into lines; the reason stays one.
    for (const char* at = detail; *at != 0; ++at) {
      if (*at == '\n') {
        reason += "; ";
      } else if (*at != '\r') {
        reason += *at;
      }
    }
  }
  tsk_error_reset();
  return reason;
}


void WalkVolume(TSK_FS_INFO* fs, const VolumeWalkVisitor& visitor, VolumeWalkCounts* counts) {
  std::vector<DirectoryToRead> pending{{fs->root_inum, "", false}};
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
      if (name == nullptr || name->name == nullptr || IsDotEntry(name->name)) {
        tsk_fs_file_close(file);
        continue;
      }
      VolumeEntry entry;
      entry.file = file;
      entry.inner = directory.inner + "/" + name->name;
      entry.deleted = directory.deleted || (name->flags & TSK_FS_NAME_FLAG_ALLOC) == 0;
      const bool orphans = name->meta_addr == TSK_FS_ORPHANDIR_INUM(fs);
      TSK_FS_FILE* loaded = nullptr;  // the metadata opened here for a deleted name
      if (file->meta == nullptr && entry.deleted && !orphans) {
        loaded = DeletedNameMetadata(fs, name);
        if (loaded != nullptr) entry.file = loaded;
      }
      const TSK_FS_META* meta = entry.file->meta;
      // A deleted name whose entry is in use again describes another file now.
      entry.reallocated = entry.deleted && !orphans && meta != nullptr && (meta->flags & TSK_FS_META_FLAG_ALLOC) != 0;
      if (entry.deleted) {
        ++counts->deletedNames;
      } else if (!orphans) {
        ++counts->names;
      }
      if (!visitor.admit(visitor.context, entry.inner, name->name)) {
        if (loaded != nullptr) tsk_fs_file_close(loaded);
        tsk_fs_file_close(file);
        continue;
      }
      if (meta == nullptr) {
        // A deleted name may point nowhere any more; a name in use must not.
        if (!entry.deleted) visitor.error(visitor.context, entry.inner, "its metadata cannot be read");
      } else if (meta->type == TSK_FS_META_TYPE_DIR || meta->type == TSK_FS_META_TYPE_VIRT_DIR) {
        entry.directory = true;
        if (meta->size < 0 || static_cast<uint64_t>(meta->size) > ImageBytes(fs)) {
          // The library reads a directory whole into memory: one that claims more
          // bytes than the image holds is damaged or hostile, and is not read.
          if (!entry.deleted)
            visitor.error(visitor.context, entry.inner,
                          ("the directory claims " + std::to_string(meta->size) +
                           " bytes, more than the image holds: not read").c_str());
        } else if (entered.insert(meta->addr).second) {
          // Below $OrphanFiles every file is deleted.
          below.push_back({meta->addr, entry.inner, entry.deleted || orphans});
          if (!orphans) visitor.entry(visitor.context, entry);
        } else if (!entry.deleted) {
          visitor.error(visitor.context, entry.inner,
                        "a directory already walked (a loop in the metadata): not entered again");
        }
      } else if (meta->type == TSK_FS_META_TYPE_REG) {
        visitor.entry(visitor.context, entry);
      } else if (entry.deleted || meta->type == TSK_FS_META_TYPE_VIRT) {
        // A deleted link or special file holds nothing to judge; a virtual file
        // ($MBR, $FAT1 on FAT) is the library's view of the volume's own tables.
      } else if (meta->type == TSK_FS_META_TYPE_LNK) {
        visitor.skipped(visitor.context, entry.inner, "symbolic link");
      } else {
        visitor.skipped(visitor.context, entry.inner, "not a regular file (device, pipe or socket)");
      }
      if (loaded != nullptr) tsk_fs_file_close(loaded);
      tsk_fs_file_close(file);
    }
    tsk_fs_dir_close(listing);
    // Last pushed is read first: the directories come in the order they were listed.
    for (auto at = below.rbegin(); at != below.rend(); ++at) pending.push_back(std::move(*at));
  }
}

bool CountMetadataInUse(TSK_FS_INFO* fs, uint64_t* count) {
  *count = 0;
  tsk_error_reset();
  const bool walked = tsk_fs_meta_walk(fs, fs->first_inum, fs->last_inum - 1,
                                       static_cast<TSK_FS_META_FLAG_ENUM>(TSK_FS_META_FLAG_ALLOC), CountOne,
                                       count) == 0;
  tsk_error_reset();
  return walked;
}

#include "tools/pestkill-scan/disk_image/tsk_file_source.h"

namespace {

// As pread on a descriptor: the end of the data gives 0, not an error (the library
// refuses an offset at or past the end).
int64_t ReadAttributeAt(void* context, void* buffer, uint64_t count, int64_t offset) {
  const TSK_FS_ATTR* attribute = static_cast<const TSK_FS_ATTR*>(context);
  if (offset < 0) return -1;
  if (offset >= attribute->size) return 0;
  const uint64_t left = static_cast<uint64_t>(attribute->size - offset);
  if (count > left) count = left;
  tsk_error_reset();
  const ssize_t got = tsk_fs_attr_read(attribute, offset, static_cast<char*>(buffer), count,
                                       TSK_FS_FILE_READ_FLAG_NONE);
  return got < 0 ? -1 : static_cast<int64_t>(got);
}

}  // namespace

ReadSource AttributeReadSource(const TSK_FS_ATTR* attribute) {
  ReadSource source;
  source.context = const_cast<TSK_FS_ATTR*>(attribute);
  source.readAt = ReadAttributeAt;
  return source;
}

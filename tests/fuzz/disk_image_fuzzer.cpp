// Fuzz target: a small volume image (NTFS, FAT, ext) read as the disk image scan
// reads it: opened by the disk image library from an in-memory file, walked by the
// scan's own iteration (deleted names and $OrphanFiles too), and every file's data
// and named streams judged through the read layer over the library's reads.
// Properties beyond "no crash, no sanitizer report in our code": the walk ends, and
// no descriptor is leaked.
#include <tsk/libtsk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/memory_file.h"
#include "tools/pestkill-scan/sources/disk_image/tsk_file_source.h"
#include "tools/pestkill-scan/sources/disk_image/volume_walk.h"

namespace {

void JudgeEntry(void*, const VolumeEntry& entry) {
  const int count = tsk_fs_file_attr_getsize(entry.file);
  for (int i = 0; i < count; ++i) {
    const TSK_FS_ATTR* attribute = tsk_fs_file_attr_get_idx(entry.file, i);
    if (attribute == nullptr ||
        (attribute->type != TSK_FS_ATTR_TYPE_NTFS_DATA && attribute->type != TSK_FS_ATTR_TYPE_DEFAULT))
      continue;
    AttributeReading reading;
    reading.attribute = attribute;
    ScanStop stop = ScanStop::Checked;
    (void)JudgeThroughReadSource(AttributeReadSource(&reading), attribute->size, &stop, nullptr);
  }
  tsk_error_reset();
}

void Ignore(void*, const std::string&, const char*) {}
bool Admit(void*, const std::string&, const char*) { return true; }
bool Never(void*) { return false; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile* file = SharedMemoryFile();
  static const int freeBefore = LowestFreeDescriptor();
  FillMemoryFile(file, data, size);
  TSK_IMG_INFO* img = tsk_img_open_utf8_sing(file->path, TSK_IMG_TYPE_RAW, 0);
  if (img != nullptr) {
    TSK_FS_INFO* fs = tsk_fs_open_img(img, 0, TSK_FS_TYPE_DETECT);
    if (fs != nullptr) {
      VolumeWalkVisitor visitor;
      visitor.entry = JudgeEntry;
      visitor.error = Ignore;
      visitor.skipped = Ignore;
      visitor.admit = Admit;
      visitor.stopping = Never;
      VolumeWalkCounts counts;
      WalkVolume(fs, visitor, &counts);
      uint64_t inUse = 0;
      (void)CountMetadataInUse(fs, &inUse);
      tsk_fs_close(fs);
    }
    tsk_img_close(img);
  }
  tsk_error_reset();
  if (LowestFreeDescriptor() != freeBefore) {
    std::fprintf(stderr, "disk image property broken: a descriptor was leaked\n");
    std::abort();
  }
  return 0;
}

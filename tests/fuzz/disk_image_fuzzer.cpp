// Fuzz target: a small NTFS or FAT volume read as the disk image scan reads a
// volume: opened by the disk image library from an in-memory file by its own type
// (NTFS, then FAT: the library's other readers never see the input), walked by the
// scan's own iteration (deleted names and $OrphanFiles too), each file's content
// judged once through the read layer over the library's reads, chosen as the scan
// chooses it (a regular file's data, a file's or directory's named streams, never
// the compressed or encrypted content it does not read), and the metadata entries
// in use counted for the volume's closing line. Properties beyond "no crash, no
// sanitizer report in our code": the walk ends, and no descriptor is leaked.
#include <tsk/libtsk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "tests/fuzz/memory_file.h"
#include "tools/pestkill-scan/sources/disk_image/tsk_file_source.h"
#include "tools/pestkill-scan/sources/disk_image/volume_walk.h"

namespace {

constexpr char WofStream[] = "WofCompressedData";

bool IsNamedStream(const TSK_FS_ATTR* attribute) {
  return StoredAttributeType(attribute) == TSK_FS_ATTR_TYPE_NTFS_DATA && attribute->name != nullptr &&
         attribute->name[0] != 0 && std::strcmp(attribute->name, "$Data") != 0;
}

// Content the scan reports "not checked" without reading it.
bool UnreadContent(TSK_FS_FILE* file, const TSK_FS_ATTR* attribute) {
  if ((attribute->flags & TSK_FS_ATTR_ENC) != 0) return true;
  const int count = tsk_fs_file_attr_getsize(file);
  for (int i = 0; i < count; ++i) {
    const TSK_FS_ATTR* other = tsk_fs_file_attr_get_idx(file, i);
    if (other != nullptr && IsNamedStream(other) && std::strcmp(other->name, WofStream) == 0) return true;
  }
  tsk_error_reset();
  return false;
}

void JudgeAttribute(TSK_FS_FILE* file, const TSK_FS_ATTR* attribute) {
  if (UnreadContent(file, attribute)) return;
  AttributeReading reading;
  reading.attribute = attribute;
  ScanStop stop = ScanStop::Checked;
  (void)JudgeThroughReadSource(AttributeReadSource(&reading), attribute->size, &stop, nullptr);
}

// The volume's metadata entries whose content was judged: a file met under a
// second name (a hard link, or damaged metadata that names one entry many times)
// is judged once, as in the scan.
using JudgedEntries = std::set<TSK_INUM_T>;

void JudgeEntry(void* context, const VolumeEntry& entry) {
  JudgedEntries* judged = static_cast<JudgedEntries*>(context);
  tsk_error_reset();
  const TSK_FS_ATTR* data = entry.directory ? nullptr : tsk_fs_file_attr_get(entry.file);
  tsk_error_reset();
  const TSK_INUM_T address = entry.file->meta->addr;
  if (!entry.directory) {
    if (data == nullptr && entry.deleted) return;
    // A reallocated name's content is the file's now holding its entry: read
    // again under this name, and not counted as that file's turn.
    if (!entry.reallocated && !judged->insert(address).second) return;
    if (data != nullptr) JudgeAttribute(entry.file, data);
  } else if (!judged->insert(address).second) {
    return;
  }
  const int count = tsk_fs_file_attr_getsize(entry.file);
  for (int i = 0; i < count; ++i) {
    const TSK_FS_ATTR* attribute = tsk_fs_file_attr_get_idx(entry.file, i);
    if (attribute == nullptr || attribute == data || !IsNamedStream(attribute)) continue;
    if (std::strcmp(attribute->name, WofStream) == 0) continue;
    JudgeAttribute(entry.file, attribute);
  }
  tsk_error_reset();
}

void Ignore(void*, const std::string&, const char*) {}
bool Admit(void*, const std::string&, const char*) { return true; }
bool Never(void*) { return false; }

void ScanVolume(TSK_FS_INFO* fs) {
  JudgedEntries judged;
  VolumeWalkVisitor visitor;
  visitor.context = &judged;
  visitor.entry = JudgeEntry;
  visitor.error = Ignore;
  visitor.skipped = Ignore;
  visitor.admit = Admit;
  visitor.stopping = Never;
  VolumeWalkCounts counts;
  WalkVolume(fs, visitor, &counts);
  uint64_t inUse = 0;
  (void)CountMetadataInUse(fs, &inUse);
}

// The file systems this target reads, each by its own type: NTFS, then FAT (FAT12,
// FAT16, FAT32 and exFAT).
constexpr TSK_FS_TYPE_ENUM VolumeTypes[] = {TSK_FS_TYPE_NTFS_DETECT, TSK_FS_TYPE_FAT_DETECT};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile* file = SharedMemoryFile();
  FillMemoryFile(file, data, size);
  // Counted on each input: the sanitizers' symbolizer may open pipes between two.
  const int freeBefore = LowestFreeDescriptor();
  TSK_IMG_INFO* img = tsk_img_open_utf8_sing(file->path, TSK_IMG_TYPE_RAW, 0);
  if (img != nullptr) {
    for (TSK_FS_TYPE_ENUM type : VolumeTypes) {
      tsk_error_reset();
      TSK_FS_INFO* fs = tsk_fs_open_img(img, 0, type);
      if (fs == nullptr) continue;
      ScanVolume(fs);
      tsk_fs_close(fs);
      break;
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

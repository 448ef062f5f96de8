#include "tools/pestkill-scan/sources/disk_image/disk_image_scan.h"

#include <tsk/libtsk.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/pestkill-scan/sources/disk_image/container_format.h"
#include "tools/pestkill-scan/sources/disk_image/entry_place.h"
#include "tools/pestkill-scan/sources/disk_image/ewf_segments.h"
#include "tools/pestkill-scan/sources/disk_image/own_partition.h"
#include "tools/pestkill-scan/sources/disk_image/tsk_file_source.h"
#include "tools/pestkill-scan/sources/disk_image/volume_process.h"
#include "tools/pestkill-scan/sources/disk_image/volume_walk.h"
#include "tools/pestkill-scan/judgement/file_judgement.h"
#include "tools/pestkill-scan/judgement/glob_match.h"
#include "tools/pestkill-scan/report/json_text.h"
#include "tools/pestkill-scan/report/name_text.h"
#include "tools/pestkill-scan/report/stop_signal.h"
#ifdef PESTKILL_IMAGE_REGISTRY
#include "tools/pestkill-scan/sources/disk_image/image_registry.h"
#include "tools/pestkill-scan/registry_rule/windows_root_report.h"
#endif

namespace {

// One volume being walked: the run, where the volume lies, and the key that tells
// its files from those of the other volumes for "judged once".
struct VolumeScan {
  ScanRun* run = nullptr;
  VolumePlace place;
  uint64_t key = 0;
#ifdef PESTKILL_IMAGE_REGISTRY
  bool windows = false;  // a Windows system volume: both detection roads, with its registry
  VolumeRules rules;
#endif
};

// The impostor rule for a file's name in use, on a Windows system volume.
bool ImpostorName(const VolumeScan& scan, const std::string& inner, std::u16string* upperTarget) {
#ifdef PESTKILL_IMAGE_REGISTRY
  std::u16string windowsPath;
  return scan.windows && WindowsPathInVolume(inner, &windowsPath) &&
         HoldsImpostorRule(scan.rules, windowsPath, upperTarget);
#else
  (void)scan, (void)inner, (void)upperTarget;
  return false;
#endif
}

// The judgement reported: with the Windows roads on a system volume (a detection
// lists what --clean would change on it mounted), else as a scan of PATHs.
void ReportEntry(VolumeScan* scan, const std::string& path, bool impostor, const std::u16string& upperTarget,
                 const FileJudgement& judgement) {
#ifdef PESTKILL_IMAGE_REGISTRY
  if (scan->windows) {
    ReportVolumeFile(scan->run, &scan->rules, path, impostor, upperTarget, judgement);
    return;
  }
#endif
  (void)impostor, (void)upperTarget;
  ReportJudgement(scan->run, path.c_str(), judgement);
}

// A line about an entry of the volume, with its JSON members.
void EntryLine(VolumeScan* scan, LineKind kind, const std::string& inner, uint64_t inode, const char* reason) {
  ScanRun* run = scan->run;
  run->report.entryMembers = EntryMembers(scan->place, inner, inode, false, nullptr);
  QueueLine(run, kind, EntryPath(scan->place, inner).c_str(), reason);
  run->report.entryMembers.clear();
  PublishVolumeCounts(run->report);
}

void OnVolumeError(void* context, const std::string& inner, const char* reason) {
  EntryLine(static_cast<VolumeScan*>(context), LineKind::Error, inner, 0, reason);
}

void OnVolumeSkipped(void* context, const std::string& inner, const char* reason) {
  EntryLine(static_cast<VolumeScan*>(context), LineKind::Skipped, inner, 0, reason);
}

bool OnVolumeStopping(void* context) { return Stopping(*static_cast<VolumeScan*>(context)->run); }

// --exclude, as for a tree: a GLOB with '/' against the path inside the volume,
// any other against the name.
bool AdmitVolumeEntry(void* context, const std::string& inner, const char* name) {
  VolumeScan* scan = static_cast<VolumeScan*>(context);
  for (const char* glob : scan->run->settings.excludes) {
    const char* subject = std::strchr(glob, '/') != nullptr ? inner.c_str() : name;
    if (MatchesGlob(glob, subject)) {
      EntryLine(scan, LineKind::Skipped, inner, 0, (std::string("excluded by ") + glob).c_str());
      return false;
    }
  }
  return true;
}

// The data attribute of a file that Windows compressed (WOF, CompactOS): its
// unnamed data is empty and the content lies, compressed, in this stream.
constexpr char WofStream[] = "WofCompressedData";

bool IsNamedStream(const TSK_FS_ATTR* attribute) {
  return StoredAttributeType(attribute) == TSK_FS_ATTR_TYPE_NTFS_DATA && attribute->name != nullptr &&
         attribute->name[0] != 0 && std::strcmp(attribute->name, "$Data") != 0;
}

// Why the attribute's bytes are not judged at all, or null.
const char* EncryptedContent(const TSK_FS_ATTR* attribute) {
  return (attribute->flags & TSK_FS_ATTR_ENC) != 0 ? "encrypted by the file system (EFS), which is not read" : nullptr;
}

// Where the runs of a non-resident attribute end, sparse runs counted, in bytes
// (held at the largest value where the metadata's numbers would wrap).
uint64_t RunsEnd(const TSK_FS_ATTR* attribute, uint64_t blockBytes) {
  uint64_t end = 0;
  for (const TSK_FS_ATTR_RUN* run = attribute->nrd.run; run != nullptr; run = run->next) {
    if (run->len > UINT64_MAX - run->offset) return UINT64_MAX;
    if (run->offset + run->len > end) end = run->offset + run->len;
  }
  return blockBytes != 0 && end > UINT64_MAX / blockBytes ? UINT64_MAX : end * blockBytes;
}

// Why content that did not match was not judged as it is, or empty: the file's
// data lies compressed in its WOF stream (a named stream is never compressed so),
// or the attribute's runs end before the size its metadata claims (damaged or
// hostile metadata: the rest is not in the image, and the library reads it as
// nothing, which must not pass for clean).
std::string UnjudgedContent(TSK_FS_FILE* file, const TSK_FS_ATTR* attribute, bool unnamedData) {
  const int count = unnamedData ? tsk_fs_file_attr_getsize(file) : 0;
  for (int i = 0; i < count; ++i) {
    const TSK_FS_ATTR* other = tsk_fs_file_attr_get_idx(file, i);
    if (other != nullptr && IsNamedStream(other) && std::strcmp(other->name, WofStream) == 0)
      return "compressed by Windows (WOF/CompactOS), which is not read";
  }
  tsk_error_reset();
  if ((attribute->flags & TSK_FS_ATTR_NONRES) != 0 && (attribute->flags & TSK_FS_ATTR_COMP) == 0 &&
      attribute->size > 0) {
    const uint64_t held = RunsEnd(attribute, file->fs_info->block_size);
    if (held < static_cast<uint64_t>(attribute->size))
      return "its metadata claims " + std::to_string(attribute->size) + " bytes, but its data runs hold " +
             std::to_string(held) + ": the rest is not in the image";
  }
  return std::string();
}

// One attribute judged and reported: a detection stands; otherwise a read the
// library could not do, or content not judged as it is, makes the file "not
// checked", never clean.
void JudgeAttribute(VolumeScan* scan, const VolumeEntry& entry, const TSK_FS_ATTR* attribute, const char* stream,
                    bool impostor = false, const std::u16string& upperTarget = std::u16string()) {
  ScanRun* run = scan->run;
  std::string path = EntryPath(scan->place, entry.inner, stream);
  if (entry.deleted) path += entry.reallocated ? " (deleted, realloc)" : " (deleted)";
  run->report.entryMembers = EntryMembers(scan->place, entry.inner, entry.file->meta->addr, entry.deleted, stream);
  if (entry.deleted) run->report.entryMembers += entry.reallocated ? ",\"realloc\":true" : ",\"realloc\":false";
  FileJudgement judgement;
  if (const char* encrypted = EncryptedContent(attribute)) {
    judgement.verdict = Verdict::NotChecked;
    judgement.reason = encrypted;
  } else {
    AttributeReading reading;
    reading.attribute = attribute;
    const ReadSource source = AttributeReadSource(&reading);
    JudgeSourceSignatures(*run, source, static_cast<uint64_t>(attribute->size), &judgement);
    const std::string unjudged =
        judgement.verdict != Verdict::Infected ? UnjudgedContent(entry.file, attribute, stream == nullptr) : "";
    if (reading.failed && judgement.verdict != Verdict::Infected) {
      judgement.verdict = Verdict::NotChecked;
      judgement.reason = "the image could not be read whole: " + reading.failure;
    } else if (!unjudged.empty()) {
      judgement.verdict = Verdict::NotChecked;
      judgement.reason = unjudged;
    }
  }
  ReportEntry(scan, path, impostor, upperTarget, judgement);
  run->report.entryMembers.clear();
  PublishVolumeCounts(run->report);
}

// A regular file (its data and each named stream) or a directory (its named
// streams), each judged through the library's reads of the image.
void OnVolumeEntry(void* context, const VolumeEntry& entry) {
  VolumeScan* scan = static_cast<VolumeScan*>(context);
  ScanRun* run = scan->run;
  const uint64_t inode = entry.file->meta->addr;
  tsk_error_reset();
  const TSK_FS_ATTR* data = entry.directory ? nullptr : tsk_fs_file_attr_get(entry.file);
  // A deleted entry whose metadata no longer describes any data holds nothing to judge.
  if (!entry.directory && data == nullptr && entry.deleted) {
    tsk_error_reset();
    return;
  }
  if (!entry.directory) {
    const std::string path = EntryPath(scan->place, entry.inner);
    run->report.entryMembers = EntryMembers(scan->place, entry.inner, inode, entry.deleted, nullptr);
    // A reallocated entry's content belongs to the file now holding it, which is
    // judged under its own name too: this name neither counts nor takes that turn.
    // Every name in use is held against the impostor rule, the content judged once.
    std::u16string upperTarget;
    const bool impostor = !entry.deleted && ImpostorName(*scan, entry.inner, &upperTarget);
    const bool first = entry.reallocated || impostor || FirstTimeJudged(run, path.c_str(), FileIdentity{scan->key, inode});
    if (impostor) run->judged.insert({scan->key, inode});
    run->report.entryMembers.clear();
    if (!first) return;  // its streams were judged with it
    if (data == nullptr) {
      FileJudgement judgement;
      judgement.verdict = Verdict::NotChecked;
      judgement.reason = LibraryError("its data cannot be found");
      run->report.entryMembers = EntryMembers(scan->place, entry.inner, inode, entry.deleted, nullptr);
      ReportJudgement(run, path.c_str(), judgement);
      run->report.entryMembers.clear();
    } else {
      JudgeAttribute(scan, entry, data, nullptr, impostor, upperTarget);
    }
  } else if (!run->judged.insert({scan->key, inode}).second) {
    return;
  }
  const int count = tsk_fs_file_attr_getsize(entry.file);
  for (int i = 0; i < count && !Stopping(*run); ++i) {
    const TSK_FS_ATTR* attribute = tsk_fs_file_attr_get_idx(entry.file, i);
    if (attribute == nullptr || attribute == data || !IsNamedStream(attribute)) continue;
    if (std::strcmp(attribute->name, WofStream) == 0) continue;  // the compressed content, reported above
    JudgeAttribute(scan, entry, attribute, attribute->name);
  }
  tsk_error_reset();
}

// The volume's closing line: the names the walk met against the entries its
// metadata holds, so that a walk that missed files shows it.
void ReportVolumeCounts(ScanRun* run, const VolumePlace& place, const VolumeWalkCounts& counts, bool counted,
                        uint64_t inUse) {
  ScanReport* report = &run->report;
  const std::string name = VolumeName(place);
  if (report->form == OutputForm::Json && BeginRecord(report)) {
    std::fputc('{', stdout);
    PutJsonPathMembers(stdout, "volume", name.c_str());
    std::fputs(VolumeMembers(place).c_str(), stdout);
    std::printf(",\"names\":%llu,\"deleted_names\":%llu,\"directories\":%llu,\"metadata_in_use\":",
                static_cast<unsigned long long>(counts.names), static_cast<unsigned long long>(counts.deletedNames),
                static_cast<unsigned long long>(counts.directories));
    if (counted) {
      std::printf("%llu}\n", static_cast<unsigned long long>(inUse));
    } else {
      std::fputs("null}\n", stdout);
    }
    EndRecord(report);
  }
  char numbers[160];
  (void)std::snprintf(numbers, sizeof numbers, "%llu names in use and %llu deleted names walked in %llu directories; ",
                      static_cast<unsigned long long>(counts.names), static_cast<unsigned long long>(counts.deletedNames),
                      static_cast<unsigned long long>(counts.directories));
  TextLine line;
  line.Name(name).Words(": ").Words(numbers);
  if (counted) {
    (void)std::snprintf(numbers, sizeof numbers, "%llu metadata entries in use", static_cast<unsigned long long>(inUse));
    line.Words(numbers);
  } else {
    line.Words("the metadata entries in use could not be counted");
  }
  PutErrorLine(report, line);
}

void ScanFileSystem(ScanRun* run, TSK_FS_INFO* fs, const VolumePlace& place, uint64_t key) {
  VolumeScan scan;
  scan.run = run;
  scan.place = place;
  scan.key = key;
  VolumeWalkVisitor visitor;
  visitor.context = &scan;
  visitor.entry = OnVolumeEntry;
  visitor.error = OnVolumeError;
  visitor.skipped = OnVolumeSkipped;
  visitor.admit = AdmitVolumeEntry;
  visitor.stopping = OnVolumeStopping;
#ifdef PESTKILL_IMAGE_REGISTRY
  // A Windows system volume: its hives found and read before its files are judged.
  if (TSK_FS_TYPE_ISNTFS(fs->ftype) && LoadImageRegistry(fs, place, &scan.rules)) {
    scan.windows = true;
    for (const VolumeHive& hive : scan.rules.registry.hives) {
      run->report.entryMembers = VolumeMembers(place);
      ReportHive(&run->report, hive, false);
      run->report.entryMembers.clear();
    }
    if (!scan.rules.registry.systemRootFromHive)
      ReportNote(&run->report, "SOFTWARE does not name the system root; C:\\Windows is assumed");
  }
#endif
  VolumeWalkCounts counts;
  WalkVolume(fs, visitor, &counts);
  if (Stopping(*run)) return;
  uint64_t inUse = 0;
  const bool counted = CountMetadataInUse(fs, &inUse);
  ReportVolumeCounts(run, place, counts, counted, inUse);
}

void ImageError(ScanRun* run, const char* image, const std::string& reason) {
  QueueLine(run, LineKind::Error, image, reason.c_str());
}

// An error the scanner itself reports about an image, after every volume started
// before it.
void ImageErrorInTurn(ScanRun* run, VolumeProcesses* volumes, const char* image, const std::string& reason) {
  volumes->Finish();
  ImageError(run, image, reason);
}

// The file system a volume's first bytes name, at offset in the image, or null.
const char* NamedVolumeFormat(TSK_IMG_INFO* img, TSK_OFF_T offset) {
  uint8_t head[VolumeHeadBytes];
  const ssize_t got = tsk_img_read(img, offset, reinterpret_cast<char*>(head), sizeof head);
  tsk_error_reset();
  return got > 0 ? VolumeFormatNamed(head, static_cast<size_t>(got)) : nullptr;
}

// The file system type the library knows by the name VolumeFormatNamed gives.
TSK_FS_TYPE_ENUM NamedFormatType(const char* named) {
  std::string lower;
  for (const char* at = named; *at != 0; ++at)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*at)));
  return tsk_fs_type_toid_utf8(lower.c_str());
}

// Why a volume whose boot sector names a file system did not open, in the words
// of that file system's own reader (detection says only that it found no type),
// else the detection's failure. The volume is the partition, or without one the
// image from its start.
std::string NamedVolumeFailure(const std::string& detected, const char* named, const TSK_VS_PART_INFO* part,
                               TSK_IMG_INFO* img) {
  const TSK_FS_TYPE_ENUM type = NamedFormatType(named);
  if (type == TSK_FS_TYPE_UNSUPP) return detected;
  tsk_error_reset();
  TSK_FS_INFO* fs = part != nullptr ? tsk_fs_open_vol(part, type) : tsk_fs_open_img(img, 0, type);
  if (fs == nullptr) return LibraryError("cannot be read");
  tsk_fs_close(fs);
  return detected;
}

// One partition of the table, in its own process: walked when it has a file
// system the library reads, passed over with its type when it has none.
struct PartitionToScan {
  ScanRun* run;
  TSK_VS_INFO* table;
  TSK_PNUM_T index;
  VolumePlace place;
  uint64_t key;
  bool ownHandle;  // another volume process reads through the run's handle on the image
};

void ScanPartition(void* context) {
  const PartitionToScan* scan = static_cast<const PartitionToScan*>(context);
  ScanRun* run = scan->run;
  const VolumePlace& place = scan->place;
  OwnPartition own;
  TSK_VS_INFO* table = scan->table;
  if (scan->ownHandle) {
    std::string failure;
    if (!OpenOwnPartition(place.image.c_str(), scan->table, scan->index, &own, &failure)) {
      run->report.entryMembers = VolumeMembers(place);
      QueueLine(run, LineKind::Error, VolumeName(place).c_str(), failure.c_str());
      run->report.entryMembers.clear();
      return;
    }
    table = own.table;
  }
  const TSK_VS_PART_INFO* part = tsk_vs_part_get(table, scan->index);
  tsk_error_reset();
  TSK_FS_INFO* fs = tsk_fs_open_vol(part, TSK_FS_TYPE_DETECT);
  run->report.entryMembers = VolumeMembers(place);
  if (fs == nullptr) {
    const std::string failure = LibraryError("cannot be read");
    const TSK_OFF_T start = table->offset + static_cast<TSK_OFF_T>(part->start * table->block_size);
    if (const char* named = NamedVolumeFormat(table->img_info, start)) {
      QueueLine(run, LineKind::Error, VolumeName(place).c_str(),
                (std::string("its boot sector names ") + named + ", but the volume " +
                 NamedVolumeFailure(failure, named, part, nullptr))
                    .c_str());
    } else {
      const std::string reason = std::string("partition of type \"") + (part->desc != nullptr ? part->desc : "?") +
                                 "\": no file system that can be read";
      QueueLine(run, LineKind::Skipped, VolumeName(place).c_str(), reason.c_str());
    }
    run->report.entryMembers.clear();
  } else {
    run->report.entryMembers.clear();
    ScanFileSystem(run, fs, place, scan->key);
    tsk_fs_close(fs);
  }
  CloseOwnPartition(&own);
}

// The partitions of the table, each in a volume process. The first to run reads
// through the run's handle on the image; one that starts while that one still
// runs opens the image again (own_partition.h).
void ScanPartitions(ScanRun* run, TSK_VS_INFO* table, const char* image, uint64_t imageNumber,
                    VolumeProcesses* volumes) {
  uint64_t handleUser = 0;  // the volume process reading through the run's handle
  for (TSK_PNUM_T index = 0; index < table->part_count && !Stopping(*run); ++index) {
    const TSK_VS_PART_INFO* part = tsk_vs_part_get(table, index);
    if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) continue;
    if (!volumes->WaitForRoom()) break;
    const uint64_t key = (imageNumber << 32) | (static_cast<uint64_t>(part->addr) + 1);
    PartitionToScan scan{run, table, index, VolumePlace(), key, volumes->Running(handleUser)};
    scan.place.image = image;
    scan.place.partition = static_cast<int64_t>(part->addr);
    scan.place.startSector = static_cast<uint64_t>(part->start);
    const uint64_t number = volumes->Start(VolumeName(scan.place), ScanPartition, &scan);
    if (!scan.ownHandle) handleUser = number;
  }
}

// An image without a partition table, in its own process: one volume at offset 0.
struct BareVolumeToScan {
  ScanRun* run;
  TSK_IMG_INFO* img;
  const char* image;
  uint64_t key;
};

void ScanBareVolume(void* context) {
  const BareVolumeToScan* scan = static_cast<const BareVolumeToScan*>(context);
  ScanRun* run = scan->run;
  tsk_error_reset();
  TSK_FS_INFO* fs = tsk_fs_open_img(scan->img, 0, TSK_FS_TYPE_DETECT);
  if (fs == nullptr) {
    const std::string failure = LibraryError("cannot be read");
    if (const char* named = NamedVolumeFormat(scan->img, 0)) {
      ImageError(run, scan->image, std::string("no partition table, and the volume's boot sector names ") + named +
                                       ", but the volume " +
                                       NamedVolumeFailure(failure, named, nullptr, scan->img));
    } else {
      ImageError(run, scan->image, "neither a partition table nor a file system that can be read");
    }
    return;
  }
  VolumePlace place;
  place.image = scan->image;
  ScanFileSystem(run, fs, place, scan->key);
  tsk_fs_close(fs);
}

// The first bytes of an image the library took for raw, to name a container it
// does not read.
const char* UnreadFormatOf(TSK_IMG_INFO* img) {
  if (!TSK_IMG_TYPE_ISRAW(img->itype)) return nullptr;
  uint8_t head[512];
  const ssize_t got = tsk_img_read(img, 0, reinterpret_cast<char*>(head), sizeof head);
  tsk_error_reset();
  return got > 0 ? UnreadContainerFormat(head, static_cast<size_t>(got)) : nullptr;
}

void ScanDiskImage(ScanRun* run, const char* image, uint64_t imageNumber, VolumeProcesses* volumes) {
  tsk_error_reset();
  TSK_IMG_INFO* img = tsk_img_open_utf8_sing(image, TSK_IMG_TYPE_DETECT, 0);
  if (img == nullptr) {
    ImageErrorInTurn(run, volumes, image, LibraryError("cannot be read as a disk image"));
    return;
  }
  if (const char* format = UnreadFormatOf(img)) {
    ImageErrorInTurn(run, volumes, image,
                     std::string("a ") + format + " image, a format that cannot be read here (convert it to raw)");
    tsk_img_close(img);
    return;
  }
  // The library reads a missing segment's sectors as zeros: such an image is not read.
  const std::string gap =
      TSK_IMG_TYPE_ISEWF(img->itype) ? EwfSegmentGap(img->images, img->num_img) : std::string();
  if (!gap.empty()) {
    ImageError(run, image, gap);
    tsk_img_close(img);
    return;
  }
  TSK_VS_INFO* table = tsk_vs_open(img, 0, TSK_VS_TYPE_DETECT);
  if (table != nullptr) {
    ScanPartitions(run, table, image, imageNumber, volumes);
    tsk_vs_close(table);
  } else {
    // No partition table: the image may be one volume, its file system at offset 0.
    BareVolumeToScan scan{run, img, image, imageNumber << 32};
    VolumePlace place;
    place.image = image;
    (void)volumes->Start(VolumeName(place), ScanBareVolume, &scan);
  }
  tsk_img_close(img);
}

}  // namespace

int RunDiskImageScan(const ScanSettings& settings, const DiskImageRequest& request, char** /*argv*/) {
  ScanRun run;
  run.settings = settings;
  ConfigureRun(&run);
  CatchStopSignals();
  StartReport(&run.report);
  VolumeProcessLimits limits;
  if (request.volumeSeconds > 0) limits.seconds = request.volumeSeconds;
  VolumeProcesses volumes(&run.report, settings.jobs, limits);
  uint64_t imageNumber = 0;
  for (const char* image : request.images) {
    if (Stopping(run)) break;
    ScanDiskImage(&run, image, ++imageNumber, &volumes);
  }
  volumes.Finish();
  const int stopSignal = StopSignal();
  ReportSummary(&run.report, stopSignal);
  return ExitStatusFor(run.report, stopSignal);
}

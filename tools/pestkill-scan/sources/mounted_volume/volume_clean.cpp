#include "tools/pestkill-scan/sources/mounted_volume/volume_clean.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "tools/pestkill-scan/report/json_text.h"
#include "tools/pestkill-scan/report/stop_signal.h"
#include "tools/pestkill-scan/registry_rule/hive_file.h"
#include "tools/pestkill-scan/sources/mounted_volume/sha256.h"
#include "tools/pestkill-scan/registry_rule/windows_root_report.h"

namespace {

const char ManifestName[] = "manifest.jsonl";

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncDirectory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  (void)close(fd);
  return synced;
}

struct CopyResult {
  std::string destination;
  uint64_t size = 0;
  std::string sha256;
};

// Copies source (never through a link) to a new file in directory, named by a free
// number and the source's name, synced to disk, with its digest.
bool CopyToNewFile(const std::string& source, const std::string& directory, CopyResult* result, std::string* error) {
  int in = open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) {
    *error = ErrnoText("cannot open");
    return false;
  }
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "not a regular file";
    (void)close(in);
    return false;
  }
  int out = -1;
  for (unsigned number = 1; number < 100000 && out < 0; ++number) {
    char prefix[16];
    (void)std::snprintf(prefix, sizeof prefix, "%04u-", number);
    result->destination = directory + "/" + prefix + BaseName(source);
    out = open(result->destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    *error = ErrnoText("cannot create a file in the quarantine");
    (void)close(in);
    return false;
  }
  Sha256 digest;
  result->size = 0;
  bool ok = true;
  char buffer[65536];
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = ErrnoText("cannot read");
      ok = false;
      break;
    }
    if (got == 0) break;
    digest.Update(buffer, static_cast<size_t>(got));
    result->size += static_cast<uint64_t>(got);
    for (ssize_t written = 0; written < got;) {
      ssize_t put = write(out, buffer + written, static_cast<size_t>(got - written));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        *error = ErrnoText("cannot write into the quarantine");
        ok = false;
        break;
      }
      written += put;
    }
    if (!ok) break;
  }
  if (ok && fsync(out) != 0) {
    *error = ErrnoText("cannot sync the quarantine copy");
    ok = false;
  }
  if (close(out) != 0 && ok) {
    *error = ErrnoText("cannot close the quarantine copy");
    ok = false;
  }
  (void)close(in);
  if (!ok) {
    (void)unlink(result->destination.c_str());
    return false;
  }
  result->sha256 = digest.HexDigest();
  (void)SyncDirectory(directory);
  return true;
}

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  struct tm parts;
  char text[32];
  gmtime_r(&now, &parts);
  (void)std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// One line per item, synced before the original is touched.
bool AppendManifest(const std::string& quarantine, const char* kind, const std::string& original,
                    const CopyResult& copy, const char* rule, std::string* error) {
  const std::string path = quarantine + "/" + ManifestName;
  FILE* manifest = std::fopen(path.c_str(), "a");
  if (manifest == nullptr) {
    *error = ErrnoText("cannot open " + path);
    return false;
  }
  std::fprintf(manifest, "{\"kind\":\"%s\",\"original\":", kind);
  PutJsonString(manifest, original.c_str());
  std::fputs(",\"quarantined\":", manifest);
  PutJsonString(manifest, copy.destination.c_str());
  std::fprintf(manifest, ",\"size\":%llu,\"sha256\":\"%s\",\"time\":\"%s\",\"rule\":\"%s\"}\n",
               static_cast<unsigned long long>(copy.size), copy.sha256.c_str(), UtcNow().c_str(), rule);
  bool ok = std::fflush(manifest) == 0 && fsync(fileno(manifest)) == 0;
  if (std::fclose(manifest) != 0) ok = false;
  if (!ok) *error = ErrnoText("cannot write " + path);
  return ok;
}

void QuarantineFile(const PlannedChange& change, const VolumeRegistry& registry, const std::string& quarantine,
                    ScanReport* report) {
  CopyResult copy;
  std::string error;
  if (!CopyToNewFile(change.file, quarantine, &copy, &error) ||
      !AppendManifest(quarantine, "file", change.file, copy, change.rule, &error)) {
    ReportCleanResult(report, change, registry, false, error);
    return;
  }
  if (unlink(change.file.c_str()) != 0) {
    ReportCleanResult(report, change, registry, false,
                      ErrnoText("copied to " + copy.destination + " but the original cannot be removed"));
    return;
  }
  (void)SyncDirectory(DirectoryOf(change.file));
  ReportCleanResult(report, change, registry, true, "moved to " + copy.destination + " (sha256 " + copy.sha256 + ")");
}

// The deletions of one hive, key by key: value names to remove.
using KeyDeletions = std::map<std::string, std::set<std::string>>;

bool ApplyDeletions(HiveFile* hive, const KeyDeletions& deletions, std::map<std::string, size_t>* expectedCounts,
                    std::string* error) {
  for (const auto& key : deletions) {
    hive_node_h node = hive->FindKey(key.first, error);
    if (node == 0) {
      if (error->empty()) *error = "key " + key.first + " is gone";
      return false;
    }
    std::vector<HiveValue> values;
    if (!hive->ReadValues(node, &values, error)) return false;
    std::vector<hive_set_value> kept;
    size_t removed = 0;
    for (HiveValue& value : values) {
      if (key.second.count(value.name) != 0) {
        ++removed;
        continue;
      }
      hive_set_value set;
      set.key = &value.name[0];
      set.t = value.type;
      set.len = value.data.size();
      set.value = reinterpret_cast<char*>(value.data.data());
      kept.push_back(set);
    }
    if (removed != key.second.size()) {
      *error = "a value to delete is no longer in key " + key.first;
      return false;
    }
    errno = 0;
    if (hivex_node_set_values(hive->handle(), node, kept.size(), kept.data(), 0) != 0) {
      *error = ErrnoText("the hive library cannot change key " + key.first);
      return false;
    }
    (*expectedCounts)[key.first] = kept.size();
  }
  return true;
}

// The committed file must open and show each changed key with exactly the values kept.
bool VerifyCommitted(const std::string& path, const KeyDeletions& deletions,
                     const std::map<std::string, size_t>& expectedCounts, std::string* error) {
  HiveFile check;
  if (!check.Open(path, 0, error)) return false;
  for (const auto& key : deletions) {
    hive_node_h node = check.FindKey(key.first, error);
    std::vector<HiveValue> values;
    if (node == 0 || !check.ReadValues(node, &values, error)) {
      if (error->empty()) *error = "key " + key.first + " is missing from the new hive";
      return false;
    }
    if (values.size() != expectedCounts.at(key.first)) {
      *error = "the new hive holds an unexpected number of values in " + key.first;
      return false;
    }
    for (const HiveValue& value : values)
      if (key.second.count(value.name) != 0) {
        *error = "the new hive still holds a deleted value";
        return false;
      }
  }
  return true;
}

bool SyncFile(const std::string& path, mode_t mode) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  (void)fchmod(fd, mode);
  const bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

// Returns the reason when the hive was left as it was.
bool RewriteHive(const VolumeHive& hive, const KeyDeletions& deletions, const std::string& quarantine,
                 std::string* detail) {
  if (!hive.readable) {
    *detail = "the hive could not be read: " + hive.error;
    return false;
  }
  const BaseBlockState now = ReadBaseBlockState(hive.path);
  if (hive.baseBlock.Dirty() || now.Dirty()) {
    // Written under its logs, the hive either loses the changes the logs hold or has
    // them replayed over the clean-up at the next boot.
    *detail = "the hive was not closed cleanly (its transaction logs hold changes that are not applied); "
              "it is left unwritten: let Windows replay the logs, or apply them with a registry tool, and "
              "clean again";
    return false;
  }
  struct stat st;
  if (lstat(hive.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *detail = "the hive is no longer a regular file";
    return false;
  }
  CopyResult backup;
  std::string error;
  if (!CopyToNewFile(hive.path, quarantine, &backup, &error) ||
      !AppendManifest(quarantine, "hive backup", hive.path, backup, ImpostorRule, &error)) {
    *detail = "no backup, so the hive is left unwritten: " + error;
    return false;
  }
  HiveFile writable;
  std::map<std::string, size_t> expectedCounts;
  if (!writable.Open(hive.path, HIVEX_OPEN_WRITE, &error) ||
      !ApplyDeletions(&writable, deletions, &expectedCounts, &error)) {
    *detail = error + "; the hive is left as it was";
    return false;
  }
  // A name that nothing on the volume uses yet: a file already there is never
  // overwritten or removed.
  std::string fresh;
  for (unsigned number = 0; number < 1000 && fresh.empty(); ++number) {
    const std::string name = hive.path + ".pestkill-new" + (number == 0 ? "" : std::to_string(number));
    struct stat taken;
    if (lstat(name.c_str(), &taken) != 0 && errno == ENOENT) fresh = name;
  }
  if (fresh.empty()) {
    *detail = "no free name for the new hive beside it; the hive is left as it was";
    return false;
  }
  errno = 0;
  if (hivex_commit(writable.handle(), fresh.c_str(), 0) != 0 || !SyncFile(fresh, st.st_mode & 07777) ||
      !VerifyCommitted(fresh, deletions, expectedCounts, &error)) {
    if (error.empty()) error = ErrnoText("cannot write the new hive " + fresh);
    (void)unlink(fresh.c_str());
    *detail = error + "; the hive is left as it was";
    return false;
  }
  if (rename(fresh.c_str(), hive.path.c_str()) != 0) {
    *detail = ErrnoText("cannot put the new hive in place") + "; the hive is left as it was";
    (void)unlink(fresh.c_str());
    return false;
  }
  (void)SyncDirectory(DirectoryOf(hive.path));
  *detail = "deleted; the hive before the change is " + backup.destination;
  return true;
}

}  // namespace

bool PrepareQuarantine(const std::string& quarantine, std::string* error) {
  if (mkdir(quarantine.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = ErrnoText("cannot create the quarantine directory");
    return false;
  }
  struct stat st;
  if (stat(quarantine.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(quarantine.c_str(), W_OK) != 0) {
    *error = "the quarantine is not a writable directory";
    return false;
  }
  return true;
}

void CarryOutPlan(const std::vector<PlannedChange>& changes, const VolumeRegistry& registry,
                  const std::string& quarantine, ScanReport* report) {
  // A stop signal (or output that cannot be written) ends the clean-up between two
  // steps; each step is whole, with its manifest line, or not begun.
  auto stopped = [report]() {
    if (StopSignal() == 0 && !report->outputFailed) return false;
    BeginErrorLine(report);
    std::fputs("pestkill-scan: --clean stopped: the changes not reported done were not made\n", stderr);
    return true;
  };
  for (const PlannedChange& change : changes) {
    if (change.kind != ChangeKind::QuarantineFile) continue;
    if (stopped()) return;
    QuarantineFile(change, registry, quarantine, report);
  }

  std::map<size_t, KeyDeletions> byHive;
  for (const PlannedChange& change : changes)
    if (change.kind != ChangeKind::QuarantineFile) byHive[change.hive][change.key].insert(change.value);
  for (const auto& hive : byHive) {
    if (stopped()) return;
    std::string detail;
    const bool done = RewriteHive(registry.hives[hive.first], hive.second, quarantine, &detail);
    for (const PlannedChange& change : changes)
      if (change.kind != ChangeKind::QuarantineFile && change.hive == hive.first)
        ReportCleanResult(report, change, registry, done, detail);
  }
}

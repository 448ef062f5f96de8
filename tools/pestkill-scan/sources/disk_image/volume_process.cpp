#include "tools/pestkill-scan/sources/disk_image/volume_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// What a finished child hands back.
struct ChildOutcome {
  ScanCounts counts;
  bool outputFailed = false;
};

// The counts a child publishes as it goes, in memory shared with the parent.
ScanCounts* publishedCounts = nullptr;

bool WriteWhole(int fd, const void* data, size_t length) {
  const char* at = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t put = write(fd, at, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    at += put;
    length -= static_cast<size_t>(put);
  }
  return true;
}

// Reads the outcome until the deadline; false when the child ended without it or
// the deadline passed (*late).
bool ReadOutcome(int fd, std::chrono::steady_clock::time_point deadline, ChildOutcome* outcome, bool* late) {
  char* into = reinterpret_cast<char*>(outcome);
  size_t got = 0;
  while (got < sizeof *outcome) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      *late = true;
      return false;
    }
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(left.count() > 60000 ? 60000 : left.count()));
    if (ready < 0 && errno == EINTR) continue;  // a stop signal: the child stops too and reports
    if (ready <= 0) continue;
    const ssize_t read_now = read(fd, into + got, sizeof *outcome - got);
    if (read_now < 0 && errno == EINTR) continue;
    if (read_now <= 0) return false;
    got += static_cast<size_t>(read_now);
  }
  return true;
}

void VolumeError(ScanReport* report, const std::string& volumeName, const std::string& reason) {
  ReportError(report, volumeName.c_str(), reason.c_str());
}

}  // namespace

void PublishVolumeCounts(const ScanReport& report) {
  if (publishedCounts != nullptr) *publishedCounts = report.counts;
}

void ScanInVolumeProcess(ScanReport* report, const std::string& volumeName, const VolumeProcessLimits& limits,
                         void (*scan)(void* context), void* context) {
  std::fflush(stdout);
  std::fflush(stderr);
  void* shared = mmap(nullptr, sizeof(ScanCounts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  int ends[2];
  if (shared == MAP_FAILED || pipe(ends) != 0) {
    if (shared != MAP_FAILED) munmap(shared, sizeof(ScanCounts));
    VolumeError(report, volumeName, std::string("no pipe for the volume's scan: ") + std::strerror(errno));
    return;
  }
  ScanCounts* counts = new (shared) ScanCounts(report->counts);
  const pid_t child = fork();
  if (child < 0) {
    close(ends[0]);
    close(ends[1]);
    VolumeError(report, volumeName, std::string("no process for the volume's scan: ") + std::strerror(errno));
    return;
  }
  if (child == 0) {
    close(ends[0]);
    scan(context);
    std::fflush(stdout);
    std::fflush(stderr);
    ChildOutcome outcome;
    outcome.counts = report->counts;
    outcome.outputFailed = report->outputFailed;
    _exit(WriteWhole(ends[1], &outcome, sizeof outcome) ? 0 : 1);
  }
  close(ends[1]);
  ChildOutcome outcome;
  bool late = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.seconds);
  const bool finished = ReadOutcome(ends[0], deadline, &outcome, &late);
  close(ends[0]);
  if (late) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const ScanCounts published = *counts;
  munmap(shared, sizeof(ScanCounts));
  if (finished && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    report->counts = outcome.counts;
    report->outputFailed = outcome.outputFailed;
    return;
  }
  report->counts = published;
  std::string reason;
  if (late) {
    reason = "its scan took longer than " + std::to_string(limits.seconds) +
             " seconds and was stopped; what was reported before stands";
  } else if (WIFSIGNALED(status)) {
    reason = "its scan ended on signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
             ") inside the disk image library; what was reported before stands";
  } else {
    reason = "its scan ended without finishing; what was reported before stands";
  }
  VolumeError(report, volumeName, reason);
}

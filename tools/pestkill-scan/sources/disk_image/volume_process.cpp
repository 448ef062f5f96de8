#include "tools/pestkill-scan/sources/disk_image/volume_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "tools/pestkill-scan/sources/disk_image/volume_capture.h"
#include "tools/pestkill-scan/report/stop_signal.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a child may take to close its report once it was sent the stop signal:
// it stops before its next file, so only a child hung inside the library needs it.
constexpr int StopGraceSeconds = 5;

// What a finished child hands back.
struct ChildOutcome {
  ScanCounts counts;
  bool outputFailed = false;
  int progressWidth = 0;  // its progress line left on the terminal
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

// to += now - since, field by field: what a child counted on top of the report it
// started from.
void AddCountsSince(ScanCounts* to, const ScanCounts& now, const ScanCounts& since) {
  to->files += now.files - since.files;
  to->infected += now.infected - since.infected;
  to->notChecked += now.notChecked - since.notChecked;
  to->errors += now.errors - since.errors;
  to->skipped += now.skipped - since.skipped;
}

int MillisecondsUntil(Clock::time_point when, Clock::time_point now) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
  return static_cast<int>(std::max<long long>(0, std::min<long long>(left, 60000)));
}

}  // namespace

enum class ChildEnd { Running, Finished, Failed, Late, NotStopped };

struct VolumeChild {
  uint64_t number = 0;
  std::string name;
  pid_t pid = -1;
  int outcomeFd = -1;  // the pipe's reading end, while the child runs
  ChildOutcome outcome;
  size_t outcomeBytes = 0;
  ScanCounts* published = nullptr;  // shared with the child
  ScanCounts startCounts;           // the report's when the child started
  VolumeCapture capture;            // -1: it writes straight to standard output
  Clock::time_point deadline;
  ChildEnd end = ChildEnd::Running;
  int status = 0;
};

void PublishVolumeCounts(const ScanReport& report) {
  if (publishedCounts != nullptr) *publishedCounts = report.counts;
}

VolumeProcesses::VolumeProcesses(ScanReport* report, int processes, const VolumeProcessLimits& limits)
    : report_(report),
      processes_(std::max(1, processes)),
      // Finished volumes wait behind a slow older one for their turn, each with its
      // capture open: enough to keep the processes busy, not a descriptor per volume.
      unreportedLimit_(static_cast<size_t>(std::max(processes_, std::min(4 * processes_, 64)))),
      limits_(limits) {}

VolumeProcesses::~VolumeProcesses() { Finish(); }

bool VolumeProcesses::WaitForRoom() {
  for (;;) {
    if (StopSignal() != 0 || report_->outputFailed) return false;
    if (running_ < processes_ && children_.size() < unreportedLimit_) return true;
    WaitForEvent();
    ReportInTurn();
  }
}

uint64_t VolumeProcesses::Start(const std::string& volumeName, void (*scan)(void* context), void* context) {
  if (!WaitForRoom()) return 0;
  std::unique_ptr<VolumeChild> child(new VolumeChild);
  child->number = ++started_;
  child->name = volumeName;
  std::string failure;
  // The oldest volume not yet reported writes straight out; any later one waits
  // for its turn in a capture, or, where none can be made, starts once it is the
  // oldest.
  if (!children_.empty() && !OpenVolumeCapture(&child->capture, &failure)) {
    Finish();
    if (!WaitForRoom()) return 0;
  }
  failure.clear();
  void* shared = mmap(nullptr, sizeof(ScanCounts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  int ends[2] = {-1, -1};
  if (shared == MAP_FAILED || pipe(ends) != 0) {
    failure = std::string("no pipe for the volume's scan: ") + std::strerror(errno);
  } else {
    child->published = new (shared) ScanCounts(report_->counts);
    child->startCounts = report_->counts;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t scanner = getpid();
    child->pid = fork();
    if (child->pid == 0) {
      close(ends[0]);
      child->outcomeFd = ends[1];
      RunChild(scanner, child.get(), scan, context);
    }
    if (child->pid < 0) failure = std::string("no process for the volume's scan: ") + std::strerror(errno);
  }
  if (!failure.empty()) {
    if (shared != MAP_FAILED) munmap(shared, sizeof(ScanCounts));
    for (int end : ends)
      if (end >= 0) close(end);
    CloseVolumeCapture(&child->capture);
    Finish();  // its line in its turn
    ReportError(report_, volumeName.c_str(), failure.c_str());
    return child->number;
  }
  close(ends[1]);
  child->outcomeFd = ends[0];
  child->deadline = Clock::now() + std::chrono::seconds(limits_.seconds);
  ++running_;
  children_.push_back(std::move(child));
  return started_;
}

void VolumeProcesses::RunChild(pid_t scanner, VolumeChild* child, void (*scan)(void* context), void* context) {
  // Ended with the scanner, whatever ends it (also before this line): a report
  // nobody copies out is of no use.
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != scanner) _exit(1);
  for (const auto& other : children_) {
    if (other->outcomeFd >= 0) close(other->outcomeFd);
    CloseVolumeCapture(&other->capture);
  }
  if (child->capture.out >= 0) {
    if (!WriteToVolumeCapture(child->capture)) _exit(1);
    CloseVolumeCapture(&child->capture);
    // Its standard error is a file now: no progress line, and none of the run's to wipe.
    report_->showProgress = false;
    report_->progressWidth = 0;
  }
  publishedCounts = child->published;
  scan(context);
  std::fflush(stdout);
  std::fflush(stderr);
  ChildOutcome outcome;
  outcome.counts = report_->counts;
  outcome.outputFailed = report_->outputFailed;
  outcome.progressWidth = report_->progressWidth;
  _exit(WriteWhole(child->outcomeFd, &outcome, sizeof outcome) ? 0 : 1);
}

bool VolumeProcesses::Running(uint64_t number) const {
  for (const auto& child : children_)
    if (child->number == number) return child->end == ChildEnd::Running;
  return false;
}

void VolumeProcesses::Finish() {
  while (!children_.empty()) {
    WaitForEvent();
    ReportInTurn();
  }
}

// Waits until a child hands in its outcome, ends, or runs past its time, or a
// signal comes; each child that is done is reaped.
void VolumeProcesses::WaitForEvent() {
  if (running_ == 0) return;
  Clock::time_point now = Clock::now();
  if (StopSignal() != 0 && stopSent_ == 0) {
    // A stop signal from the terminal reaches the children too; one sent to the
    // scanner alone is passed on.
    stopSent_ = StopSignal();
    stopDeadline_ = now + std::chrono::seconds(StopGraceSeconds);
    for (const auto& child : children_)
      if (child->end == ChildEnd::Running) (void)kill(child->pid, stopSent_);
  }
  std::vector<pollfd> waits;
  std::vector<VolumeChild*> waiting;
  Clock::time_point next = now + std::chrono::seconds(60);
  for (const auto& child : children_) {
    if (child->end != ChildEnd::Running) continue;
    waits.push_back(pollfd{child->outcomeFd, POLLIN, 0});
    waiting.push_back(child.get());
    next = std::min(next, child->deadline);
  }
  if (stopSent_ != 0) next = std::min(next, stopDeadline_);
  const int ready = poll(waits.data(), waits.size(), MillisecondsUntil(next, now));
  if (ready < 0) return;  // a signal: the caller looks at it and comes back
  now = Clock::now();
  for (size_t i = 0; i < waiting.size(); ++i) {
    VolumeChild* child = waiting[i];
    if (waits[i].revents != 0) {
      char* into = reinterpret_cast<char*>(&child->outcome) + child->outcomeBytes;
      const ssize_t got = read(child->outcomeFd, into, sizeof child->outcome - child->outcomeBytes);
      if (got < 0 && errno == EINTR) continue;
      if (got > 0) child->outcomeBytes += static_cast<size_t>(got);
      // The whole outcome, or the pipe closed without it: the child ends.
      if (got <= 0 || child->outcomeBytes == sizeof child->outcome) {
        Reap(child, false);
        continue;
      }
    }
    if (now >= child->deadline) {
      child->end = ChildEnd::Late;
      Reap(child, true);
    } else if (stopSent_ != 0 && now >= stopDeadline_) {
      child->end = ChildEnd::NotStopped;
      Reap(child, true);
    }
  }
}

void VolumeProcesses::Reap(VolumeChild* child, bool killFirst) {
  if (killFirst) (void)kill(child->pid, SIGKILL);
  close(child->outcomeFd);
  child->outcomeFd = -1;
  while (waitpid(child->pid, &child->status, 0) < 0 && errno == EINTR) {
  }
  if (child->end == ChildEnd::Running) {
    const bool finished =
        child->outcomeBytes == sizeof child->outcome && WIFEXITED(child->status) && WEXITSTATUS(child->status) == 0;
    child->end = finished ? ChildEnd::Finished : ChildEnd::Failed;
  }
  --running_;
}

// Reports the oldest volumes whose processes are done, in the order started.
void VolumeProcesses::ReportInTurn() {
  while (!children_.empty() && children_.front()->end != ChildEnd::Running) {
    const VolumeChild& oldest = *children_.front();
    if (oldest.end == ChildEnd::Failed && WIFSIGNALED(oldest.status) && WTERMSIG(oldest.status) == SIGPIPE) {
      // It wrote to a pipe nobody reads any more, standard output or error, which
      // the scanner writes too: the scanner ends as it would at its own next line.
      EndAll();
      (void)raise(SIGPIPE);
      report_->outputFailed = true;  // SIGPIPE held off: as a failed write
      return;
    }
    Report(children_.front().get());
    children_.pop_front();
    if (report_->outputFailed) EndAll();
  }
}

void VolumeProcesses::Report(VolumeChild* child) {
  const bool copied = child->capture.out < 0 || CopyVolumeCapture(report_, child->capture);
  CloseVolumeCapture(&child->capture);
  const ScanCounts published = *child->published;
  munmap(child->published, sizeof(ScanCounts));
  child->published = nullptr;
  if (child->end == ChildEnd::Finished) {
    AddCountsSince(&report_->counts, child->outcome.counts, child->startCounts);
    report_->outputFailed = report_->outputFailed || child->outcome.outputFailed;
    if (child->capture.out < 0 && child->outcome.progressWidth > 0)
      report_->progressWidth = child->outcome.progressWidth;
    if (!copied) ReportError(report_, child->name.c_str(), "its report could not be read back whole from its capture");
    return;
  }
  AddCountsSince(&report_->counts, published, child->startCounts);
  std::string reason;
  const int status = child->status;
  if (child->end == ChildEnd::Late) {
    reason = "its scan took longer than " + std::to_string(limits_.seconds) +
             " seconds and was stopped; what was reported before stands";
  } else if (child->end == ChildEnd::NotStopped) {
    char name[16];
    reason = std::string("its scan did not stop within ") + std::to_string(StopGraceSeconds) + " seconds of " +
             StopSignalName(stopSent_, name) + " and was ended; what was reported before stands";
  } else if (WIFSIGNALED(status)) {
    reason = "its scan ended on signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
             ") inside the disk image library; what was reported before stands";
  } else {
    reason = "its scan ended without finishing; what was reported before stands";
  }
  ReportError(report_, child->name.c_str(), reason.c_str());
}

// Standard output failed: nothing more can be reported, so the volumes still
// waiting are ended and left out, as a scan of one volume at a time never starts them.
void VolumeProcesses::EndAll() {
  for (const auto& child : children_) {
    if (child->end == ChildEnd::Running) {
      child->end = ChildEnd::Failed;
      Reap(child.get(), true);
    }
    CloseVolumeCapture(&child->capture);
    munmap(child->published, sizeof(ScanCounts));
  }
  children_.clear();
}

// Each volume of an image is scanned in a child process of its own, so that a
// fault or a hang inside the disk image library on one volume (a damaged or
// hostile file system) ends that volume's scan alone: the child writes its report
// lines as they come, hands its counts back through a pipe when it is done, and is
// ended when it runs past the time limit. What it reported before it failed
// stands; the volume gets one ERROR line.
//
// With -j N up to N volume processes run at once (the volumes of one image, or of
// several images). The oldest writes straight to standard output and error; one
// started while an earlier volume is still unreported writes to a capture of its
// own (volume_capture.h), copied out in its turn. So the report is, byte for byte,
// the one a scan of one volume at a time gives, with the same ERROR lines of a
// volume that failed in the same places.
//
// Inside one volume the files are judged on the walking thread, for -j too: the
// library holds a lock on its image handle across each read (two threads reading
// through one handle were never inside a read system call at the same time), and
// judging outside those reads is about a twentieth of a volume's scan, so workers
// beside the walk would mostly wait for the lock.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "tools/pestkill-scan/report/scan_report.h"

struct VolumeProcessLimits {
  int seconds = 3600;  // the time one volume's scan may take, from its start
};

// In the child, after each line: its counts so far, which stand if it fails later
// (a detection reported before a fault still sets the exit status).
void PublishVolumeCounts(const ScanReport& report);

struct VolumeChild;

class VolumeProcesses {
 public:
  // report: the run's, which the children start from and whose counts and output
  // state take in theirs; processes: how many may run at once (at least 1).
  VolumeProcesses(ScanReport* report, int processes, const VolumeProcessLimits& limits);
  ~VolumeProcesses();  // as Finish
  VolumeProcesses(const VolumeProcesses&) = delete;
  VolumeProcesses& operator=(const VolumeProcesses&) = delete;

  // Waits until another volume process may start; false when the scan must stop
  // (a stop signal, standard output failed) first.
  bool WaitForRoom();
  // Runs scan(context) in a child process with the report as it stands, after
  // WaitForRoom; its lines come out after those of every volume started before it,
  // and a child that does not finish is an ERROR line of volumeName after them.
  // Returns the volume's number (from 1), or 0 when the scan must stop and
  // nothing started.
  uint64_t Start(const std::string& volumeName, void (*scan)(void* context), void* context);
  // True while the process of that volume runs.
  bool Running(uint64_t number) const;
  // Waits for every volume started and reports each in its turn: at the end, and
  // before the run writes a line of its own. At a stop signal each running child is
  // sent it and is given a few seconds to close its report.
  void Finish();

 private:
  void WaitForEvent();
  void ReportInTurn();
  void Reap(VolumeChild* child, bool killFirst);
  void Report(VolumeChild* child);
  void EndAll();
  [[noreturn]] void RunChild(pid_t scanner, VolumeChild* child, void (*scan)(void* context), void* context);

  ScanReport* report_;
  const int processes_;
  const size_t unreportedLimit_;  // children started and not yet reported, at most
  const VolumeProcessLimits limits_;
  std::deque<std::unique_ptr<VolumeChild>> children_;  // in the order started
  int running_ = 0;
  uint64_t started_ = 0;
  int stopSent_ = 0;  // the stop signal passed on to the children, or 0
  std::chrono::steady_clock::time_point stopDeadline_;
};

#include "driver/dispatch.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "detect/file_signature_detector.h"
#include "detect/winlogon_impostor.h"
#include "platform/crt_io.h"
#include "remedy/image_debugger_cleaner.h"
#include "remedy/process_control.h"
#include "remedy/run_key_scanner.h"

bool DetectThreat(const char* path, int32_t* kind) {
  if (path == nullptr) return false;
  DetectionKind verdict;
  if (ScanImageFile(path)) {
    // A signature match wins: the impostor rule is not asked.
    verdict = SignatureMatch;
  } else if (IsWinlogonImpostor(path)) {
    verdict = WinlogonImpostor;
  } else {
    return false;
  }
  // The path as the module list gave it, neither normalised nor upper-cased.
  printf("File: %s\n", path);
  printf("Detected: Trojan.Kestrelon.Gen\n\n");
  if (kind != nullptr) *kind = verdict;
  return true;
}

bool RemoveThreat(const char* path, uint32_t processId, int32_t kind) {
  if (path == nullptr) return false;
  switch (kind) {
    case SignatureMatch:
      // The process keeps running, so the deletion normally waits for the restart.
      RemoveFile(path);
      return true;
    case WinlogonImpostor: {
      // Ended first, so that its file can usually be deleted at once.
      TerminateProcessById(processId);
      RemoveFile(path);
      // Run values are compared upper-cased. A path that does not fit the buffer
      // (the module list never gives one) is not cut short: a shortened path could
      // match the Run value of another file, so the Run keys are left alone then.
      char upperPath[MAX_PATH];
      const size_t length = strlen(path);
      if (length < sizeof(upperPath)) {
        memcpy(upperPath, path, length + 1);
        (void)_strupr(upperPath);
        (void)CleanRunKeys(upperPath, RunKey, 0);
      }
      (void)RemoveImageDebuggers(path);
      return true;
    }
    default:
      return false;
  }
}

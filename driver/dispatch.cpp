#include "driver/dispatch.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "detect/file_signature_detector.h"
#include "detect/winlogon_impostor.h"
#include "driver/image_path.h"
#include "platform/crt_io.h"
#include "remedy/image_debugger_cleaner.h"
#include "remedy/process_control.h"
#include "remedy/run_data_match.h"
#include "remedy/run_key_scanner.h"

namespace {

bool JudgeFile(const char* path, const wchar_t* widePath, DetectionKind* verdict) {
  if (widePath != nullptr) {
    if (ScanImageFileWide(widePath)) {
      *verdict = SignatureMatch;
      return true;
    }
    if (IsWinlogonImpostorWide(widePath)) {
      *verdict = WinlogonImpostor;
      return true;
    }
    return false;
  }
  if (ScanImageFile(path)) {
    // A signature match wins: the impostor rule is not asked.
    *verdict = SignatureMatch;
    return true;
  }
  // Question marks in place of characters would match the Run data of any other
  // file whose name the code page turns into the same marks.
  if (!HoldsSubstitutedCharacter(path) && IsWinlogonImpostor(path)) {
    *verdict = WinlogonImpostor;
    return true;
  }
  return false;
}

// Run values are compared upper-cased. A path that does not fit the buffer (the module
// list never gives one) is not cut short: a shortened path could match the Run value
// of another file, so the Run keys are left alone then.
void CleanRunKeysOfImage(const char* path, const wchar_t* widePath) {
  if (widePath != nullptr) {
    wchar_t upperPath[MAX_PATH];
    const size_t length = wcslen(widePath);
    if (length < MAX_PATH) {
      wmemcpy(upperPath, widePath, length + 1);
      UpperCaseAsciiLetters(upperPath);
      (void)CleanRunKeysWide(upperPath, RunKey, MatchEachValue);
    }
    return;
  }
  char upperPath[MAX_PATH];
  const size_t length = strlen(path);
  if (length < sizeof(upperPath)) {
    memcpy(upperPath, path, length + 1);
    (void)_strupr(upperPath);
    (void)CleanRunKeys(upperPath, RunKey, MatchEachValue);
  }
}

void RemoveImageFile(const char* path, const wchar_t* widePath) {
  if (widePath != nullptr) {
    RemoveFileWide(widePath);
  } else {
    RemoveFile(path);
  }
}

}  // namespace

bool DetectThreat(const char* path, const wchar_t* widePath, int32_t* kind) {
  if (path == nullptr) return false;
  DetectionKind verdict;
  if (!JudgeFile(path, widePath, &verdict)) return false;
  // The path as the module list gave it, neither normalised nor upper-cased.
  printf("File: %s\n", path);
  printf("Detected: Trojan.Kestrelon.Gen\n\n");
  if (kind != nullptr) *kind = verdict;
  return true;
}

bool DetectThreat(const char* path, int32_t* kind) { return DetectThreat(path, nullptr, kind); }

bool RemoveThreat(const char* path, const wchar_t* widePath, uint32_t processId, int32_t kind) {
  if (path == nullptr) return false;
  switch (kind) {
    case SignatureMatch:
      // The process keeps running, so the deletion normally waits for the restart.
      RemoveImageFile(path, widePath);
      return true;
    case WinlogonImpostor:
      // Ended first, so that its file can usually be deleted at once. The Run keys
      // are cleaned while the file is still there: a value naming it in another
      // spelling is told by asking which file its path names.
      TerminateProcessById(processId);
      CleanRunKeysOfImage(path, widePath);
      RemoveImageFile(path, widePath);
      (void)RemoveImageDebuggers(path);
      return true;
    default:
      return false;
  }
}

bool RemoveThreat(const char* path, uint32_t processId, int32_t kind) {
  return RemoveThreat(path, nullptr, processId, kind);
}

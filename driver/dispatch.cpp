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
#include "remedy/removal_record.h"
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

// The longest target the Run-key scanner compares: its buffers hold 1024 units.
constexpr size_t RunTargetCapacity = 1024;

// Run values are compared upper-cased. A path that does not fit the buffer is not cut
// short: a shortened path could match the Run value of another file, so the Run keys
// are left alone then. A Run value names the file without the long-path prefix.
void CleanRunKeysOfImage(const char* path, const wchar_t* widePath) {
  if (widePath != nullptr) {
    widePath = WithoutLongPathPrefix(widePath);
    wchar_t upperPath[RunTargetCapacity];
    const size_t length = wcslen(widePath);
    if (length < RunTargetCapacity) {
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

// The file is written down (path, size, SHA-256) before it goes, and what became of it
// after.
void RemoveImageFile(const char* path, const wchar_t* widePath) {
  wchar_t readPath[MAX_PATH];
  const wchar_t* recordedPath = widePath;
  if (widePath == nullptr) {
    // As the ANSI file calls read the path: from the system code page.
    recordedPath = MultiByteToWideChar(CP_ACP, 0, path, -1, readPath, MAX_PATH) != 0 ? readPath : nullptr;
  }
  RecordFileBeforeRemoval(recordedPath);
  const FileRemoval outcome = widePath != nullptr ? RemoveFileWide(widePath) : RemoveFile(path);
  RecordFileRemoval(recordedPath, outcome);
}

// Opens the record of the clean-up with the path the detection was made on.
void BeginRecordOf(const char* path, const wchar_t* widePath, const char* rule) {
  wchar_t readPath[MAX_PATH];
  const wchar_t* detectionPath = WithoutLongPathPrefix(widePath);
  if (detectionPath == nullptr)
    detectionPath = MultiByteToWideChar(CP_ACP, 0, path, -1, readPath, MAX_PATH) != 0 ? readPath : nullptr;
  BeginRemovalRecord(detectionPath, rule);
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
      BeginRecordOf(path, widePath, "signature");
      // The process keeps running, so the deletion normally waits for the restart.
      RemoveImageFile(path, widePath);
      EndRemovalRecord();
      return true;
    case WinlogonImpostor:
      BeginRecordOf(path, widePath, "winlogon impostor");
      // Ended first, so that its file can usually be deleted at once. The Run keys
      // are cleaned while the file is still there: a value naming it in another
      // spelling is told by asking which file its path names.
      TerminateProcessById(processId);
      CleanRunKeysOfImage(path, widePath);
      RemoveImageFile(path, widePath);
      (void)RemoveImageDebuggers(path);
      EndRemovalRecord();
      return true;
    default:
      return false;
  }
}

bool RemoveThreat(const char* path, uint32_t processId, int32_t kind) {
  return RemoveThreat(path, nullptr, processId, kind);
}

// The Toolhelp entry points, resolved at run time from the system library, and the
// walk over the live processes that uses them.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>
#include <cstdint>

enum ScanOutcome : int32_t { ScanNotStarted = 1, NoThreatFound = 3, ThreatHandled = 4 };

// What the walk hands each process to. The shipped program binds the real dispatch
// and restart (ScanProcesses without arguments); tests bind recorders to see what
// the walk passes on.
// widePath is the module's path in wide characters when the code page cannot spell
// its 8-bit path, and null otherwise. When the module path was cut at MAX_PATH - 1
// characters, path is the process's whole image path in the code page and widePath
// the same in wide characters, with the long-path prefix "\\?\" before a drive path.
struct ScanSeam {
  bool (*detectThreat)(const char* path, const wchar_t* widePath, int32_t* kind);
  bool (*removeThreat)(const char* path, const wchar_t* widePath, uint32_t processId, int32_t kind);
  bool (*restartComputer)();
};

// The ANSI Toolhelp functions: Process32First/Module32First work on PROCESSENTRY32
// and MODULEENTRY32 with their 8-bit szExeFile/szExePath.
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
using Process32Fn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);
using Module32Fn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32* entry);
// The wide form, resolved from the same library: the path it gives is used only where
// the code page cannot spell the 8-bit one.
using Module32WideFn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32W* entry);

// Either the library handle and all five entry points are set, or all six are zero.
class ToolhelpApi {
 public:
  ToolhelpApi();
  ~ToolhelpApi();
  ToolhelpApi(const ToolhelpApi&) = delete;
  ToolhelpApi& operator=(const ToolhelpApi&) = delete;

  // Loads "Kernel32.DLL" by name and resolves the five entry points; all or nothing.
  // False, with nothing changed, when a library is already held.
  bool LoadToolhelpApi();
  // Frees the library if one is held and zeroes every member. Always true.
  bool UnloadToolhelpApi();
  // ScanProcesses with "SeDebugPrivilege" enabled for the length of the walk and
  // removed from the process token afterwards.
  ScanOutcome ScanWithDebugPrivilege() const;
  ScanOutcome ScanWithDebugPrivilege(const ScanSeam& seam) const;
  // Walks the process snapshot and stops at the first process judged infected.
  ScanOutcome ScanProcesses() const;
  ScanOutcome ScanProcesses(const ScanSeam& seam) const;

  // In this order; on 32-bit Windows six 4-byte members, 24 bytes in all.
  HMODULE library;
  Module32Fn module32Next;
  Module32Fn module32First;
  Process32Fn process32Next;
  Process32Fn process32First;
  CreateToolhelp32SnapshotFn createToolhelp32Snapshot;
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(ToolhelpApi) == 24, "six 32-bit members");
static_assert(offsetof(ToolhelpApi, library) == 0, "");
static_assert(offsetof(ToolhelpApi, module32Next) == 4, "");
static_assert(offsetof(ToolhelpApi, module32First) == 8, "");
static_assert(offsetof(ToolhelpApi, process32Next) == 12, "");
static_assert(offsetof(ToolhelpApi, process32First) == 16, "");
static_assert(offsetof(ToolhelpApi, createToolhelp32Snapshot) == 20, "");
static_assert(sizeof(PROCESSENTRY32) == 296, "ANSI process entry");
static_assert(sizeof(MODULEENTRY32) == 548, "ANSI module entry");
#endif

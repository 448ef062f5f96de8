// Loading and unloading the Toolhelp entry points, and the walk's refusal to start
// without all of them.
#include <windows.h>

#include <string.h>

#include <gtest/gtest.h>

#include "driver/toolhelp_api.h"

namespace {

struct Members {
  HMODULE library;
  void* module32Next;
  void* module32First;
  void* process32Next;
  void* process32First;
  void* createToolhelp32Snapshot;
};

Members Snapshot(const ToolhelpApi& api) {
  return {api.library,
          reinterpret_cast<void*>(api.module32Next),
          reinterpret_cast<void*>(api.module32First),
          reinterpret_cast<void*>(api.process32Next),
          reinterpret_cast<void*>(api.process32First),
          reinterpret_cast<void*>(api.createToolhelp32Snapshot)};
}

bool AllZero(const Members& m) {
  return m.library == nullptr && m.module32Next == nullptr && m.module32First == nullptr &&
         m.process32Next == nullptr && m.process32First == nullptr && m.createToolhelp32Snapshot == nullptr;
}

// The walk must never reach the dispatch when it does not start.
bool FailDetect(const char*, const wchar_t*, int32_t*) {
  ADD_FAILURE() << "the walk reached the detection";
  return false;
}
bool FailRemove(const char*, const wchar_t*, uint32_t, int32_t) {
  ADD_FAILURE() << "the walk reached the removal";
  return false;
}
bool FailRestart() {
  ADD_FAILURE() << "the walk asked for a restart";
  return false;
}
const ScanSeam UntouchedSeam = {FailDetect, FailRemove, FailRestart};

TEST(ToolhelpApi, StartsEmpty) {
  ToolhelpApi api;
  EXPECT_TRUE(AllZero(Snapshot(api)));
}

TEST(ToolhelpApi, LoadResolvesTheAnsiEntryPointsOfKernel32) {
  ToolhelpApi api;
  ASSERT_TRUE(api.LoadToolhelpApi());
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  EXPECT_EQ(api.library, kernel32);
  EXPECT_EQ(reinterpret_cast<void*>(api.createToolhelp32Snapshot),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "CreateToolhelp32Snapshot")));
  EXPECT_EQ(reinterpret_cast<void*>(api.process32First),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "Process32First")));
  EXPECT_EQ(reinterpret_cast<void*>(api.process32Next),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "Process32Next")));
  EXPECT_EQ(reinterpret_cast<void*>(api.module32First),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "Module32First")));
  EXPECT_EQ(reinterpret_cast<void*>(api.module32Next),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "Module32Next")));
  // Not the wide forms, whose entries have another size.
  EXPECT_NE(reinterpret_cast<void*>(api.process32First),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "Process32FirstW")));
  EXPECT_TRUE(api.UnloadToolhelpApi());
}

TEST(ToolhelpApi, SecondLoadFailsAndChangesNothing) {
  ToolhelpApi api;
  ASSERT_TRUE(api.LoadToolhelpApi());
  const Members loaded = Snapshot(api);

  EXPECT_FALSE(api.LoadToolhelpApi());

  const Members after = Snapshot(api);
  EXPECT_EQ(memcmp(&loaded, &after, sizeof(Members)), 0);
  // Still usable, and one unload is enough to empty it.
  EXPECT_TRUE(api.UnloadToolhelpApi());
  EXPECT_TRUE(AllZero(Snapshot(api)));
}

TEST(ToolhelpApi, UnloadEmptiesAndIsHarmlessTwice) {
  ToolhelpApi api;
  EXPECT_TRUE(api.UnloadToolhelpApi());
  EXPECT_TRUE(AllZero(Snapshot(api)));
  ASSERT_TRUE(api.LoadToolhelpApi());
  EXPECT_TRUE(api.UnloadToolhelpApi());
  EXPECT_TRUE(AllZero(Snapshot(api)));
  EXPECT_TRUE(api.UnloadToolhelpApi());
  // A fresh load works after an unload.
  EXPECT_TRUE(api.LoadToolhelpApi());
  EXPECT_TRUE(api.UnloadToolhelpApi());
}

TEST(ToolhelpApi, ScanOnEmptyObjectDoesNotStart) {
  ToolhelpApi api;
  EXPECT_EQ(api.ScanProcesses(UntouchedSeam), ScanNotStarted);
  EXPECT_EQ(api.ScanWithDebugPrivilege(UntouchedSeam), ScanNotStarted);
}

// Each entry point is required on its own, Module32Next too although the walk never
// calls it.
struct MissingEntryPoint {
  const char* name;
  void (*clear)(ToolhelpApi& api);
};
const MissingEntryPoint MissingEntryPoints[] = {
    {"Module32Next", [](ToolhelpApi& api) { api.module32Next = nullptr; }},
    {"Module32First", [](ToolhelpApi& api) { api.module32First = nullptr; }},
    {"Process32Next", [](ToolhelpApi& api) { api.process32Next = nullptr; }},
    {"Process32First", [](ToolhelpApi& api) { api.process32First = nullptr; }},
    {"CreateToolhelp32Snapshot", [](ToolhelpApi& api) { api.createToolhelp32Snapshot = nullptr; }},
};

TEST(ToolhelpApi, ScanWithAnyEntryPointMissingDoesNotStart) {
  for (const MissingEntryPoint& row : MissingEntryPoints) {
    SCOPED_TRACE(row.name);
    ToolhelpApi api;
    ASSERT_TRUE(api.LoadToolhelpApi());
    row.clear(api);
    EXPECT_EQ(api.ScanProcesses(UntouchedSeam), ScanNotStarted);
    // The library handle is still held, so the unload frees it.
    EXPECT_TRUE(api.UnloadToolhelpApi());
  }
}

}  // namespace

// Fuzz target: a registry hive file as the mounted-volume scan reads it. The input
// is the whole hive; it is read once as the machine hive (Run key, image debuggers)
// and once as a user's, and every Run value found is matched against a target, so
// the library's answers on a hostile file reach the reader's own code. Nothing may
// crash, hang or leak a descriptor.
#include <cstdint>
#include <cstdlib>

#include "tests/fuzz/memory_file.h"
#include "tools/pestkill-scan/registry_rule/offline_run_data.h"
#include "tools/pestkill-scan/registry_rule/volume_registry.h"
#include "tools/pestkill-scan/sources/mounted_volume/volume_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile* file = SharedMemoryFile();
  FillMemoryFile(file, data, size);
  const int freeBefore = LowestFreeDescriptor();

  VolumeShortForms volume;
  volume.root = "/nonexistent-volume";
  const RunDataCalls<char16_t> calls = MountedVolumeRunDataCalls(&volume);
  const std::u16string target = u"C:\\PROGRAMDATA\\WINLOGON.EXE";
  for (HiveRole role : {HiveRole::Machine, HiveRole::User}) {
    VolumeHive hive;
    hive.role = role;
    hive.path = file->path;
    hive.present = true;
    ReadHive(calls, &hive);
    for (const RunValue& value : hive.runValues) (void)RunDataStarts(value.commandLine, target, calls);
  }
  if (LowestFreeDescriptor() != freeBefore) std::abort();
  return 0;
}

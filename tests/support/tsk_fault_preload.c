/* Planted faults for the disk image scan's tests, loaded with LD_PRELOAD in front
 * of the disk image library. PESTKILL_PLANTED_FAULT=KIND:SECTOR plants one in the
 * volume that starts at SECTOR (of 512 bytes):
 *   hang  opening its file system never returns, as a detection that loops would;
 *   crash reading its third directory ends the process on SIGSEGV, as a fault in
 *         the library would, after its first files were reported;
 *   slow  reading each of its directories takes a tenth of a second, as on a large
 *         volume: its scan runs for seconds and stops when asked. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <tsk/libtsk.h>

static int Planted(const char* kind, TSK_OFF_T offset) {
  const char* fault = getenv("PESTKILL_PLANTED_FAULT");
  const size_t length = strlen(kind);
  if (fault == NULL || strncmp(fault, kind, length) != 0 || fault[length] != ':') return 0;
  return strtoll(fault + length + 1, NULL, 10) * 512 == offset;
}

TSK_FS_INFO* tsk_fs_open_vol(const TSK_VS_PART_INFO* part, TSK_FS_TYPE_ENUM type) {
  TSK_FS_INFO* (*real)(const TSK_VS_PART_INFO*, TSK_FS_TYPE_ENUM) =
      (TSK_FS_INFO * (*)(const TSK_VS_PART_INFO*, TSK_FS_TYPE_ENUM)) dlsym(RTLD_NEXT, "tsk_fs_open_vol");
  if (Planted("hang", part->vs->offset + part->start * part->vs->block_size))
    for (;;) pause();
  return real(part, type);
}

TSK_FS_DIR* tsk_fs_dir_open_meta(TSK_FS_INFO* fs, TSK_INUM_T address) {
  static int directories = 0;
  TSK_FS_DIR* (*real)(TSK_FS_INFO*, TSK_INUM_T) =
      (TSK_FS_DIR * (*)(TSK_FS_INFO*, TSK_INUM_T)) dlsym(RTLD_NEXT, "tsk_fs_dir_open_meta");
  if (Planted("crash", fs->offset) && ++directories == 3) raise(SIGSEGV);
  if (Planted("slow", fs->offset)) usleep(100000);
  return real(fs, address);
}

// A partition of an image opened again from the image's path, for a volume
// process that runs beside another one of the same image. The library reads a raw
// image with lseek and read on its descriptor and skips the lseek when it believes
// the position is already right; a descriptor inherited across fork shares its
// position with the other processes that inherited it, so two volume processes
// reading through the handle the scanner opened would read at each other's places.
#pragma once

#include <tsk/libtsk.h>

#include <string>

struct OwnPartition {
  TSK_IMG_INFO* img = nullptr;
  TSK_VS_INFO* table = nullptr;
  const TSK_VS_PART_INFO* part = nullptr;  // the one asked for, in table
};

// The partition at index of table (read from image), through handles of its own:
// the image opened as the same format, the table read at the same place. False
// with the reason when either cannot be opened again or the partition is no
// longer where it was.
bool OpenOwnPartition(const char* image, const TSK_VS_INFO* table, TSK_PNUM_T index, OwnPartition* own,
                      std::string* failure);

void CloseOwnPartition(OwnPartition* own);

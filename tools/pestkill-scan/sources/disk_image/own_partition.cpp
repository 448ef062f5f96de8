#include "tools/pestkill-scan/sources/disk_image/own_partition.h"

#include "tools/pestkill-scan/sources/disk_image/volume_walk.h"

bool OpenOwnPartition(const char* image, const TSK_VS_INFO* table, TSK_PNUM_T index, OwnPartition* own,
                      std::string* failure) {
  const TSK_VS_PART_INFO* part = tsk_vs_part_get(table, index);
  tsk_error_reset();
  own->img = tsk_img_open_utf8_sing(image, table->img_info->itype, table->img_info->sector_size);
  if (own->img == nullptr) {
    *failure = LibraryError("the image cannot be opened again for the volume's own scan");
    return false;
  }
  own->table = tsk_vs_open(own->img, table->offset, table->vstype);
  if (own->table == nullptr) {
    *failure = LibraryError("the partition table cannot be read again for the volume's own scan");
    CloseOwnPartition(own);
    return false;
  }
  own->part = tsk_vs_part_get(own->table, index);
  if (part == nullptr || own->part == nullptr || own->part->start != part->start || own->part->len != part->len) {
    *failure = "the partition table reads differently a second time (has the image changed?)";
    CloseOwnPartition(own);
    return false;
  }
  return true;
}

void CloseOwnPartition(OwnPartition* own) {
  if (own->table != nullptr) tsk_vs_close(own->table);
  if (own->img != nullptr) tsk_img_close(own->img);
  *own = OwnPartition();
}

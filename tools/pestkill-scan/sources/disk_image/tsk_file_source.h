// A read source (read_layer.h) over one data attribute of a file the disk image
// library has opened: the file's data, or one of its named streams.
#pragma once

#include <tsk/libtsk.h>

#include <cstdint>
#include <string>

#include "tools/pestkill-scan/judgement/read_layer.h"

// What the source reads, and the first read it could not do: a file that could not
// be read whole is not judged clean.
struct AttributeReading {
  const TSK_FS_ATTR* attribute = nullptr;
  bool failed = false;
  std::string failure;  // the library's words
};

// source reads reading->attribute, which must stay open while source is used.
ReadSource AttributeReadSource(AttributeReading* reading);

// The attribute's type as a number. The library copies an NTFS attribute's type
// from the volume as it is, so a damaged or hostile one may hold a value that is
// none of TSK_FS_ATTR_TYPE_ENUM's, which must not be read as that enumeration.
uint32_t StoredAttributeType(const TSK_FS_ATTR* attribute);

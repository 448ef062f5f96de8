// A read source (read_layer.h) over one data attribute of a file the disk image
// library has opened: the file's data, or one of its named streams.
#pragma once

#include <tsk/libtsk.h>

#include "tools/pestkill-scan/read_layer.h"

// source reads attribute, which must stay open while source is used.
ReadSource AttributeReadSource(const TSK_FS_ATTR* attribute);

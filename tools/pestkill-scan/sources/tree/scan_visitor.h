// The tree walk's visitor for a scan: walk errors, entries passed over, --exclude
// and the stop conditions go to the run's report in their turn; each file goes to
// the source's own call.
#pragma once

#include <cstdint>

#include "tools/pestkill-scan/judgement/file_judgement.h"
#include "tools/pestkill-scan/sources/tree/file_walk.h"

// file (and openFile, where the walk holds the file open; null: file alone) is
// called with run as its context.
using FileVisit = void (*)(void* context, const char* path, const char* openPath, uint64_t size,
                           FileIdentity identity);
using OpenFileVisit = void (*)(void* context, const char* path, int fd, uint64_t size, FileIdentity identity);
WalkVisitor ScanVisitor(ScanRun* run, FileVisit file, OpenFileVisit openFile = nullptr);

// Whether an auto-start command line names a given file by any of its spellings: a
// drive alias, forward slashes, "." and "..", a short (8.3) name or another letter
// case. The file system is asked which file each local path in the line names; the
// rule of which paths are asked is here, written once for every code unit, and the
// asking comes in through RunDataCalls.
#pragma once

#include <cstddef>

#include "remedy/run_data_match.h"

// At most this many paths are asked about per command line, so that a value made of
// many path-like words costs a bounded number of file system look-ups.
constexpr size_t RunDataFileProbeLimit = 64;

// True when a local path in the normalised command line names the file target.
//
// A local path begins where a drive letter, a colon and a backslash or slash stand at
// the start of the line or behind a blank, a comma or '='; a network path
// (\\server\share), a device path (\\.\) and a path in \\?\ form never begin one. From
// each beginning, in order, the path is taken up to each following blank or comma and
// the end of the line in turn, as the system probes an unquoted path with blanks
// (quotes are blanks by now). A line that is itself an existing path (it has a short
// form) is only that path. Otherwise the first path that names an existing file decides,
// as the system starts the first file it finds: the line names the target when that
// file is the target. A path with wildcards, a second colon or a device name (CON,
// NUL, COM1, ...) as its last part is not asked about.
//
// candidate is a scratch buffer of capacity units; a longer path is passed over.
// Without calls.identifyFile the result is false.
template <typename Unit>
bool RunDataNamesFile(const Unit* commandLine, const RunDataFileId& target, Unit* candidate,
                      size_t capacity, const RunDataCalls<Unit>& calls);

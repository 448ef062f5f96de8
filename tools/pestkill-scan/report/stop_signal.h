// SIGINT and SIGTERM end the scan in order: the handler only notes the signal, the
// scan stops before its next file, and the report closes with the summary.
#pragma once

void CatchStopSignals();

// The signal that asked the scan to stop, or 0.
int StopSignal();

// "SIGINT", "SIGTERM" or "signal N" (buffer of at least 16 bytes for the last).
const char* StopSignalName(int signal, char* buffer);

// Exit status, as command-line virus scanners report it; an interrupted scan
// exits with 128 and the signal's number (130 for SIGINT, 143 for SIGTERM).
#pragma once

constexpr int ExitNothingFound = 0;
constexpr int ExitThreatFound = 1;
constexpr int ExitError = 2;

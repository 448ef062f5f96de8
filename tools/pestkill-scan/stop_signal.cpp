#include "tools/pestkill-scan/stop_signal.h"

#include <csignal>
#include <cstdio>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void NoteStopSignal(int signal) { stopSignal = signal; }

}  // namespace

#ifdef _WIN32

// The runtime calls the handler on a thread of its own for Ctrl-C and Ctrl-Break
// and resets it to the default first, so a second key press ends the program.
void CatchStopSignals() {
  for (int signal : {SIGINT, SIGTERM}) {
    if (std::signal(signal, NoteStopSignal) == SIG_IGN) (void)std::signal(signal, SIG_IGN);
  }
}

#else

#include <signal.h>

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = NoteStopSignal;
  sigemptyset(&action.sa_mask);
  // Reads and writes go on where the signal found them, so the line being written
  // is finished; the handler is reset to the default for a second signal.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signal : {SIGINT, SIGTERM}) {
    // A signal ignored by whoever started the scan (nohup, a background job) stays ignored.
    struct sigaction before;
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    (void)sigaction(signal, &action, nullptr);
  }
}

#endif

int StopSignal() { return stopSignal; }

const char* StopSignalName(int signal, char* buffer) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  (void)std::snprintf(buffer, 16, "signal %d", signal);
  return buffer;
}

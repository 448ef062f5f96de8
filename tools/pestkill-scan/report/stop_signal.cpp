#include "tools/pestkill-scan/report/stop_signal.h"

#include <csignal>
#include <cstdio>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void NoteStopSignal(int signal) {
#ifdef _WIN32
  (void)std::signal(signal, NoteStopSignal);  // the runtime resets it before the call
#endif
  stopSignal = signal;
}

}  // namespace

#ifdef _WIN32

// The runtime calls the handler on a thread of its own for Ctrl-C.
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
  // is finished. The handler stays: timeout(1) sends its signal to the scanner and
  // again to its process group, and the second must not cut the summary short.
  action.sa_flags = SA_RESTART;
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

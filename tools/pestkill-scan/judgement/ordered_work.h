// Entries handed in by one thread, the slow part of each done on worker threads,
// and each entry finished strictly in the order handed in: an entry is finished
// only when every earlier one is. Finishing is done by whichever thread finds the
// oldest entry done (the handing thread or a worker), one thread at a time, so the
// finish hook never runs twice at once and needs no lock of its own. The entries
// are a fixed set used round and round: however many are handed in, no more than
// that many are held at once (the handing thread waits while all are in use).
//
// With one worker nothing runs on another thread: each entry is worked on and
// finished as it is handed in.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

struct OrderedWorkHooks {
  void* context;
  // On a worker thread (with one worker, on the handing thread).
  void (*work)(void* context, void* entry);
  // In order, one at a time. finished is false for an entry given up at a stop:
  // it was never worked on, or an earlier one was not, and it is only released.
  void (*finish)(void* context, void* entry, bool finished);
};

// Entries enough to keep workers busy while the oldest waits to be finished.
inline size_t EntriesForWorkers(int workers) { return workers > 1 ? static_cast<size_t>(workers) * 8 : 1; }

class OrderedWork {
 public:
  // entries: the fixed set, at least one; workers: threads that do the work.
  OrderedWork(int workers, std::vector<void*> entries, OrderedWorkHooks hooks);
  ~OrderedWork();  // as Close(true)
  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  // The entry to fill next, once one is free.
  void* Next();
  // Hands in the entry Next gave; needsWork false sends it straight to finishing.
  // Sleeping workers are woken once a few entries wait, not for each one.
  void Hand(bool needsWork);
  // Wakes the workers for whatever waits: to be called before the handing thread
  // may block (reading a list from a pipe), so that no entry waits on it.
  void Flush();
  // Finishes every entry handed in and ends the workers. stopping: entries no
  // worker has started are given up, and so is everything after the first of them.
  void Close(bool stopping);

 private:
  enum class State { Free, Waiting, Working, Done };
  void WorkerLoop();
  void FinishInOrder(std::unique_lock<std::mutex>* lock);

  OrderedWorkHooks hooks_;
  std::vector<void*> entries_;
  std::vector<State> states_;
  std::vector<char> complete_;  // worked on, or nothing to do
  size_t oldest_ = 0;           // next to finish (counts handed in, not indices)
  size_t next_ = 0;             // next to hand in
  size_t nextWork_ = 0;         // next a worker looks at
  size_t waiting_ = 0;          // handed in, not yet started
  size_t unannounced_ = 0;      // of those, handed in since the workers were last woken
  bool finishing_ = false;      // a thread is finishing entries
  bool givingUp_ = false;       // at a stop: no entry is started any more
  bool cutOff_ = false;         // an entry was given up: the ones after it are too
  bool quit_ = false;
  bool closed_ = false;
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable changed_;  // an entry was done or finished
  const bool alone_;  // one worker: everything on the handing thread
  int running_ = 0;   // worker threads that have not ended
};

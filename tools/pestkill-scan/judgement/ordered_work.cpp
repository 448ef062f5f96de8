#include "tools/pestkill-scan/judgement/ordered_work.h"

#include <thread>
#include <utility>

#ifndef _WIN32
#include <signal.h>
#endif

namespace {

// Entries handed in before sleeping workers are woken: a wake-up costs more than
// judging a clean file, and a worker that is awake takes every entry that waits.
constexpr size_t WakeBatch = 8;

}  // namespace

OrderedWork::OrderedWork(int workers, std::vector<void*> entries, OrderedWorkHooks hooks)
    : hooks_(hooks), entries_(std::move(entries)), states_(entries_.size(), State::Free),
      complete_(entries_.size(), 0), alone_(workers <= 1) {
  if (workers <= 1) return;
#ifndef _WIN32
  // The workers start with every signal blocked, so that a stop signal reaches the
  // handing thread, whatever it waits in, and never a worker.
  sigset_t all, before;
  sigfillset(&all);
  (void)pthread_sigmask(SIG_SETMASK, &all, &before);
#endif
  running_ = workers;
  for (int i = 0; i < workers; ++i) std::thread([this] { WorkerLoop(); }).detach();
#ifndef _WIN32
  (void)pthread_sigmask(SIG_SETMASK, &before, nullptr);
#endif
}

OrderedWork::~OrderedWork() { Close(true); }

void OrderedWork::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Entries are started in the order they were handed in.
    while (nextWork_ < next_ && states_[nextWork_ % entries_.size()] != State::Waiting) ++nextWork_;
    if (nextWork_ < next_ && !givingUp_) {
      const size_t slot = nextWork_++ % entries_.size();
      states_[slot] = State::Working;
      --waiting_;
      if (unannounced_ > waiting_) unannounced_ = waiting_;
      lock.unlock();
      hooks_.work(hooks_.context, entries_[slot]);
      lock.lock();
      states_[slot] = State::Done;
      complete_[slot] = 1;
      FinishInOrder(&lock);
      changed_.notify_all();
      continue;
    }
    if (quit_) {
      --running_;
      changed_.notify_all();
      return;
    }
    workReady_.wait(lock);
  }
}

// Finishes the oldest entries for as long as they are done, unless another thread
// is at it already (that thread looks again after each entry, so nothing done is
// left behind). The hook runs without the lock.
void OrderedWork::FinishInOrder(std::unique_lock<std::mutex>* lock) {
  if (finishing_) return;
  finishing_ = true;
  while (oldest_ < next_) {
    const size_t slot = oldest_ % entries_.size();
    if (states_[slot] == State::Waiting && givingUp_) {
      states_[slot] = State::Done;  // never to be started
      complete_[slot] = 0;
    }
    if (states_[slot] != State::Done) break;
    if (!complete_[slot]) cutOff_ = true;
    const bool finished = !cutOff_;
    lock->unlock();
    hooks_.finish(hooks_.context, entries_[slot], finished);
    lock->lock();
    states_[slot] = State::Free;
    complete_[slot] = 0;
    ++oldest_;
    changed_.notify_all();
  }
  finishing_ = false;
}

void* OrderedWork::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    FinishInOrder(&lock);
    if (next_ - oldest_ < entries_.size()) return entries_[next_ % entries_.size()];
    if (unannounced_ > 0) {
      unannounced_ = 0;
      workReady_.notify_all();
    }
    changed_.wait(lock);
  }
}

void OrderedWork::Flush() {
  if (alone_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  if (unannounced_ == 0) return;
  unannounced_ = 0;
  workReady_.notify_all();
}

void OrderedWork::Hand(bool needsWork) {
  const size_t slot = next_ % entries_.size();
  if (alone_) {
    if (needsWork) hooks_.work(hooks_.context, entries_[slot]);
    ++next_;
    ++oldest_;
    hooks_.finish(hooks_.context, entries_[slot], true);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  states_[slot] = needsWork ? State::Waiting : State::Done;
  complete_[slot] = needsWork ? 0 : 1;
  ++next_;
  if (needsWork) {
    ++waiting_;
    if (++unannounced_ >= WakeBatch) {
      unannounced_ = 0;
      workReady_.notify_all();
    }
  }
  FinishInOrder(&lock);
}

void OrderedWork::Close(bool stopping) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return;
  closed_ = true;
  if (stopping) givingUp_ = true;
  workReady_.notify_all();
  for (;;) {
    FinishInOrder(&lock);
    if (oldest_ == next_) break;
    changed_.wait(lock);
  }
  // The workers are waited for here rather than joined: under qemu-i386, joining
  // a thread fails (EDEADLK) once a signal has been handled.
  quit_ = true;
  workReady_.notify_all();
  while (running_ > 0) changed_.wait(lock);
}

#pragma once
#include <atomic>

namespace tessel {

// A stop request that a thread waiting in poll() notices at once: a flag plus an eventfd that
// becomes readable when the flag is raised. Any thread may raise it; waiters add fd() to their
// poll set and look at raised() after every wake.
class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void raise();
    bool raised() const { return raised_.load(std::memory_order_acquire); }
    // -1 when no eventfd could be made; waiters then fall back to short poll time-outs.
    int fd() const { return fd_; }

  private:
    std::atomic<bool> raised_{false};
    int fd_ = -1;
};

}  // namespace tessel

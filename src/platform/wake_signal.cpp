#include "platform/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace tessel {

WakeSignal::WakeSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeSignal::~WakeSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeSignal::raise() {
    raised_.store(true, std::memory_order_release);
    if (fd_ < 0) return;
    const std::uint64_t one = 1;
    // The counter only has to become non-zero; a full counter is already readable.
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

}  // namespace tessel

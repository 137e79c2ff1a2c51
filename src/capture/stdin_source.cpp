#include "capture/stdin_source.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

namespace tessel {

namespace {
// A stream's header has this long to arrive before the replay gives up on it.
constexpr int kHeaderWaitMs = 30000;
}  // namespace

cStandardInputSource::~cStandardInputSource() { endStream(); }

bool cStandardInputSource::open(std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) {
        *error = std::string(kName) + ": cannot make a pipe";
        return false;
    }
    pipeWrite_ = fds[1];
    pump_ = std::thread([this] { pump(); });
    return openPipe(fds[0], kHeaderWaitMs, error);
}

void cStandardInputSource::pump() {
    nameThisThread(kPumpThreadName);
    char buffer[65536];
    for (;;) {
        struct pollfd p[2] = {};
        p[0].fd = STDIN_FILENO;
        p[0].events = POLLIN;
        p[1].fd = pumpStop_.fd();
        p[1].events = POLLIN;
        int r = ::poll(p, 2, pumpStop_.fd() >= 0 ? -1 : 250);
        if (pumpStop_.raised()) break;
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;  // the writer closed the stream
        if (!writeToPipe(buffer, std::size_t(n))) break;
    }
    ::close(pipeWrite_);
    pipeWrite_ = -1;
}

// The pipe's write end does not block: a replay that stopped reading (paused, or ending) must
// not hold this thread in write() while it is asked to stop.
bool cStandardInputSource::writeToPipe(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t w = ::write(pipeWrite_, data + done, size - done);
        if (w > 0) {
            done += std::size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) return false;  // nobody reads any more
        struct pollfd p[2] = {};
        p[0].fd = pipeWrite_;
        p[0].events = POLLOUT;
        p[1].fd = pumpStop_.fd();
        p[1].events = POLLIN;
        ::poll(p, 2, pumpStop_.fd() >= 0 ? -1 : 250);
        if (pumpStop_.raised()) return false;
    }
    return true;
}

void cStandardInputSource::endStream() {
    if (!pump_.joinable()) return;
    pumpStop_.raise();
    pump_.join();
}

}  // namespace tessel

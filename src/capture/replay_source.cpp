#include "capture/replay_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "capture/capture_filter.h"
#include "platform/process.h"

namespace tessel {

namespace {

// A stream's header has this long to arrive before the replay gives up on it.
constexpr int kHeaderWaitMs = 30000;
// What a stream shows of itself before start-up goes on.
constexpr std::size_t kReadAheadFrames = 1000;
constexpr int kReadAheadMs = 5000;

// A stream's read buffer: many frames per read() under load.
constexpr std::size_t kStreamBufferBytes = 256 * 1024;

// The bytes the C library has read ahead of `f` (glibc keeps them between these two pointers).
std::size_t bufferedBytes(const FILE* f) {
    return f && f->_IO_read_end > f->_IO_read_ptr ? std::size_t(f->_IO_read_end - f->_IO_read_ptr)
                                                  : 0;
}

bool readableWithin(int fd, int ms) {
    struct pollfd p {};
    p.fd = fd;
    p.events = POLLIN;
    for (;;) {
        int r = ::poll(&p, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        return r > 0;
    }
}

}  // namespace

cReplaySource::~cReplaySource() {
    endStream();
    if (handle_)
        pcap_close(handle_);  // closes the pipe's read end with its FILE
    else if (pipeRead_ >= 0)
        ::close(pipeRead_);
}

bool cReplaySource::open(const std::string& path, std::string* error) {
    path_ = path;
    stream_ = path == "-";
    if (stream_) {
        name_ = kStandardInput;
        return openStream(error);
    }
    const std::size_t slash = path.rfind('/');
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    return openFile(error);
}

bool cReplaySource::openFile(std::string* error) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = path_ + ": is a folder, not a capture file";
        return false;
    }
    handle_ = pcap_open_offline(path_.c_str(), errbuf);
    if (!handle_) {
        // libpcap names the file itself in some of its texts.
        std::string reason = errbuf;
        if (reason.rfind(path_ + ": ", 0) == 0) reason = reason.substr(path_.size() + 2);
        *error = path_ + ": " + reason;
        return false;
    }
    linkType_ = pcap_datalink(handle_);
    fileBytes_ = st.st_size;
    return true;
}

void cReplaySource::pumpStandardInput() {
    nameThisThread("tessel-stdin");
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
bool cReplaySource::writeToPipe(const char* data, std::size_t size) {
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

bool cReplaySource::openStream(std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) {
        *error = "standard input: cannot make a pipe";
        return false;
    }
    pipeRead_ = fds[0];
    pipeWrite_ = fds[1];
    pump_ = std::thread([this] { pumpStandardInput(); });
    return openPipe(kHeaderWaitMs, error);
}

bool cReplaySource::openLive(int fd, const std::string& name, int headerWaitMs,
                             std::string* error) {
    stream_ = true;
    name_ = name;
    pipeRead_ = fd;
    return openPipe(headerWaitMs, error);
}

bool cReplaySource::openPipe(int headerWaitMs, std::string* error) {
    if (!readableWithin(pipeRead_, headerWaitMs)) {
        *error =
            name_ + ": no capture arrived within " + std::to_string(headerWaitMs / 1000) + " s";
        return false;
    }
    FILE* in = ::fdopen(pipeRead_, "rb");
    if (!in) {
        *error = name_ + ": cannot read the pipe";
        return false;
    }
    // Buffered, so that a frame costs no system call of its own; waitFd() looks into the
    // buffer before it sends anyone to poll() the pipe.
    std::setvbuf(in, nullptr, _IOFBF, kStreamBufferBytes);
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    handle_ = pcap_fopen_offline(in, errbuf);
    if (!handle_) {
        std::fclose(in);
        pipeRead_ = -1;
        *error = name_ + ": " + errbuf;
        return false;
    }
    linkType_ = pcap_datalink(handle_);
    return true;
}

bool cReplaySource::setFilter(const std::string& filter, std::string* error) {
    if (!handle_ || !applyCaptureFilter(handle_, filter, error)) return false;
    filter_ = filter;
    return true;
}

AdapterGuess cReplaySource::guessAdapter(const std::string& host, const std::string& netmask,
                                         const std::string& gateway) {
    cAdapterInference inference;
    if (!stream_) {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_t* scan = pcap_open_offline(path_.c_str(), errbuf);
        std::string ignored;
        if (scan && !filter_.empty()) applyCaptureFilter(scan, filter_, &ignored);
        if (scan) {
            pcap_pkthdr* h = nullptr;
            const u_char* data = nullptr;
            for (std::size_t n = 0; n < cAdapterInference::kMaxFrames; ++n) {
                if (pcap_next_ex(scan, &h, &data) != 1) break;
                inference.addFrame(linkType_, data, h->caplen);
            }
            pcap_close(scan);
        }
        return inference.guess(host, netmask, gateway);
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kReadAheadMs);
    while (readAhead_.size() < kReadAheadFrames) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || !readableWithin(pipeRead_, int(left.count()))) break;
        pcap_pkthdr* h = nullptr;
        const u_char* data = nullptr;
        if (pcap_next_ex(handle_, &h, &data) != 1) break;
        readAhead_.push_back(Frame{*h, std::vector<u_char>(data, data + h->caplen)});
        inference.addFrame(linkType_, data, h->caplen);
    }
    return inference.guess(host, netmask, gateway);
}

int cReplaySource::next(const pcap_pkthdr** header, const u_char** data) {
    if (readAheadNext_ < readAhead_.size()) {
        const Frame& f = readAhead_[readAheadNext_++];
        *header = &f.header;
        *data = f.bytes.data();
        return 1;
    }
    if (!handle_) return PCAP_ERROR_BREAK;
    pcap_pkthdr* h = nullptr;
    const int r = pcap_next_ex(handle_, &h, data);
    *header = h;
    return r;
}

int cReplaySource::waitFd() const {
    if (!stream_ || readAheadNext_ < readAhead_.size()) return -1;
    return handle_ && bufferedBytes(pcap_file(handle_)) > 0 ? -1 : pipeRead_;
}

std::string cReplaySource::errorText() const { return handle_ ? pcap_geterr(handle_) : ""; }

bool cReplaySource::restart(std::string* error) {
    if (stream_) return false;
    if (handle_) pcap_close(handle_);
    handle_ = nullptr;
    return openFile(error) && (filter_.empty() || applyCaptureFilter(handle_, filter_, error));
}

int cReplaySource::progressPermille() const {
    if (stream_ || !handle_ || fileBytes_ <= 0) return -1;
    FILE* f = pcap_file(handle_);
    const long at = f ? std::ftell(f) : -1;
    if (at < 0) return -1;
    return int(std::min<long long>(1000, at * 1000LL / fileBytes_));
}

void cReplaySource::endStream() {
    if (!pump_.joinable()) return;
    pumpStop_.raise();
    pump_.join();
}

}  // namespace tessel

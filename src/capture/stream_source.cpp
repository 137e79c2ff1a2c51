#include "capture/stream_source.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "capture/capture_filter.h"

namespace tessel {

namespace {

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

cPcapStreamSource::~cPcapStreamSource() {
    if (handle_)
        pcap_close(handle_);  // closes the pipe with its FILE
    else if (fd_ >= 0)
        ::close(fd_);
}

bool cPcapStreamSource::openPipe(int fd, int headerWaitMs, std::string* error) {
    fd_ = fd;
    if (!readableWithin(fd_, headerWaitMs)) {
        *error =
            name_ + ": no capture arrived within " + std::to_string(headerWaitMs / 1000) + " s";
        return false;
    }
    FILE* in = ::fdopen(fd_, "rb");
    if (!in) {
        *error = name_ + ": cannot read the pipe";
        return false;
    }
    // waitFd() looks into the buffer before it sends anyone to poll() the pipe.
    std::setvbuf(in, nullptr, _IOFBF, kStreamBufferBytes);
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    handle_ = pcap_fopen_offline(in, errbuf);
    if (!handle_) {
        std::fclose(in);
        fd_ = -1;
        *error = name_ + ": " + errbuf;
        return false;
    }
    linkType_ = pcap_datalink(handle_);
    return true;
}

bool cPcapStreamSource::setFilter(const std::string& filter, std::string* error) {
    return handle_ && applyCaptureFilter(handle_, filter, error);
}

void cPcapStreamSource::preview(const FrameVisitor& see) {
    if (!handle_) return;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kReadAheadMs);
    while (readAhead_.size() < kReadAheadFrames) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) break;
        // Frames already in the buffer are not in the pipe: poll() would not see them.
        if (bufferedBytes(pcap_file(handle_)) == 0 && !readableWithin(fd_, int(left.count())))
            break;
        pcap_pkthdr* h = nullptr;
        const u_char* data = nullptr;
        if (pcap_next_ex(handle_, &h, &data) != 1) break;
        readAhead_.push_back(Frame{*h, std::vector<u_char>(data, data + h->caplen)});
        if (!see(*h, data)) break;
    }
}

int cPcapStreamSource::next(const pcap_pkthdr** header, const u_char** data) {
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

int cPcapStreamSource::waitFd() const {
    if (readAheadNext_ < readAhead_.size()) return -1;
    return handle_ && bufferedBytes(pcap_file(handle_)) > 0 ? -1 : fd_;
}

std::string cPcapStreamSource::errorText() const { return handle_ ? pcap_geterr(handle_) : ""; }

}  // namespace tessel

#include "capture/file_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "capture/capture_filter.h"

namespace tessel {

cCaptureFileSource::~cCaptureFileSource() {
    if (handle_) pcap_close(handle_);
}

bool cCaptureFileSource::open(const std::string& path, std::string* error) {
    path_ = path;
    const std::size_t slash = path.rfind('/');
    name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    return openFile(error);
}

bool cCaptureFileSource::openFile(std::string* error) {
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

bool cCaptureFileSource::setFilter(const std::string& filter, std::string* error) {
    if (!handle_ || !applyCaptureFilter(handle_, filter, error)) return false;
    filter_ = filter;
    return true;
}

void cCaptureFileSource::preview(const FrameVisitor& see) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* scan = pcap_open_offline(path_.c_str(), errbuf);
    if (!scan) return;
    std::string ignored;
    if (!filter_.empty()) applyCaptureFilter(scan, filter_, &ignored);
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(scan, &h, &data) == 1 && see(*h, data)) {
    }
    pcap_close(scan);
}

int cCaptureFileSource::next(const pcap_pkthdr** header, const u_char** data) {
    if (!handle_) return PCAP_ERROR_BREAK;
    pcap_pkthdr* h = nullptr;
    const int r = pcap_next_ex(handle_, &h, data);
    *header = h;
    return r;
}

std::string cCaptureFileSource::errorText() const {
    if (!seekError_.empty()) return seekError_;
    return handle_ ? pcap_geterr(handle_) : "";
}

void cCaptureFileSource::startIndex(ReplayTimeline* timeline) {
    if (!index_) index_ = std::make_unique<cCaptureIndex>(path_, timeline);
}

bool cCaptureFileSource::seekToOffset(long long offset) {
    seekError_.clear();
    if (!restart(&seekError_)) return false;
    FILE* f = pcap_file(handle_);
    if (!f || std::fseek(f, long(offset), SEEK_SET) != 0) {
        seekError_ = "cannot seek in the file";
        return false;
    }
    return true;
}

bool cCaptureFileSource::restart(std::string* error) {
    if (handle_) pcap_close(handle_);
    handle_ = nullptr;
    return openFile(error) && (filter_.empty() || applyCaptureFilter(handle_, filter_, error));
}

int cCaptureFileSource::progressPermille() const {
    if (!handle_ || fileBytes_ <= 0) return -1;
    FILE* f = pcap_file(handle_);
    const long at = f ? std::ftell(f) : -1;
    if (at < 0) return -1;
    return int(std::min<long long>(1000, at * 1000LL / fileBytes_));
}

}  // namespace tessel

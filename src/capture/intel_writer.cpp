#include "capture/intel_writer.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/lcg_random.h"

namespace tessel {

namespace {

// Name clashes are rare (2^30 names); a few fresh draws always settle one unless the folder is
// flooded, and then dropping the records is what a failed write does anyway.
constexpr int kNameAttempts = 16;

const char kHeader[] = "<?xml version='1.0'?>\n<map>\n";
const char kFooter[] = "</map>\n";

std::atomic<unsigned> g_tempCounter{0};

void appendAnode(std::string* out, const TrafficRecord& r) {
    char line[256];
    int n = std::snprintf(line, sizeof line,
                          "<anode tcp='%d' udp='%d' icmp='%d' src='%s' dst='%s' srcport='%d' "
                          "dstport='%d' size='%d' />\n",
                          r.tcp, r.udp, r.icmp, r.src.c_str(), r.dst.c_str(), r.srcport, r.dstport,
                          r.size);
    if (n > 0) out->append(line, std::size_t(n) < sizeof line ? std::size_t(n) : sizeof line - 1);
}

bool writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= std::size_t(n);
    }
    return true;
}

// Moves `from` to `to` unless `to` exists. Gives 0, EEXIST, or another errno.
int linkIntoPlace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno == EEXIST) return EEXIST;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without RENAME_NOREPLACE: link() never replaces either.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

bool writeContent(const std::string& content, const std::string& folder) {
    // Dot-names are skipped by the reader, so a file being written is never taken for records.
    char temp[512];
    std::snprintf(temp, sizeof temp, "%s/.anode.%ld.%u.tmp", folder.c_str(), long(::getpid()),
                  g_tempCounter.fetch_add(1));
    int fd = ::open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, content);
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp);
        return false;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        int first = 0, second = 0;
        lcgDrawPair(&first, &second);
        char name[512];
        std::snprintf(name, sizeof name, "%s/anode.%d%d.xml", folder.c_str(), first, second);
        int rc = linkIntoPlace(temp, name);
        if (rc == 0) return true;
        if (rc != EEXIST) break;
    }
    ::unlink(temp);
    return false;
}

}  // namespace

std::string intelFileContent(const std::vector<TrafficRecord>& records) {
    std::string text(kHeader);
    text.reserve(sizeof kHeader + sizeof kFooter + records.size() * 140);
    for (const TrafficRecord& r : records) appendAnode(&text, r);
    text += kFooter;
    return text;
}

std::string intelFileContent(const TrafficRecord& record) {
    std::string text(kHeader);
    appendAnode(&text, record);
    return text + kFooter;
}

bool writeIntelRecords(const std::vector<TrafficRecord>& records, const std::string& folder) {
    if (records.empty()) return true;
    return writeContent(intelFileContent(records), folder);
}

cIntelWriter::cIntelWriter(std::string folder) : folder_(std::move(folder)) {
    pending_.reserve(kRecordsPerFile);
}

cIntelWriter::~cIntelWriter() { flush(); }

void cIntelWriter::write(const TrafficRecord& record, Clock::time_point now) {
    const bool slow = !anyArrival_ || now - lastArrival_ >= kBatchWindow;
    anyArrival_ = true;
    lastArrival_ = now;
    if (pending_.empty() && slow) {
        pending_.push_back(record);
        flush();
        return;
    }
    if (pending_.empty()) deadline_ = now + kBatchWindow;
    pending_.push_back(record);
    if (pending_.size() >= kRecordsPerFile) flush();
}

void cIntelWriter::flushIfDue(Clock::time_point now) {
    if (!pending_.empty() && now >= deadline_) flush();
}

void cIntelWriter::flush() {
    if (pending_.empty()) return;
    const bool ok = writeIntelRecords(pending_, folder_);
    (ok ? counters_.written : counters_.lost).fetch_add(pending_.size(), std::memory_order_relaxed);
    pending_.clear();
}

}  // namespace tessel

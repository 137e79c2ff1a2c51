#include "capture/intel_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <irrXML.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "core/hand_off.h"
#include "core/text_number.h"

namespace tessel {

std::atomic<std::uint64_t> intelRecordsRead{0};

namespace {

// A full file of our own is about 9 kB; anything far larger was not written by us.
constexpr std::size_t kMaxIntelFileBytes = 1024 * 1024;

// Reads the engine's XML reader node by node, collecting "anode" elements (case-sensitive).
std::vector<IntelAnode> collectAnodes(irr::io::IrrXMLReader* xml) {
    std::vector<IntelAnode> out;
    if (!xml) return out;
    while (xml->read()) {
        if (xml->getNodeType() != irr::io::EXN_ELEMENT) continue;
        const char* name = xml->getNodeName();
        if (!name || std::strcmp(name, "anode") != 0) continue;
        // getAttributeValueSafe gives "" for a missing attribute; atoiText reads numbers the
        // way the C library does (leading blanks, sign), unlike getAttributeValueAsInt.
        IntelAnode a;
        a.src = xml->getAttributeValueSafe("src");
        a.dst = xml->getAttributeValueSafe("dst");
        a.srcport = atoiText(xml->getAttributeValueSafe("srcport"));
        a.dstport = atoiText(xml->getAttributeValueSafe("dstport"));
        a.size = atoiText(xml->getAttributeValueSafe("size"));
        a.tcp = atoiText(xml->getAttributeValueSafe("tcp"));
        a.udp = atoiText(xml->getAttributeValueSafe("udp"));
        a.icmp = atoiText(xml->getAttributeValueSafe("icmp"));
        out.push_back(a);
    }
    return out;
}

// Feeds the engine's XML reader from memory.
class MemoryCallback : public irr::io::IFileReadCallBack {
  public:
    MemoryCallback(const char* d, std::size_t n) : data(d), size(n) {}
    int read(void* buffer, int sizeToRead) override {
        if (sizeToRead <= 0) return 0;
        std::size_t n = std::min<std::size_t>(std::size_t(sizeToRead), size - pos);
        if (n) std::memcpy(buffer, data + pos, n);
        pos += n;
        return int(n);
    }
    long getSize() const override { return long(size); }

  private:
    const char* data;
    std::size_t size;
    std::size_t pos = 0;
};

// The engine's XML reader runs past the end of its buffer on some malformed texts (a lone "<",
// "<a<b", a tag cut before its ">") and guesses UTF-16/32 from a byte-order mark. Our files are
// short, plain ASCII and well formed, so the text is screened first with a strict scanner of
// the little XML we write (declaration, elements with quoted attributes, end tags, text);
// anything else is unreadable: no record, file kept.
class XmlScreen {
  public:
    XmlScreen(const char* d, std::size_t n) : p(d), end(d + n) {}

    bool wellFormed() {
        for (const char* q = p; q < end; ++q)
            if (*q == 0 || static_cast<unsigned char>(*q) > 0x7F) return false;
        while (p < end) {
            if (*p != '<') {
                ++p;  // text
                continue;
            }
            // A declaration ends, for the engine's reader, at its first ">". Comments,
            // CDATA and DOCTYPE are refused: we never write them, and the reader mishandles
            // odd ones ("<!--->").
            bool ok = starts("<?")   ? closedAtFirstGreater("?")
                      : starts("</") ? endTag()
                      : starts("<!") ? false
                                     : startTag();
            if (!ok) return false;
        }
        return true;
    }

  private:
    bool starts(const char* s) const {
        std::size_t n = std::strlen(s);
        return std::size_t(end - p) >= n && std::memcmp(p, s, n) == 0;
    }
    // The construct at p runs to the first ">" after its opening, which must be preceded by
    // `closing`, with no "<" on the way.
    bool closedAtFirstGreater(const char* closing) {
        const std::size_t n = std::strlen(closing);
        for (const char* q = p + 2; q < end; ++q) {
            if (*q == '<') return false;
            if (*q != '>') continue;
            if (std::size_t(q - p) < 2 + n || std::memcmp(q - n, closing, n) != 0) return false;
            p = q + 1;
            return true;
        }
        return false;
    }
    static bool nameChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-' ||
               c == '.';
    }
    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    bool name() {
        const char* first = p;
        while (p < end && nameChar(*p)) ++p;
        return p > first;
    }
    bool blanks() {
        const char* first = p;
        while (p < end && blank(*p)) ++p;
        return p > first;
    }
    bool endTag() {
        p += 2;
        if (!name()) return false;
        blanks();
        if (p >= end || *p != '>') return false;
        ++p;
        return true;
    }
    bool startTag() {
        ++p;
        if (!name()) return false;
        for (;;) {
            bool spaced = blanks();
            if (p >= end) return false;
            if (*p == '>') {
                ++p;
                return true;
            }
            if (*p == '/') {
                if (end - p < 2 || p[1] != '>') return false;
                p += 2;
                return true;
            }
            if (!spaced || !name()) return false;
            blanks();
            if (p >= end || *p != '=') return false;
            ++p;
            blanks();
            if (p >= end || (*p != '\'' && *p != '"')) return false;
            const char quote = *p++;
            while (p < end && *p != quote) {
                if (*p == '<') return false;
                ++p;
            }
            if (p >= end) return false;
            ++p;
        }
    }

    const char* p;
    const char* end;
};

// The exact text the writer produces (digits for the numbers, digits and dots for the addresses,
// any number of "anode" lines) is read directly: for such a text the engine's reader can only
// give these values, and it is what nearly every file holds. Anything else goes the general way.
class WriterTextMatcher {
  public:
    WriterTextMatcher(const char* d, std::size_t n) : p(d), end(d + n) {}

    bool match(std::vector<IntelAnode>* out) {
        if (!literal("<?xml version='1.0'?>\n<map>\n")) return false;
        for (;;) {
            if (literal("</map>\n")) return p == end;
            IntelAnode a;
            if (!anodeLine(&a)) return false;
            out->push_back(std::move(a));
        }
    }

  private:
    bool anodeLine(IntelAnode* a) {
        return literal("<anode tcp='") && digits(&a->tcp) && literal("' udp='") &&
               digits(&a->udp) && literal("' icmp='") && digits(&a->icmp) && literal("' src='") &&
               address(&a->src) && literal("' dst='") && address(&a->dst) &&
               literal("' srcport='") && digits(&a->srcport) && literal("' dstport='") &&
               digits(&a->dstport) && literal("' size='") && digits(&a->size) && literal("' />\n");
    }
    bool literal(const char* s) {
        const std::size_t n = std::strlen(s);
        if (std::size_t(end - p) < n || std::memcmp(p, s, n) != 0) return false;
        p += n;
        return true;
    }
    // Up to 9 digits, so the value is the same whatever the conversion does on overflow.
    bool digits(int* value) {
        const char* first = p;
        long long v = 0;  // ten digits are read to see that there are too many
        while (p < end && p - first < 10 && *p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
        if (p == first || p - first > 9) return false;
        *value = int(v);
        return true;
    }
    bool address(std::string* text) {
        const char* first = p;
        while (p < end && p - first < 16 && ((*p >= '0' && *p <= '9') || *p == '.')) ++p;
        if (p == first || p - first > 15) return false;
        text->assign(first, p);
        return true;
    }

    const char* p;
    const char* end;
};

bool plausibleIntelText(const char* data, std::size_t length) {
    if (!data || length == 0) return false;
    return XmlScreen(data, length).wellFormed();
}

// Reads the already opened file whole (at most kMaxIntelFileBytes) and closes it; the text is
// screened before any XML reader sees it.
std::vector<IntelAnode> readOpenedFile(int fd) {
    if (fd < 0) return {};
    char buffer[16384];
    std::string text;
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (text.empty() && std::size_t(n) < sizeof buffer) {
            // A short first read of a regular file is its whole content (one read instead of
            // two for our files).
            ::close(fd);
            return parseIntelText(buffer, std::size_t(n));
        }
        text.append(buffer, std::size_t(n));
        if (text.size() > kMaxIntelFileBytes) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    if (!ok) return {};
    return parseIntelText(text.data(), text.size());
}

}  // namespace

std::vector<IntelAnode> parseIntelText(const char* data, std::size_t length) {
    if (!data) return {};
    std::vector<IntelAnode> written;
    if (WriterTextMatcher(data, length).match(&written)) return written;
    if (!plausibleIntelText(data, length)) return {};
    MemoryCallback callback(data, length);
    irr::io::IrrXMLReader* xml = irr::io::createIrrXMLReader(&callback, false);
    std::vector<IntelAnode> out = collectAnodes(xml);
    delete xml;
    return out;
}

std::vector<IntelAnode> readIntelFile(const std::string& path) {
    return readOpenedFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

bool consumeIntelFolder(const std::string& folder,
                        const std::function<void(const IntelAnode&)>& sink,
                        std::size_t recordBudget) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    const int dirFd = ::dirfd(dir);
    // The whole listing first, as the folder is changed while it is worked through.
    struct Entry {
        std::string name;
        unsigned char type;
    };
    std::vector<Entry> entries;
    while (dirent* e = ::readdir(dir)) {
        // ".", "..", and files still being written (dot-names).
        if (e->d_name[0] == '.') continue;
        entries.push_back(Entry{e->d_name, e->d_type});
    }
    std::size_t handed = 0;
    for (const Entry& entry : entries) {
        if (handed >= recordBudget) break;
        const char* name = entry.name.c_str();
        // Sub-folders and special files hold no record; a FIFO would block the reader. The
        // listing's type saves a stat per file; links and unknown types are looked at.
        if (entry.type != DT_REG) {
            if (entry.type != DT_UNKNOWN && entry.type != DT_LNK) continue;
            struct stat st;
            if (::fstatat(dirFd, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        }
        std::vector<IntelAnode> records =
            readOpenedFile(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        for (const IntelAnode& a : records) sink(a);
        handed += records.size();
        if (!records.empty()) ::unlinkat(dirFd, name, 0);
    }
    ::closedir(dir);
    return true;
}

cIntelReaderWorker::cIntelReaderWorker(std::string folder, HandOffChannel& channel)
    : folder_(std::move(folder)), channel_(channel) {}

bool cIntelReaderWorker::pass() {
    const std::size_t room = channel_.recordRoom();
    if (room == 0) return true;  // the main thread is behind: leave the files where they are
    std::vector<IntelAnode> records;
    bool listed = consumeIntelFolder(
        folder_, [&records](const IntelAnode& a) { records.push_back(a); }, room);
    if (!listed) {
        channel_.reportIntelFolderMissing();
        return false;
    }
    intelRecordsRead.fetch_add(records.size(), std::memory_order_relaxed);
    channel_.pushRecords(std::move(records));
    return true;
}

void cIntelReaderWorker::run() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stop_) {
        guard.unlock();
        bool listed = pass();
        guard.lock();
        if (!listed) break;
        wake_.wait_for(guard, kPassPeriod, [this] { return stop_; });
    }
}

void cIntelReaderWorker::requestStop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
}

}  // namespace tessel

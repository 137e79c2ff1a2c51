#include "capture/intel_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/hand_off.h"
#include "core/text_number.h"

namespace tessel {

namespace {

// A full file of our own is about 9 kB; anything far larger was not written by us.
constexpr std::size_t kMaxIntelFileBytes = 1024 * 1024;

// The one reader of record files: a strict scanner of the little XML our files hold
// (declaration, elements with quoted attributes, end tags, text), pure ASCII. A text that is
// anything else gives no record at all, so its file is kept. Within that grammar it reads what
// the engine's XML reader read from these files before it, odd corners included, so hand-edited
// files keep giving the records they gave:
//  - every "anode" start tag (case-sensitive; "<anode/>" too) is a record, in document order;
//  - an attribute named twice counts the first time; a missing one is "" and so 0;
//  - attribute values decode &amp; &lt; &gt; &quot; &apos; the way that reader did, which drops
//    the single character after an entity that ends one short of the value's end ("&amp;x" is
//    "&") and turns a lone "&" into "";
//  - numbers are read atoi-style (leading blanks, a sign, digits; clamped to int).
class IntelTextParser {
  public:
    IntelTextParser(const char* d, std::size_t n) : p(d), end(d + n) {}

    bool parse(std::vector<TrafficRecord>* out) {
        if (!plainAscii()) return false;
        while (p < end) {
            if (*p != '<') {  // text
                const void* next = std::memchr(p, '<', std::size_t(end - p));
                p = next ? static_cast<const char*>(next) : end;
                continue;
            }
            // A declaration ends at its first ">". Comments, CDATA and DOCTYPE are refused: we
            // never write them.
            bool ok = starts('?')   ? closedAtFirstGreater("?")
                      : starts('/') ? endTag()
                      : starts('!') ? false
                                    : startTag(out);
            if (!ok) return false;
        }
        return true;
    }

  private:
    // No NUL and nothing above 0x7F; eight bytes a step (a byte is 0 or has its top bit set).
    bool plainAscii() const {
        constexpr std::uint64_t kOnes = 0x0101010101010101u, kTops = 0x8080808080808080u;
        const char* q = p;
        for (; end - q >= 8; q += 8) {
            std::uint64_t w;
            std::memcpy(&w, q, 8);
            if ((((w - kOnes) & ~w) | w) & kTops) return false;
        }
        for (; q < end; ++q)
            if (*q == 0 || static_cast<unsigned char>(*q) > 0x7F) return false;
        return true;
    }
    // Whether the text at p is "<" and then `second`.
    bool starts(char second) const { return end - p >= 2 && p[0] == '<' && p[1] == second; }
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
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == ':' || c == '-' || c == '.';
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
    bool startTag(std::vector<TrafficRecord>* out) {
        ++p;
        const char* elementName = p;
        if (!name()) return false;
        const bool anode =
            std::size_t(p - elementName) == 5 && std::memcmp(elementName, "anode", 5) == 0;
        TrafficRecord record;
        unsigned taken = 0;  // fields already given: a repeated attribute counts the first time
        for (;;) {
            bool spaced = blanks();
            if (p >= end) return false;
            if (*p == '>' || *p == '/') {
                if (*p == '/' && (end - p < 2 || p[1] != '>')) return false;
                p += *p == '/' ? 2 : 1;
                break;
            }
            const char* attribute = p;
            if (!spaced || !name()) return false;
            const std::size_t attributeLength = std::size_t(p - attribute);
            blanks();
            if (p >= end || *p != '=') return false;
            ++p;
            blanks();
            if (p >= end || (*p != '\'' && *p != '"')) return false;
            const char quote = *p++;
            const char* value = p;
            bool entity = false;
            for (; p < end && *p != quote; ++p) {
                if (*p == '<') return false;
                entity = entity || *p == '&';
            }
            if (p >= end) return false;
            if (anode) take(&record, &taken, attribute, attributeLength, value, p, entity);
            ++p;
        }
        if (anode) out->push_back(std::move(record));
        return true;
    }

    // 0 src, 1 dst, 2 srcport, 3 dstport, 4 size, 5 tcp, 6 udp, 7 icmp; -1 for other names.
    static int fieldOf(const char* a, std::size_t n) {
        switch (n) {
            case 3:
                return std::memcmp(a, "src", 3) == 0   ? 0
                       : std::memcmp(a, "dst", 3) == 0 ? 1
                       : std::memcmp(a, "tcp", 3) == 0 ? 5
                       : std::memcmp(a, "udp", 3) == 0 ? 6
                                                       : -1;
            case 4:
                return std::memcmp(a, "size", 4) == 0 ? 4 : std::memcmp(a, "icmp", 4) == 0 ? 7 : -1;
            case 7:
                return std::memcmp(a, "srcport", 7) == 0   ? 2
                       : std::memcmp(a, "dstport", 7) == 0 ? 3
                                                           : -1;
            default:
                return -1;
        }
    }

    // Sets the field the attribute names, unless it was set already; others are ignored. A
    // field without its attribute keeps "" or 0.
    static void take(TrafficRecord* r, unsigned* taken, const char* attribute,
                     std::size_t attributeLength, const char* value, const char* valueEnd,
                     bool entity) {
        const int field = fieldOf(attribute, attributeLength);
        if (field < 0 || (*taken & (1u << field))) return;
        *taken |= 1u << field;
        std::string text;
        if (entity) {
            text = decoded(std::string(value, valueEnd));
            value = text.data();
            valueEnd = value + text.size();
        }
        int* const numbers[] = {&r->srcport, &r->dstport, &r->size, &r->tcp, &r->udp, &r->icmp};
        if (field < 2)
            (field == 0 ? r->src : r->dst).assign(value, valueEnd);
        else
            *numbers[field - 2] = atoiText(value, valueEnd);
    }

    // Entity decoding as the engine's XML reader did it, quirks and all (see above).
    static std::string decoded(const std::string& raw) {
        // Each: the character it stands for, then its name after the "&".
        static const char* const kEntities[] = {"&amp;", "<lt;", ">gt;", "\"quot;", "'apos;"};
        const long size = long(raw.size());
        std::size_t amp = raw.find('&');
        if (amp == std::string::npos) return raw;
        std::string out;
        long pos = long(amp);
        long old = 0;
        while (pos != -1 && pos < size - 2) {
            const char* entity = nullptr;
            for (const char* e : kEntities) {
                if (raw.compare(std::size_t(pos) + 1, std::strlen(e + 1), e + 1) == 0) {
                    entity = e;
                    break;
                }
            }
            if (entity) {
                out.append(raw, std::size_t(old), std::size_t(pos - old));
                out += entity[0];
                pos += long(std::strlen(entity));
            } else {
                out.append(raw, std::size_t(old), std::size_t(pos - old + 1));
                pos += 1;
            }
            old = pos;
            const std::size_t next =
                pos < size ? raw.find('&', std::size_t(pos)) : std::string::npos;
            pos = next == std::string::npos ? -1 : long(next);
        }
        if (old < size - 1) out.append(raw, std::size_t(old), std::string::npos);
        return out;
    }

    const char* p;
    const char* end;
};

// Reads the already opened file whole (at most kMaxIntelFileBytes; a larger one gives nothing)
// and closes it.
std::vector<TrafficRecord> readOpenedFile(int fd) {
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

std::vector<TrafficRecord> parseIntelText(const char* data, std::size_t length) {
    std::vector<TrafficRecord> out;
    if (!data || !IntelTextParser(data, length).parse(&out)) return {};
    return out;
}

bool consumeIntelFolder(const std::string& folder,
                        const std::function<void(const TrafficRecord&)>& sink,
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
        std::vector<TrafficRecord> records =
            readOpenedFile(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        for (const TrafficRecord& a : records) sink(a);
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
    std::vector<TrafficRecord> records;
    bool listed = consumeIntelFolder(
        folder_, [&records](const TrafficRecord& a) { records.push_back(a); }, room);
    if (!listed) {
        channel_.reportIntelFolderMissing();
        return false;
    }
    recordsRead_.fetch_add(records.size(), std::memory_order_relaxed);
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

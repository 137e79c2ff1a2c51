#include "capture/intel_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <irrlicht.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "app/globals.h"
#include "app/text_number.h"
#include "platform/lcg_random.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "scene/particle_impacts.h"

namespace tessel {

const char* const intelFolder = "intel";

namespace {

// Name clashes are rare (2^30 names); a few fresh draws always settle one unless the folder is
// flooded, and then dropping the record is what a failed write does anyway.
constexpr int kNameAttempts = 16;
// A record is about 170 bytes; anything far larger was not written by us.
constexpr std::size_t kMaxIntelFileBytes = 64 * 1024;

std::atomic<unsigned> g_tempCounter{0};

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

// The exact text writeIntelFile produces (digits for the numbers, digits and dots for the
// addresses) is read directly: for such a text the engine's reader can only give these values,
// and it is what nearly every file holds. Anything else goes the general way.
class WriterTextMatcher {
  public:
    WriterTextMatcher(const char* d, std::size_t n) : p(d), end(d + n) {}

    bool match(IntelAnode* out) {
        if (!literal("<?xml version='1.0'?>\n<map>\n<anode tcp='") || !digits(&out->tcp) ||
            !literal("' udp='") || !digits(&out->udp) || !literal("' icmp='") ||
            !digits(&out->icmp) || !literal("' src='") || !address(&out->src) ||
            !literal("' dst='") || !address(&out->dst) || !literal("' srcport='") ||
            !digits(&out->srcport) || !literal("' dstport='") || !digits(&out->dstport) ||
            !literal("' size='") || !digits(&out->size) || !literal("' />\n</map>\n"))
            return false;
        return p == end;
    }

  private:
    bool literal(const char* s) {
        const std::size_t n = std::strlen(s);
        if (std::size_t(end - p) < n || std::memcmp(p, s, n) != 0) return false;
        p += n;
        return true;
    }
    // Up to 9 digits, so the value is the same whatever the conversion does on overflow.
    bool digits(int* value) {
        const char* first = p;
        while (p < end && p - first < 10 && *p >= '0' && *p <= '9') ++p;
        if (p == first || p - first > 9) return false;
        *value = atoiText(std::string(first, p).c_str());
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

}  // namespace

std::string intelFileContent(const TrafficRecord& r) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "<anode tcp='%d' udp='%d' icmp='%d' src='%s' dst='%s' srcport='%u' "
                  "dstport='%u' size='%u' />\n",
                  r.tcp, r.udp, r.icmp, r.src.c_str(), r.dst.c_str(), unsigned(r.srcport),
                  unsigned(r.dstport), unsigned(r.size));
    return std::string("<?xml version='1.0'?>\n<map>\n") + line + "</map>\n";
}

void writeIntelFile(const TrafficRecord& record) {
    const std::string content = intelFileContent(record);
    // Dot-names are skipped by the reader, so a file being written is never taken for a record.
    char temp[96];
    std::snprintf(temp, sizeof temp, "%s/.anode.%ld.%u.tmp", intelFolder, long(::getpid()),
                  g_tempCounter.fetch_add(1));
    int fd = ::open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    bool ok = writeAll(fd, content);
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp);
        return;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        int first = 0, second = 0;
        lcgDrawPair(&first, &second);
        char name[64];
        std::snprintf(name, sizeof name, "%s/anode.%d%d.xml", intelFolder, first, second);
        int rc = linkIntoPlace(temp, name);
        if (rc == 0) return;
        if (rc != EEXIST) break;
    }
    ::unlink(temp);
}

std::vector<IntelAnode> parseIntelText(const char* data, std::size_t length) {
    if (!data) return {};
    IntelAnode written;
    if (WriterTextMatcher(data, length).match(&written)) return {written};
    if (!plausibleIntelText(data, length)) return {};
    MemoryCallback callback(data, length);
    irr::io::IrrXMLReader* xml = irr::io::createIrrXMLReader(&callback, false);
    std::vector<IntelAnode> out = collectAnodes(xml);
    delete xml;
    return out;
}

namespace {

// Reads the already opened file whole (at most kMaxIntelFileBytes) and closes it. The whole file
// is read at once and closed, as the engine's reader would do with a path; reading it here lets
// the text be screened before any reader sees it.
std::vector<IntelAnode> readOpenedFile(int fd) {
    if (fd < 0) return {};
    char buffer[4096];
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
            // A short first read of a regular file is its whole content (one read for our
            // records instead of two).
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

std::vector<IntelAnode> readIntelFile(const std::string& path) {
    return readOpenedFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

bool consumeIntelFolder(const std::string& folder,
                        const std::function<void(const IntelAnode&)>& sink) {
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
    for (const Entry& entry : entries) {
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
        if (!records.empty()) ::unlinkat(dirFd, name, 0);
    }
    ::closedir(dir);
    return true;
}

void loadIntelFiles(SSceneContext& context) {
    bool listed = consumeIntelFolder(intelFolder, [&context](const IntelAnode& a) {
        addParticleImpact(context, a.src, a.dst, a.srcport, a.dstport, a.size, a.tcp, a.udp,
                          a.icmp);
    });
    if (!listed) {
        showMessageBox("Failed to open 'intel' folder. Failing...");
        destroyEventLog();
        endProcess(0);
    }
}

}  // namespace tessel

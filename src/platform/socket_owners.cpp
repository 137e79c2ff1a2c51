#include "platform/socket_owners.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tessel {

bool socketTupleFromText(int protocol, const std::string& local, int localPort,
                         const std::string& remote, int remotePort, SocketTuple* out) {
    SocketTuple t;
    t.protocol = protocol;
    if (inet_pton(AF_INET, local.c_str(), t.local.data()) == 1 &&
        inet_pton(AF_INET, remote.c_str(), t.remote.data()) == 1)
        t.family = AF_INET;
    else if (inet_pton(AF_INET6, local.c_str(), t.local.data()) == 1 &&
             inet_pton(AF_INET6, remote.c_str(), t.remote.data()) == 1)
        t.family = AF_INET6;
    else
        return false;
    t.localPort = static_cast<std::uint16_t>(localPort);
    t.remotePort = static_cast<std::uint16_t>(remotePort);
    *out = t;
    return true;
}

namespace {

struct DiagRequest {
    nlmsghdr header;
    inet_diag_req_v2 body;
};

constexpr std::size_t kReceiveBuffer = 64 * 1024;
// The kernel's socket states (include/net/tcp_states.h) no file holds.
constexpr int kTimeWait = 6;
constexpr int kNewSynReceived = 12;

SocketEntry entryOf(const inet_diag_msg& m) {
    SocketEntry e;
    e.inode = m.idiag_inode;
    e.uid = m.idiag_uid;
    e.state = m.idiag_state;
    return e;
}

}  // namespace

cSockDiag::cSockDiag() : buffer_(kReceiveBuffer) {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd_ < 0) return;
    // A kernel that never answers must not hold the asking thread for good.
    timeval timeout{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

cSockDiag::~cSockDiag() {
    if (fd_ >= 0) close(fd_);
}

bool cSockDiag::exchange(const void* request, std::size_t length,
                         const std::function<void(const void*)>& each) {
    if (fd_ < 0) return false;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd_, request, length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return false;
    const std::uint32_t sequence = static_cast<const nlmsghdr*>(request)->nlmsg_seq;
    const bool dumping = static_cast<const nlmsghdr*>(request)->nlmsg_flags & NLM_F_DUMP;
    for (;;) {
        const ssize_t n = recv(fd_, buffer_.data(), buffer_.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        int left = static_cast<int>(n);
        for (const nlmsghdr* h = reinterpret_cast<const nlmsghdr*>(buffer_.data());
             NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != sequence) continue;  // a late answer to an earlier question
            if (h->nlmsg_type == NLMSG_DONE) return true;
            if (h->nlmsg_type == NLMSG_ERROR) return false;  // ENOENT: no such socket
            if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
                h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg)))
                each(NLMSG_DATA(h));
            if (!dumping) return true;
        }
    }
}

bool cSockDiag::find(const SocketTuple& tuple, SocketEntry* entry) {
    // Kernels have taken UDP's two ends both ways round (TCP's never changed): UDP asks both
    // ways, and the answer's port tells which one was right.
    if (tuple.protocol == IPPROTO_UDP) return ask(tuple, true, entry) || ask(tuple, false, entry);
    return ask(tuple, false, entry);
}

bool cSockDiag::ask(const SocketTuple& tuple, bool swapped, SocketEntry* entry) {
    DiagRequest r{};
    r.header.nlmsg_len = sizeof r;
    r.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    r.header.nlmsg_flags = NLM_F_REQUEST;
    r.header.nlmsg_seq = ++sequence_;
    r.body.sdiag_family = static_cast<std::uint8_t>(tuple.family);
    r.body.sdiag_protocol = static_cast<std::uint8_t>(tuple.protocol);
    r.body.idiag_states = ~0u;
    const std::size_t bytes = tuple.family == AF_INET6 ? 16 : 4;
    std::memcpy(r.body.id.idiag_src, (swapped ? tuple.remote : tuple.local).data(), bytes);
    std::memcpy(r.body.id.idiag_dst, (swapped ? tuple.local : tuple.remote).data(), bytes);
    r.body.id.idiag_sport = htons(swapped ? tuple.remotePort : tuple.localPort);
    r.body.id.idiag_dport = htons(swapped ? tuple.localPort : tuple.remotePort);
    r.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    r.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    bool found = false;
    const bool answered = exchange(&r, sizeof r, [&](const void* data) {
        const auto& m = *static_cast<const inet_diag_msg*>(data);
        // Only a socket on this end's port is this end's (a kernel that takes the ends the
        // other way would answer with the far end's).
        if (ntohs(m.id.idiag_sport) != tuple.localPort) return;
        *entry = entryOf(m);
        found = true;
    });
    return answered && found;
}

bool cSockDiag::dump(
    int protocol, int family,
    const std::function<void(const SocketTuple& tuple, const SocketEntry& entry)>& each) {
    DiagRequest r{};
    r.header.nlmsg_len = sizeof r;
    r.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    r.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    r.header.nlmsg_seq = ++sequence_;
    r.body.sdiag_family = static_cast<std::uint8_t>(family);
    r.body.sdiag_protocol = static_cast<std::uint8_t>(protocol);
    // Not the connections in TIME_WAIT or half-open: no file holds them, and after a burst of
    // short connections they are most of the table.
    r.body.idiag_states = ~((1u << kTimeWait) | (1u << kNewSynReceived));
    return exchange(&r, sizeof r, [&](const void* data) {
        const auto& m = *static_cast<const inet_diag_msg*>(data);
        SocketTuple t;
        t.protocol = protocol;
        t.family = m.idiag_family;
        const std::size_t bytes = t.family == AF_INET6 ? 16 : 4;
        std::memcpy(t.local.data(), m.id.idiag_src, bytes);
        std::memcpy(t.remote.data(), m.id.idiag_dst, bytes);
        t.localPort = ntohs(m.id.idiag_sport);
        t.remotePort = ntohs(m.id.idiag_dport);
        each(t, entryOf(m));
    });
}

std::vector<HostAddress> listHostAddresses() {
    std::vector<HostAddress> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return addresses;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr) continue;
        HostAddress a;
        a.family = i->ifa_addr->sa_family;
        if (a.family == AF_INET)
            std::memcpy(a.bytes.data(),
                        &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, 4);
        else if (a.family == AF_INET6)
            std::memcpy(a.bytes.data(),
                        &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, 16);
        else
            continue;
        addresses.push_back(a);
    }
    freeifaddrs(list);
    return addresses;
}

std::vector<int> listProcessIds(const std::string& root) {
    std::vector<int> pids;
    DIR* dir = opendir(root.c_str());
    if (!dir) return pids;
    while (const dirent* e = readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && pid > 0) pids.push_back(static_cast<int>(pid));
    }
    closedir(dir);
    return pids;
}

namespace {

// The inode of a "socket:[N]" link; 0 for anything else.
std::uint32_t socketInode(const char* link, ssize_t length) {
    static constexpr char kPrefix[] = "socket:[";
    constexpr ssize_t kPrefixLength = sizeof kPrefix - 1;
    if (length <= kPrefixLength + 1 || std::memcmp(link, kPrefix, kPrefixLength) != 0 ||
        link[length - 1] != ']')
        return 0;
    std::uint32_t inode = 0;
    for (ssize_t i = kPrefixLength; i < length - 1; ++i) {
        if (link[i] < '0' || link[i] > '9') return 0;
        inode = inode * 10 + static_cast<std::uint32_t>(link[i] - '0');
    }
    return inode;
}

}  // namespace

bool forEachProcessSocket(int pid, const std::function<void(int, std::uint32_t)>& each,
                          const std::string& root, const std::function<bool(int)>& skip) {
    const std::string folder = root + "/" + std::to_string(pid) + "/fd";
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return false;
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return false;
    }
    const int self = getpid();
    char link[64];
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        const int fd = std::atoi(e->d_name);
        if (fd == dirFd && pid == self) continue;  // the folder being read, not a file of ours
        if (skip && skip(fd)) continue;
        const ssize_t n = readlinkat(dirFd, e->d_name, link, sizeof link);
        const std::uint32_t inode = n > 0 ? socketInode(link, n) : 0;
        if (inode != 0) each(fd, inode);
    }
    closedir(dir);
    return true;
}

int countProcessFiles(int pid, const std::string& root) {
    struct stat folder {};
    const std::string path = root + "/" + std::to_string(pid) + "/fd";
    if (stat(path.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return -1;
    // Older kernels give 0 for the folder's size.
    return folder.st_size > 0 ? static_cast<int>(folder.st_size) : -1;
}

bool processHoldsSocket(int pid, int fd, std::uint32_t inode, const std::string& root) {
    const std::string path = root + "/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    char link[64];
    const ssize_t n = readlink(path.c_str(), link, sizeof link);
    return n > 0 && socketInode(link, n) == inode;
}

std::string processName(int pid, const std::string& root) {
    const std::string path = root + "/" + std::to_string(pid) + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    char name[64];
    const ssize_t n = read(fd, name, sizeof name);
    close(fd);
    if (n <= 0) return std::string();
    std::string text(name, static_cast<std::size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    return text;
}

}  // namespace tessel

#pragma once
// The Linux seam to who holds this host's sockets: the kernel's socket table through netlink
// sock_diag (works without rights, in the caller's network namespace) and the processes holding
// them through /proc/PID/fd (readable for the caller's own processes, or all of them for root).
// Any thread; one cSockDiag is used by one thread at a time.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessel {

// One side of a TCP or UDP connection as the kernel keys its socket: this host's end first.
struct SocketTuple {
    int protocol = 6;  // IPPROTO_TCP or IPPROTO_UDP
    int family = 0;    // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> local{}, remote{};
    std::uint16_t localPort = 0, remotePort = 0;
};

// The tuple of addresses in text (IPv4 dotted, IPv6 in any inet_pton form). False when either
// address does not read or the two are of different families.
bool socketTupleFromText(int protocol, const std::string& local, int localPort,
                         const std::string& remote, int remotePort, SocketTuple* out);

// What the kernel tells of one socket.
struct SocketEntry {
    std::uint32_t inode = 0;  // 0: no file holds it (TIME_WAIT, not yet accepted)
    std::uint32_t uid = 0;
    int state = 0;  // TCP_ESTABLISHED ... as in the kernel's tcp_states.h
};

class cSockDiag {
  public:
    cSockDiag();
    ~cSockDiag();
    cSockDiag(const cSockDiag&) = delete;
    cSockDiag& operator=(const cSockDiag&) = delete;

    bool ok() const { return fd_ >= 0; }
    // The socket of exactly this tuple (for TCP, failing a connection the listener that would
    // take it). False when there is none.
    bool find(const SocketTuple& tuple, SocketEntry* entry);
    // Every socket of `protocol` (TCP or UDP) and `family` in this network namespace, but those
    // no file can hold (TIME_WAIT, half-open). False when the kernel did not answer all of it.
    // The kernel walks its whole hash table for TCP, whatever this namespace holds: about 1.5 ms.
    bool dump(int protocol, int family,
              const std::function<void(const SocketTuple& tuple, const SocketEntry& entry)>& each);

  private:
    bool ask(const SocketTuple& tuple, bool swapped, SocketEntry* entry);
    bool exchange(const void* request, std::size_t length,
                  const std::function<void(const void* message)>& each);

    int fd_ = -1;
    std::uint32_t sequence_ = 0;
    std::vector<char> buffer_;
};

// Every address of this host's interfaces (getifaddrs), as socket tuples hold them.
struct HostAddress {
    int family = 0;
    std::array<std::uint8_t, 16> bytes{};
    bool operator==(const HostAddress& o) const { return family == o.family && bytes == o.bytes; }
};
std::vector<HostAddress> listHostAddresses();

// /proc. `root` is where the process folders are (tests point it elsewhere).
// The process ids in /proc, in its order.
std::vector<int> listProcessIds(const std::string& root = "/proc");
// Calls `each(fd, inode)` for every socket among the open files of `pid`. `skip`, when given, is
// asked first for every descriptor number and true spares reading its link (one that was read
// before). False when its fd folder cannot be read (gone, or another user's without rights).
bool forEachProcessSocket(int pid, const std::function<void(int fd, std::uint32_t inode)>& each,
                          const std::string& root = "/proc",
                          const std::function<bool(int fd)>& skip = nullptr);
// How many files `pid` has open (the size Linux gives its fd folder since 6.2); -1 when not told.
int countProcessFiles(int pid, const std::string& root = "/proc");
// True while descriptor `fd` of `pid` is the socket `inode`.
bool processHoldsSocket(int pid, int fd, std::uint32_t inode, const std::string& root = "/proc");
// The process's name (/proc/PID/comm, without its newline); "" when gone.
std::string processName(int pid, const std::string& root = "/proc");

}  // namespace tessel

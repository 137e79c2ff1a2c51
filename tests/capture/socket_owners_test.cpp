// Which program holds each end of a connection: the kernel's socket table and the processes'
// open files, for TCP and UDP over IPv4 and IPv6; a connection not yet accepted is the
// listener's; a stranger's connection and another user's socket are never given a name.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "capture/socket_owners_worker.h"
#include "core/traffic_record.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using Kind = ProgramOwner::Kind;

// A socket of `family` and `type` bound to the loopback address on a port the kernel picks.
int boundSocket(int family, int type, int* port) {
    const int fd = socket(family, type, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        length = sizeof *a;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) return -1;
    if (type == SOCK_STREAM) listen(fd, 8);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                    : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return fd;
}

int connectedTo(int family, int type, int port, int* localPort) {
    const int c = socket(family, type, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        a->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *a;
    }
    if (connect(c, reinterpret_cast<sockaddr*>(&address), length) != 0) return -1;
    getsockname(c, reinterpret_cast<sockaddr*>(&address), &length);
    *localPort = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return c;
}

std::string ownName() { return processName(getpid()); }

struct Finder {
    cSockDiag diag;
    cSocketProcessCache processes;
    std::vector<HostAddress> host = listHostAddresses();
    bool retry = false;
    ProgramOwner operator()(const FlowEnds& ends) {
        return findFlowOwner(diag, processes, host, ends, static_cast<std::uint32_t>(geteuid()),
                             cSocketProcessCache::Clock::now(), &retry);
    }
};

TEST(SocketOwners, NamesTheProgramAtThisHostsEndOfTcpAndUdpFlows) {
    Finder find;
    ASSERT_TRUE(find.diag.ok());
    for (int family : {AF_INET, AF_INET6}) {
        const std::string loopback = family == AF_INET ? "127.0.0.1" : "::1";
        SCOPED_TRACE(loopback);
        int serverPort = 0, clientPort = 0;
        const int listener = boundSocket(family, SOCK_STREAM, &serverPort);
        ASSERT_GE(listener, 0);
        const int client = connectedTo(family, SOCK_STREAM, serverPort, &clientPort);
        ASSERT_GE(client, 0);
        ProgramOwner o = find({6, loopback, loopback, clientPort, serverPort});
        EXPECT_EQ(o.kind, Kind::Named);
        EXPECT_EQ(o.pid, getpid());
        EXPECT_EQ(o.name, ownName());

        // Seen from the server's end before the program accepted it: the listener's program,
        // here a child of its own name.
        int childListenerPort = 0;
        const int childListener = boundSocket(family, SOCK_STREAM, &childListenerPort);
        int toChild = 0;
        const int waiting = connectedTo(family, SOCK_STREAM, childListenerPort, &toChild);
        ASSERT_GE(waiting, 0);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            prctl(PR_SET_NAME, "owners-listen");
            char c = 1;
            if (write(ready[1], &c, 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        close(childListener);  // only the child holds the listener now
        char c = 0;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        // The child is new: past the limit on walks of /proc since the last one.
        std::this_thread::sleep_for(
            std::chrono::milliseconds(1000 / cSocketProcessCache::kFullScansPerSecond + 10));
        o = find({6, loopback, loopback, childListenerPort, toChild});
        EXPECT_EQ(o.kind, Kind::Named);
        EXPECT_EQ(o.name, "owners-listen");
        EXPECT_EQ(o.pid, child);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(ready[0]);
        close(ready[1]);

        // UDP: an unconnected receiver, found from the sender's end and from its own.
        int receiverPort = 0, senderPort = 0;
        const int receiver = boundSocket(family, SOCK_DGRAM, &receiverPort);
        const int sender = connectedTo(family, SOCK_DGRAM, receiverPort, &senderPort);
        ASSERT_GE(sender, 0);
        o = find({17, loopback, loopback, receiverPort, senderPort});
        EXPECT_EQ(o.kind, Kind::Named);
        EXPECT_EQ(o.pid, getpid());
        close(sender);
        o = find({17, loopback, loopback, senderPort, receiverPort});  // the receiver's end
        EXPECT_EQ(o.kind, Kind::Named);

        // Two other hosts talking (seen on a promiscuous adapter) are nobody's here, although
        // this host listens on the same port.
        const std::string a = family == AF_INET ? "192.0.2.1" : "2001:db8::1";
        const std::string b = family == AF_INET ? "192.0.2.2" : "2001:db8::2";
        o = find({6, a, b, 40000, serverPort});
        EXPECT_EQ(o.kind, Kind::NotKnown);
        EXPECT_FALSE(find.retry);
        o = find({17, a, b, 40000, receiverPort});
        EXPECT_EQ(o.kind, Kind::NotKnown);
        for (int fd : {listener, client, waiting, receiver}) close(fd);
    }
}

// The worker answers flows the capture thread notes, off that thread, and is stopped and joined.
TEST(SocketOwners, TheWorkerNamesFlowsTheCaptureThreadNotes) {
    cProgramTable table;
    table.setLive(true);
    cSocketOwnersWorker worker(table);
    worker.start();
    int serverPort = 0, clientPort = 0;
    const int listener = boundSocket(AF_INET6, SOCK_STREAM, &serverPort);
    const int client = connectedTo(AF_INET6, SOCK_STREAM, serverPort, &clientPort);
    ASSERT_GE(client, 0);
    TrafficRecord syn;
    syn.tcp = 1;
    syn.src = syn.dst = "::1";
    syn.srcport = clientPort;
    syn.dstport = serverPort;
    syn.size = 60 << 8;  // the IP length, its bytes swapped as the decoder keeps it
    std::thread capture([&] {
        for (int i = 0; i < 3; ++i) worker.notePacket(syn, false);
    });
    capture.join();
    const FlowEnds ends{6, "::1", "::1", clientPort, serverPort};
    for (int i = 0; i < 200 && table.ownerOf(ends).kind != Kind::Named; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ownerText(table.ownerOf(ends)),
              ownName() + " (pid " + std::to_string(getpid()) + ")");
    const std::vector<ProgramUse> top = table.busiest(cProgramTable::Clock::now(), 3);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].bytes, 180u);
    EXPECT_EQ(top[0].packets, 3u);
    worker.stop();
    close(client);
    close(listener);
}

// A walk reads only the descriptors it has not read; a socket behind a descriptor number read
// before (closed and taken again) is missed once, and the next walk reads everything. A process
// tree of links stands for /proc, no process remembered as a recent holder.
TEST(SocketOwners, AWalkReadsNewDescriptorsAndEverythingAfterAMiss) {
    test::TempDir proc;
    const std::string fds = proc.file("4242/fd");
    ASSERT_EQ(mkdir(proc.file("4242").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(fds.c_str(), 0755), 0);
    test::writeFile(proc.file("4242/comm"), "walked\n");
    auto link = [&](int fd, std::uint32_t inode) {
        const std::string path = fds + "/" + std::to_string(fd);
        unlink(path.c_str());
        return symlink(("socket:[" + std::to_string(inode) + "]").c_str(), path.c_str()) == 0;
    };
    ASSERT_TRUE(link(3, 1000));
    ASSERT_EQ(symlink("/dev/null", (fds + "/0").c_str()), 0);
    cSocketProcessCache cache(proc.path(), 0);
    auto now = cSocketProcessCache::Clock::now();
    auto find = [&](std::uint32_t inode) {
        now += std::chrono::seconds(1);  // every look-up may walk
        cSocketProcessCache::Holder h;
        return cache.find(inode, now, &h) && h.pid == 4242 && h.name == "walked";
    };
    EXPECT_TRUE(find(1000));
    ASSERT_TRUE(link(4, 2000));  // a new number
    EXPECT_TRUE(find(2000));
    ASSERT_TRUE(link(3, 3000));  // a number read before, now another socket
    EXPECT_FALSE(find(3000));
    EXPECT_TRUE(find(3000));

    // This process walks itself too: the folder it reads then is none of its descriptors, else
    // its number, taken by the next socket, would hide that socket from the next walk.
    cSocketProcessCache own("/proc", 0);
    int port = 0;
    const int listener = boundSocket(AF_INET, SOCK_STREAM, &port);
    cSockDiag diag;
    int clients[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
        int clientPort = 0;
        clients[i] = connectedTo(AF_INET, SOCK_STREAM, port, &clientPort);
        ASSERT_GE(clients[i], 0);
        SocketTuple t;
        SocketEntry e;
        ASSERT_TRUE(socketTupleFromText(6, "127.0.0.1", clientPort, "127.0.0.1", port, &t));
        ASSERT_TRUE(diag.find(t, &e));
        now += std::chrono::seconds(1);
        cSocketProcessCache::Holder h;
        EXPECT_TRUE(own.find(e.inode, now, &h)) << i;
        EXPECT_EQ(h.pid, getpid());
    }
    for (int fd : {clients[0], clients[1], listener}) close(fd);
}

// A connection closed before its look-up (the socket gone, or left by its program in FIN_WAIT)
// is named from the socket table read while it was open; an IPv6 socket carrying IPv4 is found
// by the IPv4 ends the capture sees. Without that reading it is nobody's.
TEST(SocketOwners, AClosedConnectionIsNamedFromTheTableReadWhileOpen) {
    Finder find;
    const std::uint32_t self = static_cast<std::uint32_t>(geteuid());
    // The server's end is a child's, so that only the table can name the client's closed end.
    int serverPort = 0;
    const int listener = boundSocket(AF_INET, SOCK_STREAM, &serverPort);
    ASSERT_GE(listener, 0);
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_NAME, "owners-server");
        pause();
        _exit(0);
    }
    close(listener);
    int resetPort = 0, finishingPort = 0, udpPort = 0, senderPort = 0;
    const int reset = connectedTo(AF_INET, SOCK_STREAM, serverPort, &resetPort);
    const int finishing = connectedTo(AF_INET, SOCK_STREAM, serverPort, &finishingPort);
    ASSERT_GE(reset, 0);
    ASSERT_GE(finishing, 0);
    // A dual-stack socket connected to 127.0.0.1 through its mapped address.
    const int mapped = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    ASSERT_EQ(inet_pton(AF_INET6, "::ffff:127.0.0.1", &to.sin6_addr), 1);
    to.sin6_port = htons(static_cast<std::uint16_t>(serverPort));
    ASSERT_EQ(connect(mapped, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    socklen_t length = sizeof to;
    getsockname(mapped, reinterpret_cast<sockaddr*>(&to), &length);
    const int mappedPort = ntohs(to.sin6_port);
    const int receiver = boundSocket(AF_INET, SOCK_DGRAM, &udpPort);
    const int sender = connectedTo(AF_INET, SOCK_DGRAM, udpPort, &senderPort);
    ASSERT_GE(sender, 0);

    cSocketHistory history;
    ASSERT_TRUE(history.read(find.diag, find.processes, self, cSocketProcessCache::Clock::now()));
    const linger abort{1, 0};
    for (int fd : {reset, mapped}) setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    for (int fd : {reset, mapped, finishing, sender}) close(fd);  // `finishing` stays in FIN_WAIT
    const FlowEnds closed[] = {{6, "127.0.0.1", "127.0.0.1", resetPort, serverPort},
                               {6, "127.0.0.1", "127.0.0.1", finishingPort, serverPort},
                               {6, "127.0.0.1", "127.0.0.1", mappedPort, serverPort},
                               {17, "127.0.0.1", "127.0.0.1", senderPort, udpPort}};
    for (const FlowEnds& ends : closed) {
        SCOPED_TRACE(ends.sourcePort);
        cSocketProcessCache fresh;
        bool retry = false;
        const auto now = cSocketProcessCache::Clock::now();
        ProgramOwner o =
            findFlowOwner(find.diag, fresh, find.host, ends, self, now, &retry, &history);
        EXPECT_EQ(o.kind, Kind::Named);
        EXPECT_EQ(o.pid, getpid());
        EXPECT_EQ(o.name, ownName());
        if (ends.protocol != 6) continue;  // the UDP receiver is ours and open anyway
        o = findFlowOwner(find.diag, fresh, find.host, ends, self, now, &retry);
        EXPECT_NE(o.pid, getpid());
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(receiver);
}

// The socket of uid 1234 seen by a Tessel running as uid 65534, which may not read the other
// user's open files: that user's program, never a name; its own socket by name. Root sees all.
TEST(SocketOwners, AnotherUsersSocketIsNeverNamed) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root to run as two other users";
    int serverPort = 0;
    const int listener = boundSocket(AF_INET, SOCK_STREAM, &serverPort);
    int portPipe[2], answer[2];
    ASSERT_EQ(pipe(portPipe), 0);
    ASSERT_EQ(pipe(answer), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        prctl(PR_SET_NAME, "owners-holder");
        if (setresgid(1234, 1234, 1234) != 0 || setresuid(1234, 1234, 1234) != 0) _exit(1);
        int port = 0;
        const int c = connectedTo(AF_INET, SOCK_STREAM, serverPort, &port);
        if (c < 0 || write(portPipe[1], &port, sizeof port) != sizeof port) _exit(1);
        pause();
        _exit(0);
    }
    int holderPort = 0;
    ASSERT_EQ(read(portPipe[0], &holderPort, sizeof holderPort),
              static_cast<ssize_t>(sizeof holderPort));
    const FlowEnds held{6, "127.0.0.1", "127.0.0.1", holderPort, serverPort};

    const pid_t asker = fork();
    if (asker == 0) {
        close(listener);  // inherited: this process must hold none of the connection
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(1);
        Finder find;
        int ownPort = 0, ownServer = 0;
        const int own = boundSocket(AF_INET, SOCK_STREAM, &ownServer);
        const int ownClient = connectedTo(AF_INET, SOCK_STREAM, ownServer, &ownPort);
        const ProgramOwner other = find(held);
        const ProgramOwner mine = find({6, "127.0.0.1", "127.0.0.1", ownPort, ownServer});
        const std::string text =
            ownerText(other) + "|" + mine.name + "|" + std::to_string(mine.pid == getpid());
        if (write(answer[1], text.data(), text.size()) < 0) _exit(1);
        close(own);
        close(ownClient);
        _exit(0);
    }
    int status = -1;
    waitpid(asker, &status, 0);
    close(answer[1]);
    char text[256] = {};
    const ssize_t n = read(answer[0], text, sizeof text - 1);
    EXPECT_GT(n, 0);
    EXPECT_EQ(std::string(text), "another user's program (uid 1234)|" + ownName() + "|1");

    Finder asRoot;
    const ProgramOwner seen = asRoot(held);
    EXPECT_EQ(ownerText(seen), "owners-holder (pid " + std::to_string(holder) + ")");
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(listener);
    for (int fd : {portPipe[0], portPipe[1], answer[0]}) close(fd);
}

}  // namespace
}  // namespace tessel

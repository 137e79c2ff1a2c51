#include "nodes/name_resolver.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "nodes/node_manager.h"
#include "support/test_support.h"

using namespace tessel;

namespace {

SNetNode nodeCopy(int index) {
    SNetNode out;
    cNodeManager().copyNodeAt(index, &out);
    return out;
}

// The look-up is injected in every test: no query leaves the process.
TEST(NameResolver, OnePassReachesNodesAddedWhileItRuns) {
    cNodeManager manager;
    manager.clearAllNodes();
    manager.addLocalNode("192.168.0.5");
    manager.addGatewayNode("192.168.0.1");
    manager.addForeignNode("198.51.100.1");
    manager.addForeignNode("198.51.100.2");
    std::vector<std::string> asked;
    setReverseLookup([&](const std::string& address) -> std::string {
        asked.push_back(address);
        // Another thread adds a node while this look-up blocks.
        if (address == "198.51.100.1") cNodeManager().addForeignNode("198.51.100.3");
        return address == "198.51.100.2" ? std::string() : "same.example";
    });
    resolvePendingNames();

    EXPECT_EQ(asked, (std::vector<std::string>{"198.51.100.1", "198.51.100.2", "198.51.100.3"}));
    EXPECT_EQ(nodeCopy(1).resolveState, 0);  // local nodes are never looked up
    EXPECT_EQ(nodeCopy(2).hostName, "same.example");
    EXPECT_EQ(nodeCopy(3).hostName, "(failed to resolve)");
    EXPECT_EQ(nodeCopy(3).resolveState, 2);
    EXPECT_EQ(nodeCopy(4).hostName, "same.example");
    EXPECT_EQ(resolverBusy.load(), 0);

    asked.clear();
    resolvePendingNames();  // a name is looked up once, failed or not
    EXPECT_TRUE(asked.empty());
    setReverseLookup(nullptr);
}

TEST(NameResolver, ResultOfARemovedNodeIsDroppedNotWrittenToItsOldIndex) {
    cNodeManager manager;
    manager.clearAllNodes();
    manager.addLocalNode("192.168.0.5");
    manager.addForeignNode("198.51.100.1");
    manager.addForeignNode("198.51.100.2");
    setReverseLookup([&](const std::string& address) -> std::string {
        if (address == "198.51.100.1") {  // removed while its look-up blocks
            cNodeManager m;
            m.clearAllNodes();
            m.addLocalNode("192.168.0.5");
            m.addForeignNode("198.51.100.2");
        }
        return "name-of-" + address;
    });
    resolvePendingNames();
    ASSERT_EQ(manager.nodeCount(), 2);
    EXPECT_EQ(nodeCopy(1).address, "198.51.100.2");
    EXPECT_EQ(nodeCopy(1).hostName, "");
    EXPECT_EQ(nodeCopy(1).resolveState, 0);  // left for the next pass
    setReverseLookup(nullptr);
}

// The real look-up, in a child process with a network namespace of its own (nothing but a down
// loopback) and a resolver pointed at 127.0.0.1: no query can leave the machine.
TEST(NameResolver, SystemLookUpGivesTheOfficialNameOrNothing) {
    tessel::test::TempDir dir;
    tessel::test::writeFile(dir.file("resolv.conf"), "nameserver 127.0.0.1\n");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) _exit(77);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        if (mount(dir.file("resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) !=
            0)
            _exit(77);
        const bool ok = systemReverseLookup("127.0.0.1") == "localhost" &&
                        systemReverseLookup("192.0.2.1").empty() &&
                        systemReverseLookup("not an address").empty();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

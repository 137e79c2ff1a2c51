#include "nodes/name_resolver.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "core/adapter_addresses.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "support/test_support.h"

using namespace tessel;

namespace {

// A node list of its own per test, on an adapter without addresses.
struct Lists {
    AdapterAddresses adapter;
    cNodeManager nodes{adapter};
    SNetNode at(int index) const {
        SNetNode out;
        nodes.copyNodeAt(index, &out);
        return out;
    }
};

// The look-up is injected in every test: no query leaves the process.
TEST(NameResolver, OnePassReachesNodesAddedWhileItRuns) {
    Lists lists;
    cNodeManager& manager = lists.nodes;
    manager.addLocalNode("192.168.0.5");
    manager.addGatewayNode("192.168.0.1");
    manager.findOrAddNode("198.51.100.1", 0);
    manager.findOrAddNode("198.51.100.2", 0);
    std::vector<std::string> asked;
    cNameResolver resolver(manager, [&](const std::string& address) -> std::string {
        asked.push_back(address);
        // Another thread adds a node while this look-up blocks.
        if (address == "198.51.100.1") manager.findOrAddNode("198.51.100.3", 0);
        return address == "198.51.100.2" ? std::string() : "same.example";
    });
    resolver.resolvePending();

    EXPECT_EQ(asked, (std::vector<std::string>{"198.51.100.1", "198.51.100.2", "198.51.100.3"}));
    EXPECT_EQ(lists.at(1).resolveState, 0);  // local nodes are never looked up
    EXPECT_EQ(lists.at(2).hostName, "same.example");
    EXPECT_EQ(lists.at(3).hostName, "(failed to resolve)");
    EXPECT_EQ(lists.at(3).resolveState, 2);
    EXPECT_EQ(lists.at(4).hostName, "same.example");
    EXPECT_FALSE(resolver.busy());

    asked.clear();
    resolver.resolvePending();  // a name is looked up once, failed or not
    EXPECT_TRUE(asked.empty());
}

// Locations: every foreign node once, all of them before the first (slow) name look-up, and a
// node added while names are looked up still in the same pass.
TEST(NameResolver, LocatesEachForeignNodeOnceAndBeforeTheNames) {
    Lists lists;
    cNodeManager& manager = lists.nodes;
    manager.addLocalNode("192.168.0.5");
    manager.findOrAddNode("198.51.100.1", 0);
    manager.findOrAddNode("198.51.100.2", 0);
    std::vector<std::string> located;
    int locatedAtFirstName = -1;
    cNameResolver resolver(
        manager,
        [&](const std::string& address) -> std::string {
            if (locatedAtFirstName < 0) locatedAtFirstName = static_cast<int>(located.size());
            if (address == "198.51.100.1") manager.findOrAddNode("198.51.100.3", 0);
            return "name.example";
        },
        [&](const std::string& address) {
            located.push_back(address);
            HostLocation where;
            where.countryCode = "ZZ";
            where.asNumber = 64500 + static_cast<std::uint32_t>(located.size());
            return where;
        });
    resolver.resolvePending();
    EXPECT_EQ(locatedAtFirstName, 2);
    EXPECT_EQ(located, (std::vector<std::string>{"198.51.100.1", "198.51.100.2", "198.51.100.3"}));
    EXPECT_EQ(lists.at(0).locateState, 0);  // local nodes are not located
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(lists.at(i).locateState, 2);
        EXPECT_EQ(lists.at(i).location.countryCode, "ZZ");
        EXPECT_EQ(lists.at(i).location.asNumber, 64500u + static_cast<std::uint32_t>(i));
    }
    resolver.resolvePending();
    EXPECT_EQ(located.size(), 3u);
}

TEST(NameResolver, ResultOfARemovedNodeIsDroppedNotWrittenToItsOldIndex) {
    Lists lists;
    cNodeManager& manager = lists.nodes;
    manager.addLocalNode("192.168.0.5");
    manager.findOrAddNode("198.51.100.1", 0);
    manager.findOrAddNode("198.51.100.2", 0);
    const cConnectionList noConnections;
    cNameResolver resolver(manager, [&](const std::string& address) -> std::string {
        if (address == "198.51.100.1") {  // pruned while its look-up blocks
            manager.updateNode(address, [](SNetNode& n) {
                n.age = 46;
                n.resolveState = 2;
                n.needsSceneNode = 0;
            });
            manager.pruneOneNode(noConnections);
        }
        return "name-of-" + address;
    });
    resolver.resolvePending();
    ASSERT_EQ(manager.nodeCount(), 2);
    EXPECT_EQ(lists.at(1).address, "198.51.100.2");
    EXPECT_EQ(lists.at(1).hostName, "");
    EXPECT_EQ(lists.at(1).resolveState, 0);  // left for the next pass
}

// The worker thread: a wake-up gives a pass without the caller waiting on it, and stopping
// waits only for the look-up under way, never for the rest of the pass.
TEST(NameResolver, WorkerServesWakeUpsAndStopsBetweenLookUps) {
    Lists lists;
    lists.nodes.addLocalNode("192.168.0.5");
    lists.nodes.findOrAddNode("198.51.100.1", 0);
    std::mutex lock;
    std::condition_variable changed;
    bool release = false;
    int asked = 0;
    cNameResolver resolver(lists.nodes, [&](const std::string&) -> std::string {
        std::unique_lock<std::mutex> guard(lock);
        ++asked;
        changed.notify_all();
        if (asked > 1) changed.wait(guard, [&] { return release; });
        return "name.example";
    });
    ASSERT_TRUE(resolver.start());
    resolver.wake();  // returns at once
    auto resolved = [&] { return lists.at(1).resolveState == 2; };
    for (int i = 0; i < 500 && !resolved(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(resolved());
    EXPECT_EQ(lists.at(1).hostName, "name.example");

    // Two more nodes; the first look-up blocks until released.
    lists.nodes.findOrAddNode("198.51.100.2", 0);
    lists.nodes.findOrAddNode("198.51.100.3", 0);
    resolver.wake();
    {
        std::unique_lock<std::mutex> guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(5), [&] { return asked == 2; }));
    }
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard<std::mutex> guard(lock);
        release = true;
        changed.notify_all();
    });
    resolver.stop();
    releaser.join();
    EXPECT_EQ(asked, 2);  // the third node was not asked after the stop
    EXPECT_EQ(lists.at(2).resolveState, 2);
    EXPECT_EQ(lists.at(3).resolveState, 0);
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

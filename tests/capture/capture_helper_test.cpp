// tessel-capture, the one program with capture rights: what it accepts, how it fails, and that
// it gives up its rights once the adapter is open.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "capture/helper_capture.h"
#include "platform/child_process.h"
#include "support/test_support.h"

namespace tessel {
namespace {

test::ProcessResult runHelper(std::vector<std::string> args,
                              std::vector<std::string> wrapper = {}) {
    args.insert(args.begin(), test::runDir() + "/tessel-capture");
    wrapper.insert(wrapper.end(), args.begin(), args.end());
    return test::runProcess(wrapper, "", {}, 10000);
}

// One line on standard error, naming the program.
bool oneLine(const std::string& err) {
    return err.rfind("tessel-capture: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

TEST(CaptureHelper, RefusesEveryArgumentItCannotVouchFor) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"frames"},
        {"frames", "lo", "icmp", "extra"},
        {"sniff", "lo"},
        {"frames", ""},
        {"frames", "a/b"},
        {"frames", ".."},
        {"frames", "eth0 lo"},
        {"frames", std::string(16, 'e')},  // longer than any interface name
        {"frames", "lo", "icmp\nor udp"},
        {"frames", "lo", "udp\x01"},
        {"frames", "lo", "host \xc3\xa9"},
        {"frames", "lo", std::string(4097, 'x')},
    };
    for (const auto& args : refused) {
        const test::ProcessResult r = runHelper(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_TRUE(oneLine(r.err)) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(runHelper({"--version"}).out, "tessel-capture 0.1\n");
}

TEST(CaptureHelper, TellsItsFailuresApartAndDropsItsRights) {
    if (!test::isRoot()) GTEST_SKIP() << "needs capture rights";
    test::ProcessResult r = runHelper({"check", "nosuchadapter0"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(oneLine(r.err)) << r.err;
    r = runHelper({"check", "lo", "port (("});
    EXPECT_EQ(r.status, 5);
    EXPECT_TRUE(oneLine(r.err)) << r.err;
    EXPECT_EQ(runHelper({"check", "lo", "icmp"}).status, 0);
    r = runHelper({"check", "lo"}, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                    "--inh-caps=-all", "--bounding-set=-all"});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(oneLine(r.err)) << r.err;
    // What the program makes of each status.
    std::string message;
    EXPECT_EQ(checkAdapterWithHelper("nosuchadapter0", "", &message), HelperResult::NoAdapter);
    EXPECT_EQ(message, "no such adapter: nosuchadapter0");
    EXPECT_EQ(checkAdapterWithHelper("lo", "port ((", &message), HelperResult::BadFilter);
    // A helper this user may not run (not in its group) is a missing right too.
    test::TempDir dir;
    const std::string unrunnable = dir.file("tessel-capture");
    test::writeFile(unrunnable, "#!/bin/sh\n");
    const std::string saved = captureHelperPath();
    setenv("TESSEL_CAPTURE_HELPER", unrunnable.c_str(), 1);
    EXPECT_EQ(checkAdapterWithHelper("lo", "", &message), HelperResult::NoRights);
    EXPECT_NE(message.find("group tessel"), std::string::npos) << message;
    setenv("TESSEL_CAPTURE_HELPER", saved.c_str(), 1);

    // Once the stream's header is out, the helper holds no capability and can gain none.
    ChildProcess child;
    ASSERT_TRUE(startChild(test::runDir() + "/tessel-capture", {"frames", "lo"}, true, &child));
    char header[24];
    std::size_t got = 0;
    for (int i = 0; i < 100 && got < sizeof header; ++i) {
        const ssize_t n = read(child.out, header + got, sizeof header - got);
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ASSERT_EQ(got, sizeof header);
    const std::string status = test::readFile("/proc/" + std::to_string(child.pid) + "/status");
    for (const char* field : {"CapPrm:\t0000000000000000", "CapEff:\t0000000000000000",
                              "CapAmb:\t0000000000000000", "NoNewPrivs:\t1"})
        EXPECT_NE(status.find(field), std::string::npos) << field << "\n" << status;
    // Its reader goes away: it ends by itself.
    ::close(child.out);
    child.out = -1;
    EXPECT_EQ(waitChild(&child, 5000), 0);
    endChild(&child);
}

}  // namespace
}  // namespace tessel

// The real program under a bounded loopback flood (UDP datagrams and short TCP connections):
// it keeps drawing, drains its intel queue once the flood stops, and ends cleanly on Escape.
// TESSEL_FLOOD_SECONDS and TESSEL_FLOOD_RATE set its length and datagram rate (10 s at 2000/s by
// default; the thread-checked build, many times slower, runs 30 s at 500/s).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <regex>
#include <thread>

#include "core/text_number.h"
#include "support/tessel_run.h"

namespace tessel {
namespace {

using namespace std::chrono_literals;

int envNumber(const char* name, int fallback, int low, int high) {
    const char* v = std::getenv(name);
    int n = v ? atoiText(v) : fallback;
    return n >= low && n <= high ? n : fallback;
}

std::string dumpOf(test::BackgroundProcess& p, const std::string& file) {
    std::remove(file.c_str());
    kill(p.pid(), SIGUSR1);
    // The dump is written at the next frame; frames are slow while a large backlog is shown.
    for (int i = 0; i < 1000 && !test::fileExists(file); ++i) std::this_thread::sleep_for(20ms);
    return test::readFile(file);
}

TEST(Flood, ProgramStaysUpAndDrainsItsQueue) {
    if (!test::isRoot()) GTEST_SKIP() << "needs capture rights on lo";
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TesselRun run;
    run.settings(
        {"firstrun=1", "nic=lo", "videodriver=3", "fullscreen=1", "width=800", "height=600"});
    std::map<std::string, std::string> env = run.baseEnv();
    env["DISPLAY"] = x.display();
    test::BackgroundProcess tessel({test::runDir() + "/tessel"}, run.path(), env);
    std::string window = test::waitForWindow(x.display(), "^Tessel \\[", 60000);
    ASSERT_FALSE(window.empty()) << tessel.output();
    test::shellOutput("xdotool windowfocus --sync " + window + " key l",
                      {{"DISPLAY", x.display()}});

    int seconds = envNumber("TESSEL_FLOOD_SECONDS", 10, 1, 600);
    int perBatch = envNumber("TESSEL_FLOOD_RATE", 2000, 20, 20000) / 20;
    // Datagrams to 127.0.0.2 (2,000 a second by default) plus 20 short TCP connections a second
    // to a local listener: every path of the decoder, bounded in rate and time.
    test::BackgroundProcess flood(
        {"python3", "-c",
         "import socket, time, sys\n"
         "end = time.time() + " +
             std::to_string(seconds) +
             "\n"
             "srv = socket.socket(); srv.bind(('127.0.0.3', 0)); srv.listen(64)\n"
             "port = srv.getsockname()[1]\n"
             "u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
             "n = 0\n"
             "while time.time() < end:\n"
             "    t = time.time()\n"
             "    for i in range(" +
             std::to_string(perBatch) +
             "): u.sendto(b'x' * (20 + i % 100), ('127.0.0.2', 40000 + i % 100))\n"
             "    c = socket.create_connection(('127.0.0.3', port)); a, _ = srv.accept()\n"
             "    c.sendall(b'hello'); c.close(); a.close()\n"
             "    n += " +
             std::to_string(perBatch) +
             "\n"
             "    time.sleep(max(0, 0.05 - (time.time() - t)))\n"
             "print(n)\n"},
        "", {});
    EXPECT_EQ(flood.wait((seconds + 30) * 1000), 0) << flood.output();
    EXPECT_TRUE(tessel.running()) << tessel.output();

    // Once the flood ends the capture thread works off the kernel buffer and the queue drains.
    // How long that takes depends on the machine (a thread-checked build is many times slower),
    // so the wait follows progress: it ends when the queue is empty, when neither the decoded
    // packet count nor the queue has moved for 60 s, or after 5 minutes at most.
    std::string dump, file = run.file("scene-dump.txt");
    std::regex waitingLine("intel-waiting ([0-9]+)\n"), packetsLine("frames packets ([0-9]+) ");
    auto numberIn = [](const std::string& text, const std::regex& line) {
        std::smatch m;
        return std::regex_search(text, m, line) ? std::stol(m[1]) : -1L;
    };
    bool empty = false;
    long lastWaiting = -2, lastPackets = -2;
    auto lastProgress = std::chrono::steady_clock::now();
    const auto giveUp = lastProgress + 300s;
    while (!empty && std::chrono::steady_clock::now() < giveUp &&
           std::chrono::steady_clock::now() - lastProgress < 60s) {
        dump = dumpOf(tessel, file);
        long waiting = numberIn(dump, waitingLine), packets = numberIn(dump, packetsLine);
        empty = waiting == 0;
        if (waiting >= 0 && (waiting != lastWaiting || packets != lastPackets))
            lastProgress = std::chrono::steady_clock::now();
        lastWaiting = waiting;
        lastPackets = packets;
        if (!empty) std::this_thread::sleep_for(1s);
    }
    EXPECT_TRUE(empty) << dump;
    EXPECT_NE(dump.find("127.0.0.2"), std::string::npos) << dump;

    test::shellOutput("xdotool key --window " + window + " Escape", {{"DISPLAY", x.display()}});
    EXPECT_EQ(tessel.wait(30000), 0) << tessel.output();
    std::string out = tessel.output();
    for (const char* report :
         {"AddressSanitizer", "runtime error:", "ThreadSanitizer", "LeakSanitizer"})
        EXPECT_EQ(out.find(report), std::string::npos)
            << out.substr(out.find(report) == std::string::npos ? 0 : out.find(report), 8000);
}

}  // namespace
}  // namespace tessel

// The real program under a bounded loopback flood (UDP datagrams and short TCP connections):
// it keeps drawing, drains its intel queue once the flood stops, and ends cleanly on Escape.
// TESSEL_FLOOD_SECONDS sets the length (10 by default; the thread-checker run uses 60).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <regex>
#include <thread>

#include "app/text_number.h"
#include "support/tessel_run.h"

namespace tessel {
namespace {

using namespace std::chrono_literals;

int floodSeconds() {
    const char* v = std::getenv("TESSEL_FLOOD_SECONDS");
    int s = v ? atoiText(v) : 10;
    return s > 0 && s <= 600 ? s : 10;
}

std::string dumpOf(test::BackgroundProcess& p, const std::string& file) {
    std::remove(file.c_str());
    kill(p.pid(), SIGUSR1);
    for (int i = 0; i < 250 && !test::fileExists(file); ++i) std::this_thread::sleep_for(20ms);
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

    int seconds = floodSeconds();
    // 2,000 datagrams a second to 127.0.0.2 plus 20 short TCP connections a second to a local
    // listener: every path of the decoder, bounded in rate and time.
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
             "    for i in range(100): u.sendto(b'x' * (20 + i), ('127.0.0.2', 40000 + i))\n"
             "    c = socket.create_connection(('127.0.0.3', port)); a, _ = srv.accept()\n"
             "    c.sendall(b'hello'); c.close(); a.close()\n"
             "    n += 100\n"
             "    time.sleep(max(0, 0.05 - (time.time() - t)))\n"
             "print(n)\n"},
        "", {});
    EXPECT_EQ(flood.wait((seconds + 30) * 1000), 0) << flood.output();
    EXPECT_TRUE(tessel.running()) << tessel.output();

    // Once the flood ends the queue drains within a few job cycles.
    std::string dump, file = run.file("scene-dump.txt");
    std::regex drained("intel-waiting 0\n");
    bool empty = false;
    for (int i = 0; i < 60 && !empty; ++i) {
        dump = dumpOf(tessel, file);
        empty = std::regex_search(dump, drained);
        if (!empty) std::this_thread::sleep_for(500ms);
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

// The real program recording a replay as a video under a private X server: the file FFmpeg's own
// tools read back, the same frames on every run, a file still whole when a signal stops it, and
// the command lines refused before any window or file is made.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "support/capture_frames.h"
#include "support/tessel_run.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint8_t kSyn = 0x02, kAck = 0x10, kFin = 0x01;

// Six seconds of a host's traffic, a frame every 50 ms: connections opened and closed to a few
// foreign hosts, data both ways, DNS. Fixed time stamps, so the file is the same on every run.
void writeShortCapture(const std::string& path) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(out, nullptr);
    const std::string self = "192.168.1.10";
    auto put = [&](int tick, const test::Bytes& frame) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + tick / 20;
        h.ts.tv_usec = (tick % 20) * 50000;
        h.caplen = h.len = bpf_u_int32(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(out), &h, frame.data());
    };
    for (int tick = 0; tick <= 120; ++tick) {
        const std::string peer = "203.0.113." + std::to_string(1 + tick / 30);
        const std::uint16_t port = std::uint16_t(40000 + tick / 30);
        switch (tick % 30) {
            case 0:
                put(tick, test::tcpFrame(self, peer, port, 443, kSyn));
                break;
            case 29:
                put(tick, test::tcpFrame(self, peer, port, 443, kFin | kAck));
                break;
            default:
                if (tick % 3 == 0)
                    put(tick, test::udpFrame(self, "192.168.1.1", 5353, 53, 40));
                else
                    put(tick, tick % 2 ? test::tcpFrame(peer, self, 443, port, kAck, 0, 600)
                                       : test::tcpFrame(self, peer, port, 443, kAck, 0, 80));
        }
    }
    pcap_dump_close(out);
    pcap_close(dead);
}

std::vector<std::string> recordingSettings(const char* driver) {
    return {"firstrun=1", std::string("videodriver=") + driver, "fullscreen=1", "width=640",
            "height=480"};
}

// ffprobe's "codec,width,height,frames" of the first video stream.
std::string probe(const std::string& file) {
    return test::shellOutput(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" +
            file + "'",
        {}, 60000);
}

// One checksum per decoded frame, in order.
std::vector<std::string> frameChecksums(const std::string& file) {
    std::istringstream lines(
        test::shellOutput("ffmpeg -v error -i '" + file + "' -f framemd5 -", {}, 60000));
    std::vector<std::string> sums;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') sums.push_back(line.substr(line.rfind(' ') + 1));
    return sums;
}

TEST(RecordProgram, AReplayBecomesTheSameVideoOnEveryRun) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TempDir work;
    const std::string capture = work.file("six-seconds.pcap");
    writeShortCapture(capture);
    std::vector<std::vector<std::string>> runs;
    // The second run lays out its heap differently, as another machine or a loaded one does:
    // nothing drawn may depend on where the engine's objects happen to live.
    for (const char* name : {"first.mp4", "second.mp4"}) {
        SCOPED_TRACE(name);
        test::TesselRun t;
        t.settings(recordingSettings("3"));
        std::map<std::string, std::string> env = {{"DISPLAY", x.display()}};
        if (runs.size() == 1) env["MALLOC_MMAP_THRESHOLD_"] = "33554432";
        const test::ProcessResult r =
            t.run({"-r", capture, "--record", work.file(name), "--size", "320x240"}, env, 90000);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("recording 100%"), std::string::npos) << r.err;
        // Six seconds at 30 frames a second, the first frame at 0 s.
        EXPECT_EQ(probe(work.file(name)), "h264,320,240,181\n") << r.err;
        runs.push_back(frameChecksums(work.file(name)));
    }
    ASSERT_EQ(runs[0].size(), 181u);
    EXPECT_EQ(runs[0], runs[1]) << "two recordings of one file differ";
    // The frames show the scene moving, not one picture (a black read of the screen, say).
    EXPECT_GT(std::set<std::string>(runs[0].begin(), runs[0].end()).size(), 100u);
}

TEST(RecordProgram, ASignalFinishesAPlayableVideo) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    test::TesselRun t;
    // OpenGL this time: its pictures are read from the back buffer.
    t.settings(recordingSettings("2"));
    std::map<std::string, std::string> env = t.baseEnv();
    env["DISPLAY"] = x.display();
    fs::copy_file(test::runDir() + "/demo.pcap", t.file("demo.pcap"));
    const std::string video = t.file("demo.webm");
    test::BackgroundProcess tessel(
        {test::runDir() + "/tessel", "--demo", "--record", video, "--size", "320x240"}, t.path(),
        env);
    // A second of recording (the progress line is redrawn every 250 ms), then the signal.
    auto progressLines = [&] {
        const std::string out = tessel.output();
        std::size_t n = 0;
        for (std::size_t at = out.find("\rrecording "); at != std::string::npos;
             at = out.find("\rrecording ", at + 1))
            ++n;
        return n;
    };
    for (int i = 0; i < 1200 && progressLines() < 4 && tessel.running(); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_GE(progressLines(), 4u) << tessel.output();
    kill(tessel.pid(), SIGINT);
    EXPECT_EQ(tessel.wait(30000), 3) << tessel.output();
    EXPECT_NE(tessel.output().find("stopped before the end of the replay"), std::string::npos)
        << tessel.output();
    const std::string got = probe(video);
    EXPECT_EQ(got.rfind("vp9,320,240,", 0), 0u) << got;
    const std::vector<std::string> sums = frameChecksums(video);
    EXPECT_GT(sums.size(), 0u);
    EXPECT_GT(std::set<std::string>(sums.begin(), sums.end()).size(), 1u)
        << "the OpenGL frames are one picture, of " << sums.size();
}

TEST(RecordProgram, BadRecordingsAreRefusedBeforeAnythingOpens) {
    test::TempDir out;
    const std::string demo = test::runDir() + "/demo.pcap";
    const std::string video = out.file("out.mp4");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--record", video}, "--record: only a replay can be recorded (-r FILE or --demo)"},
        {{"--sflow", "6343", "--record", video}, "--record: only a replay can be recorded"},
        {{"-r", demo, "--record", out.file("no/such/folder/out.mp4")},
         "--record: cannot write '" + out.file("no/such/folder/out.mp4") + "': "},
        {{"-r", demo, "--record", out.file("out.avi")},
         "--record: '" + out.file("out.avi") + "' ends in neither .mp4 nor .webm"},
        {{"--demo", "--record", video, "--fps", "0"},
         "--fps: '0' is not a frame rate from 1 to 240"},
        {{"--demo", "--record", video, "--fps", "many"}, "--fps: 'many' is not a frame rate"},
        {{"--demo", "--record", video, "--fps=241"}, "--fps: '241' is not a frame rate"},
        {{"--demo", "--record", video, "--size", "641x480"},
         "--size: '641x480' is not WIDTHxHEIGHT in even pixels from 160x120 to 7680x4320"},
        {{"--demo", "--record", video, "--size", "100x100"}, "--size: '100x100' is not"},
        {{"--demo", "--record", video, "--size", "wide"}, "--size: 'wide' is not"},
        {{"--demo", "--fps", "30"}, "--fps goes with --record"},
        {{"--demo", "--record", video, "--start", "10"}, "--start cannot be used with --record"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args.back());
        test::TesselRun t;
        // No X server: a refusal that came only after the window would end with status 1.
        const test::ProcessResult r = t.run(args, {{"DISPLAY", ""}});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("tessel: " + message), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_empty(out.path())) << "a refused recording left a file";
    }
}

}  // namespace
}  // namespace tessel

#pragma once
#include <optional>
#include <string>

namespace tessel {

// What the command line asks for. The first argument alone is compared with "fullscreen" and
// "nosplash" (exactly); the flags may stand anywhere, and any other word is ignored.
//   -r FILE, --read FILE   replay a capture file (pcap or pcapng); "-" reads standard input
//   --demo                 replay the demo capture of the data folder, again and again
//   --speed X              replay at X times the capture's pace (0.01 to 1000)
//   --loop                 start a replayed file again at its end
//   --host A, --gateway A, --netmask M   this host, the gateway and the mask of a replay
//   --maxfps N             at most N frames a second (0: unlimited)
//   --filter EXPR          capture only what the filter lets through, for this run
struct CommandLine {
    bool fullscreen = false;
    bool noSplash = false;
    std::string replayPath;  // empty: capture live
    bool demo = false;
    bool loop = false;
    bool version = false;  // --version: print it and end
    double speed = 1.0;
    std::string host, gateway, netmask;
    std::string maxFps;                 // as written; empty when not given
    std::optional<std::string> filter;  // given on the command line ("" lets everything through)
    std::string error;  // a flag whose value cannot be used; the program ends with status 2
};

CommandLine parseCommandLine(int argc, char** argv);

// The demo capture, in the program's working folder.
inline constexpr const char* kDemoCapture = "demo.pcap";

}  // namespace tessel

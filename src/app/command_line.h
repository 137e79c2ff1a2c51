#pragma once
#include <optional>
#include <string>
#include <vector>

#include "capture/listen_address.h"
#include "core/address_range.h"

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
//   --sflow [ADDR:]PORT    collect sFlow v5 (port 6343 when left out)
//   --netflow [ADDR:]PORT  collect NetFlow v5/v9 and IPFIX (port 2055 when left out)
//   --local CIDR[,CIDR...] a feed's local ranges besides the private ones
//   --flow-timeout S       a feed's silent TCP flows are closed after S seconds
//   --record OUT           render the replay offline into a video (.mp4 H.264, .webm VP9)
//   --fps N, --size WxH    the video's frame rate (1 to 240, default 30) and size
//   --geoip FILE           a MaxMind-format .mmdb to locate foreign hosts by, for this run
//   --start TIME           a replayed file starts at TIME (startTimeFrom)

// Where --start puts a replay: an offset from the first frame ("90", "1:30", "1:02:03"), a time
// of day in the capture ("@14:03:10": the first such moment from the first frame on, local time)
// or a date and time ("2026-12-08 14:03:10" or with a T, local time).
struct StartTime {
    enum class Kind { None, Offset, TimeOfDay, DateTime };
    Kind kind = Kind::None;
    long long seconds = 0;  // the offset, the seconds of the day, or the calendar time
    std::string text;       // as written
};
// False with *error saying what reads.
bool parseStartTime(const std::string& text, StartTime* out, std::string* error);
// The capture time (microseconds) of `start` in a capture whose first frame is at `firstUs`.
long long startTimeFrom(const StartTime& start, long long firstUs);

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
    FeedKind feed = FeedKind::None;     // a flow feed instead of an adapter or a file
    ListenAddress listen;
    std::vector<AddressRange> localRanges;
    long long flowTimeoutMs = 0;  // 0: learned from the exporters
    std::string recordPath;       // --record: the video to write; empty: none
    int recordFps = 30;
    int recordWidth = 0, recordHeight = 0;  // --size; 0: the settings' window size
    std::optional<std::string> geoip;       // given on the command line ("" uses none)
    StartTime start;                        // --start
    std::string error;  // a flag whose value cannot be used; the program ends with status 2
};

CommandLine parseCommandLine(int argc, char** argv);

// What --fps and --size accept.
inline constexpr int kMaxRecordFps = 240;
inline constexpr int kMinRecordWidth = 160, kMinRecordHeight = 120;
inline constexpr int kMaxRecordWidth = 7680, kMaxRecordHeight = 4320;

// The demo capture, in the program's working folder.
inline constexpr const char* kDemoCapture = "demo.pcap";

}  // namespace tessel

#include "app/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/replay_state.h"

namespace tessel {

namespace {

bool dottedQuad(const std::string& text) {
    unsigned a, b, c, d;
    char tail;
    return std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) == 4 && a < 256 &&
           b < 256 && c < 256 && d < 256;
}

// "WxH": even numbers within the bounds (the video's 4:2:0 colour planes halve both sides).
bool parseVideoSize(const std::string& text, int* width, int* height) {
    char* end = nullptr;
    const long w = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || (*end != 'x' && *end != 'X')) return false;
    const char* rest = end + 1;
    const long h = std::strtol(rest, &end, 10);
    if (end == rest || *end || !std::isdigit(static_cast<unsigned char>(text[0])) ||
        !std::isdigit(static_cast<unsigned char>(*rest)))
        return false;
    if (w < kMinRecordWidth || w > kMaxRecordWidth || h < kMinRecordHeight ||
        h > kMaxRecordHeight || w % 2 != 0 || h % 2 != 0)
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
    bool fpsGiven = false, sizeGiven = false;
    if (argc > 1 && argv[1]) {
        line.fullscreen = std::strcmp(argv[1], "fullscreen") == 0;
        line.noSplash = std::strcmp(argv[1], "nosplash") == 0;
    }
    for (int i = 1; i < argc && argv[i] && line.error.empty(); ++i) {
        std::string flag = argv[i], value;
        const std::size_t equals = flag.find('=');
        const bool joined = flag.rfind("--", 0) == 0 && equals != std::string::npos;
        if (joined) {
            value = flag.substr(equals + 1);
            flag = flag.substr(0, equals);
        }
        auto takeValue = [&]() -> bool {
            if (joined) return true;
            if (i + 1 < argc && argv[i + 1]) {
                value = argv[++i];
                return true;
            }
            line.error = flag + " needs a value";
            return false;
        };
        if (flag == "-r" || flag == "--read") {
            if (takeValue()) line.replayPath = value;
            if (line.error.empty() && value.empty()) line.error = flag + " needs a file";
        } else if (flag == "--demo") {
            line.demo = true;
            line.loop = true;
        } else if (flag == "--version") {
            line.version = true;
        } else if (flag == "--loop") {
            line.loop = true;
        } else if (flag == "--speed") {
            if (!takeValue()) break;
            char* end = nullptr;
            const double speed = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(speed >= ReplayState::kSlowest) ||
                !(speed <= ReplayState::kFastest))
                line.error = "--speed: '" + value + "' is not a speed from 0.01 to 1000";
            else
                line.speed = speed;
        } else if (flag == "--host" || flag == "--gateway" || flag == "--netmask") {
            if (!takeValue()) break;
            if (!dottedQuad(value))
                line.error = flag + ": '" + value + "' is not a dotted IPv4 address";
            else
                (flag == "--host"      ? line.host
                 : flag == "--gateway" ? line.gateway
                                       : line.netmask) = value;
        } else if (flag == "--sflow" || flag == "--netflow") {
            // The port may be left out: the feed's default port on every address.
            const bool given = joined || (i + 1 < argc && argv[i + 1] && argv[i + 1][0] != '-');
            if (given) takeValue();
            const FeedKind kind = flag == "--sflow" ? FeedKind::Sflow : FeedKind::Netflow;
            std::string error;
            if (line.feed != FeedKind::None && line.feed != kind)
                line.error = "--sflow and --netflow: one source at a time";
            else if (!parseListenAddress(value, defaultPortOf(kind), &line.listen, &error))
                line.error = flag + ": " + error;
            else
                line.feed = kind;
        } else if (flag == "--local") {
            if (!takeValue()) break;
            std::string error;
            if (!parseAddressRanges(value, &line.localRanges, &error))
                line.error = "--local: " + error;
        } else if (flag == "--flow-timeout") {
            if (!takeValue()) break;
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(seconds >= 1) || !(seconds <= 86400))
                line.error =
                    "--flow-timeout: '" + value + "' is not a number of seconds (1 to 86400)";
            else
                line.flowTimeoutMs = static_cast<long long>(seconds * 1000);
        } else if (flag == "--record") {
            if (takeValue()) line.recordPath = value;
            if (line.error.empty() && value.empty()) line.error = "--record needs a file";
        } else if (flag == "--fps") {
            if (!takeValue()) break;
            fpsGiven = true;
            char* end = nullptr;
            const long fps = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || fps < 1 || fps > kMaxRecordFps)
                line.error = "--fps: '" + value + "' is not a frame rate from 1 to " +
                             std::to_string(kMaxRecordFps);
            else
                line.recordFps = int(fps);
        } else if (flag == "--size") {
            if (!takeValue()) break;
            sizeGiven = true;
            if (!parseVideoSize(value, &line.recordWidth, &line.recordHeight))
                line.error = "--size: '" + value + "' is not WIDTHxHEIGHT in even pixels from " +
                             std::to_string(kMinRecordWidth) + "x" +
                             std::to_string(kMinRecordHeight) + " to " +
                             std::to_string(kMaxRecordWidth) + "x" +
                             std::to_string(kMaxRecordHeight);
        } else if (flag == "--geoip") {
            if (takeValue()) line.geoip = value;
        } else if (flag == "--filter") {
            if (takeValue()) line.filter = value;
        } else if (flag == "--maxfps") {
            if (takeValue()) line.maxFps = value;
        }
    }
    if (line.demo && line.replayPath.empty()) line.replayPath = kDemoCapture;
    if (line.error.empty() && line.feed != FeedKind::None && !line.replayPath.empty())
        line.error = "a replay and a flow feed: one source at a time";
    if (line.error.empty() && !line.recordPath.empty() && line.replayPath.empty())
        line.error = "--record: only a replay can be recorded (-r FILE or --demo)";
    if (line.error.empty() && line.recordPath.empty() && (fpsGiven || sizeGiven))
        line.error = std::string(fpsGiven ? "--fps" : "--size") + " goes with --record";
    return line;
}

}  // namespace tessel

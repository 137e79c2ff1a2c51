#include "app/command_line.h"

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

}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
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
    return line;
}

}  // namespace tessel

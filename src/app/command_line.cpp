#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

// "h:mm:ss", "m:ss" or "s": false unless each part is digits and the later ones under 60.
bool clockParts(const std::string& text, long long* seconds) {
    long long total = 0;
    int parts = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t colon = text.find(':', at);
        const std::string part = text.substr(at, colon == std::string::npos ? colon : colon - at);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != part.npos)
            return false;
        const long long value = std::atoll(part.c_str());
        if (parts > 0 && (value >= 60 || part.size() != 2)) return false;
        total = total * 60 + value;
        if (++parts > 3) return false;
        if (colon == std::string::npos) break;
        at = colon + 1;
    }
    *seconds = total;
    return true;
}

}  // namespace

bool parseStartTime(const std::string& text, StartTime* out, std::string* error) {
    StartTime start;
    start.text = text;
    unsigned year, month, day, hour, minute, second;
    char sep, tail;
    if (!text.empty() && text[0] == '@') {
        long long s = 0;
        if (std::count(text.begin(), text.end(), ':') == 2 && clockParts(text.substr(1), &s) &&
            s < 86400) {
            start.kind = StartTime::Kind::TimeOfDay;
            start.seconds = s;
        }
    } else if (std::sscanf(text.c_str(), "%4u-%2u-%2u%c%2u:%2u:%2u%c", &year, &month, &day, &sep,
                           &hour, &minute, &second, &tail) == 7 &&
               (sep == ' ' || sep == 'T') && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
               hour < 24 && minute < 60 && second < 60) {
        std::tm tm{};
        tm.tm_year = int(year) - 1900;
        tm.tm_mon = int(month) - 1;
        tm.tm_mday = int(day);
        tm.tm_hour = int(hour);
        tm.tm_min = int(minute);
        tm.tm_sec = int(second);
        tm.tm_isdst = -1;
        start.kind = StartTime::Kind::DateTime;
        start.seconds = std::mktime(&tm);
    } else if (clockParts(text, &start.seconds)) {
        start.kind = StartTime::Kind::Offset;
    }
    if (start.kind == StartTime::Kind::None) {
        *error = "--start: '" + text +
                 "' is not an offset (90, 1:30, 1:02:03), a time of day (@14:03:10) or a date and "
                 "time (2026-12-08 14:03:10)";
        return false;
    }
    *out = start;
    return true;
}

long long startTimeFrom(const StartTime& start, long long firstUs) {
    constexpr long long kSecondUs = 1000000;
    switch (start.kind) {
        case StartTime::Kind::Offset:
            return firstUs + start.seconds * kSecondUs;
        case StartTime::Kind::DateTime:
            return start.seconds * kSecondUs;
        case StartTime::Kind::TimeOfDay: {
            // That time on the first frame's day, or on the next when it came before the frame.
            std::time_t first = std::time_t(firstUs / kSecondUs);
            std::tm tm{};
            localtime_r(&first, &tm);
            tm.tm_hour = int(start.seconds / 3600);
            tm.tm_min = int(start.seconds / 60 % 60);
            tm.tm_sec = int(start.seconds % 60);
            tm.tm_isdst = -1;
            std::tm sameDay = tm;
            long long at = (long long)std::mktime(&sameDay) * kSecondUs;
            if (at < firstUs - firstUs % kSecondUs) {
                tm.tm_mday += 1;
                at = (long long)std::mktime(&tm) * kSecondUs;
            }
            return at;
        }
        case StartTime::Kind::None:
            break;
    }
    return firstUs;
}

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
        } else if (flag == "--start") {
            if (!takeValue()) break;
            parseStartTime(value, &line.start, &line.error);
        } else if (flag == "--filter") {
            if (takeValue()) line.filter = value;
        } else if (flag == "--maxfps") {
            if (takeValue()) line.maxFps = value;
        }
    }
    if (line.demo && line.replayPath.empty()) line.replayPath = kDemoCapture;
    if (line.error.empty() && line.start.kind != StartTime::Kind::None) {
        if (line.replayPath.empty())
            line.error = "--start: only a replay of a file can start later";
        else if (line.replayPath == "-")
            line.error = "--start: standard input cannot seek; replay a file to start later";
    }
    if (line.error.empty() && line.feed != FeedKind::None && !line.replayPath.empty())
        line.error = "a replay and a flow feed: one source at a time";
    if (line.error.empty() && !line.recordPath.empty() && line.replayPath.empty())
        line.error = "--record: only a replay can be recorded (-r FILE or --demo)";
    if (line.error.empty() && line.recordPath.empty() && (fpsGiven || sizeGiven))
        line.error = std::string(fpsGiven ? "--fps" : "--size") + " goes with --record";
    // A recording steps through the file from its first frame; it has no seek of its own yet.
    if (line.error.empty() && !line.recordPath.empty() && line.start.kind != StartTime::Kind::None)
        line.error = "--start cannot be used with --record: a recording starts at the first frame";
    return line;
}

}  // namespace tessel

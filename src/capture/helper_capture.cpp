#include "capture/helper_capture.h"

#include <unistd.h>

#include <cstdlib>

#include "capture/stream_source.h"
#include "platform/helper_protocol.h"
#include "platform/process.h"

namespace tessel {

namespace {

static_assert(kHelperCountersFd == 3, "startChild's extra pipe is the child's descriptor 3");

// The helper opens the adapter at once; this is room for a slow machine, not a wait on traffic
// (the stream's header comes before any frame).
constexpr int kStartWaitMs = 10000;

HelperResult resultOf(int status) {
    switch (status) {
        case kHelperOk:
            return HelperResult::Ok;
        case kHelperNoAdapter:
            return HelperResult::NoAdapter;
        case kHelperNoRights:
            return HelperResult::NoRights;
        case kHelperBadFilter:
            return HelperResult::BadFilter;
        default:
            return HelperResult::Failed;
    }
}

// The helper's own line, without its program name and new line.
std::string helperLine(const std::string& errors) {
    std::string line = errors.substr(0, errors.find('\n'));
    const std::string prefix = "tessel-capture: ";
    if (line.rfind(prefix, 0) == 0) line = line.substr(prefix.size());
    return line;
}

std::vector<std::string> helperArguments(const char* mode, const std::string& nic,
                                         const std::string& filter) {
    std::vector<std::string> args{mode, nic};
    if (!filter.empty()) args.push_back(filter);
    return args;
}

// A helper this user may not run (the package gives it to the group tessel) is a missing
// right like any other; a missing helper is a broken installation.
HelperResult cannotStart(const std::string& helper, std::string* message) {
    if (::access(helper.c_str(), F_OK) == 0 && ::access(helper.c_str(), X_OK) != 0) {
        *message = "may not run " + helper + " (members of the group tessel may)";
        return HelperResult::NoRights;
    }
    *message = "cannot start " + helper;
    return HelperResult::Failed;
}

HelperResult failedStart(ChildProcess* child, std::string* message) {
    const int status = waitChild(child, kStartWaitMs);
    *message = helperLine(readChildErrors(*child));
    if (status < 0) {
        *message = "the capture helper did not start in time";
        endChild(child);
        return HelperResult::Failed;
    }
    endChild(child);
    if (message->empty()) *message = "the capture helper ended";
    return status == 0 ? HelperResult::Failed : resultOf(status);
}

}  // namespace

std::string captureHelperPath() {
    const char* overridden = std::getenv("TESSEL_CAPTURE_HELPER");
    if (overridden && *overridden) return overridden;
    return programDirectory() + "/tessel-capture";
}

HelperResult checkAdapterWithHelper(const std::string& nic, const std::string& filter,
                                    std::string* message) {
    ChildProcess child;
    if (!startChild(captureHelperPath(), helperArguments(kHelperModeCheck, nic, filter), false,
                    &child))
        return cannotStart(captureHelperPath(), message);
    const int status = waitChild(&child, kStartWaitMs);
    *message = helperLine(readChildErrors(child));
    endChild(&child);
    if (status < 0) *message = "the capture helper did not answer in time";
    return status < 0 ? HelperResult::Failed : resultOf(status);
}

cHelperCapture::~cHelperCapture() { stop(); }

HelperResult cHelperCapture::start(const std::string& nic, const std::string& filter,
                                   std::string* message) {
    const std::string helper = captureHelperPath();
    if (!startChild(helper, helperArguments(kHelperModeFrames, nic, filter), true, &framesChild_) ||
        !startChild(helper, helperArguments(kHelperModeRates, nic, filter), false, &rates_)) {
        stop();
        return cannotStart(helper, message);
    }
    auto frames = std::make_unique<cLiveStreamSource>(nic);
    std::string error;
    const int out = framesChild_.out;
    framesChild_.out = -1;  // the source owns it now
    const bool streaming = frames->open(out, kStartWaitMs, &error);
    frames_ = std::move(frames);
    if (!streaming) {
        frames_.reset();
        const HelperResult r = failedStart(&framesChild_, message);
        if (message->empty()) *message = error;
        stop();
        return r;
    }
    // The rates helper opened the same adapter with the same filter; it fails the same way, but
    // may still be on its way: only an early end counts.
    const int status = waitChild(&rates_, 0);
    if (status >= 0) {
        *message = helperLine(readChildErrors(rates_));
        stop();
        return status == 0 ? HelperResult::Failed : resultOf(status);
    }
    return HelperResult::Ok;
}

void cHelperCapture::stop() {
    frames_.reset();
    endChild(&framesChild_);
    endChild(&rates_);
}

}  // namespace tessel

#pragma once
// The capture helper's command line. Every argument comes from whoever may run the helper, which
// holds capture rights: each is checked before libpcap sees it.

enum class HelperMode { Frames, Rates, Check };

// Exit statuses, one per failure the caller tells apart.
enum HelperStatus {
    kHelperOk = 0,
    kHelperFailed = 1,     // anything else (libpcap could not start, a broken reader)
    kHelperUsage = 2,      // bad arguments
    kHelperNoAdapter = 3,  // no adapter of that name
    kHelperNoRights = 4,   // the process may not capture
    kHelperBadFilter = 5,  // the filter does not compile
};

struct HelperArguments {
    HelperMode mode = HelperMode::Check;
    const char* adapter = nullptr;
    const char* filter = "";  // "" lets everything through
};

// Fills `out` from argv ("MODE ADAPTER [FILTER]"). On a bad argument returns false with `why`
// pointing at a static text.
bool parseHelperArguments(int argc, char** argv, HelperArguments* out, const char** why);

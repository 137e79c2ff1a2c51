#pragma once
// The capture helper's command line. Every argument comes from whoever may run the helper, which
// holds capture rights: each is checked before libpcap sees it.
#include "platform/helper_protocol.h"

enum class HelperMode { Frames, Rates, Check };

struct HelperArguments {
    HelperMode mode = HelperMode::Check;
    const char* adapter = nullptr;
    const char* filter = "";  // "" lets everything through
};

// Fills `out` from argv ("MODE ADAPTER [FILTER]"). On a bad argument returns false with `why`
// pointing at a static text.
bool parseHelperArguments(int argc, char** argv, HelperArguments* out, const char** why);

#include "helper_arguments.h"

#include <net/if.h>

#include <cstring>

namespace {

// Longer filters than any a person writes; libpcap's compiler is not fed unbounded text.
constexpr std::size_t kMaxFilterLength = 4096;

bool adapterNameIsSound(const char* name) {
    const std::size_t length = std::strlen(name);
    if (length == 0 || length >= IFNAMSIZ) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (const char* c = name; *c; ++c) {
        // The kernel refuses '/', ':' only in aliases, and white space; nothing here needs more
        // than letters, digits and a few marks.
        const bool allowed = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                             (*c >= '0' && *c <= '9') || std::strchr("._-@:", *c) != nullptr;
        if (!allowed) return false;
    }
    return true;
}

bool filterIsSound(const char* filter) {
    std::size_t length = 0;
    for (const char* c = filter; *c; ++c, ++length) {
        if (length >= kMaxFilterLength) return false;
        const unsigned char u = static_cast<unsigned char>(*c);
        if (u < 0x20 && u != '\t') return false;  // no control characters, no new lines
        if (u > 0x7E) return false;
    }
    return true;
}

}  // namespace

bool parseHelperArguments(int argc, char** argv, HelperArguments* out, const char** why) {
    if (argc < 3 || argc > 4) {
        *why = "expected MODE ADAPTER [FILTER]";
        return false;
    }
    const char* mode = argv[1];
    if (std::strcmp(mode, tessel::kHelperModeFrames) == 0) {
        out->mode = HelperMode::Frames;
    } else if (std::strcmp(mode, tessel::kHelperModeRates) == 0) {
        out->mode = HelperMode::Rates;
    } else if (std::strcmp(mode, tessel::kHelperModeCheck) == 0) {
        out->mode = HelperMode::Check;
    } else {
        *why = "MODE must be frames, rates or check";
        return false;
    }
    if (!adapterNameIsSound(argv[2])) {
        *why = "ADAPTER is not an adapter name";
        return false;
    }
    out->adapter = argv[2];
    if (argc == 4) {
        if (!filterIsSound(argv[3])) {
            *why = "FILTER must be printable text of at most 4096 characters";
            return false;
        }
        out->filter = argv[3];
    }
    return true;
}

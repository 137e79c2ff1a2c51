#include "core/text_number.h"

#include <cctype>
#include <climits>
#include <cstring>

namespace tessel {

int atoiText(const char* text) {
    if (!text) return 0;
    return atoiText(text, text + std::strlen(text));
}

int atoiText(const char* begin, const char* end) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(begin);
    const unsigned char* stop = reinterpret_cast<const unsigned char*>(end);
    while (p < stop && std::isspace(*p)) ++p;
    bool negative = false;
    if (p < stop && (*p == '+' || *p == '-')) negative = (*p++ == '-');
    long long value = 0;
    while (p < stop && *p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace tessel

#include "core/wide_text.h"

namespace tessel {

std::wstring toWideCut(const std::string& text) {
    // Byte-wise widening: our texts are plain ASCII, and a stray high byte must not stop the
    // conversion the way a multibyte decoder would.
    std::wstring out;
    std::size_t n = text.size() < 199 ? text.size() : 199;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] == '\0') break;
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    }
    return out;
}

std::string narrowText(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out += (*text < 128) ? static_cast<char>(*text) : '?';
    return out;
}

}  // namespace tessel

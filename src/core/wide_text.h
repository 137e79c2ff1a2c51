#pragma once
#include <string>

namespace tessel {

// 8-bit text to wide text through a 200-character buffer: at most 199 characters survive.
std::wstring toWideCut(const std::string& text);
// Wide GUI text back to 8-bit text; the program's texts are plain ASCII, anything else reads '?'.
std::string narrowText(const wchar_t* text);

}  // namespace tessel

#pragma once
#include <string>

namespace tessel {

// C atoi semantics without its undefined overflow: leading white space, an optional sign, digits
// up to the first non-digit; no digits gives 0; values beyond int clamp to INT_MIN/INT_MAX.
int atoiText(const char* text);
// The same over the characters from `begin` up to `end`.
int atoiText(const char* begin, const char* end);
inline int atoiText(const std::string& text) { return atoiText(text.c_str()); }

}  // namespace tessel

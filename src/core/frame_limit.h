#pragma once
#include <string>

namespace tessel {

// The frame limits the settings window offers (0 is unlimited).
inline constexpr int kFrameLimitChoices[] = {0, 60, 30};

// A `maxfps` text as the program reads it: a whole number from 1 to 1000, anything else 0
// (as fast as the driver allows).
int frameLimitFrom(const std::string& text);

}  // namespace tessel

#pragma once
#include <ctime>
#include <string>

namespace tessel {

// strftime in the C locale, whatever the user's locale: English day and month names always.
// Any thread.
// Gives the empty text when the conversion fails or the result does not fit in `capacity` bytes.
std::string formatLocalTimeC(const char* format, std::time_t when, std::size_t capacity = 128);

}  // namespace tessel

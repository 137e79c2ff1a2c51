#pragma once

namespace tessel {

// The folder of the queue of record files, relative to the working directory.
inline constexpr const char* intelFolder = "intel";

}  // namespace tessel

#pragma once
#include <string>

namespace tessel {

// An installed tessel (data under <prefix>/share/tessel beside <prefix>/bin) runs in a folder of
// its own per user, ${XDG_DATA_HOME:-~/.local/share}/Ashgrove/Tessel/, holding copies of the data
// files and the intel queue, so it works from any directory and never writes into the prefix.
// A tessel with res.dat beside it (the build's ready-to-run folder) runs where it is started.
// Main thread, first thing at start-up.
// Gives the folder changed into, or "" when nothing was changed.
std::string enterUserWorkingFolder();

// The same decision, without side effects: the installed data folder, or "".
std::string installedDataFolder(const std::string& programDir);
std::string userWorkingFolder();

}  // namespace tessel

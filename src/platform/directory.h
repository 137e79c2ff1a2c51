#pragma once
#include <string>
#include <vector>

namespace tessel {

// Folder listings and clean-ups; any thread.

// Names in `dir`, in the order the file system returns them, without "." and "..".
// Gives false when the folder cannot be opened.
bool listDirectory(const std::string& dir, std::vector<std::string>* names);

// Deletes every entry of `dir` that can be deleted (sub-folders stay); a missing folder is no
// error.
void emptyDirectory(const std::string& dir);

}  // namespace tessel

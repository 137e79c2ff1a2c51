#pragma once
#include <map>
#include <optional>
#include <string>

namespace tessel {

// The settings store: a text file with one section "[Software\Ashgrove\Tessel]" of name=value
// lines. Blanks around names and values are trimmed, '#' and ';' start comment lines, the last
// duplicate wins, and "name=" is the empty text (not a missing value). Any thread.
extern const char* const kConfigSection;

// $VARIABLE when set and not empty, else $HOME/`homeRelative` (XDG base folders).
std::string xdgBaseFolder(const char* variable, const char* homeRelative);

// $TESSEL_CONFIG if set, else ${XDG_CONFIG_HOME:-$HOME/.config}/Ashgrove/Tessel.conf.
std::string configFilePath();

// The value of `name` in the section of the file at `path`; nullopt when the file, the section
// or the name is missing. Reads the file anew at every call.
std::optional<std::string> readConfigValue(const std::string& path, const std::string& name);

// Sets the given values in the section, keeping every other line of the file as it was (creating
// the file, its folder and the section when missing). Writes a temporary file beside it and
// renames it over the old one, so a reader never sees half a file. Gives false with a reason.
bool writeConfigValues(const std::string& path, const std::map<std::string, std::string>& values,
                       std::string* error);

}  // namespace tessel

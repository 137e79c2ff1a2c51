#pragma once
#include <string>

namespace tessel {

// Reader of the settings store (the text file of platform/config_file.h), under the key path
// "Software\Ashgrove\Tessel". Caches nothing: every read opens the file anew. Main thread only.
class cRegistry {
  public:
    cRegistry();
    virtual ~cRegistry();

    // The value's text, or a copy of `defaultValue` whenever the value cannot be had.
    std::string readValue(std::string name, std::string defaultValue);

  private:
    std::string keyPath;
};

}  // namespace tessel

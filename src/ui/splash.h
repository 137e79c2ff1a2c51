#pragma once
#include <cstdint>
#include <string>

namespace tessel {

// A borderless, always-on-top, centred picture shown while the program starts, with one colour
// made see-through. Main thread; closed before the engine device is created.
class CSplash {
  public:
    CSplash(const std::string& bitmapFile, std::uint32_t colourKey);
    virtual ~CSplash();
    bool showSplash();
    bool closeSplash();

  private:
    struct Impl;
    Impl* impl;
};

}  // namespace tessel

#pragma once
#include <string>

namespace tessel {

// Adapter discovery and capture start, run once on the main thread before the render loop.
// Every failure ends the process (see the messages in the implementation).
class cNetInterface {
  public:
    virtual ~cNetInterface() = default;
    // Fills localAddresses/netMasks/gatewayAddresses for `nic` and adds this host (node 0) and
    // the default gateway (node 1).
    void discoverAdapter(std::string nic);
    // Opens the capture and statistics handles on `nic` and starts their two threads.
    void startCapture(std::string nic);
};

}  // namespace tessel

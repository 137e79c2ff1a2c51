#pragma once
#include <string>

#include "core/host_location.h"

namespace tessel {

class cConnectionList;
class cNodeManager;
class cProgramTable;

// The information panel's texts, by the pick identifier of a node cube or a traffic beam. Empty
// text when no record carries the identifier. A located foreign node has its location lines
// after the address. With a program table, this host's panel adds its busiest programs and a
// beam's panel its connection's program. Main thread; read under the lists' locks.
std::string nodeInfoText(const cNodeManager& nodes, int pickId,
                         const cProgramTable* programs = nullptr);
std::string beamInfoText(const cNodeManager& nodes, const cConnectionList& connections, int pickId,
                         const cProgramTable* programs = nullptr);

// A foreign host's location as the panel shows it, each line at most 28 characters (the network
// line 26, for names in capitals): "country:
// United States (US)" and "network: AS15169 GOOGLE", then "anycast network" when the data says
// so; or the range's wording ("private network"); or "no location data".
std::string locationLines(const HostLocation& location);

// An IPv6 address too wide for the panel (more than 26 characters), shortened in the middle:
// "2001:db8:85a...8a2e:370:7348" (the HUD font has no ellipsis character). Anything else as it is.
std::string fittedAddress(const std::string& address);

}  // namespace tessel

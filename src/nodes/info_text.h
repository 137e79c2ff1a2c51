#pragma once
#include <string>

namespace tessel {

class cConnectionList;
class cNodeManager;

// The information panel's texts, by the pick identifier of a node cube or a traffic beam. Empty
// text when no record carries the identifier. Main thread; read under the lists' locks.
std::string nodeInfoText(const cNodeManager& nodes, int pickId);
std::string beamInfoText(const cNodeManager& nodes, const cConnectionList& connections, int pickId);

// An IPv6 address too wide for the panel (more than 26 characters), shortened in the middle:
// "2001:db8:85a...8a2e:370:7348" (the HUD font has no ellipsis character). Anything else as it is.
std::string fittedAddress(const std::string& address);

}  // namespace tessel

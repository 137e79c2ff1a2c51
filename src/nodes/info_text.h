#pragma once
#include <string>

namespace tessel {

class cConnectionList;
class cNodeManager;
class cProgramTable;

// The information panel's texts, by the pick identifier of a node cube or a traffic beam. Empty
// text when no record carries the identifier. With a program table, this host's panel adds its
// busiest programs and a beam's panel its connection's program. Main thread; read under the
// lists' locks.
std::string nodeInfoText(const cNodeManager& nodes, int pickId,
                         const cProgramTable* programs = nullptr);
std::string beamInfoText(const cNodeManager& nodes, const cConnectionList& connections, int pickId,
                         const cProgramTable* programs = nullptr);

// An IPv6 address too wide for the panel (more than 26 characters), shortened in the middle:
// "2001:db8:85a...8a2e:370:7348" (the HUD font has no ellipsis character). Anything else as it is.
std::string fittedAddress(const std::string& address);

}  // namespace tessel

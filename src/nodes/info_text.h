#pragma once
#include <string>

namespace tessel {

// The information panel's texts, by the pick identifier of a node cube or a traffic beam. Empty
// text when no record carries the identifier. Main thread; read under the lists' locks.
std::string nodeInfoText(int pickId);
std::string beamInfoText(int pickId);

}  // namespace tessel

#pragma once
#include <string>
#include <vector>

#include "nodes/node_manager.h"

namespace tessel {

// The indices of the nodes that `text` names, in list order: a case-insensitive part of the
// address, the resolved host name, the country code, the AS number ("AS15169" or "15169") or
// the AS name. Empty text names none.
std::vector<int> matchingNodes(const std::vector<SNetNode>& nodes, const std::string& text);

}  // namespace tessel

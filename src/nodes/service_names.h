#pragma once
#include <string>

namespace tessel {

// Service name for a TCP port from "services.txt" in the working directory (read afresh on each
// call): the text before the first tab of the first line containing "<port>/tcp" anywhere.
// "unknown" on any problem. Any thread; touches no shared data.
std::string lookupServiceName(int port);

}  // namespace tessel

#pragma once
#include <string>

namespace tessel {

// PLACEHOLDER interface, replaced by the node manager.
class cNodeManager {
public:
    virtual ~cNodeManager() = default;
    int nodeCount() const;
    bool isGatewayAt(int index) const;
    void pruneOneNode();
};

}  // namespace tessel

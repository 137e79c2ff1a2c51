#include "support/worldnodes_support.h"

#include "core/adapter_addresses.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "support/test_support.h"

namespace tessel::test {
using namespace irr;

WorldFixtureDevice::WorldFixtureDevice(bool mountMedia) {
    resetNodeWorld();
    device_ = createNullDevice(mountMedia);
}

WorldFixtureDevice::~WorldFixtureDevice() {
    resetNodeWorld();
    if (device_) device_->drop();
}

void resetNodeWorld() {
    cNodeManager().clearAllNodes();
    beamList.clear();
    localAddresses.clear();
    netMasks.clear();
    gatewayAddresses.clear();
    localIPv6Addresses.clear();
    gatewayIPv6Address.clear();
}

void setLocalSubnet(const std::string& address, const std::string& mask) {
    localAddresses = {address};
    netMasks = {mask};
}

bool metaHolds(scene::ITriangleSelector* meta, scene::ITriangleSelector* selector) {
    if (!meta || !selector) return false;
    for (u32 i = 0; i < meta->getSelectorCount(); ++i)
        if (meta->getSelector(i) == selector) return true;
    return false;
}

namespace {
bool holds(scene::ISceneNode* parent, scene::ISceneNode* node) {
    for (scene::ISceneNode* child : parent->getChildren())
        if (child == node || holds(child, node)) return true;
    return false;
}
}  // namespace

bool sceneHolds(scene::ISceneManager* smgr, scene::ISceneNode* node) {
    return holds(smgr->getRootSceneNode(), node);
}

}  // namespace tessel::test

#include "support/worldnodes_support.h"

#include <iterator>
#include <memory>
#include <stdexcept>
#include <vector>

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

AdapterAddresses& testAdapter() {
    static AdapterAddresses adapter;
    return adapter;
}

namespace {
std::unique_ptr<cNodeManager>& nodesHolder() {
    static std::unique_ptr<cNodeManager> nodes = std::make_unique<cNodeManager>(testAdapter());
    return nodes;
}
}  // namespace

cNodeManager& testNodes() { return *nodesHolder(); }

int nodeIndexOf(const cNodeManager& nodes, const std::string& address) {
    const std::vector<SNetNode> all = nodes.copyAllNodes();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i].address == address) return static_cast<int>(i);
    return -1;
}

const STrafficBeam& TestConnectionList::at(std::size_t index) const {
    if (index >= size()) throw std::out_of_range("TestConnectionList::at");
    return *std::next(begin(), static_cast<std::ptrdiff_t>(index));
}

TestConnectionList& testConnections() {
    static TestConnectionList connections;
    return connections;
}

SSceneContext testSceneContext() {
    SSceneContext context;
    context.nodes = &testNodes();
    context.connections = &testConnections();
    return context;
}

void resetNodeWorld() {
    nodesHolder() = std::make_unique<cNodeManager>(testAdapter());
    testConnections().clear();
    testAdapter() = AdapterAddresses();
}

cNodeManager& freshNodeWorld() {
    resetNodeWorld();
    return testNodes();
}

void setLocalSubnet(const std::string& address, const std::string& mask) {
    testAdapter().localAddresses = {address};
    testAdapter().netMasks = {mask};
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

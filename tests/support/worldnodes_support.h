#pragma once
// Helpers for the node list and scene tests: a headless device that goes with the test, and the
// node list, beam list and adapter addresses the tests share (emptied by each fixture).
#include <irrlicht.h>

#include <cstddef>
#include <string>

#include "core/adapter_addresses.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "scene/scene_context.h"

namespace tessel::test {

using tessel::AdapterAddresses;
using tessel::cConnectionList;
using tessel::cNodeManager;

// A NULL-driver device (res.dat mounted) dropped on destruction; resets the shared lists first.
class WorldFixtureDevice {
  public:
    explicit WorldFixtureDevice(bool mountMedia = true);
    ~WorldFixtureDevice();
    WorldFixtureDevice(const WorldFixtureDevice&) = delete;
    WorldFixtureDevice& operator=(const WorldFixtureDevice&) = delete;
    irr::IrrlichtDevice* device() const { return device_; }
    irr::scene::ISceneManager* scene() const { return device_->getSceneManager(); }

  private:
    irr::IrrlichtDevice* device_ = nullptr;
};

// The beam list the tests share, with what only tests need: a record by position, and starting
// over with an empty list.
class TestConnectionList : public cConnectionList {
  public:
    // The record at `index` in list order (a walk); throws std::out_of_range past the end.
    const STrafficBeam& at(std::size_t index) const;
    // Replaces the list with an empty one (refusal count included).
    void clear() { static_cast<cConnectionList&>(*this) = cConnectionList(); }
};

// The lists the node and scene tests work on (the program's run owns its own), with the
// adapter's addresses the node list reads.
AdapterAddresses& testAdapter();
cNodeManager& testNodes();
TestConnectionList& testConnections();
// A scene context on those lists (engine fields left empty).
tessel::SSceneContext testSceneContext();

// A new, empty node list (a reference to the old one is void from then on), an empty beam list
// and no adapter addresses.
void resetNodeWorld();
// resetNodeWorld, then the new node list (for a fixture's member, declared before any scene
// context made from testSceneContext()).
cNodeManager& freshNodeWorld();
// Index of the node with exactly this address in list order, or -1.
int nodeIndexOf(const cNodeManager& nodes, const std::string& address);
// Sets this host's address and mask as adapter discovery would.
void setLocalSubnet(const std::string& address, const std::string& mask);
// True when `meta` holds `selector` directly.
bool metaHolds(irr::scene::ITriangleSelector* meta, irr::scene::ITriangleSelector* selector);
// True when `node` is still in the scene graph under the root.
bool sceneHolds(irr::scene::ISceneManager* smgr, irr::scene::ISceneNode* node);

}  // namespace tessel::test

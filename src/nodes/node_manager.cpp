#include "nodes/node_manager.h"

#include <cstdint>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "capture/adapter_lists.h"
#include "core/text_number.h"
#include "platform/lcg_random.h"
#include "scene/connection_list.h"
#include "scene/world.h"

namespace tessel {
using namespace irr;

namespace {

// The process's one node list; guarded by nodeListMutex().
std::vector<SNetNode>& nodeList() {
    static std::vector<SNetNode> list;
    return list;
}

// Address -> first index in list order, so a look-up by address takes constant time (every
// record of an intel pass looks up two). Rebuilt when a removal moves later records forward.
std::unordered_map<std::string, int>& addressIndex() {
    static std::unordered_map<std::string, int> index;
    return index;
}

void rebuildAddressIndex() {
    std::unordered_map<std::string, int>& index = addressIndex();
    index.clear();
    const std::vector<SNetNode>& list = nodeList();
    for (std::size_t i = 0; i < list.size(); ++i)
        index.emplace(list[i].address, static_cast<int>(i));
}

struct SOctets {
    int o[4] = {0, 0, 0, 0};
    unsigned sum() const {
        return static_cast<unsigned>(o[0]) + static_cast<unsigned>(o[1]) +
               static_cast<unsigned>(o[2]) + static_cast<unsigned>(o[3]);
    }
};

// Splits at '.' and converts each part with atoi rules. Odd text ("1.2", "") never reads past
// its end: missing octets are 0, anything after the fourth part is ignored.
SOctets parseOctets(const std::string& address) {
    SOctets result;
    std::size_t start = 0;
    for (int k = 0; k < 4 && start <= address.size(); ++k) {
        std::size_t dot = address.find('.', start);
        std::string part =
            address.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        result.o[k] = atoiText(part);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return result;
}

// "%d.%d.%d.%d" with unparsed fields left at 0.
void scanDotted(const std::string& text, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    std::sscanf(text.c_str(), "%d.%d.%d.%d", &out[0], &out[1], &out[2], &out[3]);
}

// Valid octets keep these products far inside 32 bits; 64 bits keeps odd text (atoi values up to
// INT_MAX) from overflowing, with the C sign rules of % kept.
float gridCoordinate(std::int64_t product, std::int64_t modulus, std::int64_t offset) {
    return static_cast<float>(product % modulus + offset);
}

bool listFull() {
    if (static_cast<int>(nodeList().size()) < kNodeListLimit) return false;
    std::printf("nodemngr: node list limit exceeded.\n");
    std::fflush(stdout);
    return true;
}

int appendNode(const std::string& address, const core::vector3df& position, int isLocal,
               unsigned char isGateway) {
    std::vector<SNetNode>& list = nodeList();
    SNetNode node;
    node.position = position;
    node.isLocal = isLocal;
    node.isGateway = isGateway;
    node.address = address;
    node.pickId = static_cast<int>(list.size()) + 1000;
    list.push_back(node);
    addressIndex().emplace(address, static_cast<int>(list.size()) - 1);
    return static_cast<int>(list.size()) - 1;
}

// Moves the last node up the axes until no older node, except the one just before it, lies
// within 200 on any single axis. Each axis is tested on its own.
void spreadNewNode() {
    std::vector<SNetNode>& list = nodeList();
    if (list.empty()) return;
    const int size = static_cast<int>(list.size());
    core::vector3df& live = list.back().position;
    int moved;
    do {
        moved = 0;
        const core::vector3df p = live;
        for (int j = 0; j < size - 2; ++j) {
            const core::vector3df& q = list[j].position;
            if (q.X - 200 < p.X && p.X < q.X + 200) {
                live.X += 200;
                ++moved;
            }
            if (q.Y - 200 < p.Y && p.Y < q.Y + 200) {
                live.Y += 200;
                ++moved;
            }
            if (q.Z - 200 < p.Z && p.Z < q.Z + 200) {
                live.Z += 200;
                ++moved;
            }
        }
    } while (moved > 0);
}

}  // namespace

std::recursive_mutex& nodeListMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

int cNodeManager::addLocalNode(const std::string& address) {
    NodeListLock lock;
    if (listFull()) return -1;
    core::vector3df position(500, 500, 500);  // this host: no draws
    if (!nodeList().empty()) {
        int draws[2];
        lcgSeedAndDraw(parseOctets(address).sum(), 2, draws);
        position.X = gridCoordinate(std::int64_t(draws[0]) * 200, 6000, 500);
        position.Y = 500;
        position.Z = gridCoordinate(std::int64_t(draws[1]) * 200, 6000, 500);
    }
    return appendNode(address, position, 1, 0);
}

int cNodeManager::addGatewayNode(const std::string& address) {
    NodeListLock lock;
    if (listFull()) return -1;
    return appendNode(address, core::vector3df(1000, 200, 1000), 1, 1);
}

int cNodeManager::addForeignNode(const std::string& address) {
    NodeListLock lock;
    if (listFull()) return -1;
    const SOctets oct = parseOctets(address);
    int r = 0;
    lcgSeedAndDraw(oct.sum(), 1, &r);
    core::vector3df position(gridCoordinate(std::int64_t(r) * oct.o[1] * 200, 10000, 1000),
                             gridCoordinate(std::int64_t(r) * oct.o[2] * 200, 1200, 500),
                             gridCoordinate(std::int64_t(r) * oct.o[3] * 200, 10000, 1000));
    int index = appendNode(address, position, 0, 0);
    spreadNewNode();
    return index;
}

int cNodeManager::findOrAddNode(const std::string& address, int refresh) {
    NodeListLock lock;
    int index = findNodeByAddress(address);
    if (index >= 0) {
        if (refresh != 0) nodeList()[index].age = 3;
        return index;
    }
    return isInLocalSubnet(address) ? addLocalNode(address) : addForeignNode(address);
}

bool cNodeManager::isInLocalSubnet(const std::string& address) const {
    // Read-only after start-up; an adapter without an address or mask has no subnet.
    if (localAddresses.empty() || netMasks.empty()) return false;
    int local[4], addr[4], mask[4];
    scanDotted(localAddresses.front(), local);
    scanDotted(address, addr);
    scanDotted(netMasks.front(), mask);
    for (int k = 0; k < 4; ++k) {
        if (((addr[k] & mask[k]) & 0xFF) != ((local[k] & mask[k]) & 0xFF)) return false;
    }
    return true;
}

SNetNode& cNodeManager::nodeAt(int index) {
    NodeListLock lock;
    std::vector<SNetNode>& list = nodeList();
    if (index >= 0 && index < static_cast<int>(list.size())) return list[index];
    // A stale handle must not write into a neighbour's memory; each thread gets its own scratch.
    thread_local SNetNode scratch;
    scratch = SNetNode();
    return scratch;
}

bool cNodeManager::copyNodeAt(int index, SNetNode* out) const {
    NodeListLock lock;
    const std::vector<SNetNode>& list = nodeList();
    if (!out || index < 0 || index >= static_cast<int>(list.size())) return false;
    *out = list[index];
    return true;
}

std::string cNodeManager::displayNameFor(const std::string& address) const {
    NodeListLock lock;
    int index = findNodeByAddress(address);
    if (index < 0) return std::string();
    const SNetNode& node = nodeList()[index];
    return node.hostName.empty() ? node.address : node.hostName;
}

namespace {
// Every cube and beam collides with its own copy of the world, taken when it was made, and the
// camera with worldSelector; a cube's box selector keeps a plain pointer to its cube. So before
// a cube goes, its selector must leave every one of those worlds (every copy of it: a world
// refilled without clearing holds it more than once), or the next collision query reads the
// freed cube.
void removeSelectorFromEveryWorld(scene::ISceneNode* node, scene::ITriangleSelector* selector) {
    for (scene::ISceneNode* child : node->getChildren()) {
        for (scene::ISceneNodeAnimator* animator : child->getAnimators()) {
            if (animator->getType() != scene::ESNAT_COLLISION_RESPONSE) continue;
            auto* world = dynamic_cast<scene::IMetaTriangleSelector*>(
                static_cast<scene::ISceneNodeAnimatorCollisionResponse*>(animator)->getWorld());
            if (world)
                while (world->removeTriangleSelector(selector)) {
                }
        }
        removeSelectorFromEveryWorld(child, selector);
    }
}
}  // namespace

void cNodeManager::pruneOneNode() {
    NodeListLock lock;
    std::vector<SNetNode>& list = nodeList();
    for (std::size_t i = 0; i < list.size(); ++i) {
        SNetNode& node = list[i];
        if (!(node.age > 45 && node.isLocal != 1 && node.resolveState == 2 && node.isGateway != 1 &&
              !isBeamEndpoint(node.address) && node.sceneNode != nullptr && i != 0))
            continue;
        scene::ISceneNode* cube = node.sceneNode;
        scene::ISceneManager* sceneManager = cube->getSceneManager();
        if (scene::ITriangleSelector* selector = cube->getTriangleSelector()) {
            if (worldSelector)
                while (worldSelector->removeTriangleSelector(selector)) {
                }
            if (sceneManager)
                removeSelectorFromEveryWorld(sceneManager->getRootSceneNode(), selector);
        }
        cube->remove();
        if (sceneManager && worldSelector) fillWorldSelector(sceneManager, worldSelector);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        rebuildAddressIndex();
        return;
    }
}

int cNodeManager::nodeCount() const {
    NodeListLock lock;
    return static_cast<int>(nodeList().size());
}

bool cNodeManager::isGatewayAt(int index) const {
    NodeListLock lock;
    const std::vector<SNetNode>& list = nodeList();
    return index >= 0 && index < static_cast<int>(list.size()) && list[index].isGateway == 1;
}

int cNodeManager::findNodeByAddress(const std::string& address) const {
    NodeListLock lock;
    auto it = addressIndex().find(address);
    return it == addressIndex().end() ? -1 : it->second;
}

int cNodeManager::findNodeByPickId(int pickId) const {
    NodeListLock lock;
    const std::vector<SNetNode>& list = nodeList();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].pickId == pickId) return static_cast<int>(i);
    }
    return -1;
}

void cNodeManager::clearAllNodes() {
    NodeListLock lock;
    nodeList().clear();
    addressIndex().clear();
}

}  // namespace tessel

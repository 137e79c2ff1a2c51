#include "nodes/node_manager.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/adapter_addresses.h"
#include "core/address_text.h"
#include "core/text_number.h"
#include "nodes/connection_list.h"
#include "platform/lcg_random.h"

namespace tessel {

namespace {

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

// An IPv6 address's 16 bytes folded into four "octets" (each the XOR of four bytes), so that
// the IPv4 placement formulas give it a stable spot in the same ranges. Not an IPv6 address:
// all 0.
SOctets foldedIPv6(const std::string& address) {
    SOctets result;
    in6_addr a{};
    if (inet_pton(AF_INET6, address.c_str(), &a) != 1) return result;
    for (int k = 0; k < 16; ++k) result.o[k / 4] ^= a.s6_addr[k];
    return result;
}

// The octets the placement formulas take.
SOctets octetsOf(const std::string& address) {
    return isIPv6Text(address) ? foldedIPv6(address) : parseOctets(address);
}

// True when the first `bits` bits of two IPv6 addresses agree.
bool samePrefix(const in6_addr& a, const in6_addr& b, int bits) {
    for (int k = 0; k < 16 && bits > 0; ++k, bits -= 8) {
        const int mask = bits >= 8 ? 0xFF : (0xFF << (8 - bits)) & 0xFF;
        if ((a.s6_addr[k] & mask) != (b.s6_addr[k] & mask)) return false;
    }
    return true;
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

}  // namespace

cNodeManager::cNodeManager(const AdapterAddresses& adapter) : adapter_(adapter) {}

void cNodeManager::rebuildAddressIndex() {
    addressIndex_.clear();
    for (std::size_t i = 0; i < list_.size(); ++i)
        addressIndex_.emplace(list_[i].address, static_cast<int>(i));
}

// Link-local (unicast fe80::/10, or multicast of link scope such as neighbour discovery's
// ff02::1:ffxx:xxxx), or on one of the adapter's on-link prefixes.
bool cNodeManager::isLocalIPv6(const std::string& address) const {
    in6_addr a{};
    if (inet_pton(AF_INET6, address.c_str(), &a) != 1) return false;
    if (a.s6_addr[0] == 0xFE && (a.s6_addr[1] & 0xC0) == 0x80) return true;
    if (a.s6_addr[0] == 0xFF && (a.s6_addr[1] & 0x0F) == 0x02) return true;
    for (const LocalIPv6& local : adapter_.localIPv6Addresses) {
        in6_addr prefix{};
        if (inet_pton(AF_INET6, local.address.c_str(), &prefix) == 1 &&
            samePrefix(a, prefix, local.prefixLength))
            return true;
    }
    return false;
}

bool cNodeManager::listFull() {
    if (static_cast<int>(list_.size()) < kNodeListLimit) return false;
    ++refused_;
    std::printf("nodemngr: node list limit exceeded.\n");
    std::fflush(stdout);
    return true;
}

int cNodeManager::appendNode(const std::string& address, const Vec3& position, int isLocal,
                             unsigned char isGateway) {
    std::vector<SNetNode>& list = list_;
    SNetNode node;
    node.position = position;
    node.isLocal = isLocal;
    node.isGateway = isGateway;
    node.address = address;
    node.pickId = static_cast<int>(list.size()) + 1000;
    list.push_back(node);
    addressIndex_.emplace(address, static_cast<int>(list.size()) - 1);
    return static_cast<int>(list.size()) - 1;
}

// Moves the last node up the axes until no older node, except the one just before it, lies
// within 200 on any single axis. Each axis is tested on its own.
void cNodeManager::spreadNewNode() {
    std::vector<SNetNode>& list = list_;
    if (list.empty()) return;
    const int size = static_cast<int>(list.size());
    Vec3& live = list.back().position;
    int moved;
    do {
        moved = 0;
        const Vec3 p = live;
        for (int j = 0; j < size - 2; ++j) {
            const Vec3& q = list[j].position;
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

int cNodeManager::addLocalLocked(const std::string& address) {
    if (listFull()) return -1;
    Vec3 position{500, 500, 500};  // this host: no draws
    if (!list_.empty()) {
        int draws[2];
        lcgSeedAndDraw(octetsOf(address).sum(), 2, draws);
        position.X = gridCoordinate(std::int64_t(draws[0]) * 200, 6000, 500);
        position.Y = 500;
        position.Z = gridCoordinate(std::int64_t(draws[1]) * 200, 6000, 500);
    }
    return appendNode(address, position, 1, 0);
}

int cNodeManager::addGatewayLocked(const std::string& address) {
    if (listFull()) return -1;
    return appendNode(address, kGatewayPosition, 1, 1);
}

int cNodeManager::addForeignLocked(const std::string& address) {
    if (listFull()) return -1;
    const SOctets oct = octetsOf(address);
    int r = 0;
    lcgSeedAndDraw(oct.sum(), 1, &r);
    Vec3 position{gridCoordinate(std::int64_t(r) * oct.o[1] * 200, 10000, 1000),
                  gridCoordinate(std::int64_t(r) * oct.o[2] * 200, 1200, 500),
                  gridCoordinate(std::int64_t(r) * oct.o[3] * 200, 10000, 1000)};
    int index = appendNode(address, position, 0, 0);
    spreadNewNode();
    return index;
}

// This host's other addresses (its IPv6 ones beside an IPv4 one) and the IPv6 router belong to
// nodes 0 and 1: they never make cubes of their own.
int cNodeManager::aliasLocked(const std::string& address) const {
    const std::vector<SNetNode>& list = list_;
    if (address == adapter_.gatewayIPv6Address && list.size() > 1 && list[1].isGateway == 1)
        return 1;
    if (list.empty() || list[0].isLocal != 1) return -1;
    for (const LocalIPv6& local : adapter_.localIPv6Addresses)
        if (local.address == address) return 0;
    return -1;
}

int cNodeManager::findLocked(const std::string& address) const {
    auto it = addressIndex_.find(address);
    return it == addressIndex_.end() ? aliasLocked(address) : it->second;
}

SNetNode* cNodeManager::recordAt(int index) {
    return index >= 0 && index < static_cast<int>(list_.size()) ? &list_[std::size_t(index)]
                                                                : nullptr;
}

const SNetNode* cNodeManager::recordAt(int index) const {
    return index >= 0 && index < static_cast<int>(list_.size()) ? &list_[std::size_t(index)]
                                                                : nullptr;
}

int cNodeManager::addLocalNode(const std::string& address) {
    std::lock_guard<std::mutex> lock(lock_);
    return addLocalLocked(address);
}

int cNodeManager::addGatewayNode(const std::string& address) {
    std::lock_guard<std::mutex> lock(lock_);
    return addGatewayLocked(address);
}

int cNodeManager::findOrAddNode(const std::string& address, int refresh) {
    std::lock_guard<std::mutex> lock(lock_);
    int index = findLocked(address);
    if (index >= 0) {
        if (refresh != 0) list_[std::size_t(index)].age = 3;
        return index;
    }
    return isInLocalSubnet(address) ? addLocalLocked(address) : addForeignLocked(address);
}

void cNodeManager::addAdapterNodes() {
    if (adapter_.localAddresses.empty()) return;
    addLocalNode(adapter_.localAddresses[0]);
    if (!adapter_.gatewayAddresses.empty()) addGatewayNode(adapter_.gatewayAddresses[0]);
}

bool cNodeManager::isInLocalSubnet(const std::string& address) const {
    for (const AddressRange& range : adapter_.localRanges)
        if (rangeHolds(range, address)) return true;
    if (isIPv6Text(address)) return isLocalIPv6(address);
    // Read-only after start-up; an adapter without an address or mask has no subnet.
    if (adapter_.localAddresses.empty() || adapter_.netMasks.empty()) return false;
    int local[4], addr[4], mask[4];
    scanDotted(adapter_.localAddresses.front(), local);
    scanDotted(address, addr);
    scanDotted(adapter_.netMasks.front(), mask);
    for (int k = 0; k < 4; ++k) {
        if (((addr[k] & mask[k]) & 0xFF) != ((local[k] & mask[k]) & 0xFF)) return false;
    }
    return true;
}

bool cNodeManager::copyNodeAt(int index, SNetNode* out) const {
    std::lock_guard<std::mutex> lock(lock_);
    const SNetNode* node = recordAt(index);
    if (!out || !node) return false;
    *out = *node;
    return true;
}

std::vector<SNetNode> cNodeManager::copyAllNodes() const {
    std::lock_guard<std::mutex> lock(lock_);
    return list_;
}

bool cNodeManager::updateNode(int index, const std::function<void(SNetNode&)>& change) {
    std::lock_guard<std::mutex> lock(lock_);
    SNetNode* node = recordAt(index);
    if (!node) return false;
    change(*node);
    return true;
}

bool cNodeManager::updateNode(const std::string& address,
                              const std::function<void(SNetNode&)>& change) {
    std::lock_guard<std::mutex> lock(lock_);
    SNetNode* node = recordAt(findLocked(address));
    if (!node) return false;
    change(*node);
    return true;
}

std::string cNodeManager::displayNameFor(const std::string& address) const {
    std::lock_guard<std::mutex> lock(lock_);
    const SNetNode* node = recordAt(findLocked(address));
    if (!node) return std::string();
    return node->hostName.empty() ? node->address : node->hostName;
}

std::optional<SNetNode> cNodeManager::pruneOneNode(const cConnectionList& connections) {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<SNetNode>& list = list_;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const SNetNode& node = list[i];
        if (!(node.age > 45 && node.isLocal != 1 && node.resolveState == 2 && node.isGateway != 1 &&
              !connections.isEndpoint(node.address) && node.needsSceneNode == 0 && i != 0))
            continue;
        SNetNode gone = node;
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        rebuildAddressIndex();
        return gone;
    }
    return std::nullopt;
}

std::vector<SNetNode> cNodeManager::removeAllButAdapterNodes() {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<SNetNode> kept, gone;
    for (std::size_t i = 0; i < list_.size(); ++i)
        (i == 0 || list_[i].isGateway == 1 ? kept : gone).push_back(std::move(list_[i]));
    list_ = std::move(kept);
    rebuildAddressIndex();
    return gone;
}

std::uint64_t cNodeManager::refusedNodes() const {
    std::lock_guard<std::mutex> lock(lock_);
    return refused_;
}

int cNodeManager::nodeCount() const {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(list_.size());
}

bool cNodeManager::isGatewayAt(int index) const {
    std::lock_guard<std::mutex> lock(lock_);
    const SNetNode* node = recordAt(index);
    return node && node->isGateway == 1;
}

int cNodeManager::findNodeByPickId(int pickId) const {
    std::lock_guard<std::mutex> lock(lock_);
    const std::vector<SNetNode>& list = list_;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].pickId == pickId) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace tessel

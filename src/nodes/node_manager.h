#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/host_location.h"
#include "core/vec3.h"

namespace tessel {
struct AdapterAddresses;
class cConnectionList;
}  // namespace tessel

namespace tessel {

// One network host seen by the system. Its cube belongs to the scene, which finds it by the
// address (the cube's name).
struct SNetNode {
    Vec3 position;
    int isLocal = 0;         // 1: this host, the gateway, any host of the local subnet
    std::string address;     // dotted IPv4 text, the key (compared as exact text)
    std::string hostName;    // empty until resolved; may be "(failed to resolve)"
    int age = 0;             // scene passes since added or refreshed
    int needsSceneNode = 1;  // 0 once the scene has made the cube
    int pickId = 0;          // index + 1000 when added; cube identifier once the cube exists
    int resolveState = 0;    // 0 not looked up, 1 under way, 2 finished
    unsigned char isGateway = 0;
    int locateState = 0;    // 0 not looked up, 1 under way, 2 finished (then `location` holds it)
    HostLocation location;  // country and network of a foreign host
};

// The node list holds at most this many records (not 1000).
constexpr int kNodeListLimit = 999;
// Picking mask carried by every node cube identifier.
constexpr int kNodePickBit = 0x01000000;
// Where the default gateway stands; every sprite's flight passes this point while there is one.
inline constexpr Vec3 kGatewayPosition{1000, 200, 1000};

// The node list: every host seen, in order of arrival. Owned by the run (runTessel) and passed
// to whoever needs it (the scene jobs through SSceneContext, the resolver worker, the status
// figures). Shared by the main thread and the resolver thread and guarded by one plain lock that
// every operation takes once: reads copy out, writes to a record go through updateNode. The
// main thread is the only one that adds or removes records.
class cNodeManager {
  public:
    // `adapter` (this host's addresses, which decide what is local) outlives the list.
    explicit cNodeManager(const AdapterAddresses& adapter);
    virtual ~cNodeManager() = default;
    cNodeManager(const cNodeManager&) = delete;
    cNodeManager& operator=(const cNodeManager&) = delete;

    // Each returns the new index (the list size before the call) or -1 when the list is full.
    int addLocalNode(const std::string& address);
    int addGatewayNode(const std::string& address);
    // Index of the node with exactly this address, adding a local or foreign node when there is
    // none. With refresh != 0 a node that was found gets age 3. This host's IPv6 addresses and
    // the IPv6 default router find nodes 0 and 1 (they are aliases, never cubes of their own).
    // Local: inside the IPv4 subnet, or for IPv6 link-local (unicast or link-scope multicast)
    // or on one of the adapter's on-link prefixes. An IPv6 address is placed by the IPv4 formulas
    // from its 16 bytes folded into four (each the XOR of four bytes), so its spot is stable and in
    // the same ranges.
    int findOrAddNode(const std::string& address, int refresh);
    // This host (node 0) and the default gateway (node 1) of the adapter discovery found.
    void addAdapterNodes();

    bool isInLocalSubnet(const std::string& address) const;

    // Copies of records: false (and *out untouched) when the index is outside the list.
    bool copyNodeAt(int index, SNetNode* out) const;
    std::vector<SNetNode> copyAllNodes() const;
    // The one write to a record: `change` runs under the list's lock on the record at `index`
    // (or with exactly this address); false when there is none. `change` must not call back
    // into cNodeManager.
    bool updateNode(int index, const std::function<void(SNetNode&)>& change);
    bool updateNode(const std::string& address, const std::function<void(SNetNode&)>& change);

    // Empty when the address is unknown, the address itself while no host name is known.
    std::string displayNameFor(const std::string& address) const;

    // Removes at most one stale foreign node (none that is an endpoint of a listed connection)
    // and gives its record, so that the scene can take its cube away. Main thread only.
    std::optional<SNetNode> pruneOneNode(const cConnectionList& connections);
    // Removes every node but this host (node 0) and the gateway, for a replay that went to
    // another moment, and gives their records, so that the scene can take their cubes away.
    // Main thread only.
    std::vector<SNetNode> removeAllButAdapterNodes();

    int nodeCount() const;
    // How often an address was not added because the list held kNodeListLimit nodes.
    std::uint64_t refusedNodes() const;
    bool isGatewayAt(int index) const;
    // First index in list order, or -1.
    int findNodeByPickId(int pickId) const;

  private:
    // Each expects the lock held.
    bool listFull();
    int appendNode(const std::string& address, const Vec3& position, int isLocal,
                   unsigned char isGateway);
    void spreadNewNode();
    int addLocalLocked(const std::string& address);
    int addGatewayLocked(const std::string& address);
    int addForeignLocked(const std::string& address);
    int aliasLocked(const std::string& address) const;
    int findLocked(const std::string& address) const;
    SNetNode* recordAt(int index);
    const SNetNode* recordAt(int index) const;
    void rebuildAddressIndex();
    bool isLocalIPv6(const std::string& address) const;

    const AdapterAddresses& adapter_;
    mutable std::mutex lock_;
    std::vector<SNetNode> list_;
    // Address -> first index in list order, so a look-up by address takes constant time (every
    // record of an intel pass looks up two). Rebuilt when a removal moves later records forward.
    std::unordered_map<std::string, int> addressIndex_;
    std::uint64_t refused_ = 0;  // addresses that found the list full
};

}  // namespace tessel

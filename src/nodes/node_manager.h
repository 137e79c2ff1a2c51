#pragma once
#include <irrlicht.h>

#include <mutex>
#include <string>

namespace tessel {

// One network host seen by the system. Fields in the order every reader expects.
struct SNetNode {
    irr::scene::ISceneNode* sceneNode = nullptr;  // the turning cube; owned by the scene graph
    irr::core::vector3df position;
    int isLocal = 0;       // 1: this host, the gateway, any host of the local subnet
    std::string address;   // dotted IPv4 text, the key (compared as exact text)
    std::string hostName;  // empty until resolved; may be "(failed to resolve)"
    int age = 0;           // scene passes since added or refreshed
    int needsSceneNode = 1;
    int pickId = 0;        // index + 1000 when added; cube identifier once the cube exists
    int resolveState = 0;  // 0 not looked up, 1 under way, 2 finished
    unsigned char isGateway = 0;
};

// The node list holds at most this many records (not 1000).
constexpr int kNodeListLimit = 999;
// Picking mask carried by every node cube identifier.
constexpr int kNodePickBit = 0x01000000;

// The one lock of the node list. Every cNodeManager operation takes it itself; code in other
// files takes a NodeListLock around any multi-step read or write (and around every use of the
// reference nodeAt returns). Recursive, so a holder may call cNodeManager operations freely.
// Never hold it across a blocking call (name look-ups, file or network I/O).
std::recursive_mutex& nodeListMutex();

class NodeListLock {
  public:
    NodeListLock() : guard_(nodeListMutex()) {}
    NodeListLock(const NodeListLock&) = delete;
    NodeListLock& operator=(const NodeListLock&) = delete;

  private:
    std::lock_guard<std::recursive_mutex> guard_;
};

// Operations on the shared node list. Keeps no state: make one on the spot wherever needed.
// Any thread may call these; pruneOneNode touches the scene and is main thread only.
class cNodeManager {
  public:
    virtual ~cNodeManager() = default;

    // Each returns the new index (the list size before the call) or -1 when the list is full.
    int addLocalNode(const std::string& address);
    int addGatewayNode(const std::string& address);
    int addForeignNode(const std::string& address);
    // Index of the node with exactly this address, adding a local or foreign node when there is
    // none. With refresh != 0 a node that was found gets age 3.
    int findOrAddNode(const std::string& address, int refresh);

    bool isInLocalSubnet(const std::string& address) const;

    // The record at `index`, for reading and writing. Valid only while the caller holds a
    // NodeListLock; an index outside the list yields a scratch record that belongs to no node.
    SNetNode& nodeAt(int index);
    // Copy of the record at `index`; false (and *out untouched) when the index is outside.
    bool copyNodeAt(int index, SNetNode* out) const;

    // Empty when the address is unknown, the address itself while no host name is known.
    std::string displayNameFor(const std::string& address) const;

    // Removes at most one stale foreign node with its cube. Main thread only.
    void pruneOneNode();

    int nodeCount() const;
    bool isGatewayAt(int index) const;
    // First index in list order, or -1.
    int findNodeByAddress(const std::string& address) const;
    int findNodeByPickId(int pickId) const;

    // Tests only: empties the list (does not touch any scene).
    void clearAllNodes();
};

}  // namespace tessel

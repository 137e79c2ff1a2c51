#pragma once
#include <cstddef>

#include "capture/frame_reader.h"

namespace tessel {

// Where a frame's IP header starts, through its link layer and any encapsulations (VLAN and QinQ
// tags, MPLS label stacks, PPPoE sessions, unencrypted MACsec, NSH, LLC/SNAP), each walked
// through the checked reader with a fixed bound.
struct NetworkStart {
    enum class Result {
        Found,            // the IP header starts at `offset`
        NotIP,            // another protocol (ARP, LLDP, encrypted MACsec, ...): not shown
        UnsupportedLink,  // a link type this decoder does not read: not shown
        Short,            // the captured bytes end inside the link layer
    };
    Result result = Result::Short;
    std::size_t offset = 0;
    int version = 0;  // 4 or 6 as the link layer says; 0 when the IP header's own field decides
};

// Pure: touches nothing but the frame's bytes. `linkType` is libpcap's DLT_*.
NetworkStart locateNetwork(int linkType, const FrameReader& frame);

}  // namespace tessel

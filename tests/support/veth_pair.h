#pragma once
// Two hosts joined by a veth pair in network namespaces of the test's own: the client
// 10.78.0.1 on `nic`, the server 10.78.0.2. Nothing sent between them leaves the machine.
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tessel::test {

class VethPair {
  public:
    VethPair();
    ~VethPair();
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;
    // `argv` run inside `host`.
    std::vector<std::string> in(const std::string& host, std::vector<std::string> argv) const;

    bool ok = false;
    std::string client, server, nic;
};

// Waits at most `ms` for `text` in the output of `p`; false at once when `p` has ended without it.
bool waitForOutput(BackgroundProcess& p, const std::string& text, int ms);

}  // namespace tessel::test

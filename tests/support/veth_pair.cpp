#include "support/veth_pair.h"

#include <unistd.h>

#include <chrono>
#include <thread>

namespace tessel::test {

VethPair::VethPair() {
    const std::string s = std::to_string(getpid() % 100000);
    client = "oc" + s;
    server = "os" + s;
    nic = "ov" + s;
    const std::string script =
        "set -e\n"
        "ip netns add " +
        client + "; ip netns add " + server + "\nip -n " + client + " link set lo up; ip -n " +
        server + " link set lo up\nip link add " + nic + " netns " + client +
        " type veth peer name ow" + s + " netns " + server + "\nip -n " + client +
        " addr add 10.78.0.1/24 dev " + nic + "\nip -n " + server +
        " addr add 10.78.0.2/24 dev ow" + s + "\nip -n " + client + " link set " + nic +
        " up\nip -n " + server + " link set ow" + s + " up\necho ready\n";
    ok = shellOutput(script, {}, 20000).find("ready") != std::string::npos;
}

VethPair::~VethPair() {
    shellOutput("for n in " + client + " " + server +
                    "; do ip netns pids $n 2>/dev/null | xargs -r kill -9; "
                    "ip netns delete $n; done",
                {}, 20000);
}

std::vector<std::string> VethPair::in(const std::string& host,
                                      std::vector<std::string> argv) const {
    argv.insert(argv.begin(), {"ip", "netns", "exec", host});
    return argv;
}

bool waitForOutput(BackgroundProcess& p, const std::string& text, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (p.output().find(text) != std::string::npos) return true;
        if (!p.running()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace tessel::test

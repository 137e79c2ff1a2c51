#include "nodes/info_text.h"

#include <chrono>

#include "core/address_text.h"
#include "nodes/connection_list.h"
#include "nodes/node_manager.h"
#include "nodes/program_text.h"

namespace tessel {

namespace {

// The panel's widest lines, in characters of the HUD font: an AS name is often in capitals,
// which are wider.
constexpr std::size_t kWidestLine = 28, kWidestNetworkLine = 26;

// Cut to `widest` characters, the cut marked by "..." (the HUD font has no ellipsis character).
std::string cutText(const std::string& text, std::size_t widest) {
    if (text.size() <= widest) return text;
    return text.substr(0, widest > 3 ? widest - 3 : 0) + "...";
}

// Trailing words dropped until the name fits, so that "United States of America" reads "United
// States"; the country code beside it keeps the name unambiguous.
std::string fittedCountryName(std::string name, std::size_t widest) {
    auto weak = [](const std::string& word) {
        return word == "of" || word == "and" || word == "the" || word == "(the" || word == "&";
    };
    while (name.size() > widest) {
        const std::size_t space = name.find_last_of(' ');
        if (space == std::string::npos || space == 0) return cutText(name, widest);
        name.erase(space);
        while (!name.empty() && (name.back() == ',' || name.back() == ' ')) name.pop_back();
        const std::size_t before = name.find_last_of(' ');
        if (before != std::string::npos && weak(name.substr(before + 1))) name.erase(before);
    }
    return name;
}

}  // namespace

std::string locationLines(const HostLocation& location) {
    if (!location.rangeWording.empty()) return location.rangeWording;
    if (location.noData) return "no location data";
    std::string country = "country: ";
    if (location.countryCode.empty()) {
        country += "unknown";
    } else {
        const std::size_t room = kWidestLine - country.size() - location.countryCode.size() - 3;
        const std::string name = fittedCountryName(location.countryName, room);
        country += name.empty() ? location.countryCode : name + " (" + location.countryCode + ")";
    }
    std::string network = "network: unknown";
    if (location.asNumber != 0) {
        network = "network: AS" + std::to_string(location.asNumber);
        if (!location.asName.empty())
            network = cutText(network + " " + location.asName, kWidestNetworkLine);
    }
    return country + "\n" + network + (location.anycast ? "\nanycast network" : "");
}

std::string fittedAddress(const std::string& address) {
    constexpr std::size_t kWidest = 26, kHead = 12, kTail = 11;
    if (!isIPv6Text(address) || address.size() <= kWidest) return address;
    return address.substr(0, kHead) + "..." + address.substr(address.size() - kTail);
}

std::string nodeInfoText(const cNodeManager& manager, int pickId, const cProgramTable* programs) {
    const int index = manager.findNodeByPickId(pickId);
    SNetNode node;
    if (!manager.copyNodeAt(index, &node)) return std::string();
    const std::string address = fittedAddress(node.address);
    if (index == 0) {
        const std::string lines = hostProgramLines(programs, std::chrono::steady_clock::now());
        return "Tessel Host:\n\n\n" + address + (lines.empty() ? "" : "\n\n" + lines);
    }
    if (node.isGateway == 1) return "Default Gateway:\n\n\n" + address;
    if (node.isLocal == 1) return "Local Node:\n\n\n" + address;
    std::string text = "Foreign Node:\n\n" + node.hostName + "\n" + address;
    if (node.locateState == 2) text += "\n" + locationLines(node.location);
    return text;
}

std::string beamInfoText(const cNodeManager& manager, const cConnectionList& connections,
                         int pickId, const cProgramTable* programs) {
    const STrafficBeam* found = connections.findByPickId(pickId);
    if (!found) return std::string();
    const STrafficBeam& beam = *found;
    return "TCP (" + beam.service + "):\n\n" + fittedAddress(manager.displayNameFor(beam.source)) +
           " to " + fittedAddress(manager.displayNameFor(beam.destination)) +
           (programs ? "\n" + beamProgramLine(programs, beam) : "");
}

}  // namespace tessel

#include "nodes/node_search.h"

#include <cctype>

namespace tessel {

namespace {

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool holds(const std::string& field, const std::string& loweredText) {
    return !field.empty() && lowered(field).find(loweredText) != std::string::npos;
}

bool nodeMatches(const SNetNode& node, const std::string& loweredText) {
    if (holds(node.address, loweredText)) return true;
    // The resolver's word for a failed look-up is not a name.
    if (node.hostName != "(failed to resolve)" && holds(node.hostName, loweredText)) return true;
    const HostLocation& where = node.location;
    if (holds(where.countryCode, loweredText) || holds(where.asName, loweredText)) return true;
    // "as15169" holds "15169", "as151" and "as15169" alike.
    return where.asNumber != 0 && holds("as" + std::to_string(where.asNumber), loweredText);
}

}  // namespace

std::vector<int> matchingNodes(const std::vector<SNetNode>& nodes, const std::string& text) {
    std::vector<int> found;
    if (text.empty()) return found;
    const std::string loweredText = lowered(text);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodeMatches(nodes[i], loweredText)) found.push_back(static_cast<int>(i));
    return found;
}

}  // namespace tessel

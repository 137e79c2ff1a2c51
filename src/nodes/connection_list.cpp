#include "nodes/connection_list.h"

#include <iterator>

namespace tessel {

std::string cConnectionList::keyOf(const std::string& source, const std::string& destination,
                                   int sourcePort, int destinationPort) {
    // Addresses hold no '|', so the key names one direction of one connection.
    return source + '|' + destination + '|' + std::to_string(sourcePort) + '|' +
           std::to_string(destinationPort);
}

const STrafficBeam* cConnectionList::find(const std::string& source, const std::string& destination,
                                          int sourcePort, int destinationPort) const {
    auto it = byKey_.find(keyOf(source, destination, sourcePort, destinationPort));
    if (it == byKey_.end())
        it = byKey_.find(keyOf(destination, source, destinationPort, sourcePort));
    return it == byKey_.end() ? nullptr : &*it->second;
}

bool cConnectionList::append(const STrafficBeam& record) {
    if (find(record.source, record.destination, record.sourcePort, record.destinationPort))
        return false;
    if (full()) {
        ++refused_;
        return false;
    }
    records_.push_back(record);
    byKey_.emplace(
        keyOf(record.source, record.destination, record.sourcePort, record.destinationPort),
        std::prev(records_.end()));
    ++endpointUses_[record.source];
    ++endpointUses_[record.destination];
    return true;
}

void cConnectionList::forgetEndpoint(const std::string& address) {
    auto it = endpointUses_.find(address);
    if (it != endpointUses_.end() && --it->second <= 0) endpointUses_.erase(it);
}

bool cConnectionList::removeDirected(const std::string& source, const std::string& destination,
                                     int sourcePort, int destinationPort, STrafficBeam* removed) {
    const std::string key = keyOf(source, destination, sourcePort, destinationPort);
    auto it = byKey_.find(key);
    if (it == byKey_.end()) return false;
    auto record = it->second;
    byKey_.erase(it);
    forgetEndpoint(record->source);
    forgetEndpoint(record->destination);
    if (removed) *removed = *record;
    records_.erase(record);
    return true;
}

bool cConnectionList::isEndpoint(const std::string& address) const {
    return endpointUses_.count(address) != 0;
}

const STrafficBeam* cConnectionList::findByPickId(int pickId) const {
    for (const STrafficBeam& b : records_)
        if (b.pickId == pickId) return &b;
    return nullptr;
}

int cConnectionList::nextPickId() const {
    return (static_cast<int>(records_.size()) + 1999) | kBeamPickBit;
}

}  // namespace tessel

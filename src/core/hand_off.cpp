#include "core/hand_off.h"

#include <iterator>

#include "core/event_log.h"

namespace tessel {

void HandOffChannel::pushBeam(BeamEvent event) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t limit = event.start ? kBeamStartLimit : kBeamHardLimit;
    if (beams_.size() >= limit) {
        ++droppedBeams_;
        return;
    }
    beams_.push_back(std::move(event));
}

void HandOffChannel::pushMessage(std::string text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (messages_.size() >= kMessageLimit) {
        messages_.erase(messages_.begin());
        ++droppedMessages_;
    }
    messages_.push_back(std::move(text));
}

void HandOffChannel::pushSeek(SeekReset reset) {
    std::lock_guard<std::mutex> guard(lock_);
    beams_.clear();
    records_.clear();
    seek_ = std::move(reset);
}

void HandOffChannel::pushTrace(std::string line) {
    if (traceLog_) traceLog_->logEvent(line);
    pushMessage(std::move(line));
}

std::size_t HandOffChannel::recordRoom() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_.size() < kRecordLimit ? kRecordLimit - records_.size() : 0;
}

void HandOffChannel::pushRecords(std::vector<TrafficRecord>&& records) {
    if (records.empty()) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (records_.empty()) {
        records_.swap(records);
        return;
    }
    records_.insert(records_.end(), std::make_move_iterator(records.begin()),
                    std::make_move_iterator(records.end()));
}

void HandOffChannel::reportIntelFolderMissing() {
    std::lock_guard<std::mutex> guard(lock_);
    intelFolderMissing_ = true;
}

HandOffBatch HandOffChannel::drain(bool withRecords) {
    HandOffBatch batch;
    std::lock_guard<std::mutex> guard(lock_);
    batch.seek.swap(seek_);
    seek_.reset();
    batch.beams.swap(beams_);
    batch.messages.swap(messages_);
    if (withRecords) {
        batch.records.swap(records_);
        batch.intelFolderMissing = intelFolderMissing_;
    }
    return batch;
}

std::uint64_t HandOffChannel::droppedBeamEvents() const {
    std::lock_guard<std::mutex> guard(lock_);
    return droppedBeams_;
}

std::uint64_t HandOffChannel::droppedMessages() const {
    std::lock_guard<std::mutex> guard(lock_);
    return droppedMessages_;
}

std::size_t HandOffChannel::waitingRecords() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_.size();
}

}  // namespace tessel

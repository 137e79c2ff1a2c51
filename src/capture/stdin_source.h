#pragma once
#include <thread>

#include "capture/stream_source.h"
#include "platform/wake_signal.h"

namespace tessel {

// A capture stream on standard input. A thread of its own ("tessel-stdin") copies standard input
// into a pipe, which the stream is read from, so that ending the replay never waits on a quiet
// writer; the source joins it.
class cStandardInputSource final : public cPcapStreamSource {
  public:
    static constexpr const char* kName = "standard input";
    static constexpr const char* kPumpThreadName = "tessel-stdin";

    cStandardInputSource() : cPcapStreamSource(kName) {}
    ~cStandardInputSource() override;

    // Starts the copy and waits (bounded) for the stream's header. False with *error set.
    bool open(std::string* error);
    // The copy stops and reading sees the end. Any thread.
    void endStream() override;

  private:
    void pump();
    bool writeToPipe(const char* data, std::size_t size);

    int pipeWrite_ = -1;
    WakeSignal pumpStop_;
    std::thread pump_;
};

}  // namespace tessel

#pragma once
#include <pcap/pcap.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/helper_capture.h"
#include "capture/helper_feeds.h"
#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "capture/replay_source.h"
#include "platform/wake_signal.h"

namespace tessel {

class HandOffChannel;

// The kernel's counters of the capture handle (pcap_stats): frames it handed to the socket and
// frames it dropped because the capture thread fell behind.
struct KernelCaptureStats {
    std::uint64_t received = 0;
    std::uint64_t dropped = 0;           // no room in the capture buffer
    std::uint64_t interfaceDropped = 0;  // dropped by the adapter's driver
};

// The worker threads of one capture and what they share: the capture thread (frames -> decoding
// -> the channel and the intel writer), the statistics thread (rate samples) and the intel
// reader thread (record files -> the channel). Made and started on the main thread; stop() (or
// the destructor) asks each thread to end, wakes it, joins it and closes the handles.
class cCaptureSession {
  public:
    // What the threads are called (in /proc/self/task/*/comm and profilers).
    static constexpr const char* kCaptureThreadName = "tessel-capture";
    static constexpr const char* kStatsThreadName = "tessel-stats";
    static constexpr const char* kIntelThreadName = "tessel-intel";

    // Takes over an in-process live handle (tests and benchmarks; the program captures through
    // the helper). No rate samples: only the helper's statistics feed runs a statistics thread.
    cCaptureSession(pcap_t* captureHandle, HandOffChannel& channel,
                    std::string folder = intelFolder);
    // A replay: the capture thread releases the frames of `source` by their time stamps (and
    // feeds the rate history itself), starting over at the end when `loop` is set.
    cCaptureSession(std::unique_ptr<cReplaySource> source, bool loop, HandOffChannel& channel,
                    std::string folder = intelFolder);
    // A live capture through the capture helper (started): the capture thread reads its frames
    // as they come, the statistics thread its rate samples and the kernel's counters.
    cCaptureSession(std::unique_ptr<cHelperCapture> helper, HandOffChannel& channel,
                    std::string folder = intelFolder);
    ~cCaptureSession();
    cCaptureSession(const cCaptureSession&) = delete;
    cCaptureSession& operator=(const cCaptureSession&) = delete;

    void start();
    void stop();

    // False once the capture handle is closed. Any thread.
    bool kernelStats(KernelCaptureStats* stats) const;

  private:
    void captureThreadBody();

    pcap_t* capture_ = nullptr;
    std::unique_ptr<cReplaySource> replay_;
    bool loop_ = false;
    std::unique_ptr<cHelperCapture> helper_;  // with replay_ reading its frames
    HelperCounters helperCounters_;
    HandOffChannel& channel_;
    cIntelWriter writer_;
    cIntelReaderWorker reader_;
    PacketSink sink_;
    WakeSignal stop_;
    mutable std::mutex closeLock_;  // the capture handle is closed under it
    std::thread captureThread_, statsThread_, readerThread_;
};

// The counters of the session started last, while it runs (the scene dump shows them).
bool captureKernelStats(KernelCaptureStats* stats);

}  // namespace tessel

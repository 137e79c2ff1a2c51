#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "capture/frame_source.h"
#include "capture/helper_capture.h"
#include "capture/helper_feeds.h"
#include "capture/intel_folder.h"
#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "capture/replay_stepper.h"
#include "capture/socket_owners_worker.h"
#include "platform/wake_signal.h"

namespace tessel {

class HandOffChannel;

// The kernel's counters of the capture handle (pcap_stats, as the capture helper reports them):
// frames it handed to the socket and frames it dropped because the reader fell behind.
struct KernelCaptureStats {
    std::uint64_t received = 0;
    std::uint64_t dropped = 0;           // no room in the capture buffer
    std::uint64_t interfaceDropped = 0;  // dropped by the adapter's driver
};

// How a session plays its source.
struct CaptureOptions {
    // Replay: frames are released by their time stamps (speed and pause from replayState()), the
    // rate history is fed in capture time and the HUD's progress kept. Otherwise each frame goes
    // on as it comes (a live capture).
    bool paced = false;
    // A paced source that can start over does so at its end.
    bool loop = false;
    // An offline recording: no capture thread and no intel reader; the main thread releases the
    // replay's frames itself (advanceReplay), recorded packets go straight into the channel.
    bool stepped = false;
    // The capture helper the source's frames come from (started): its rate samples and kernel
    // counters feed the statistics thread, and it is ended once its readers have stopped.
    std::unique_ptr<cHelperCapture> helper;
    // Where recorded packets queue as files.
    std::string folder = intelFolder;
    // A live capture of this host's own adapter: the table where the owner worker writes the
    // program of each flow (outlives the session).
    cProgramTable* programs = nullptr;
};

// The worker threads of one capture and what they share: the capture thread (frames of the
// source -> decoding -> the channel and the intel writer), the statistics thread (the helper's
// rate samples and counters; live captures only), the intel reader thread (record files ->
// the channel) and, with a program table, the owner worker (flows -> their programs). Made and
// started on the main thread; stop() (or the destructor) asks each thread to end, wakes it, joins
// it, then closes the source and ends the helper.
class cCaptureSession {
  public:
    // What the threads are called (in /proc/self/task/*/comm and profilers).
    static constexpr const char* kCaptureThreadName = "tessel-capture";
    static constexpr const char* kStatsThreadName = "tessel-stats";
    static constexpr const char* kIntelThreadName = "tessel-intel";

    cCaptureSession(std::unique_ptr<cFrameSource> source, HandOffChannel& channel,
                    CaptureOptions options = {});
    ~cCaptureSession();
    cCaptureSession(const cCaptureSession&) = delete;
    cCaptureSession& operator=(const cCaptureSession&) = delete;

    void start();
    void stop();

    // A stepped session (CaptureOptions::stepped): releases every frame due `elapsed` into the
    // replay (cReplayStepper::releaseUntil). False once the replay has ended. Main thread.
    bool advanceReplay(cReplayStepper::Clock::duration elapsed,
                       const std::function<bool()>& interrupted);

    // What the capture thread made of the frames so far. Any thread.
    const CaptureCounters& counters() const { return counters_; }
    // The kernel's counters as the helper last reported them (0 until its first report), or a
    // flow collector's socket drops; false without either, or while the session is not
    // running. Any thread.
    bool kernelStats(KernelCaptureStats* stats) const;
    // Recorded packets linked into the folder as files, lost to a failed write, and taken out
    // again by the intel reader. Any thread.
    // A flow collector's counters; null for a capture. Any thread, while the session lives.
    const FeedCounters* feedCounters() const { return feed_; }
    const IntelWriteCounters& intelWritten() const { return writer_.counters(); }
    std::uint64_t intelRead() const { return reader_.recordsRead(); }

  private:
    void captureThreadBody();

    std::unique_ptr<cFrameSource> source_;
    const FeedCounters* feed_ = nullptr;  // the source's, kept until the session ends
    bool paced_ = false;
    bool loop_ = false;
    bool stepped_ = false;
    std::unique_ptr<cReplayStepper> stepper_;
    std::unique_ptr<cHelperCapture> helper_;
    HelperCounters helperCounters_;
    CaptureCounters counters_;
    std::atomic<bool> running_{false};
    HandOffChannel& channel_;
    cIntelWriter writer_;
    cIntelReaderWorker reader_;
    PacketSink sink_;
    WakeSignal stop_;
    std::unique_ptr<cSocketOwnersWorker> owners_;
    std::thread captureThread_, statsThread_, readerThread_;
};

}  // namespace tessel

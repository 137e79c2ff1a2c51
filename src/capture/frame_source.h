#pragma once
#include <pcap/pcap.h>

#include <functional>
#include <memory>
#include <string>

namespace tessel {

struct FeedCounters;
class ReplayTimeline;
class cCaptureIndex;

// Shown one frame (libpcap's header: time stamp, captured and wire length; the captured bytes,
// valid during the call). False: enough.
using FrameVisitor = std::function<bool(const pcap_pkthdr& header, const u_char* data)>;

// Where the frames of a capture come from: a capture file, a stream on standard input, the
// capture helper's live stream (each in its own unit). The capture session's thread drives it.
// Opened, filtered and previewed on the main thread before the session starts, then read by the
// capture thread alone; endStream() from any thread.
class cFrameSource {
  public:
    virtual ~cFrameSource() = default;

    // The next frame: 1 with *header and *data set (valid until the next call), 0 when none is
    // there yet (a collector between datagrams: wait on waitFd() and ask again),
    // PCAP_ERROR_BREAK at the end, PCAP_ERROR when the capture is cut short or broken
    // (errorText() says how).
    virtual int next(const pcap_pkthdr** header, const u_char** data) = 0;
    virtual std::string errorText() const = 0;
    // DLT_* of every frame.
    virtual int linkType() const = 0;
    // What the user knows it by: the file's name, "standard input", the adapter's name.
    virtual const std::string& name() const = 0;

    // A stream gives its frames as they come and cannot start over; a file can.
    virtual bool isStream() const = 0;
    // Starts over from the first frame (looping); false when it cannot, with *error set when
    // it tried.
    virtual bool restart(std::string*) { return false; }
    // How far through the capture the reading is, in thousandths; -1 when unknown.
    virtual int progressPermille() const { return -1; }
    // What to poll before next() would wait on a quiet stream; -1 when it would not wait.
    virtual int waitFd() const { return -1; }
    // A flow collector's counters (sFlow, NetFlow/IPFIX); null for a capture.
    virtual const FeedCounters* feedCounters() const { return nullptr; }
    // Ends a stream early: reading sees the end soon. Any thread.
    virtual void endStream() {}

    // A file starts indexing its frames by capture time on a thread of its own, publishing its
    // span to `timeline` (may be null; outlives the source). Main thread, once, after opening.
    virtual void startIndex(ReplayTimeline*) {}
    // The index started, or null: a stream cannot seek. Any thread.
    virtual const cCaptureIndex* index() const { return nullptr; }
    // Reading goes on from the frame whose record starts at `offset` (an offset of the index);
    // false with errorText() saying why. The capture thread.
    virtual bool seekToOffset(long long) { return false; }

    // Lets only frames that match `filter` (a capture filter) through, from now on and after a
    // restart; preview() sees the same frames. False with *error saying why.
    virtual bool setFilter(const std::string& filter, std::string* error) = 0;
    // Shows `see` the capture's first frames without using them up, for judging the capture
    // before it plays (adapter_inference.h): a file shows them from a handle of its own; a stream
    // reads its first frames ahead (at most 1,000, or what comes in 5 s), keeps them, and next()
    // gives them first. Once, before the first next().
    virtual void preview(const FrameVisitor& see) = 0;
};

// A replay's source: "-" reads a capture stream on standard input, anything else is a capture
// file. Null with *error naming it and the reason. Main thread.
std::unique_ptr<cFrameSource> openReplaySource(const std::string& path, std::string* error);

}  // namespace tessel

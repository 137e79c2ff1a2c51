#pragma once
#include <pcap/pcap.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/adapter_inference.h"
#include "platform/wake_signal.h"

namespace tessel {

// Where the frames of a replay come from: a capture file (pcap or pcapng) or a stream of one on
// standard input. Opened and read ahead on the main thread at start-up, then read by the replay
// thread alone.
class cReplaySource {
  public:
    static constexpr const char* kStandardInput = "standard input";

    cReplaySource() = default;
    ~cReplaySource();
    cReplaySource(const cReplaySource&) = delete;
    cReplaySource& operator=(const cReplaySource&) = delete;

    // Opens `path` ("-": standard input). False with *error naming the file and libpcap's reason.
    bool open(const std::string& path, std::string* error);
    // Reads a live pcap stream from `fd` (the capture helper's output; the source closes it),
    // waiting at most `headerWaitMs` for its header. Frames are read as they come.
    bool openLive(int fd, const std::string& name, int headerWaitMs, std::string* error);
    // Lets only frames that match `filter` (a capture filter) through, from now on and after a
    // restart; the inference below sees the same frames. False with *error naming the reason.
    bool setFilter(const std::string& filter, std::string* error);
    // Who this host and the gateway are, by cAdapterInference's rule: a file is scanned on a
    // handle of its own; a stream's first frames (at most 1,000, or what comes in 5 s) are read
    // ahead, kept, and replayed first. Given values win.
    AdapterGuess guessAdapter(const std::string& host, const std::string& netmask,
                              const std::string& gateway);

    // The next frame: 1 with *header and *data set, PCAP_ERROR_BREAK at the end, PCAP_ERROR when
    // the capture is cut short or broken (errorText() says how). Replay thread.
    int next(const pcap_pkthdr** header, const u_char** data);
    std::string errorText() const;
    // A file starts over (looping); false for a stream.
    bool restart(std::string* error);

    int linkType() const { return linkType_; }
    bool isStream() const { return stream_; }
    // The file's name, or "standard input".
    const std::string& name() const { return name_; }
    // How far through the file the reading is, in thousandths; -1 for a stream.
    int progressPermille() const;
    // What to poll before next() would wait on a quiet stream; -1 when it would not wait.
    int waitFd() const;
    // Ends a stream: the copy from standard input stops, and reading sees the end. Any thread.
    void endStream();

  private:
    bool openFile(std::string* error);
    bool openStream(std::string* error);
    bool openPipe(int headerWaitMs, std::string* error);
    void pumpStandardInput();
    bool writeToPipe(const char* data, std::size_t size);

    std::string path_;
    std::string filter_;
    std::string name_;
    bool stream_ = false;
    pcap_t* handle_ = nullptr;
    int linkType_ = DLT_EN10MB;
    long long fileBytes_ = 0;
    // A stream's frames read ahead, replayed before the rest.
    struct Frame {
        pcap_pkthdr header;
        std::vector<u_char> bytes;
    };
    std::vector<Frame> readAhead_;
    std::size_t readAheadNext_ = 0;
    // Standard input is copied into a pipe by a thread of its own, so that ending the replay
    // never waits on a quiet stream.
    int pipeRead_ = -1, pipeWrite_ = -1;
    WakeSignal pumpStop_;
    std::thread pump_;
};

}  // namespace tessel

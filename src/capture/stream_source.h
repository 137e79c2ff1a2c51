#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "capture/frame_source.h"

namespace tessel {

// A pcap stream read from a pipe as it comes (buffered, so that a frame costs no system call of
// its own): the base of standard input's source and the capture helper's. Its first frames can
// be read ahead for preview() and are then given first.
class cPcapStreamSource : public cFrameSource {
  public:
    ~cPcapStreamSource() override;
    cPcapStreamSource(const cPcapStreamSource&) = delete;
    cPcapStreamSource& operator=(const cPcapStreamSource&) = delete;

    int next(const pcap_pkthdr** header, const u_char** data) override;
    std::string errorText() const override;
    int linkType() const override { return linkType_; }
    const std::string& name() const override { return name_; }
    bool isStream() const override { return true; }
    int waitFd() const override;
    bool setFilter(const std::string& filter, std::string* error) override;
    // Reads ahead at most kReadAheadFrames, or what comes in kReadAheadMs.
    void preview(const FrameVisitor& see) override;

    static constexpr std::size_t kReadAheadFrames = 1000;
    static constexpr int kReadAheadMs = 5000;

  protected:
    explicit cPcapStreamSource(std::string name) : name_(std::move(name)) {}
    // Reads the stream of `fd` (closed with the source), waiting at most `headerWaitMs` for its
    // header. False with *error naming the stream and the reason.
    bool openPipe(int fd, int headerWaitMs, std::string* error);

  private:
    std::string name_;
    int fd_ = -1;
    pcap_t* handle_ = nullptr;  // owns fd_ once open
    int linkType_ = DLT_EN10MB;
    struct Frame {
        pcap_pkthdr header;
        std::vector<u_char> bytes;
    };
    std::vector<Frame> readAhead_;
    std::size_t readAheadNext_ = 0;
};

// The capture helper's live stream (its frames helper's standard output), named after the
// adapter.
class cLiveStreamSource final : public cPcapStreamSource {
  public:
    explicit cLiveStreamSource(const std::string& adapter) : cPcapStreamSource(adapter) {}
    // Takes `fd`; waits at most `headerWaitMs` for the stream's header.
    bool open(int fd, int headerWaitMs, std::string* error) {
        return openPipe(fd, headerWaitMs, error);
    }
};

}  // namespace tessel

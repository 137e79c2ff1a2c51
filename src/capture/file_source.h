#pragma once
#include <memory>
#include <string>

#include "capture/capture_index.h"
#include "capture/frame_source.h"

namespace tessel {

// A capture file (pcap or pcapng), read frame by frame; it can start over, and says how far
// through it the reading is.
class cCaptureFileSource final : public cFrameSource {
  public:
    cCaptureFileSource() = default;
    ~cCaptureFileSource() override;
    cCaptureFileSource(const cCaptureFileSource&) = delete;
    cCaptureFileSource& operator=(const cCaptureFileSource&) = delete;

    // False with *error naming the file and libpcap's reason.
    bool open(const std::string& path, std::string* error);

    int next(const pcap_pkthdr** header, const u_char** data) override;
    std::string errorText() const override;
    int linkType() const override { return linkType_; }
    // The file's name without its folder.
    const std::string& name() const override { return name_; }
    bool isStream() const override { return false; }
    bool restart(std::string* error) override;
    int progressPermille() const override;
    bool setFilter(const std::string& filter, std::string* error) override;
    // Scans the file on a handle of its own, from its first frame.
    void preview(const FrameVisitor& see) override;
    void startIndex(ReplayTimeline* timeline) override;
    const cCaptureIndex* index() const override { return index_.get(); }
    // Opens the file again (libpcap reads a pcapng's section header and first interface
    // description anew), then goes to `offset`.
    bool seekToOffset(long long offset) override;

  private:
    bool openFile(std::string* error);

    std::string path_;
    std::string name_;
    std::string filter_;
    pcap_t* handle_ = nullptr;
    int linkType_ = DLT_EN10MB;
    long long fileBytes_ = 0;
    std::string seekError_;
    std::unique_ptr<cCaptureIndex> index_;
};

}  // namespace tessel

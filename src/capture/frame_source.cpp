#include "capture/frame_source.h"

#include "capture/file_source.h"
#include "capture/stdin_source.h"

namespace tessel {

std::unique_ptr<cFrameSource> openReplaySource(const std::string& path, std::string* error) {
    if (path == "-") {
        auto source = std::make_unique<cStandardInputSource>();
        if (source->open(error)) return source;
        return nullptr;
    }
    auto source = std::make_unique<cCaptureFileSource>();
    if (source->open(path, error)) return source;
    return nullptr;
}

}  // namespace tessel

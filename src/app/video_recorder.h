#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace tessel {

// What a video's name asks for: ".mp4" is H.264 (libx264) in MP4, ".webm" VP9 (libvpx) in WebM,
// in any case of letters; anything else is none.
enum class VideoKind { None, Mp4H264, WebmVp9 };

// How a frame's pixels lie in memory (little-endian words): 32-bit A8R8G8B8 (bytes B, G, R, A),
// 16-bit A1R5G5B5 (the software driver's own), or bytes R, G, B.
enum class PixelLayout { Bgra32, Argb1555, Rgb24 };
VideoKind videoKindOf(const std::string& path);

// Whether a video can be written at `path`, judged before anything else opens: a known ending,
// not a folder, a place that takes a file. Leaves nothing behind (a file made to prove the
// folder is removed again; an existing one is only opened). "" when it can, else the reason.
std::string checkVideoTarget(const std::string& path);

// Encodes frames into a video file through FFmpeg's libraries: 4:2:0 colour, a fixed frame rate,
// one frame per addFrame. Main thread (whoever owns it).
class cVideoRecorder {
  public:
    cVideoRecorder();
    // Finishes a video still open.
    ~cVideoRecorder();
    cVideoRecorder(const cVideoRecorder&) = delete;
    cVideoRecorder& operator=(const cVideoRecorder&) = delete;

    // Creates `path` (replacing a file there) for `width` x `height` (even) at `fps`. False with
    // *error, and no file left, when the encoder or the file cannot be had.
    bool open(const std::string& path, int width, int height, int fps, std::string* error);
    // One frame of pixels, rows `pitch` bytes apart. A picture larger than the video is cut to
    // its top left part, a smaller one scaled up. False with *error when it could not be encoded
    // or written.
    bool addFrame(const unsigned char* pixels, PixelLayout layout, int width, int height, int pitch,
                  std::string* error);
    // Drains the encoder and writes the container's trailer: the file is complete and closed.
    bool finish(std::string* error);
    std::int64_t frames() const { return frames_; }

  private:
    struct Codec;
    bool drain(bool last, std::string* error);
    void release();

    std::unique_ptr<Codec> codec_;
    std::int64_t frames_ = 0;
};

}  // namespace tessel

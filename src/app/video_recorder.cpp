#include "app/video_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace tessel {

namespace {

bool endsWith(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != tail[i])
            return false;
    return true;
}

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

VideoKind videoKindOf(const std::string& path) {
    if (endsWith(path, ".mp4")) return VideoKind::Mp4H264;
    if (endsWith(path, ".webm")) return VideoKind::WebmVp9;
    return VideoKind::None;
}

std::string checkVideoTarget(const std::string& path) {
    if (videoKindOf(path) == VideoKind::None)
        return "'" + path + "' ends in neither .mp4 nor .webm";
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "'" + path + "' is a folder";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return "cannot write '" + path + "': " + std::strerror(errno);
        ::close(fd);
        return "";
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return "cannot write '" + path + "': " + std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return "";
}

struct cVideoRecorder::Codec {
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    bool fileOpen = false;
};

cVideoRecorder::cVideoRecorder() = default;

cVideoRecorder::~cVideoRecorder() {
    std::string ignored;
    if (codec_) finish(&ignored);
}

void cVideoRecorder::release() {
    if (!codec_) return;
    Codec& c = *codec_;
    sws_freeContext(c.scaler);
    av_packet_free(&c.packet);
    av_frame_free(&c.frame);
    avcodec_free_context(&c.encoder);
    if (c.format) {
        if (c.fileOpen) avio_closep(&c.format->pb);
        avformat_free_context(c.format);
    }
    codec_.reset();
}

bool cVideoRecorder::open(const std::string& path, int width, int height, int fps,
                          std::string* error) {
    release();
    const VideoKind kind = videoKindOf(path);
    if (kind == VideoKind::None) {
        *error = "'" + path + "' ends in neither .mp4 nor .webm";
        return false;
    }
    // The encoders' own chatter (x264's statistics at the end) stays out of the terminal.
    av_log_set_level(AV_LOG_ERROR);
    codec_ = std::make_unique<Codec>();
    Codec& c = *codec_;
    c.path = path;
    auto fail = [&](const std::string& why) {
        *error = why;
        const bool made = c.fileOpen;
        release();
        if (made) std::remove(path.c_str());
        return false;
    };
    const bool mp4 = kind == VideoKind::Mp4H264;
    avformat_alloc_output_context2(&c.format, nullptr, mp4 ? "mp4" : "webm", path.c_str());
    if (!c.format) return fail("no " + std::string(mp4 ? "MP4" : "WebM") + " writer in FFmpeg");
    const char* encoderName = mp4 ? "libx264" : "libvpx-vp9";
    const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
    if (!encoder) return fail(std::string("no ") + encoderName + " encoder in FFmpeg");
    c.stream = avformat_new_stream(c.format, nullptr);
    c.encoder = avcodec_alloc_context3(encoder);
    if (!c.stream || !c.encoder) return fail("out of memory");
    AVCodecContext* e = c.encoder;
    e->width = width;
    e->height = height;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->time_base = AVRational{1, fps};
    e->framerate = AVRational{fps, 1};
    e->gop_size = fps * 2;  // a key frame every 2 s, so a player seeks quickly
    // swscale converts with the BT.601 matrix into the limited range: say so in the stream.
    e->colorspace = AVCOL_SPC_SMPTE170M;
    e->color_range = AVCOL_RANGE_MPEG;
    if (c.format->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (mp4) {
        // Fast enough to keep ahead of the software renderer, small enough to share.
        av_dict_set(&options, "preset", "veryfast", 0);
        av_dict_set(&options, "crf", "23", 0);
    } else {
        av_dict_set(&options, "deadline", "realtime", 0);
        av_dict_set(&options, "cpu-used", "8", 0);
        av_dict_set(&options, "row-mt", "1", 0);
        av_dict_set(&options, "crf", "32", 0);
        e->bit_rate = 0;  // quality alone decides, as with x264's crf
    }
    int rc = avcodec_open2(e, encoder, &options);
    av_dict_free(&options);
    if (rc < 0) return fail(std::string(encoderName) + ": " + avError(rc));
    rc = avcodec_parameters_from_context(c.stream->codecpar, e);
    if (rc < 0) return fail(avError(rc));
    c.stream->time_base = e->time_base;
    c.frame = av_frame_alloc();
    c.packet = av_packet_alloc();
    if (!c.frame || !c.packet) return fail("out of memory");
    c.frame->format = e->pix_fmt;
    c.frame->width = width;
    c.frame->height = height;
    rc = av_frame_get_buffer(c.frame, 0);
    if (rc < 0) return fail(avError(rc));
    rc = avio_open(&c.format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) return fail("cannot write '" + path + "': " + avError(rc));
    c.fileOpen = true;
    AVDictionary* muxing = nullptr;
    // The index goes to the front at the end, so a browser starts playing at once.
    if (mp4) av_dict_set(&muxing, "movflags", "+faststart", 0);
    rc = avformat_write_header(c.format, &muxing);
    av_dict_free(&muxing);
    if (rc < 0) return fail(avError(rc));
    frames_ = 0;
    return true;
}

bool cVideoRecorder::drain(bool last, std::string* error) {
    Codec& c = *codec_;
    for (;;) {
        int rc = avcodec_receive_packet(c.encoder, c.packet);
        if (rc == AVERROR(EAGAIN) || (last && rc == AVERROR_EOF)) return true;
        if (rc < 0) {
            *error = "encoding: " + avError(rc);
            return false;
        }
        // Every frame lasts one frame: without it the container ends the video at the last
        // frame's start, and players drop that frame.
        if (c.packet->duration == 0) c.packet->duration = 1;
        av_packet_rescale_ts(c.packet, c.encoder->time_base, c.stream->time_base);
        c.packet->stream_index = c.stream->index;
        rc = av_interleaved_write_frame(c.format, c.packet);
        if (rc < 0) {
            *error = "writing '" + c.path + "': " + avError(rc);
            return false;
        }
    }
}

bool cVideoRecorder::addFrame(const unsigned char* pixels, PixelLayout layout, int width,
                              int height, int pitch, std::string* error) {
    if (!codec_) {
        *error = "no video open";
        return false;
    }
    Codec& c = *codec_;
    const int w = c.encoder->width, h = c.encoder->height;
    // A larger picture is cut (the same rows, fewer of them read) rather than blurred by scaling.
    const bool cut = width >= w && height >= h;
    const int fromW = cut ? w : width, fromH = cut ? h : height;
    const AVPixelFormat from = layout == PixelLayout::Argb1555 ? AV_PIX_FMT_RGB555LE
                               : layout == PixelLayout::Rgb24  ? AV_PIX_FMT_RGB24
                                                               : AV_PIX_FMT_BGRA;
    c.scaler = sws_getCachedContext(c.scaler, fromW, fromH, from, w, h, AV_PIX_FMT_YUV420P,
                                    SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!c.scaler) {
        *error = "no conversion from " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    int rc = av_frame_make_writable(c.frame);
    if (rc < 0) {
        *error = avError(rc);
        return false;
    }
    const uint8_t* planes[1] = {pixels};
    const int pitches[1] = {pitch};
    sws_scale(c.scaler, planes, pitches, 0, fromH, c.frame->data, c.frame->linesize);
    c.frame->pts = frames_;
    rc = avcodec_send_frame(c.encoder, c.frame);
    if (rc < 0) {
        *error = "encoding: " + avError(rc);
        return false;
    }
    ++frames_;
    return drain(false, error);
}

bool cVideoRecorder::finish(std::string* error) {
    if (!codec_) return true;
    Codec& c = *codec_;
    bool ok = true;
    int rc = avcodec_send_frame(c.encoder, nullptr);
    if (rc < 0) {
        *error = "encoding: " + avError(rc);
        ok = false;
    }
    if (ok) ok = drain(true, error);
    rc = av_write_trailer(c.format);
    if (rc < 0 && ok) {
        *error = "writing '" + c.path + "': " + avError(rc);
        ok = false;
    }
    release();
    return ok;
}

}  // namespace tessel

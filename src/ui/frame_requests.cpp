#include "ui/frame_requests.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/irr_ptr.h"
#include "ui/fading_text_list.h"

namespace tessel {

using namespace irr;

namespace {

bool screenshotWanted = false;
std::string screenshotName;
bool pausePictureWanted = false;
int pictureGeneration = 0;

// glReadPixels on the back buffer: what was drawn this frame, before endScene swaps it away.
IrrPtr<video::IImage> readOpenGLBackBuffer(video::IVideoDriver* driver) {
    const core::dimension2d<u32> size = driver->getScreenSize();
    if (size.Width == 0 || size.Height == 0) return {};
    const std::size_t pitch = static_cast<std::size_t>(size.Width) * 4;
    std::vector<unsigned char> rows(pitch * size.Height);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    while (glGetError() != GL_NO_ERROR) {
    }
    // BGRA bytes are the memory layout of ECF_A8R8G8B8 on a little-endian machine.
    glReadPixels(0, 0, static_cast<GLsizei>(size.Width), static_cast<GLsizei>(size.Height), GL_BGRA,
                 GL_UNSIGNED_BYTE, rows.data());
    if (glGetError() != GL_NO_ERROR) return {};
    IrrPtr<video::IImage> image(driver->createImage(video::ECF_A8R8G8B8, size));
    if (!image) return {};
    unsigned char* out = static_cast<unsigned char*>(image->lock());
    if (!out) return {};
    const u32 outPitch = image->getPitch();
    for (u32 y = 0; y < size.Height; ++y) {
        // OpenGL's rows run bottom to top.
        const unsigned char* src = rows.data() + pitch * (size.Height - 1 - y);
        unsigned char* dst = out + static_cast<std::size_t>(outPitch) * y;
        std::memcpy(dst, src, pitch);
        // The back buffer is cleared with alpha 0; a saved picture must be opaque.
        for (u32 x = 0; x < size.Width; ++x) dst[x * 4 + 3] = 0xFF;
    }
    image->unlock();
    return image;
}

// Written under a dot-name first and renamed into place, so whoever watches the folder never
// sees half a picture (the writer goes by the extension, which the dot-name keeps).
bool writeFrame(video::IVideoDriver* driver, const std::string& fileName) {
    IrrPtr<video::IImage> image = captureFrame(driver);
    if (!image) return false;
    const std::string partial = "." + fileName;
    if (!driver->writeImageToFile(image.get(), partial.c_str())) {
        std::remove(partial.c_str());
        return false;
    }
    return std::rename(partial.c_str(), fileName.c_str()) == 0;
}

}  // namespace

IrrPtr<video::IImage> captureFrame(video::IVideoDriver* driver) {
    if (!driver) return {};
    if (driver->getDriverType() == video::EDT_OPENGL) return readOpenGLBackBuffer(driver);
    return IrrPtr<video::IImage>(driver->createScreenShot());
}

void requestScreenshot(const std::string& fileName) {
    screenshotWanted = true;
    screenshotName = fileName;
}

void requestPausePicture() { pausePictureWanted = true; }

bool pausePicturePending() { return pausePictureWanted; }

int pausePictureGeneration() { return pictureGeneration; }

void serviceFrameRequests(video::IVideoDriver* driver, CFadingTextList* messages) {
    if (screenshotWanted) {
        screenshotWanted = false;
        // Reporting success for a picture that was never written would mislead the user.
        bool saved = !screenshotName.empty() && writeFrame(driver, screenshotName);
        if (messages) messages->addMessage(saved ? "Screenshot Saved" : "Screenshot Failed");
    }
    if (pausePictureWanted) {
        pausePictureWanted = false;
        // The pause goes on without a new picture; the loop then shows the last one, if any.
        if (writeFrame(driver, "pausepicture.png")) ++pictureGeneration;
    }
}

}  // namespace tessel

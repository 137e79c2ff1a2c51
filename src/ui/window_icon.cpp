#include "ui/window_icon.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tessel {

using namespace irr;

namespace {

// Depth-first search of the window tree for a window whose name is `title`.
Window findByTitle(Display* display, Window w, const std::string& title, int depth) {
    char* name = nullptr;
    if (XFetchName(display, w, &name) && name) {
        bool match = (title == name);
        XFree(name);
        if (match) return w;
    }
    if (depth > 6) return 0;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(display, w, &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < n && !found; ++i)
        found = findByTitle(display, children[i], title, depth + 1);
    if (children) XFree(children);
    return found;
}

}  // namespace

bool setWindowIcon(IrrlichtDevice* device, video::IImage* image, const wchar_t* caption) {
    if (!device || !image) return false;
    const char* displayName = std::getenv("DISPLAY");
    if (!displayName || !*displayName) return false;
    video::IVideoDriver* driver = device->getVideoDriver();
    const video::SExposedVideoData& data = driver->getExposedVideoData();
    Display* display = static_cast<Display*>(data.OpenGLLinux.X11Display);
    Window window = static_cast<Window>(data.OpenGLLinux.X11Window);
    bool ownDisplay = false;
    if (!display || !window) {
        display = XOpenDisplay(nullptr);
        if (!display) return false;
        ownDisplay = true;
        std::string title;
        for (const wchar_t* c = caption; c && *c; ++c) title.push_back(static_cast<char>(*c));
        // The engine's own connection may not have sent the caption yet: look a few times.
        for (int attempt = 0; attempt < 25 && !window; ++attempt) {
            window = findByTitle(display, DefaultRootWindow(display), title, 0);
            if (!window) usleep(20000);
        }
    }
    bool ok = false;
    if (window) {
        core::dimension2d<u32> size = image->getDimension();
        std::vector<unsigned long> icon;
        icon.reserve(2 + size.Width * size.Height);
        icon.push_back(size.Width);
        icon.push_back(size.Height);
        for (u32 y = 0; y < size.Height; ++y)
            for (u32 x = 0; x < size.Width; ++x) icon.push_back(image->getPixel(x, y).color);
        Atom property = XInternAtom(display, "_NET_WM_ICON", False);
        XChangeProperty(display, window, property, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(icon.data()),
                        static_cast<int>(icon.size()));
        XFlush(display);
        ok = true;
    }
    if (ownDisplay) XCloseDisplay(display);
    return ok;
}

}  // namespace tessel

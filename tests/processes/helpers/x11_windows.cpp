// The helper process's windows: a small X11 client that maps the window layouts the window
// tests look for, each carrying this process's id in _NET_WM_PID.
#include "processes/helpers/host.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace nxproc {

namespace {

Window makeWindow(Display* d, Window parent, const char* title, int x, int y) {
    XSetWindowAttributes attrs;
    std::memset(&attrs, 0, sizeof attrs);
    attrs.background_pixel = 0;
    const Window w = XCreateWindow(d, parent, x, y, 100, 80, 0, CopyFromParent, InputOutput,
                                   CopyFromParent, CWBackPixel, &attrs);
    if (title) {
        XStoreName(d, w, title);
        const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
        XChangeProperty(d, w, netName, utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title),
                        static_cast<int>(std::strlen(title)));
    }
    const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(d, w, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    return w;
}

}  // namespace

int runWindowHelper(const std::string& idsFile, const std::string& stopFile, bool hiddenOnly) {
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 2;
    const Window root = DefaultRootWindow(d);
    Window main = 0, hidden = 0, hiddenParent = 0, orphanChild = 0, grandchild = 0;
    if (!hiddenOnly) {
        main = makeWindow(d, root, "nx main window", 0, 0);
        const Window child = makeWindow(d, main, nullptr, 5, 5);
        grandchild = makeWindow(d, child, nullptr, 2, 2);
        XMapWindow(d, grandchild);
        XMapWindow(d, child);
        XMapWindow(d, main);
        hiddenParent = makeWindow(d, root, "nx hidden parent", 120, 0);
        orphanChild = makeWindow(d, hiddenParent, nullptr, 5, 5);
        XMapWindow(d, orphanChild);
    }
    // Created last, so it lies above the others in stacking order.
    hidden = makeWindow(d, root, "nx hidden window", 0, 100);
    XSync(d, False);

    // Written whole under another name, then renamed, so the reader never sees half a line.
    const std::string partial = idsFile + ".part";
    {
        std::ofstream out(partial);
        out << getpid() << ' ' << main << ' ' << hidden << ' ' << hiddenParent << ' '
            << orphanChild << ' ' << grandchild << '\n';
    }
    std::error_code ec;
    std::filesystem::rename(partial, idsFile, ec);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!std::filesystem::exists(stopFile, ec) && std::chrono::steady_clock::now() < deadline) {
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XCloseDisplay(d);
    return 0;
}

}  // namespace nxproc

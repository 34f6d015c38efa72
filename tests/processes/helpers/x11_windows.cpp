// The helper process's windows on X11: the layouts the window tests look for, each carrying this
// process's id in _NET_WM_PID.
#include "processes/helpers/host.h"

#include "support/child_process.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace nxproc {

namespace {

Window makeWindow(Display* d, Window parent, const char* title, int x, int y) {
    XSetWindowAttributes attrs{};
    const Window w = XCreateWindow(d, parent, x, y, 100, 80, 0, CopyFromParent, InputOutput,
                                   CopyFromParent, CWBackPixel, &attrs);
    if (title)
        XStoreName(d, w, title);
    const long pid = static_cast<long>(nxtest::selfProcessId());
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    return w;
}

}  // namespace

long long startWindowSystem(std::string* display) {
    const long long server = nxtest::startXvfb(display);
    if (server == 0)
        *display = "Xvfb " + *display + " (is the xvfb package installed?)";
    return server;
}

int runWindowHelper(bool hiddenOnly) {
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 2;
    const Window root = DefaultRootWindow(d);
    Window main = 0, hiddenParent = 0, orphanChild = 0, grandchild = 0;
    if (!hiddenOnly) {
        // The hidden windows' titles are WM_NAME only; the main window's UTF-8 _NET_WM_NAME
        // overrides a WM_NAME that says otherwise.
        main = makeWindow(d, root, "nx old title", 0, 0);
        const char title[] = "nx main window";
        XChangeProperty(d, main, XInternAtom(d, "_NET_WM_NAME", False),
                        XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title), sizeof title - 1);
        const Window child = makeWindow(d, main, nullptr, 5, 5);
        grandchild = makeWindow(d, child, nullptr, 2, 2);
        for (Window w : {grandchild, child, main})
            XMapWindow(d, w);
        hiddenParent = makeWindow(d, root, "nx hidden parent", 120, 0);
        orphanChild = makeWindow(d, hiddenParent, nullptr, 5, 5);
        XMapWindow(d, orphanChild);
    }
    // Created last, so it lies above the others in stacking order.
    const Window hidden = makeWindow(d, root, "nx hidden window", 0, 100);
    XSync(d, False);
    reportReady(windowLine({main, hidden, hiddenParent, orphanChild, grandchild}));
    waitUntilStopped([d] {
        for (XEvent e; XPending(d) > 0;)
            XNextEvent(d, &e);
    });
    XCloseDisplay(d);
    return 0;
}

}  // namespace nxproc

// ThreadSanitizer builds: after a lost server (which the window tests cause on purpose), libX11
// 1.7 and later unlock the display twice, in the I/O-error path and on the way out of the
// request. The runtime looks this function up by name; other builds ignore it.
extern "C" const char* __tsan_default_suppressions() { return "mutex:libX11.so.6\n"; }

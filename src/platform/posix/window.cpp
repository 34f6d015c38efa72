// Windows on POSIX: an X11 client of its own, with libX11.so.6 loaded at run time.
//
// Sections: the loaded entry points; the process-wide connection (opened on first use, again
// when DISPLAY changes or the server went away, forgotten in a forked child) and the scoped
// error trap; window facts; the stacking list; the operations of platform/window.h.
//
// Every operation takes one process-wide lock: Xlib is not told to be thread-safe (a host may
// use Xlib itself without XInitThreads), so this file's connection is only ever used by one
// thread at a time.
#include "platform/window.h"
#include "platform/utf8.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// ---- loaded entry points ---------------------------------------------------------------------

struct X11Api {
    decltype(&::XOpenDisplay) OpenDisplay = nullptr;
    decltype(&::XCloseDisplay) CloseDisplay = nullptr;
    decltype(&::XDefaultRootWindow) RootOf = nullptr;
    decltype(&::XQueryTree) QueryTree = nullptr;
    decltype(&::XFree) Free = nullptr;
    decltype(&::XGetWindowAttributes) GetWindowAttributes = nullptr;
    decltype(&::XInternAtom) InternAtom = nullptr;
    decltype(&::XGetWindowProperty) GetWindowProperty = nullptr;
    decltype(&::XMapWindow) MapWindow = nullptr;
    decltype(&::XRaiseWindow) RaiseWindow = nullptr;
    decltype(&::XSendEvent) SendEvent = nullptr;
    decltype(&::XSync) Sync = nullptr;
    decltype(&::XSetErrorHandler) SetErrorHandler = nullptr;
    decltype(&::XSetIOErrorHandler) SetIOErrorHandler = nullptr;
    // libX11 1.7 and later: lets a lost server end the connection instead of the process.
    void (*SetIOErrorExitHandler)(Display*, void (*)(Display*, void*), void*) = nullptr;
    bool loaded = false;
};

template <typename F>
bool resolve(void* lib, const char* name, F& fn) {
    fn = reinterpret_cast<F>(::dlsym(lib, name));
    return fn != nullptr;
}

// Loads libX11 once; the library stays loaded for the life of the process.
const X11Api& x11() {
    static const X11Api api = [] {
        X11Api a;
        void* lib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return a;
        a.loaded = resolve(lib, "XOpenDisplay", a.OpenDisplay) &&
                   resolve(lib, "XCloseDisplay", a.CloseDisplay) &&
                   resolve(lib, "XDefaultRootWindow", a.RootOf) &&
                   resolve(lib, "XQueryTree", a.QueryTree) && resolve(lib, "XFree", a.Free) &&
                   resolve(lib, "XGetWindowAttributes", a.GetWindowAttributes) &&
                   resolve(lib, "XInternAtom", a.InternAtom) &&
                   resolve(lib, "XGetWindowProperty", a.GetWindowProperty) &&
                   resolve(lib, "XMapWindow", a.MapWindow) &&
                   resolve(lib, "XRaiseWindow", a.RaiseWindow) &&
                   resolve(lib, "XSendEvent", a.SendEvent) && resolve(lib, "XSync", a.Sync) &&
                   resolve(lib, "XSetErrorHandler", a.SetErrorHandler) &&
                   resolve(lib, "XSetIOErrorHandler", a.SetIOErrorHandler);
        resolve(lib, "XSetIOErrorExitHandler", a.SetIOErrorExitHandler);
        return a;
    }();
    return api;
}

// ---- the connection and the error trap ------------------------------------------------------

struct Connection {
    Display* display = nullptr;
    std::string name;  // the DISPLAY it was opened for
    Window root = 0;
    Atom netWmPid = 0, netWmName = 0, utf8String = 0, wmState = 0, netActiveWindow = 0;
    bool lost = false;  // the server went away; close and open again on next use
};

// The top-level windows from the top, as this thread's last windowTop read them: each walk
// sees the order of its own start, whatever other threads walk meanwhile.
thread_local std::vector<Window> t_stacking;

std::mutex g_lock;
Connection g_conn;

void onServerLost(Display*, void* conn) { static_cast<Connection*>(conn)->lost = true; }

void forkPrepare() { g_lock.lock(); }
void forkParent() { g_lock.unlock(); }
void forkChild() {
    // The socket is shared with the parent now: leave it to the parent, open a new one here.
    g_conn.display = nullptr;
    g_conn.name.clear();
    g_lock.unlock();
}

// Errors of requests on this file's connection (a window that does not exist or vanished)
// are recorded instead of reaching Xlib's default handler, which ends the process. A lost
// server is an I/O error: the default handler ends the process there too, so this file's own
// handler marks the connection lost and returns, and the per-connection exit handler (libX11
// 1.7 and later) lets the call fail instead of exiting. The handlers are process-wide in Xlib:
// they are installed only around this file's requests, and errors of other connections go to
// the handlers that were there before.
Display* g_trapDisplay = nullptr;
int g_trapErrors = 0;
XErrorHandler g_previousHandler = nullptr;
XIOErrorHandler g_previousIOHandler = nullptr;

int trapError(Display* d, XErrorEvent* e) {
    if (d == g_trapDisplay) {
        ++g_trapErrors;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(d, e) : 0;
}

int trapIOError(Display* d) {
    if (d == g_trapDisplay) {
        g_conn.lost = true;
        return 0;
    }
    return g_previousIOHandler ? g_previousIOHandler(d) : 0;
}

// Caller holds g_lock and has the error trap installed. Returns the connection for the
// current DISPLAY, or null.
Connection* connection() {
    const X11Api& x = x11();
    if (!x.loaded)
        return nullptr;
    const char* env = std::getenv("DISPLAY");
    const std::string name = env ? env : "";
    if (g_conn.display && (g_conn.lost || g_conn.name != name)) {
        // Closing talks to the server one last time: its errors are trapped too.
        g_trapDisplay = g_conn.display;
        x.CloseDisplay(g_conn.display);
        g_trapDisplay = nullptr;
        g_conn = Connection{};
    }
    if (g_conn.display)
        return &g_conn;
    if (name.empty())
        return nullptr;
    static const int registered = pthread_atfork(forkPrepare, forkParent, forkChild);
    (void)registered;
    Display* d = x.OpenDisplay(name.c_str());
    if (!d) {
        setLastError(errno, "XOpenDisplay");
        return nullptr;
    }
    if (x.SetIOErrorExitHandler)
        x.SetIOErrorExitHandler(d, onServerLost, &g_conn);
    g_trapDisplay = d;
    g_conn.display = d;
    g_conn.name = name;
    g_conn.root = x.RootOf(d);
    g_conn.netWmPid = x.InternAtom(d, "_NET_WM_PID", False);
    g_conn.netWmName = x.InternAtom(d, "_NET_WM_NAME", False);
    g_conn.utf8String = x.InternAtom(d, "UTF8_STRING", False);
    g_conn.wmState = x.InternAtom(d, "WM_STATE", False);
    g_conn.netActiveWindow = x.InternAtom(d, "_NET_ACTIVE_WINDOW", False);
    return &g_conn;
}

// Holds g_lock and the error trap for one operation; conn is null when there is no display.
class Session {
public:
    Session() : m_guard(g_lock) {
        const X11Api& x = x11();
        if (!x.loaded)
            return;
        g_trapDisplay = nullptr;
        g_trapErrors = 0;
        g_previousHandler = x.SetErrorHandler(trapError);
        g_previousIOHandler = x.SetIOErrorHandler(trapIOError);
        m_trapped = true;
        m_conn = connection();
        g_trapDisplay = m_conn ? m_conn->display : nullptr;
    }
    ~Session() {
        if (m_conn && !m_conn->lost)
            x11().Sync(m_conn->display, False);
        if (m_trapped) {
            x11().SetIOErrorHandler(g_previousIOHandler);
            x11().SetErrorHandler(g_previousHandler);
            g_trapDisplay = nullptr;
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Connection* conn() const { return m_conn; }

private:
    std::lock_guard<std::mutex> m_guard;
    Connection* m_conn = nullptr;
    bool m_trapped = false;
};

// ---- window facts -----------------------------------------------------------------------------

bool attributes(Connection& c, Window w, XWindowAttributes* a) {
    if (w == 0)
        return false;
    return x11().GetWindowAttributes(c.display, w, a) != 0 && !c.lost;
}

// The property's bytes (format 8) or 32-bit items widened to long (format 32); false when
// the window has no such property or does not exist.
bool property(Connection& c, Window w, Atom name, Atom type, Atom* actualType, int* format,
              std::vector<unsigned char>* bytes, std::vector<long>* items) {
    Atom gotType = 0;
    int gotFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (x11().GetWindowProperty(c.display, w, name, 0, 1024, False, type, &gotType, &gotFormat,
                                &count, &after, &data) != Success ||
        c.lost) {
        return false;
    }
    // A property of another type than the one asked for comes back empty: not found.
    bool ok = gotType != None && data != nullptr && (type == AnyPropertyType || gotType == type);
    if (ok && gotFormat == 8 && bytes)
        bytes->assign(data, data + count);
    else if (ok && gotFormat == 32 && items)
        items->assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
    else
        ok = ok && gotFormat != 0 && !bytes && !items;
    if (data)
        x11().Free(data);
    if (actualType)
        *actualType = gotType;
    if (format)
        *format = gotFormat;
    return ok;
}

// Whether a window manager manages `w` as a client (it carries WM_STATE).
bool isClient(Connection& c, Window w) {
    int format = 0;
    return property(c, w, c.wmState, AnyPropertyType, nullptr, &format, nullptr, nullptr);
}

// The parent and children of `w`; false when it does not exist.
bool tree(Connection& c, Window w, Window* parent, std::vector<Window>* children) {
    Window root = 0, par = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    if (x11().QueryTree(c.display, w, &root, &par, &kids, &n) == 0 || c.lost)
        return false;
    if (parent)
        *parent = par;
    if (children)
        children->assign(kids, kids + n);
    if (kids)
        x11().Free(kids);
    return true;
}

// The client window inside a window manager's frame: the first descendant, breadth first,
// that carries WM_STATE; 0 when there is none.
Window clientOf(Connection& c, Window frame) {
    std::deque<std::pair<Window, int>> queue{{frame, 0}};
    while (!queue.empty()) {
        const auto [w, depth] = queue.front();
        queue.pop_front();
        std::vector<Window> kids;
        if (depth >= 3 || !tree(c, w, nullptr, &kids))
            continue;
        for (Window k : kids) {
            if (isClient(c, k))
                return k;
            queue.emplace_back(k, depth + 1);
        }
    }
    return 0;
}

// The parent in the Windows sense: none for the root's children and for managed clients
// (their frame belongs to the window manager).
Window parentOf(Connection& c, Window w) {
    Window parent = 0;
    if (!tree(c, w, &parent, nullptr) || parent == 0 || parent == c.root)
        return 0;
    return isClient(c, w) ? 0 : parent;
}

std::u16string decodeText(const std::vector<unsigned char>& bytes, bool utf8) {
    std::u16string out;
    if (bytes.empty())
        return out;
    if (!utf8) {
        // STRING is Latin-1: each byte is its own code point.
        for (unsigned char b : bytes)
            out += static_cast<char16_t>(b);
        return out;
    }
    return fromUtf8(std::string(bytes.begin(), bytes.end()));
}

// ---- the stacking list ----------------------------------------------------------------------

void readStacking(Connection& c) {
    t_stacking.clear();
    std::vector<Window> kids;
    if (!tree(c, c.root, nullptr, &kids))
        return;
    // XQueryTree lists the children from the bottom of the stack.
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
        Window w = *it;
        if (!isClient(c, w)) {
            const Window client = clientOf(c, w);
            if (client != 0)
                w = client;
        }
        t_stacking.push_back(w);
    }
}

}  // namespace

// ---- operations -------------------------------------------------------------------------------

WindowId windowTop() {
    Session s;
    if (!s.conn())
        return 0;
    readStacking(*s.conn());
    return t_stacking.empty() ? 0 : t_stacking.front();
}

WindowId windowNext(WindowId w) {
    Session s;
    if (!s.conn() || w == 0)
        return 0;
    const std::vector<Window>& list = t_stacking;
    for (std::size_t i = 0; i + 1 < list.size(); ++i)
        if (list[i] == w)
            return list[i + 1];
    return 0;
}

bool windowIsValid(WindowId w) {
    Session s;
    XWindowAttributes a;
    return s.conn() && attributes(*s.conn(), static_cast<Window>(w), &a);
}

bool windowProcessId(WindowId w, unsigned long* processId) {
    Session s;
    if (!s.conn() || w == 0)
        return false;
    std::vector<long> items;
    Connection& c = *s.conn();
    if (!property(c, static_cast<Window>(w), c.netWmPid, XA_CARDINAL, nullptr, nullptr, nullptr,
                  &items) ||
        items.empty()) {
        return false;
    }
    if (processId)
        *processId = static_cast<unsigned long>(items[0]) & 0xFFFFFFFFUL;
    return true;
}

bool windowIsVisible(WindowId w) {
    Session s;
    XWindowAttributes a;
    return s.conn() && attributes(*s.conn(), static_cast<Window>(w), &a) &&
           a.map_state == IsViewable;
}

std::u16string windowText(WindowId w, int maxUnits) {
    Session s;
    std::u16string text;
    if (!s.conn() || w == 0 || maxUnits <= 0)
        return text;
    Connection& c = *s.conn();
    std::vector<unsigned char> bytes;
    Atom type = 0;
    if (property(c, static_cast<Window>(w), c.netWmName, c.utf8String, &type, nullptr, &bytes,
                 nullptr)) {
        text = decodeText(bytes, true);
    } else if (property(c, static_cast<Window>(w), XA_WM_NAME, AnyPropertyType, &type, nullptr,
                        &bytes, nullptr)) {
        text = decodeText(bytes, type == c.utf8String);
    }
    if (text.size() > static_cast<std::size_t>(maxUnits))
        text.resize(static_cast<std::size_t>(maxUnits));
    return text;
}

WindowId windowParent(WindowId w) {
    Session s;
    return s.conn() && w != 0 ? parentOf(*s.conn(), static_cast<Window>(w)) : 0;
}

unsigned long windowStyle(WindowId w) {
    Session s;
    XWindowAttributes a;
    if (!s.conn() || !attributes(*s.conn(), static_cast<Window>(w), &a))
        return 0;
    unsigned long style = 0;
    if (a.map_state != IsUnmapped)
        style |= kWindowStyleVisible;
    if (parentOf(*s.conn(), static_cast<Window>(w)) != 0)
        style |= kWindowStyleChild;
    return style;
}

void windowShow(WindowId w) {
    Session s;
    if (s.conn() && w != 0)
        x11().MapWindow(s.conn()->display, static_cast<Window>(w));
}

void windowBringToTop(WindowId w) {
    Session s;
    if (!s.conn() || w == 0)
        return;
    Connection& c = *s.conn();
    x11().RaiseWindow(c.display, static_cast<Window>(w));
    if (isClient(c, static_cast<Window>(w))) {
        // A managed window is raised by its window manager: ask it to activate the window, as
        // a pager would (source indication 2).
        XEvent e;
        std::memset(&e, 0, sizeof e);
        e.xclient.type = ClientMessage;
        e.xclient.window = static_cast<Window>(w);
        e.xclient.message_type = c.netActiveWindow;
        e.xclient.format = 32;
        e.xclient.data.l[0] = 2;
        e.xclient.data.l[1] = CurrentTime;
        x11().SendEvent(c.display, c.root, False,
                        SubstructureRedirectMask | SubstructureNotifyMask, &e);
    }
}

bool windowMessageFilter(unsigned int, bool) {
    setLastError(ENOSYS, "ChangeWindowMessageFilter");
    return false;
}

}  // namespace platform

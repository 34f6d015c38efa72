// Gatekeeper of the Win32 backend: the only file that includes <windows.h>. Lean headers, no
// min/max macros, Unicode API.
#ifndef NXUTIL_PLATFORM_WIN32_SUPPORT_H
#define NXUTIL_PLATFORM_WIN32_SUPPORT_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>

namespace platform {
namespace win32 {

// char16_t and WCHAR are both 16-bit UTF-16 units on Windows.
inline const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* wide(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }

// Owns a HANDLE and closes it once.
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : m_h(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = nullptr) {
        if (valid())
            CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h;
};

}  // namespace win32
}  // namespace platform

#endif

// Platform handle types of the public interface.
//
// On Windows these are exactly the types <windows.h> declares (a strict handle is a pointer to
// an incomplete struct of the same name), so a host that includes both headers sees one type.
// Elsewhere they are opaque pointer types of the same shape: the library gives them meaning
// (a window handle carries an X11 window id, for instance) and the host only passes them back.
#ifndef NXUTIL_TYPES_H
#define NXUTIL_TYPES_H

#if defined(_WIN32) && defined(NO_STRICT)
typedef void* HWND;
typedef void* HINSTANCE;
#else
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
#endif
typedef HINSTANCE HMODULE;
typedef void* HANDLE;

// The calling convention of functions the platform calls back (CALLBACK: __stdcall on 32-bit
// Windows, the default elsewhere).
#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define NXUTIL_CALLBACK __stdcall
#else
#define NXUTIL_CALLBACK
#endif

#endif

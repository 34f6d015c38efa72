// The platform layer's error model: the native error of the last failed call on this thread.
#ifndef NXUTIL_PLATFORM_ERROR_H
#define NXUTIL_PLATFORM_ERROR_H

namespace platform {

/// The native error number (errno or GetLastError) and the name of the OS call that failed.
struct Error {
    int code = 0;
    const char* call = "";
};

/// The calling thread's last recorded platform failure.
Error lastError();
/// Records a failure; backends call it right after a failed OS call.
void setLastError(int code, const char* call);
/// The errno value closest to a native error number (the same number on POSIX), for the
/// messages of the C runtime's strerror.
int errnoOf(int nativeCode);

}  // namespace platform

#endif

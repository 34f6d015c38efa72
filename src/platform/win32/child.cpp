// Child processes running this program again: CreateProcessW of the executable's own path.
#include "platform/child.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

namespace platform {

struct Child {
    PROCESS_INFORMATION info;
};

namespace {

// One argument quoted the way the runtime's command-line parser splits it again.
std::wstring quoted(const std::string& arg) {
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"')
            slashes = slashes * 2 + 1;
        out.append(slashes, L'\\');
        slashes = 0;
        out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

Child* childStart(const std::vector<std::string>& args) {
    wchar_t exe[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) {
        setLastError(static_cast<int>(GetLastError()), "GetModuleFileNameW");
        return nullptr;
    }
    std::wstring line = L"\"" + std::wstring(exe) + L"\"";
    for (const std::string& a : args)
        line += L" " + quoted(a);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    auto* child = new Child{};
    if (!CreateProcessW(exe, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &child->info)) {
        setLastError(static_cast<int>(GetLastError()), "CreateProcessW");
        delete child;
        return nullptr;
    }
    return child;
}

unsigned long childId(const Child* child) { return child ? child->info.dwProcessId : 0; }

void childStop(Child* child) {
    if (!child)
        return;
    TerminateProcess(child->info.hProcess, 1);
    WaitForSingleObject(child->info.hProcess, INFINITE);
    CloseHandle(child->info.hThread);
    CloseHandle(child->info.hProcess);
    delete child;
}

}  // namespace platform

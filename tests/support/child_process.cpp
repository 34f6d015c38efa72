// Helper processes (this test program again, a tool under test, the private X server) and the
// few host facts the tests need. The only test-side file that talks to the OS directly, so the
// suites themselves stay free of OS headers.
#include "support/child_process.h"

#include <cstdlib>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <spawn.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
extern char** environ;
#endif

namespace nxtest {

namespace {

#ifdef _WIN32
std::wstring widen(const std::string& s) {
    std::wstring out(s.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &out[0], static_cast<int>(out.size()));
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}
#endif

// Sets the variables for this process so the child inherits them; returns the old values.
std::vector<std::pair<std::string, std::string>> exportEnv(
    std::vector<std::pair<std::string, std::string>> env) {
    env.emplace_back("NXTEST_CHILD", "1");
    std::vector<std::pair<std::string, std::string>> old;
    for (const auto& kv : env) {
        old.emplace_back(kv.first, getEnv(kv.first.c_str()));
        setEnv(kv.first, kv.second);
    }
    return old;
}

void restoreEnv(const std::vector<std::pair<std::string, std::string>>& old) {
    for (const auto& kv : old)
        setEnv(kv.first, kv.second);
}

#ifdef _WIN32
// One argument quoted the way the runtime's command-line parser splits it again.
std::wstring quoted(const std::string& arg) {
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : widen(arg)) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        if (c == L'"')
            slashes = slashes * 2 + 1;
        out.append(slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}
#endif

// Where a started program's standard streams go: null keeps this process's stream.
struct Redirects {
    const char* input = nullptr;
    const char* output = nullptr;
    const char* error = nullptr;  // created or truncated, owner-only
};

// Starts argv[0] with argv (looked up in PATH when `searchPath`); returns the child (a process
// id, or a process handle on Windows) or 0. The one place that starts a process.
long long spawn(const std::vector<std::string>& argv, const Redirects& io,
                [[maybe_unused]] bool searchPath = false) {
#ifdef _WIN32
    if (io.input || io.output || io.error)
        return 0;  // no test redirects a Windows child's streams
    const std::wstring exe = widen(argv[0]);
    std::wstring line;
    for (const std::string& a : argv)
        line += (line.empty() ? L"" : L" ") + quoted(a);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi))
        return 0;
    CloseHandle(pi.hThread);
    return reinterpret_cast<long long>(pi.hProcess);
#else
    std::vector<std::string> words = argv;
    std::vector<char*> args;
    for (std::string& w : words)
        args.push_back(&w[0]);
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (io.input)
        posix_spawn_file_actions_addopen(&actions, 0, io.input, O_RDONLY, 0);
    if (io.output)
        posix_spawn_file_actions_addopen(&actions, 1, io.output, O_WRONLY, 0);
    if (io.error)
        posix_spawn_file_actions_addopen(&actions, 2, io.error, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc = searchPath
                       ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                       : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
#endif
}

}  // namespace

std::string selfExePath() {
#ifdef _WIN32
    wchar_t exe[32768];
    const DWORD len = GetModuleFileNameW(nullptr, exe, 32768);
    if (len == 0 || len >= 32768)
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, exe, static_cast<int>(len), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, exe, static_cast<int>(len), &out[0], n, nullptr, nullptr);
    return out;
#else
    char exe[4096];
    const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return len > 0 ? std::string(exe, static_cast<std::size_t>(len)) : std::string();
#endif
}

long long startProgram(const std::string& program, const std::string& filter,
                       const std::vector<std::pair<std::string, std::string>>& env) {
    if (program.empty())
        return 0;
    const auto old = exportEnv(env);
    const long long child = spawn({program, "--gtest_filter=" + filter}, {});
    restoreEnv(old);
    return child;
}

long long startSelfWith(const std::vector<std::string>& args) {
    std::vector<std::string> argv{selfExePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv[0].empty() ? 0 : spawn(argv, {});
}

long long startSelf(const std::string& filter,
                    const std::vector<std::pair<std::string, std::string>>& env) {
    return startProgram(selfExePath(), filter, env);
}

int waitChild(long long child) {
    if (child == 0)
        return -1;
#ifdef _WIN32
    HANDLE h = reinterpret_cast<HANDLE>(child);
    WaitForSingleObject(h, INFINITE);
    DWORD code = 0;
    const BOOL ok = GetExitCodeProcess(h, &code);
    CloseHandle(h);
    return ok ? static_cast<int>(code) : -1;
#else
    int status = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(child), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
#endif
}

int runSelf(const std::string& filter,
            const std::vector<std::pair<std::string, std::string>>& env) {
    return waitChild(startSelf(filter, env));
}

ProgramResult runProgram([[maybe_unused]] const std::string& program,
                         [[maybe_unused]] const std::vector<std::string>& args,
                         [[maybe_unused]] const std::string& errorFile,
                         [[maybe_unused]] int timeoutSeconds) {
    ProgramResult result;
#ifndef _WIN32
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = static_cast<pid_t>(spawn(argv, {"/dev/null", "/dev/null", errorFile.c_str()}));
    if (pid == 0)
        return result;
    result.started = true;
    // Polls every 10 ms: a child that blocks (on a FIFO, say) is killed at the time-out.
    int status = 0;
    const long long limit = static_cast<long long>(timeoutSeconds) * 100;
    for (long long tick = 0;; ++tick) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            return result;
        if (tick >= limit) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        const struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
#endif
    return result;
}

void killChild(long long child, [[maybe_unused]] bool letItClean) {
    if (child == 0)
        return;
#ifdef _WIN32
    TerminateProcess(reinterpret_cast<HANDLE>(child), 1);
#else
    kill(static_cast<pid_t>(child), letItClean ? SIGTERM : SIGKILL);
#endif
    waitChild(child);
}

unsigned long childProcessId(long long child) {
#ifdef _WIN32
    return child ? GetProcessId(reinterpret_cast<HANDLE>(child)) : 0;
#else
    return static_cast<unsigned long>(child);
#endif
}

long long startXvfb([[maybe_unused]] std::string* display) {
#ifdef _WIN32
    return 0;
#else
    // Xvfb picks a free display number itself and writes it to the descriptor given with
    // -displayfd once it accepts connections.
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const long long pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                                 "-screen", "0", "320x240x24"},
                                {nullptr, nullptr, "/dev/null"}, /*searchPath=*/true);
    close(fds[1]);
    std::string number;
    for (char c = 0; pid != 0;) {
        pollfd p = {fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, 30000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || read(fds[0], &c, 1) <= 0 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (pid != 0 && number.empty()) {
        killChild(pid, true);
        *display = "did not report a display";
        return 0;
    }
    *display = pid != 0 ? ":" + number : "could not be started";
    return pid;
#endif
}

const char* wineVersion() {
#ifdef _WIN32
    using VersionFn = const char*(__cdecl*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto fn = ntdll ? reinterpret_cast<VersionFn>(
                                reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                          : nullptr;
    return fn ? fn() : nullptr;
#else
    return nullptr;
#endif
}

std::size_t mappedFileRegions() {
    std::size_t count = 0;
#ifdef _WIN32
    // One count per allocation of an image or a mapped view, however many regions it spans.
    const char* address = nullptr;
    void* lastBase = nullptr;
    MEMORY_BASIC_INFORMATION info;
    while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
        if ((info.Type == MEM_IMAGE || info.Type == MEM_MAPPED) && info.AllocationBase != lastBase) {
            lastBase = info.AllocationBase;
            ++count;
        }
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
#else
    // Lines are "start-end perms offset dev inode   path"; a file mapping's path starts with '/'.
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return 0;
    char line[4096];
    bool lineStart = true;
    while (std::fgets(line, sizeof line, maps)) {
        if (lineStart && std::strchr(line, '/'))
            ++count;
        lineStart = std::strchr(line, '\n') != nullptr;
    }
    std::fclose(maps);
#endif
    return count;
}

void setEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
    SetEnvironmentVariableW(widen(name).c_str(), value.empty() ? nullptr : widen(value).c_str());
    _putenv_s(name.c_str(), value.c_str());
#else
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
#endif
}

bool isChildProcess() { return getEnv("NXTEST_CHILD") == "1"; }

std::string getEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool makeFifo([[maybe_unused]] const std::string& path) {
#ifdef _WIN32
    return false;
#else
    return ::mkfifo(path.c_str(), 0600) == 0;
#endif
}

bool runningAsRoot() {
#ifdef _WIN32
    return false;
#else
    return ::geteuid() == 0;
#endif
}

bool changeOwner([[maybe_unused]] const std::string& path, [[maybe_unused]] unsigned uid) {
#ifdef _WIN32
    return false;
#else
    return ::chown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(-1)) == 0;
#endif
}

unsigned setUmask([[maybe_unused]] unsigned mask) {
#ifdef _WIN32
    return 0;
#else
    return static_cast<unsigned>(::umask(static_cast<mode_t>(mask)));
#endif
}

unsigned long selfProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace nxtest

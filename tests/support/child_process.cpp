// Helper processes (this test program again, a tool under test, the private X server) and the
// few host facts the tests need. The only test-side file that talks to the OS directly, so the
// suites themselves stay free of OS headers. One block per system, the shared part last.
#include "support/child_process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <spawn.h>
#include <cerrno>
#include <sys/stat.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace nxtest {

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& s) { return std::filesystem::u8path(s).wstring(); }

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

// Starts argv[0] with argv; returns the process handle or 0. No Windows test redirects a child's
// streams or looks a program up in PATH.
long long spawn(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const std::string& a : argv)
        line += (line.empty() ? L"" : L" ") + quoted(a);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(widen(argv[0]).c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    return reinterpret_cast<long long>(pi.hProcess);
}

}  // namespace

std::string selfExePath() {
    wchar_t exe[32768];
    const DWORD len = GetModuleFileNameW(nullptr, exe, 32768);
    return len == 0 || len >= 32768 ? std::string()
                                    : std::filesystem::path(exe, exe + len).u8string();
}

int waitChild(long long child) {
    if (child == 0)
        return -1;
    HANDLE h = reinterpret_cast<HANDLE>(child);
    WaitForSingleObject(h, INFINITE);
    DWORD code = 0;
    const BOOL ok = GetExitCodeProcess(h, &code);
    CloseHandle(h);
    return ok ? static_cast<int>(code) : -1;
}

ProgramResult runProgram(const std::string&, const std::vector<std::string>&, const std::string&,
                         int) {
    return {};
}

void killChild(long long child, bool) {
    if (child != 0)
        TerminateProcess(reinterpret_cast<HANDLE>(child), 1);
    waitChild(child);
}

unsigned long childProcessId(long long child) {
    return child ? GetProcessId(reinterpret_cast<HANDLE>(child)) : 0;
}

long long startXvfb(std::string*) { return 0; }

const char* wineVersion() {
    using VersionFn = const char*(__cdecl*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto fn = ntdll ? reinterpret_cast<VersionFn>(
                                reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                          : nullptr;
    return fn ? fn() : nullptr;
}

std::size_t mappedFileRegions() {
    // One count per allocation of an image or a mapped view, however many regions it spans.
    std::size_t count = 0;
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
    return count;
}

void setEnv(const std::string& name, const std::string& value) {
    SetEnvironmentVariableW(widen(name).c_str(), value.empty() ? nullptr : widen(value).c_str());
    _putenv_s(name.c_str(), value.c_str());
}

bool makeFifo(const std::string&) { return false; }
bool runningAsRoot() { return false; }
bool changeOwner(const std::string&, unsigned) { return false; }
unsigned setUmask(unsigned) { return 0; }
unsigned long selfProcessId() { return GetCurrentProcessId(); }

#else  // POSIX

namespace {

// Starts argv[0] with argv (a name without a slash is looked up in PATH); returns the process id
// or 0. With `errorFile`, standard input and output are the null device and standard error goes
// to that file (created or truncated, owner-only).
long long spawn(const std::vector<std::string>& argv, const char* errorFile = nullptr) {
    std::vector<char*> args;
    for (const std::string& w : argv)
        args.push_back(const_cast<char*>(w.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (errorFile) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        const int flags = O_WRONLY | O_CREAT | O_TRUNC;
        posix_spawn_file_actions_addopen(&actions, 2, errorFile, flags, 0600);
    }
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

// waitpid, retried when interrupted (with WNOHANG: 0 while the child runs).
pid_t waitPid(pid_t pid, int* status, int flags = 0) {
    pid_t r;
    while ((r = waitpid(pid, status, flags)) < 0 && errno == EINTR) {
    }
    return r;
}

}  // namespace

std::string selfExePath() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

int waitChild(long long child) {
    int status = 0;
    if (child == 0 || waitPid(static_cast<pid_t>(child), &status) < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& errorFile, int timeoutSeconds) {
    ProgramResult result;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = static_cast<pid_t>(spawn(argv, errorFile.c_str()));
    if (pid == 0)
        return result;
    result.started = true;
    // A child that blocks (on a FIFO, say) is killed at the time-out.
    int status = 0;
    pid_t ended = 0;
    if (!waitUntil([&] { return (ended = waitPid(pid, &status, WNOHANG)) != 0; }, timeoutSeconds)) {
        result.timedOut = true;
        kill(pid, SIGKILL);
        ended = waitPid(pid, &status);
    }
    if (ended < 0)
        return result;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

void killChild(long long child, bool letItClean) {
    if (child != 0)
        kill(static_cast<pid_t>(child), letItClean ? SIGTERM : SIGKILL);
    waitChild(child);
}

unsigned long childProcessId(long long child) { return static_cast<unsigned long>(child); }

long long startXvfb(std::string* display) {
    // Xvfb picks a free display number itself and writes it to the descriptor given with
    // -displayfd once it accepts connections.
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const long long pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                                 "-screen", "0", "320x240x24"},
                                "/dev/null");
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
}

const char* wineVersion() { return nullptr; }

std::size_t mappedFileRegions() {
    // Lines are "start-end perms offset dev inode   path"; a file mapping's path starts with '/'.
    std::ifstream maps("/proc/self/maps");
    std::size_t count = 0;
    for (std::string line; std::getline(maps, line);)
        count += line.find('/') != std::string::npos;
    return count;
}

void setEnv(const std::string& name, const std::string& value) {
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
}

bool makeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }
bool runningAsRoot() { return ::geteuid() == 0; }
bool changeOwner(const std::string& path, unsigned uid) {
    return ::chown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(-1)) == 0;
}
unsigned setUmask(unsigned mask) {
    return static_cast<unsigned>(::umask(static_cast<mode_t>(mask)));
}
unsigned long selfProcessId() { return static_cast<unsigned long>(getpid()); }

#endif

// Starts this program (or a copy of it) with a gtest filter and NXTEST_CHILD=1 plus `env` in
// its environment: the variables are set here for the child to inherit, then restored.
long long startProgram(const std::string& program, const std::string& filter,
                       const std::vector<std::pair<std::string, std::string>>& env) {
    if (program.empty())
        return 0;
    auto vars = env;
    vars.emplace_back("NXTEST_CHILD", "1");
    std::vector<std::pair<std::string, std::string>> old;
    for (const auto& kv : vars) {
        old.emplace_back(kv.first, getEnv(kv.first.c_str()));
        setEnv(kv.first, kv.second);
    }
    const long long child = spawn({program, "--gtest_filter=" + filter});
    for (auto it = old.rbegin(); it != old.rend(); ++it)
        setEnv(it->first, it->second);
    return child;
}

long long startSelf(const std::string& filter,
                    const std::vector<std::pair<std::string, std::string>>& env) {
    return startProgram(selfExePath(), filter, env);
}

long long startSelfWith(const std::vector<std::string>& args) {
    std::vector<std::string> argv{selfExePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv[0].empty() ? 0 : spawn(argv);
}

int runSelf(const std::string& filter,
            const std::vector<std::pair<std::string, std::string>>& env) {
    return waitChild(startSelf(filter, env));
}

bool isChildProcess() { return getEnv("NXTEST_CHILD") == "1"; }

bool waitUntil(const std::function<bool()>& ready, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if (ready())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

std::string getEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace nxtest

// Spawning this test program again, and making FIFOs. The only test-side file that talks to
// the OS directly, so the suites themselves stay free of OS headers.
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
#include <sys/stat.h>
#include <fcntl.h>
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
    const std::vector<std::pair<std::string, std::string>>& env) {
    std::vector<std::pair<std::string, std::string>> all = env;
    all.emplace_back("NXTEST_CHILD", "1");
    std::vector<std::pair<std::string, std::string>> old;
    for (const auto& kv : all) {
        old.emplace_back(kv.first, getEnv(kv.first.c_str()));
#ifdef _WIN32
        SetEnvironmentVariableW(widen(kv.first).c_str(), widen(kv.second).c_str());
        _putenv_s(kv.first.c_str(), kv.second.c_str());
#else
        setenv(kv.first.c_str(), kv.second.c_str(), 1);
#endif
    }
    return old;
}

void restoreEnv(const std::vector<std::pair<std::string, std::string>>& old) {
    for (const auto& kv : old) {
#ifdef _WIN32
        SetEnvironmentVariableW(widen(kv.first).c_str(),
                                kv.second.empty() ? nullptr : widen(kv.second).c_str());
        _putenv_s(kv.first.c_str(), kv.second.c_str());
#else
        if (kv.second.empty())
            unsetenv(kv.first.c_str());
        else
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
#endif
    }
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
    long long child = 0;
#ifdef _WIN32
    const std::wstring exe = widen(program);
    std::wstring cmd = L"\"" + exe + L"\" \"--gtest_filter=" + widen(filter) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        child = reinterpret_cast<long long>(pi.hProcess);
    }
#else
    std::string exe = program;
    std::string flag = "--gtest_filter=" + filter;
    char* argv[] = {&exe[0], &flag[0], nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ) == 0)
        child = pid;
#endif
    restoreEnv(old);
    return child;
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

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& errorFile, int timeoutSeconds) {
    ProgramResult result;
#ifdef _WIN32
    (void)program;
    (void)args;
    (void)errorFile;
    (void)timeoutSeconds;
#else
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
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

void setEnv(const std::string& name, const std::string& value) {
    restoreEnv({{name, value}});
}

bool isChildProcess() { return getEnv("NXTEST_CHILD") == "1"; }

std::string getEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool makeFifo(const std::string& path) {
#ifdef _WIN32
    (void)path;
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

bool changeOwner(const std::string& path, unsigned uid) {
#ifdef _WIN32
    (void)path;
    (void)uid;
    return false;
#else
    return ::chown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(-1)) == 0;
#endif
}

unsigned setUmask(unsigned mask) {
#ifdef _WIN32
    (void)mask;
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

#include "app/SystemUtils.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <stdexcept>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

std::atomic<std::int32_t> g_interruptFlag{0};

namespace {

static_assert(std::atomic<std::int32_t>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnInterruptSignal(int) {
    // A second event before the first was acted on means the user insists.
    if (g_interruptFlag.load() != 0)
        _exit(255);
    g_interruptFlag.store(1);
}

pid_t CurrentThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

int ClampNice(int nice) {
    return std::clamp(nice, -20, 19);
}

// Linux I/O priority classes (ioprio_set); glibc has no wrapper for them.
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioClassBestEffort = 2;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioWhoProcess = 1;

} // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads, so a Ctrl+C during a question does not look like end of input.
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    // A file size limit (ulimit -f) must turn into a failed write that is reported and
    // cleaned up, not end the process.
    signal(SIGXFSZ, SIG_IGN);
}

const std::string& VersionBanner() {
    static const std::string banner = std::string("Tarvo ") + "v2.0.7-0-g6a7a6ef" + " " +
                                      std::to_string(sizeof(void*) * 8) + "bit" + " OpenMP";
    return banner;
}

std::string GetStartLine() {
    const std::time_t now = std::time(nullptr);
    std::string line = TrimWhite(std::ctime(&now));
    try {
        line += " " + QueryUserName();
    } catch (const std::exception&) {
    }
    try {
        line += " on " + QueryHostName();
    } catch (const std::exception&) {
    }
    return line;
}

int CreateDirectoryWithParents(const std::string& dir) {
    if (mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST)
        return 0;
    if (CreateParentDirectory(dir) != 0)
        return errno ? errno : ENOENT;
    if (mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST)
        return 0;
    return errno;
}

int CreateParentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return 0;
    const std::string parent = path.substr(0, slash);
    if (parent.empty() || parent == path)
        return 0;
    return CreateDirectoryWithParents(parent);
}

int ParsePriority(const std::string& text) {
    const std::string word = ToLower(text);
    if (word == "high")
        return -20;
    if (word == "above")
        return -10;
    if (word == "normal")
        return 0;
    if (word == "below")
        return 10;
    if (word == "idle")
        return 20;
    // A leading number is enough ("5x" is 5), as with the C library's conversions.
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(word.c_str(), &end, 10);
    if (end == word.c_str() || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        throw std::runtime_error("Unable to parse priority value: " + word);
    return static_cast<int>(value);
}

bool SetThreadNice(int nice) {
    // Linux keeps a nice value per thread; new threads inherit their creator's.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), ClampNice(nice)) == 0;
}

bool SetPriority(int nice) {
    const bool process = setpriority(PRIO_PROCESS, static_cast<id_t>(getpid()), ClampNice(nice)) == 0;
    const bool thread = SetThreadNice(nice);
    return process && thread;
}

bool SetBackgroundMode(bool begin) {
    // Background work yields the disk to the foreground; its CPU share is set by the nice value.
    const int ioClass = begin ? kIoprioClassIdle : kIoprioClassBestEffort;
    const int value = (ioClass << kIoprioClassShift) | (begin ? 0 : 4);
    if (syscall(SYS_ioprio_set, kIoprioWhoProcess, CurrentThreadId(), value) != 0) {
        std::cerr << "Unable to " << (begin ? "begin" : "end") << " background processing mode\n"
                  << std::flush;
        return false;
    }
    return true;
}

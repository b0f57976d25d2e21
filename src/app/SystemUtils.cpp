#include "app/SystemUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

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

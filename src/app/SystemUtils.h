#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "datafiles/HostInfo.h"
#include "datafiles/Text.h"

// Process-wide helpers of start-up: names for the start line, directories,
// priorities, and the interrupt flag raised by console control events.

// 0: nothing pending; 1: a control event (SIGINT, SIGTERM, SIGHUP) arrived;
// 2: the console turned it into a Quit command.
extern std::atomic<std::int32_t> g_interruptFlag;

// Installs the handler that raises g_interruptFlag; a second event while one
// is still pending ends the process at once with exit code 255.
void InstallInterruptHandler();

const std::string& VersionBanner();
std::string GetStartLine();

// Creates the directory holding `path` (and its parents); returns 0 or errno.
int CreateParentDirectory(const std::string& path);
// Creates `dir`, and its parents if needed; "already exists" is success.
int CreateDirectoryWithParents(const std::string& dir);

// Priority words map to nice values: high -20, above -10, normal 0, below 10, idle 20.
int ParsePriority(const std::string& text);
// Sets process and calling-thread priority; false when the system refused.
bool SetPriority(int nice);
bool SetThreadNice(int nice);
bool SetBackgroundMode(bool begin);

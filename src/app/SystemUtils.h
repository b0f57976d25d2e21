#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "datafiles/HostInfo.h"
#include "datafiles/Text.h"
#include "ui/Interrupt.h"

// Process-wide helpers of start-up: names for the start line, directories and
// priorities.


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

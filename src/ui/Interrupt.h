#pragma once

#include <atomic>
#include <cstdint>

// Console control events (SIGINT, SIGTERM, SIGHUP). The console turns a pending event
// into a Quit command; the application and the run look at it between steps.

// 0: nothing pending; 1: a control event arrived; 2: the console turned it into a
// Quit command.
extern std::atomic<std::int32_t> g_interruptFlag;

// Installs the handler that raises g_interruptFlag; a second event while one is still
// pending ends the process at once with exit code 255.
void InstallInterruptHandler();

#include "ui/Interrupt.h"

#include <csignal>
#include <initializer_list>

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

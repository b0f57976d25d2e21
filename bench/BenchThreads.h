#pragma once

// Timing of work spread over OpenMP threads on a shared machine.

#include <algorithm>
#include <ctime>
#include <vector>

#include <omp.h>

namespace bench {

// The machine is shared, so the wall clock says more about other processes than about
// us: each thread's work is timed by the CPU time it gets.
inline double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Runs work(thread) on `threads` threads; the seconds of the busiest one. Side by
// side, threads take as long as the busiest of them; waiting for a lock is not counted.
template <class Work> double Parallel(int threads, Work work) {
    std::vector<double> seconds(std::size_t(threads), 0.0);
#pragma omp parallel num_threads(threads)
    {
        const int thread = omp_get_thread_num();
        const double start = ThreadSeconds();
        work(thread);
        seconds[std::size_t(thread)] = ThreadSeconds() - start;
    }
    return *std::max_element(seconds.begin(), seconds.end());
}

} // namespace bench

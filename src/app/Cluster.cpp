#include "app/Cluster.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <unistd.h>

#include "app/SystemUtils.h"

#ifdef TARVO_WITH_MPI
#include <mpi.h>
#endif

namespace cluster {

namespace {

int rank = 0;
int size = 1;
std::vector<std::string> hosts;
std::vector<int> processes;

} // namespace

#ifdef TARVO_WITH_MPI

namespace {

bool started = false;
constexpr int kTag = 7;
constexpr std::size_t kHostLength = 256;
// Between looks for a message, at most. Every look wakes a thread on a busy core and
// switches a tracer out and in again, which costs on a virtual machine far more than
// the look itself; workers keep enough batches queued to wait for a few looks.
constexpr std::chrono::microseconds kPollInterval(1000);
// Posted messages still travelling, at most this many.
constexpr std::size_t kMostPosted = 256;

// Set by Open MPI's mpirun, by PMI and PMIx launchers (srun, hydra).
bool LaunchedByMPI() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"})
        if (std::getenv(name) != nullptr)
            return true;
    return false;
}

} // namespace

bool Start() {
    if (started || !LaunchedByMPI())
        return started;
    int provided = 0;
    if (MPI_Init_thread(nullptr, nullptr, MPI_THREAD_MULTIPLE, &provided) != MPI_SUCCESS)
        throw std::runtime_error("MPI could not be initialised");
    started = true;
    // A lost peer must come back as an error the run reports, not end this process.
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    if (provided < MPI_THREAD_MULTIPLE && size > 1)
        throw std::runtime_error("The MPI library does not support threads (MPI_THREAD_MULTIPLE)");
    // Cut to leave room for the terminating zero.
    std::string own = QueryHostName().substr(0, kHostLength - 1);
    own.resize(kHostLength, '\0');
    std::vector<char> names(kHostLength * std::size_t(size));
    MPI_Allgather(own.data(), int(kHostLength), MPI_CHAR, names.data(), int(kHostLength), MPI_CHAR,
                  MPI_COMM_WORLD);
    const int pid = int(getpid());
    processes.assign(std::size_t(size), 0);
    MPI_Allgather(&pid, 1, MPI_INT, processes.data(), 1, MPI_INT, MPI_COMM_WORLD);
    for (int r = 0; r < size; ++r)
        hosts.emplace_back(names.data() + std::size_t(r) * kHostLength);
    return true;
}

bool Send(int to, const std::string& bytes) {
    return MPI_Send(bytes.data(), int(bytes.size()), MPI_BYTE, to, kTag, MPI_COMM_WORLD) == MPI_SUCCESS;
}

struct Posted {
    MPI_Request Request = MPI_REQUEST_NULL;
    std::string Bytes;
};
std::mutex postedLock;
std::list<Posted> posted;

// Under postedLock: forgets what has arrived; with `all` waits for everything.
bool Reap(bool all) {
    bool fine = true;
    for (auto it = posted.begin(); it != posted.end();) {
        int done = 0;
        MPI_Status status;
        const int error = all || posted.size() > kMostPosted ? MPI_Wait(&it->Request, &status)
                                                             : MPI_Test(&it->Request, &done, &status);
        fine = fine && error == MPI_SUCCESS;
        if (error != MPI_SUCCESS || all || done || it->Request == MPI_REQUEST_NULL)
            it = posted.erase(it);
        else
            ++it;
    }
    return fine;
}

bool Post(int to, std::string bytes) {
    std::lock_guard<std::mutex> guard(postedLock);
    const bool fine = Reap(false);
    Posted& message = posted.emplace_back();
    message.Bytes = std::move(bytes);
    return fine && MPI_Isend(message.Bytes.data(), int(message.Bytes.size()), MPI_BYTE, to, kTag,
                             MPI_COMM_WORLD, &message.Request) == MPI_SUCCESS;
}

bool Receive(std::string& bytes, int& from, double seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        int flag = 0;
        MPI_Status status;
        if (MPI_Iprobe(MPI_ANY_SOURCE, kTag, MPI_COMM_WORLD, &flag, &status) != MPI_SUCCESS)
            return false;
        if (flag) {
            int count = 0;
            MPI_Get_count(&status, MPI_BYTE, &count);
            bytes.resize(std::size_t(count));
            from = status.MPI_SOURCE;
            return MPI_Recv(bytes.data(), count, MPI_BYTE, from, kTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE) ==
                   MPI_SUCCESS;
        }
        const Clock::time_point now = Clock::now();
        if (now >= end)
            return false;
        // Polling instead of a blocking receive: MPI spins in those, taking a core from
        // the tracers.
        std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, end - now));
    }
}

void Abort(int code) {
    MPI_Abort(MPI_COMM_WORLD, code);
    std::_Exit(code);
}

void Finish() {
    if (!started)
        return;
    started = false;
    {
        std::lock_guard<std::mutex> guard(postedLock);
        Reap(true);
    }
    MPI_Finalize();
}

#else

bool Start() {
    return false;
}
bool Send(int, const std::string&) {
    return false;
}
bool Post(int, std::string) {
    return false;
}
bool Receive(std::string&, int&, double) {
    return false;
}
void Abort(int code) {
    std::_Exit(code);
}
void Finish() {}

#endif

int Rank() {
    return rank;
}
int Size() {
    return size;
}

std::string HostOf(int r) {
    return r >= 0 && std::size_t(r) < hosts.size() ? hosts[std::size_t(r)] : QueryHostName();
}

int ProcessOf(int r) {
    return r >= 0 && std::size_t(r) < processes.size() ? processes[std::size_t(r)] : 0;
}

std::string Describe(int r) {
    return "rank " + std::to_string(r) + " on host " + HostOf(r);
}

} // namespace cluster

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>

class IScene;
class TMonteCarloRun;

// Rank 0's side of a cluster run: it has the other processes load the configuration,
// hands them batches from the run's list when they ask, takes their detectors'
// hand-overs into the ordered commit of its own detectors and adds their counters to
// the run's. A service thread does this while the run traces; it also watches that
// every worker is alive and ends the whole run, naming the rank, when one is lost.
class TClusterMaster {
public:
    TClusterMaster();
    // Tells the workers to leave.
    ~TClusterMaster();
    TClusterMaster(const TClusterMaster&) = delete;
    TClusterMaster& operator=(const TClusterMaster&) = delete;

    // Before the run's threads start: the workers load `configuration` (a state's
    // text) unless they have it, the scene's detectors are checked, and the service
    // starts. Errors (a worker's named by its rank) carry the user-visible text.
    void BeginRun(TMonteCarloRun& run, IScene& scene, const std::string& configuration,
                  const std::string& resultDir);
    // Batches handed to a worker and not yet committed: a round waits for them.
    bool Busy() const { return Outstanding.load() > 0; }
    // Every worker has ended its part of the run.
    bool Ended() const { return Running.load() == 0; }
    int RankCount() const;
    // Stops the service once Ended.
    void EndRun();
    // Histories traced by workers' finished batches this run.
    std::uint64_t RemoteTraced() const { return DoneTraced.load(); }
    // What came from the workers in the last run, for the execution summary.
    struct Traffic {
        std::uint64_t Batches = 0;
        std::uint64_t Bytes = 0;
        double CommitSeconds = 0;  // taking hand-overs into the ordered commit
        double ServiceSeconds = 0; // processor time of the service thread, all it does
    };
    Traffic LastTraffic() const;
    // One line per rank: its host and the histories it traced this run (rank 0: `own`).
    std::string RankStatus(std::uint64_t own) const;

private:
    // What the watchdog and Status read of a rank while the service thread writes it.
    struct RankState {
        std::atomic<std::int64_t> Heard{0}; // steady clock, nanoseconds
        std::atomic<bool> Ended{true};
        std::atomic<std::uint64_t> Traced{0}; // as its last progress message said
        std::int64_t Outstanding = 0;         // the service thread's only
    };
    void Serve();
    void Handle(int from, const std::string& message);
    // Hands `to` a batch or tells it to end or stop; false while the run is at a round.
    bool Answer(int to);
    void Reply(int to, const std::string& message);
    // Apart from the service thread, which a lost peer may hold up inside MPI.
    void Watch();
    [[noreturn]] void Lost(int rank, const std::string& why);

    TMonteCarloRun* Run = nullptr;
    IScene* Scene = nullptr;
    std::string Loaded;
    std::unique_ptr<RankState[]> Ranks;
    std::atomic<std::int64_t> Outstanding{0};
    std::deque<int> Deferred; // ranks whose request came during a round, in order
    std::atomic<int> Running{0};
    std::atomic<std::uint64_t> DoneTraced{0};
    std::atomic<bool> Serving{false};
    // Read by the summary while the service adds to them.
    std::atomic<std::uint64_t> ReceivedBatches{0}, ReceivedBytes{0}, CommitNanoseconds{0},
        ServiceNanoseconds{0};
    std::thread Service;
    std::thread Watchdog;
};

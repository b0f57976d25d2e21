#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/MonteCarloAlgorithm.h"
#include "app/SimulationParameters.h"
#include "tracer/PhotonTracer.h"

class IScene;
class TClusterMaster;
class TRandomNumbersGenerator;

// The tracer's share of the run's parameters.
TTracerSettings MakeTracerSettings(const TSimulationParameters& parameters);

// The Monte Carlo run: it cuts the requested primaries into batches with seeds from
// its master generator, runs one tracer per thread on them, reports progress, and at
// the end commits the tracers' detector copies into the scene's detectors and
// writes every result and summary. Runs on the application's thread, which it keeps
// serving (its queue and the console) while it traces as thread 0.
class TMonteCarloRun : public TMonteCarloAlgorithm {
public:
    TMonteCarloRun(TActiveObject& application, IScene& scene, const TSimulationParameters& parameters,
                   std::string resultPrefix, int nice);
    ~TMonteCarloRun() override;

    // A fresh run of NumberOfParticles histories.
    void Start();
    void ContinueTo(std::uint64_t newTotal) override;
    // Runs what a restored state left to do.
    void Resume();

    std::int32_t GetState() const override { return State.load(); }
    void RequestState(std::int32_t state) override;
    void PrintStatus() override;
    void SaveStateNow() override;
    // The master generator (entry), the batches (count, progress step, first index: u64,
    // seed: u32), the next batch, the six counters, the calculation time and the
    // per-pixel rounding flag. Saved only between batches.
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;
    std::string IOClassName() const override { return "TMonteCarloAlgorithm"; }
    // Writes the whole state file (the application's part).
    void SetStateWriter(std::function<void()> writer) { StateWriter = std::move(writer); }

    void CollectAndWriteResults();
    void PrintExecutionSummary(std::ostream& os) const;

    // Rounds: every thread finishes its batch and hands its detector copies over, no
    // later batch starts, every scene detector commits what it was handed (in batch
    // order), and the master does the round's work; then all go on. Scheduled rounds
    // come at the first batch boundary at or after 1000 * 1.25^k histories (k = 0, 1,
    // ...), so they fall on the same history whatever the thread count; they evaluate
    // the stop conditions, and are skipped when no detector has any and no round work
    // was added. A round can also be requested for the next boundary.
    struct RoundInfo {
        bool Scheduled = false;      // of the schedule (else only requested)
        std::uint64_t Histories = 0; // index of the first history not yet handed out
    };
    using RoundWork = std::function<void(const RoundInfo&)>;
    // Work done in every round, in the order added; on the master thread.
    void AddRoundWork(RoundWork work);
    // A round at the next batch boundary (the current one when asked during a round)
    // that also does `work` once; any thread.
    void RequestRound(std::function<void()> work);
    // Whether a scheduled round lies between boundaries: 1000 * 1.25^k in (previous, next].
    static bool RoundBetween(std::uint64_t previous, std::uint64_t next);
    // The boundary of the last batch handed out or of the last round (saved with the
    // state, so a restored run keeps its schedule).
    std::uint64_t RoundPosition = 0;

    // Cluster runs: rank 0 also serves the tracers of the other processes through
    // `cluster`, which has them load `configuration` (a state's text) first.
    void SetCluster(TClusterMaster* cluster, std::string configuration);
    enum class Remote { Batch, Wait, End, Stop };
    // The next batch for a worker's tracer; Wait while a round is due (or the run suspended).
    Remote TakeRemoteBatch(std::uint64_t& index, std::uint64_t& first, std::uint64_t& count, std::uint32_t& seed);
    // A worker's batch is done; `abandoned` when it was left unfinished.
    void AddRemoteCounters(const TTracerCounters& counters, bool abandoned);
    void FailRemote(const std::string& text) { Fail(text); }

    // The text of the first error that stopped a tracer, empty if none.
    const std::string& GetError() const { return Error; }
    const TTracerCounters& Totals() const { return Counters; }
    std::uint64_t Requested() const { return Total; }

private:
    struct Batch {
        std::uint64_t Index = 0;
        std::uint64_t Count = 0;
        std::uint64_t First = 0;
        std::uint32_t Seed = 0;
    };

    void SetupBatches(std::uint64_t newTotal);
    // How many threads trace `count` histories; returns the tracer count.
    int PrepareThreads(std::uint64_t count);
    // A save at the next batch boundary.
    void RequestSave();
    void WriteState();
    // Round work of a suspension: saves, then pauses the run at the boundary.
    void SuspendAtRound();
    void Run();
    void TraceOnThread(int thread);
    // The master's share of serving the application while it traces or waits.
    void Pump();
    enum class Take { Taken, None, Round };
    Take TakeBatch(Batch& batch);
    // A thread without a batch because a round is due: waits for it (the master runs it).
    void AwaitRound(bool master, TPhotonTracer& tracer);
    void RunRound();
    void StopOrWrite(const RoundInfo& round);
    // The stop-condition status of every detector that has conditions; true when all met.
    bool CheckStopConditions();
    // Records the first error of any thread; the run then stops like Stop.
    void Fail(const std::string& text);
    void SetState(std::int32_t state);
    void UpdateProgress(bool force);
    // Progress over all ranks, elapsed time and the estimate of the end.
    std::string ProgressLine() const;
    double ElapsedSeconds() const;
    void Display(const std::string& text, bool isError = false);
    void WriteSummaryFile(const std::string& summary) const;
    void WriteDetectorResults();
    // Result base name of trace detector `index`: prefix + "_TraceDetector" + index.
    std::string TraceDetectorBase(std::size_t index) const;

    TActiveObject& Application;
    IScene& Scene;
    TSimulationParameters Parameters;
    std::string ResultPrefix;
    int Nice = 0;
    std::unique_ptr<TRandomNumbersGenerator> MasterGenerator;
    std::unique_ptr<TRandomNumbersGenerator> Prototype;

    std::atomic<std::int32_t> State{kPreparing};
    std::vector<Batch> Batches;
    std::size_t NextBatch = 0;
    std::uint64_t NextIndex = 0;
    std::uint64_t Total = 0;
    int Threads = 1;
    // The total was rounded to whole rounds of per-pixel emission.
    bool RoundedPerPixel = false;
    std::function<void()> StateWriter;
    TClusterMaster* Cluster = nullptr;
    std::string ClusterConfiguration;

    // Rounds: due (no batch handed out until it ran), of the schedule or requested.
    bool RoundDue = false;
    bool RoundScheduled = false;
    // Whether scheduled rounds are taken at all (some stop condition or round work needs
    // them); without them results are rewritten by requested rounds.
    bool ScheduledRounds = true;
    std::atomic<int> AtRound{0};
    std::atomic<std::uint64_t> RoundsDone{0};
    std::vector<RoundWork> RoundWorks;
    std::mutex RequestLock;
    std::vector<std::function<void()>> RequestedWork;
    std::atomic<bool> RoundRequested{false};
    std::chrono::steady_clock::time_point LastWrite;

    TTracerCounters Counters;
    std::atomic<std::uint64_t> Traced{0};
    // Of them, before this run (a continued or restored one).
    std::uint64_t TracedBefore = 0;
    std::atomic<int> Working{0};
    // Inside the parallel region; a save is waiting for a boundary.
    std::atomic<bool> InRun{false};
    std::atomic<bool> SavePending{false};
    std::chrono::steady_clock::time_point LastSave;
    std::atomic<bool> Failed{false};
    // A batch was left unfinished (stop or error): the run did not complete.
    std::atomic<bool> Abandoned{false};
    std::string Error;

    std::chrono::steady_clock::time_point PeriodStart, LastReport, LastPump;
    double CalculationSeconds = 0;
    bool PeriodOpen = false;
    double ReportedPercent = -1;
};

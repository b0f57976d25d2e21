#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/MonteCarloAlgorithm.h"
#include "app/SimulationParameters.h"
#include "tracer/PhotonTracer.h"

class IScene;
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
    // The totals of every finished batch: those of the run and of the live tracers.
    TTracerCounters SavedCounters() const;
    void WriteState();
    void Run();
    void TraceOnThread(int thread);
    // The master's share of serving the application while it traces or waits.
    void Pump();
    bool TakeBatch(Batch& batch);
    // Records the first error of any thread; the run then stops like Stop.
    void Fail(const std::string& text);
    void SetState(std::int32_t state);
    void UpdateProgress(bool force);
    double ElapsedSeconds() const;
    void Display(const std::string& text, bool isError = false);
    void WriteSummaryFile(const std::string& summary) const;
    void WriteDetectorResults();

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

    TTracerCounters Counters;
    std::atomic<std::uint64_t> Traced{0};
    std::atomic<int> Working{0};
    std::atomic<int> Paused{0};
    std::atomic<bool> Failed{false};
    // A batch was left unfinished (stop or error): the run did not complete.
    std::atomic<bool> Abandoned{false};
    std::string Error;

    std::chrono::steady_clock::time_point PeriodStart, LastReport, LastPump;
    double CalculationSeconds = 0;
    bool PeriodOpen = false;
    double ReportedPercent = -1;
};

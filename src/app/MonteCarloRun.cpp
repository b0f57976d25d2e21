#include "app/MonteCarloRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <omp.h>

#include "app/ClusterMaster.h"
#include "app/SystemUtils.h"
#include "datafiles/ObjectIO.h"
#include "detectors/BasicDetector.h"
#include "detectors/ImageWriter.h"
#include "detectors/Normalisation.h"
#include "detectors/PlaneDetector.h"
#include "detectors/TraceDetector.h"
#include "geometry/Scene.h"
#include "random/RandomNumbersGenerator.h"
#include "sources/SimpleSource.h"
#include "sources/SourceFactory.h"
#include "ui/Message.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// What image normalisation needs of the first source.
SourceBeam FirstBeam(const IScene& scene) {
    SourceBeam beam;
    if (scene.SourceCount() == 0)
        return beam;
    const TBasicSource& source = AsSource(scene.GetSource(0));
    beam.Position = source.WorldOrigin();
    beam.HalfConeAngle = std::max(0.0, source.GetHalfConeAngle());
    if (const auto* poly = dynamic_cast<const TPolychromaticSource*>(&source))
        beam.MeanEnergy = poly->GetSpectrum()->MeanEnergy;
    else
        beam.MeanEnergy = source.GetEnergyRange().first;
    return beam;
}

double OpenField(const IScene& scene, std::size_t detector) {
    const auto* plane = dynamic_cast<const TPlaneDetector*>(&scene.GetDetector(detector));
    return plane != nullptr && scene.SourceCount() > 0 ? OpenFieldFactor(*plane, FirstBeam(scene)) : 0.0;
}

} // namespace

TTracerSettings MakeTracerSettings(const TSimulationParameters& p) {
    TTracerSettings s;
    s.UsePhotonSplitting = p.UsePhotonSplitting;
    s.MaxNumberOfInteractions = p.MaxNumberOfInteractions;
    s.MinEnergy = p.MaterialProperties.MinEnergy;
    s.TracesPerEmission = p.TracesPerEmission;
    s.TargetPixels = p.TargetPixels;
    s.ResetInteractionCount = p.ResetInteractionCount;
    s.ResetInteractionCountFirst = p.ResetInteractionCountFirst;
    s.Model = p.InteractionsModel.get();
    return s;
}

TMonteCarloRun::TMonteCarloRun(TActiveObject& application, IScene& scene, const TSimulationParameters& parameters,
                               std::string resultPrefix, int nice)
    : Application(application), Scene(scene), Parameters(parameters), ResultPrefix(std::move(resultPrefix)),
      Nice(nice), MasterGenerator(CreateGenerator(parameters.PRNG)), Prototype(CreateGenerator(parameters.PRNG)) {
    MasterGenerator->SetSeed(parameters.RandomSeed);
}

TMonteCarloRun::~TMonteCarloRun() = default;

void TMonteCarloRun::StopOrWrite(const RoundInfo& round) {
    // The stop conditions are judged at scheduled rounds only: requested rounds fall
    // where timing puts them. Between those, results are rewritten every MaxTimeStep.
    if (!round.Scheduled)
        return;
    if (CheckStopConditions()) {
        Display("All stop conditions satisfied. Stopping calculation.");
        SetState(kStopRequested);
        return;
    }
    if (Seconds(Clock::now() - LastWrite) >= double(Parameters.MaxTimeStep))
        CollectAndWriteResults();
}

void TMonteCarloRun::Start() {
    // A fresh run: trace files open (continuations keep them) and volumes start empty.
    for (std::size_t i = 0; i < Scene.TraceDetectorCount(); ++i)
        AsTraceDetector(Scene.GetTraceDetector(i)).StartRun(TraceDetectorBase(i));
    SetupBatches(0);
    Run();
    SetState(kNothingToDo);
}

void TMonteCarloRun::ContinueTo(std::uint64_t newTotal) {
    SetupBatches(newTotal);
    Run();
    SetState(kNothingToDo);
}

void TMonteCarloRun::Resume() {
    std::uint64_t left = 0;
    for (std::size_t i = NextBatch; i < Batches.size(); ++i)
        left += Batches[i].Count;
    PrepareThreads(left);
    Run();
    SetState(kNothingToDo);
}

void TMonteCarloRun::SetupBatches(std::uint64_t newTotal) {
    std::uint64_t count = 0;
    if (newTotal == 0) {
        Total = Parameters.NumberOfParticles;
        // Per-pixel emission covers whole rounds of sources x pixels.
        std::uint64_t unit = 0;
        if (Parameters.TargetPixels) {
            std::uint64_t pixels = 0;
            for (std::size_t i = 0; i < Scene.DetectorCount(); ++i)
                pixels += AsDetector(Scene.GetDetector(i)).GetPixelCount();
            unit = pixels * Scene.SourceCount();
        }
        RoundedPerPixel = unit > 0 && Total > 1000;
        if (RoundedPerPixel)
            Total = std::max<std::uint64_t>(1, (Total + unit / 2) / unit) * unit;
        count = Total;
    } else {
        count = newTotal > Counters.Traced ? newTotal - Counters.Traced : 0;
        Total = newTotal;
    }
    const int tracers = PrepareThreads(count);
    const std::uint64_t size =
        Parameters.BatchSize > 0 ? Parameters.BatchSize : std::max<std::uint64_t>(1, (count / tracers) / 1000);
    // Earlier batches stay listed (and unfinished ones of a stopped run are skipped): the
    // list holds one batch per seed drawn, which a saved state replays.
    NextBatch = Batches.size();
    for (std::uint64_t done = 0; done < count;) {
        Batch b;
        b.Index = Batches.size();
        b.First = NextIndex + done;
        b.Count = std::min(size, count - done);
        double u = 0;
        MasterGenerator->Generate(&u, 1);
        b.Seed = std::uint32_t(u * 4294967296.0);
        Batches.push_back(b);
        done += b.Count;
    }
    NextIndex += count;
}

int TMonteCarloRun::PrepareThreads(std::uint64_t count) {
    if (Parameters.MaxNumberOfTracers > std::uint64_t(std::numeric_limits<int>::max()))
        throw std::runtime_error("More tracers than fit in an int!?");
    int tracers = int(Parameters.MaxNumberOfTracers);
    const int threads = omp_get_max_threads();
    if (tracers < 1)
        tracers = threads;
    if (count / std::uint64_t(tracers) == 0)
        tracers = 1;
    Threads = std::min(threads, tracers);
    return tracers;
}

bool TMonteCarloRun::RoundBetween(std::uint64_t previous, std::uint64_t next) {
    double threshold = 1000;
    while (threshold <= double(previous))
        threshold *= 1.25;
    return threshold <= double(next);
}

void TMonteCarloRun::AddRoundWork(RoundWork work) {
    RoundWorks.push_back(std::move(work));
}

void TMonteCarloRun::RequestRound(std::function<void()> work) {
    std::lock_guard<std::mutex> guard(RequestLock);
    RequestedWork.push_back(std::move(work));
    RoundRequested = true;
}

TMonteCarloRun::Take TMonteCarloRun::TakeBatch(Batch& batch) {
    Take taken = Take::None;
#pragma omp critical(TarvoBatchList)
    {
        if (RoundDue) {
            taken = Take::Round;
        } else if (NextBatch < Batches.size()) {
            const std::uint64_t first = Batches[NextBatch].First;
            RoundScheduled = ScheduledRounds && RoundBetween(RoundPosition, first);
            if (RoundScheduled || RoundRequested.load()) {
                RoundDue = true;
                RoundPosition = first;
                taken = Take::Round;
            } else {
                batch = Batches[NextBatch++];
                RoundPosition = first;
                taken = Take::Taken;
            }
        }
    }
    return taken;
}

void TMonteCarloRun::SetCluster(TClusterMaster* cluster, std::string configuration) {
    Cluster = cluster;
    ClusterConfiguration = std::move(configuration);
}

TMonteCarloRun::Remote TMonteCarloRun::TakeRemoteBatch(std::uint64_t& index, std::uint64_t& first,
                                                       std::uint64_t& count, std::uint32_t& seed) {
    // Past kStopped the states say that every batch is handed out, not that the run stops.
    const std::int32_t state = State.load();
    if (state == kStopRequested || state == kStopped || Failed)
        return Remote::Stop;
    Batch batch;
    switch (TakeBatch(batch)) {
    case Take::Round:
        return Remote::Wait;
    case Take::None:
        return Remote::End;
    case Take::Taken:
        break;
    }
    index = batch.Index;
    first = batch.First;
    count = batch.Count;
    seed = batch.Seed;
    return Remote::Batch;
}

void TMonteCarloRun::AddRemoteCounters(const TTracerCounters& counters, bool abandoned) {
#pragma omp critical(TarvoTracers)
    Counters.Add(counters);
    Traced += counters.Traced;
    if (abandoned)
        Abandoned = true;
}

void TMonteCarloRun::AwaitRound(bool master, TPhotonTracer& tracer) {
    // The counters of finished batches go to the run's, so that the round sees them.
#pragma omp critical(TarvoTracers)
    {
        Counters.Add(tracer.Counters());
        tracer.ResetCounters();
    }
    // What a copy still holds (queued dump segments, the sums of an unshared grid)
    // belongs to batches before the round, which the round commits and may save.
    tracer.FlushDetectors();
    const std::uint64_t round = RoundsDone.load();
    ++AtRound;
    const auto going = [this] { return State.load() < kStopRequested && !Failed; };
    if (!master) {
        while (RoundsDone.load() == round && going())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    while ((AtRound.load() < Working.load() || (Cluster != nullptr && Cluster->Busy())) && going()) {
        Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (going())
        RunRound();
#pragma omp critical(TarvoBatchList)
    RoundDue = false;
    AtRound = 0;
    ++RoundsDone;
}

void TMonteCarloRun::RunRound() {
    for (std::size_t i = 0; i < Scene.DetectorCount(); ++i)
        AsDetector(Scene.GetDetector(i)).Flush();
    for (std::size_t i = 0; i < Scene.TraceDetectorCount(); ++i)
        AsTraceDetector(Scene.GetTraceDetector(i)).Flush();
    std::vector<std::function<void()>> requested;
    {
        std::lock_guard<std::mutex> guard(RequestLock);
        requested.swap(RequestedWork);
        RoundRequested = false;
    }
    const RoundInfo info{RoundScheduled, RoundPosition};
    StopOrWrite(info);
    for (const RoundWork& work : RoundWorks)
        work(info);
    for (const auto& work : requested)
        work();
}

bool TMonteCarloRun::CheckStopConditions() {
    bool any = false, all = true;
    for (std::size_t i = 0; i < Scene.DetectorCount(); ++i) {
        const TBasicDetector& detector = AsDetector(Scene.GetDetector(i));
        if (!detector.HasStopConditions())
            continue;
        any = true;
        const bool met = detector.StopConditionsMet();
        all = all && met;
        Display("Detector: " + std::to_string(i) + detector.StopConditionStatus());
    }
    return any && all;
}

void TMonteCarloRun::Run() {
    if (Threads < 1)
        throw std::runtime_error("Need at least one thread!");
    ReportedPercent = -1;
    Traced = Counters.Traced;
    TracedBefore = Counters.Traced;
    if (Parameters.UsePhotonSplitting)
        for (std::size_t i = 0; i < Scene.DetectorCount(); ++i)
            if (AsDetector(Scene.GetDetector(i)).NeedsAnalogHistories())
                Display("Warning: Detector " + std::to_string(i) +
                            ": coincidence spectra need histories without photon splitting "
                            "(UsePhotonSplitting = false)",
                        true);
    // Every thread (every process of a cluster run) waits for the others at a round:
    // without stop conditions or round work, scheduled rounds would only cost that.
    ScheduledRounds = !RoundWorks.empty();
    for (std::size_t i = 0; i < Scene.DetectorCount(); ++i)
        ScheduledRounds = ScheduledRounds || AsDetector(Scene.GetDetector(i)).HasStopConditions();
    SetState(kPreparing);
    if (NextBatch < Batches.size())
        for (std::size_t i = 0; i < Scene.DetectorCount(); ++i)
            AsDetector(Scene.GetDetector(i)).BeginRun(Batches[NextBatch].Index);
    if (NextBatch < Batches.size())
        for (std::size_t i = 0; i < Scene.TraceDetectorCount(); ++i)
            AsTraceDetector(Scene.GetTraceDetector(i)).BeginRun(Batches[NextBatch].Index);
    Abandoned = false;
    if (Cluster != nullptr)
        Cluster->BeginRun(*this, Scene, ClusterConfiguration, Parameters.ResultDir);
    Working = Threads;
    InRun = true;
#pragma omp parallel num_threads(Threads)
    TraceOnThread(omp_get_thread_num());
    if (Cluster != nullptr)
        Cluster->EndRun();
    InRun = false;
    UpdateProgress(true);
    Application.ProcessMessages();
    const bool finished = NextBatch == Batches.size() && !Abandoned && !Failed;
    SetState(finished ? kFinished : kStopped);
    // A save asked for after the last batch was handed out found no boundary to wait
    // for; a finished run is complete, a stopped one keeps its last state.
    if (SavePending.exchange(false) && finished)
        WriteState();
}

void TMonteCarloRun::TraceOnThread(int thread) {
    const bool master = thread == 0;
    std::unique_ptr<TPhotonTracer> tracer;
    try {
        if (master)
            SetState(kTracersStarting);
        else
            SetBackgroundMode(true);
        SetThreadNice(Nice);
        TTracerSettings settings = MakeTracerSettings(Parameters);
        settings.Report = [this](const std::string& text) { Display(text, true); };
#pragma omp critical(TarvoTracers)
        tracer = std::make_unique<TPhotonTracer>(Scene, settings, *Prototype);
        if (master)
            SetState(kRunning);
        Batch batch;
        while (State.load() < kStopRequested && !Failed) {
            const Take taken = TakeBatch(batch);
            if (taken == Take::Round) {
                AwaitRound(master, *tracer);
                continue;
            }
            if (taken == Take::None) {
                if (master && State.load() == kRunning)
                    SetState(kAllBatchesHandedOut);
                break;
            }
            tracer->StartBatch(batch.Index, batch.First, batch.Count, batch.Seed);
            // The master comes back to the console ten times as often.
            const std::uint64_t step = std::max<std::uint64_t>(1, batch.Count / (master ? 100 : 10));
            while (tracer->IsRunning()) {
                const std::int32_t state = State.load();
                if (state == kStopRequested || Failed) {
                    tracer->EndBatch();
                    Abandoned = true;
                    break;
                }
                const std::uint64_t before = tracer->Counters().Traced;
                tracer->TraceSome(step);
                Traced += tracer->Counters().Traced - before;
                if (master)
                    Pump();
            }
        }
    } catch (const std::exception& e) {
        Fail(e.what());
    } catch (...) {
        Fail("Unknown error in a tracer thread");
    }
    if (Failed && tracer)
        tracer->EndBatch();
    if (tracer) {
        tracer->FlushDetectors();
#pragma omp critical(TarvoTracers)
        {
            Counters.Add(tracer->Counters());
            tracer.reset();
        }
    }
    --Working;
    if (master) {
        // Keep serving the console (and suspension) until every thread, and every
        // process of a cluster run, is done.
        while (Working.load() > 0 || (Cluster != nullptr && !Cluster->Ended())) {
            Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    } else {
        SetBackgroundMode(false);
    }
}

void TMonteCarloRun::Fail(const std::string& text) {
#pragma omp critical(TarvoRunError)
    if (Error.empty())
        Error = text;
    Failed = true;
}

void TMonteCarloRun::Pump() {
    const Clock::time_point now = Clock::now();
    if (now - LastPump < std::chrono::milliseconds(10))
        return;
    LastPump = now;
    if (Failed && State.load() < kStopRequested)
        SetState(kStopRequested);
    if (Parameters.SaveInterval >= 1 && State.load() == kRunning && g_interruptFlag.load() == 0 &&
        Seconds(now - LastSave) >= double(Parameters.SaveInterval)) {
        LastSave = now;
        RequestSave();
    }
    if (!ScheduledRounds && State.load() == kRunning &&
        Seconds(now - LastWrite) >= double(Parameters.MaxTimeStep)) {
        LastWrite = now;
        RequestRound([this] { CollectAndWriteResults(); });
    }
    if (State.load() == kResumeRequested)
        SetState(kRunning);
    if (State.load() != kSuspended)
        UpdateProgress(false);
    Application.ProcessMessages();
}

void TMonteCarloRun::RequestState(std::int32_t state) {
    // A resume before the tracers have all paused goes straight back to running.
    if (state == kResumeRequested && State.load() == kSuspendRequested)
        state = kRunning;
    SetState(state);
}

void TMonteCarloRun::SetState(std::int32_t state) {
    const std::int32_t previous = State.exchange(state);
    if (previous == state)
        return;
    Application.Post(TAlgorithmStateChangedMessage(state, previous));
    const Clock::time_point now = Clock::now();
    switch (state) {
    case kTracersStarting:
        PeriodStart = LastReport = LastPump = LastWrite = LastSave = now;
        PeriodOpen = true;
        break;
    case kSuspendRequested:
        // Tracers finish their batches; the round saves the state and pauses there.
        RequestRound([this] { SuspendAtRound(); });
        break;
    case kSuspended:
        CalculationSeconds += Seconds(now - PeriodStart);
        PeriodOpen = false;
        break;
    case kRunning:
        if (!PeriodOpen) {
            PeriodStart = now;
            PeriodOpen = true;
        }
        break;
    case kStopped:
    case kFinished:
        if (PeriodOpen)
            CalculationSeconds += Seconds(now - PeriodStart);
        PeriodOpen = false;
        Application.Post(TAlgorithmCalculationsFinishedMessage(CalculationSeconds));
        CollectAndWriteResults();
        break;
    case kNothingToDo:
        State = kDone;
        break;
    default:
        break;
    }
}

double TMonteCarloRun::ElapsedSeconds() const {
    return CalculationSeconds + (PeriodOpen ? Seconds(Clock::now() - PeriodStart) : 0.0);
}

void TMonteCarloRun::UpdateProgress(bool force) {
    const double percent = Total > 0 ? double(Traced.load()) * 100.0 / double(Total) : 100.0;
    const Clock::time_point now = Clock::now();
    if (!force) {
        const double since = Seconds(now - LastReport);
        const double longest = double(std::max(Parameters.TimeStep, Parameters.MaxTimeStep));
        if (since < longest &&
            (std::round(percent * 10) == std::round(ReportedPercent * 10) || since < double(Parameters.TimeStep)))
            return;
    }
    ReportedPercent = percent;
    LastReport = now;
    Application.Post(TAlgorithmProgressMessage(ProgressLine()));
}

void TMonteCarloRun::PrintStatus() {
    std::string line = ProgressLine();
    if (Cluster != nullptr)
        line += Cluster->RankStatus(Traced.load() - Cluster->RemoteTraced() - TracedBefore);
    Application.Post(TAlgorithmProgressMessage(line));
}

std::string TMonteCarloRun::ProgressLine() const {
    const double percent = Total > 0 ? double(Traced.load()) * 100.0 / double(Total) : 100.0;
    const double elapsed = ElapsedSeconds();
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << percent << "% traced in " << elapsed << "s ("
         << FormatDuration(elapsed);
    if (elapsed > 0 && percent > 0) {
        const double total = elapsed / percent * 100.0;
        const double remaining = std::max(0.0, total - elapsed);
        const std::time_t end = std::time(nullptr) + std::time_t(remaining);
        char text[64] = {0};
        std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", std::localtime(&end));
        line << ", est. total: " << FormatDuration(total) << ", " << FormatDuration(remaining) << " to go until "
             << TrimWhite(text);
    }
    line << ")";
    return line.str();
}

void TMonteCarloRun::SaveStateNow() {
    // Within a run the sums are only whole at a batch boundary; a suspended run waits
    // at one, and outside a run every batch handed out is done.
    if (InRun && State.load() != kSuspended)
        RequestSave();
    else
        WriteState();
}

void TMonteCarloRun::RequestSave() {
    if (SavePending.exchange(true))
        return;
    RequestRound([this] {
        // A stop decided in this round ends the run here: its last state stays.
        if (SavePending.exchange(false) && State.load() < kStopRequested)
            WriteState();
    });
}

void TMonteCarloRun::WriteState() {
    if (StateWriter)
        StateWriter();
    // The interval runs from the end of a save: a large state that takes longer to
    // write than the interval still leaves the run time to trace.
    LastSave = Clock::now();
}

void TMonteCarloRun::SuspendAtRound() {
    if (State.load() != kSuspendRequested)
        return;
    WriteState();
    SetState(kSuspended);
    // The other threads wait for this round to end; the console is served meanwhile.
    while (State.load() == kSuspended || State.load() == kResumeRequested) {
        Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TMonteCarloRun::InternalWrite(std::ostream& stream) {
    WriteObject(stream, *MasterGenerator);
    WriteU64(stream, Batches.size());
    for (const Batch& b : Batches) {
        WriteU64(stream, b.Count);
        WriteU64(stream, std::max<std::uint64_t>(1, b.Count / 10));
        WriteU64(stream, b.First);
        WriteU32(stream, b.Seed);
    }
    WriteU64(stream, NextBatch);
    // At a round the finished batches' counters are all in the run's.
    const TTracerCounters& c = Counters;
    for (const std::uint64_t n : {c.Emitted, c.Traced, c.Photons, c.SplitPhotons, c.Electrons, c.Positrons})
        WriteU64(stream, n);
    WriteDouble(stream, ElapsedSeconds());
    stream.put(char(RoundedPerPixel ? 1 : 0));
}

void TMonteCarloRun::InternalRead(std::istream& stream, std::uint64_t payloadSize) {
    // The generator's text is kept until the batches are known: its draw count is
    // checked against them before it is replayed.
    const EntryHeader header = ReadEntryHeader(stream);
    if (header.ClassName != MasterGenerator->IOClassName())
        throw std::runtime_error("Wrong object type in stream");
    constexpr std::uint64_t fixed = 8 + 8 + 6 * 8 + 8 + 1, perBatch = 28;
    const std::uint64_t entry = EntryHeader::FixedSize + header.ClassName.size() + header.PayloadSize;
    if (header.PayloadSize > 64 || entry + fixed > payloadSize)
        throw std::runtime_error("TMonteCarloAlgorithm: saved state has the wrong size");
    std::string generator(header.PayloadSize, '\0');
    stream.read(generator.data(), std::streamsize(generator.size()));
    const std::uint64_t count = ReadU64(stream);
    if (!stream || count > (payloadSize - entry - fixed) / perBatch ||
        entry + fixed + count * perBatch != payloadSize)
        throw std::runtime_error("TMonteCarloAlgorithm: saved state has the wrong size");
    std::vector<Batch> batches(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        Batch& b = batches[i];
        b.Index = i;
        b.Count = ReadU64(stream);
        ReadU64(stream); // the progress step follows from the count
        b.First = ReadU64(stream);
        b.Seed = ReadU32(stream);
    }
    const std::uint64_t next = ReadU64(stream);
    TTracerCounters c;
    for (std::uint64_t* n : {&c.Emitted, &c.Traced, &c.Photons, &c.SplitPhotons, &c.Electrons, &c.Positrons})
        *n = ReadU64(stream);
    const double seconds = ReadDouble(stream);
    const bool rounded = stream.get() != 0;
    std::istringstream text(generator);
    std::string word;
    std::uint64_t seed = 0, draws = 0;
    text >> word >> seed >> draws;
    // Every batch took one number from the master generator.
    if (!stream || next > count || draws != count || !(seconds >= 0))
        throw std::runtime_error("TMonteCarloAlgorithm: saved state is inconsistent");
    text.clear();
    text.seekg(0);
    MasterGenerator->InternalRead(text, generator.size());
    Batches = std::move(batches);
    NextBatch = std::size_t(next);
    NextIndex = Batches.empty() ? 0 : Batches.back().First + Batches.back().Count;
    // Saved at a round before the next batch (or after the last one was handed out): the
    // schedule of rounds goes on from there.
    RoundPosition = NextBatch < Batches.size() ? Batches[NextBatch].First
                    : NextBatch > 0            ? Batches[NextBatch - 1].First
                                               : 0;
    Counters = c;
    Total = c.Traced;
    for (std::size_t i = NextBatch; i < Batches.size(); ++i)
        Total += Batches[i].Count;
    CalculationSeconds = seconds;
    RoundedPerPixel = rounded;
}

void TMonteCarloRun::Display(const std::string& text, bool isError) {
    Application.Post(ui::TDisplayTextMessage(text, isError));
}

void TMonteCarloRun::CollectAndWriteResults() {
    LastWrite = Clock::now();
    Display("Collecting results...");
    for (std::size_t i = 0; i < Scene.DetectorCount(); ++i) AsDetector(Scene.GetDetector(i)).Flush();
    for (std::size_t i = 0; i < Scene.TraceDetectorCount(); ++i)
        AsTraceDetector(Scene.GetTraceDetector(i)).Flush();
    Display("Results collected.");
    const std::string& dir = Parameters.ResultDir;
    if (!dir.empty())
        if (const int error = CreateDirectoryWithParents(dir))
            Display("Couldn't create directory " + dir + " (" + std::to_string(error) + ")", true);
    std::ostringstream summary;
    summary << std::boolalpha;
    Parameters.PrintSimulationSummary(summary);
    PrintExecutionSummary(summary);
    Display(summary.str());
    Display("Writing results...");
    try {
        WriteSummaryFile(summary.str());
        WriteDetectorResults();
        Display("Finished writing results.");
    } catch (const std::exception& e) {
        Display(e.what(), true);
        Display("Failed writing results.", true);
    }
}

void TMonteCarloRun::WriteSummaryFile(const std::string& summary) const {
    const std::string name = ResultPrefix + "_results.txt";
    const std::string temporary = name + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << GetStartLine() << '\n' << VersionBanner() << '\n' << summary;
        if (!file.flush())
            throw std::runtime_error("Can not write " + temporary);
    }
    if (std::rename(temporary.c_str(), name.c_str()) != 0)
        throw std::runtime_error("Can not write " + name);
}

void TMonteCarloRun::WriteDetectorResults() {
    const double particles = double(Counters.Emitted);
    const SourceBeam beam = FirstBeam(Scene);
    const auto warn = [this](const std::string& text) { Display(text, true); };
    ImageWriterOptions options;
    options.Compress = Parameters.CompressResults;
    options.Type = Parameters.ImageType;
    options.Pixels = Parameters.PixelType;
    options.Software = VersionBanner();
    options.Description = "Particles: " + std::to_string(Counters.Emitted) +
                          ", RandomSeed: " + std::to_string(Parameters.RandomSeed);
    options.Warn = warn;
    for (std::size_t i = 0; i < Scene.DetectorCount(); ++i) {
        ImageWriterOptions detectorOptions = options;
        SetImageScales(detectorOptions, particles, Parameters.PerParticle, Parameters.NormalizeImages,
                       Parameters.NormalizeErrors, OpenField(Scene, i), beam.MeanEnergy, warn);
        AsDetector(Scene.GetDetector(i)).WriteResults(ResultPrefix + "_Detector" + std::to_string(i), detectorOptions);
    }
    // Volumes take the plain factors: per emitted particle (PerParticle) or sums.
    ImageWriterOptions traceOptions = options;
    SetImageScales(traceOptions, particles, Parameters.PerParticle, 0, 0, 0, 0, warn);
    const TraceResultScales scales{traceOptions.CountScale, traceOptions.EnergyScale};
    for (std::size_t i = 0; i < Scene.TraceDetectorCount(); ++i)
        AsTraceDetector(Scene.GetTraceDetector(i)).WriteResults(TraceDetectorBase(i), scales);
}

std::string TMonteCarloRun::TraceDetectorBase(std::size_t index) const {
    return ResultPrefix + "_TraceDetector" + std::to_string(index);
}

void TMonteCarloRun::PrintExecutionSummary(std::ostream& os) const {
    const double seconds = CalculationSeconds;
    const double rate = seconds > 0 ? 1.0 / seconds : 0.0;
    const TTracerCounters& c = Counters;
    os << "Execution Summary:\n";
    os << "  Number Of Tracers: " << Threads << "\n";
    os << "  Calculation Time: " << seconds << " seconds (" << FormatDuration(seconds) << ")\n";
    os << "  Calculation Speed: " << double(c.Traced) * rate << " emitted, "
       << double(c.Photons + c.Electrons + c.Positrons) * rate << " total [1/s]\n";
    if (Cluster != nullptr) {
        const TClusterMaster::Traffic t = Cluster->LastTraffic();
        os << "  Cluster Ranks: " << Cluster->RankCount() << "\n";
        os << "  Histories On Other Ranks: " << FormatCount(Cluster->RemoteTraced()) << "\n";
        os << "  Batches On Other Ranks: " << t.Batches << "\n";
        os << "  Bytes Received Per Batch: " << (t.Batches > 0 ? double(t.Bytes) / double(t.Batches) : 0.0) << "\n";
        os << "  Commit Time Of Their Batches: " << t.CommitSeconds << " seconds\n";
        os << "  Processor Time Of The Service On Rank 0: " << t.ServiceSeconds << " seconds\n";
    }
    os << "Results Summary:\n";
    os << "  Number Of Particles Emitted:  " << FormatCount(c.Emitted) << "\n";
    os << "  Number Of Particles Traced:  " << FormatCount(c.Traced) << "\n";
    if (c.Photons != 0) {
        os << "  Number Of Photons Traced:  " << FormatCount(c.Photons) << "\n";
        if (Parameters.UsePhotonSplitting)
            os << "  Number Of Split Photons Traced:  " << FormatCount(c.SplitPhotons) << "\n";
    }
    if (c.Electrons != 0)
        os << "  Number Of Electrons Traced:  " << FormatCount(c.Electrons) << "\n";
    if (c.Positrons != 0)
        os << "  Number Of Positrons Traced:  " << FormatCount(c.Positrons) << "\n";
    for (std::size_t i = 0; i < Scene.DetectorCount(); ++i) {
        os << "  Detector: " << i << "\n";
        AsDetector(Scene.GetDetector(i)).PrintResults(os, double(c.Emitted));
        const double factor = OpenField(Scene, i);
        if (factor > 0)
            os << "   Normalization Factor (Detector Center, Only 1st Source Considered): " << factor << "\n";
    }
    for (std::size_t i = 0; i < Scene.TraceDetectorCount(); ++i) {
        os << "  Trace Detector: " << i << "\n";
        AsTraceDetector(Scene.GetTraceDetector(i)).PrintResults(os, double(c.Emitted));
    }
}

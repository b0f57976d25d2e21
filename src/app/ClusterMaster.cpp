#include "app/ClusterMaster.h"

#include <cerrno>
#include <csignal>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include <time.h>

#include "app/Cluster.h"
#include "app/ClusterProtocol.h"
#include "datafiles/Formatting.h"
#include "app/MonteCarloRun.h"
#include "app/SystemUtils.h"
#include "detectors/BasicDetector.h"
#include "geometry/Scene.h"

namespace {

using Clock = std::chrono::steady_clock;

// A worker reports its progress every second; this long without a word it is lost
// (its machine gone, or stopped), as a launcher may not notice.
constexpr int kSilenceSeconds = 20;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

std::uint64_t ThreadProcessorNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::uint64_t(t.tv_sec) * 1000000000u + std::uint64_t(t.tv_nsec);
}

} // namespace

TClusterMaster::TClusterMaster() : Ranks(new RankState[std::size_t(cluster::Size())]) {}

TClusterMaster::~TClusterMaster() {
    EndRun();
    for (int r = 1; r < cluster::Size(); ++r)
        cluster::Send(r, std::string(1, cluster::kQuit));
}

void TClusterMaster::BeginRun(TMonteCarloRun& run, IScene& scene, const std::string& configuration,
                              const std::string& resultDir) {
    EndRun();
    if (scene.TraceDetectorCount() > 0)
        throw std::runtime_error(
            "Cluster runs do not support trace detectors (volumes, mesh detectors, trace "
            "dumps) yet: run this scene on one process");
    for (std::size_t i = 0; i < scene.DetectorCount(); ++i)
        if (!AsDetector(scene.GetDetector(i)).CanForwardHandovers())
            throw std::runtime_error("Detector " + std::to_string(i) +
                                     ": cluster runs do not support its registrator (phase-space files) yet: "
                                     "run this scene on one process");
    if (configuration != Loaded) {
        std::string message(1, cluster::kLoad);
        cluster::PutString(message, configuration);
        cluster::PutString(message, resultDir);
        for (int r = 1; r < cluster::Size(); ++r)
            Reply(r, message);
        // Every worker answers, so that none is left loading when an error ends the run.
        std::string errors;
        for (int answered = 1; answered < cluster::Size();) {
            std::string reply;
            int from = 0;
            if (!cluster::Receive(reply, from, 1.0))
                continue;
            if (reply.empty() || reply[0] != cluster::kLoaded)
                throw std::runtime_error("Unexpected message from " + cluster::Describe(from));
            const std::string error = cluster::MessageReader(reply).String();
            if (!error.empty() && errors.empty())
                errors = "Loading on " + cluster::Describe(from) + " failed: " + error;
            ++answered;
        }
        if (!errors.empty())
            throw std::runtime_error(errors);
        Loaded = configuration;
    }
    Run = &run;
    Scene = &scene;
    Outstanding = 0;
    Deferred.clear();
    DoneTraced = 0;
    ReceivedBatches = 0;
    ReceivedBytes = 0;
    CommitNanoseconds = 0;
    ServiceNanoseconds = 0;
    Running = cluster::Size() - 1;
    for (int r = 0; r < cluster::Size(); ++r) {
        RankState& rank = Ranks[std::size_t(r)];
        rank.Heard = Now();
        rank.Ended = r == 0;
        rank.Traced = 0;
        rank.Outstanding = 0;
    }
    for (int r = 1; r < cluster::Size(); ++r)
        Reply(r, std::string(1, cluster::kRun));
    Serving = true;
    Service = std::thread([this] { Serve(); });
    Watchdog = std::thread([this] { Watch(); });
}

int TClusterMaster::RankCount() const {
    return cluster::Size();
}

TClusterMaster::Traffic TClusterMaster::LastTraffic() const {
    Traffic t;
    t.Batches = ReceivedBatches.load();
    t.Bytes = ReceivedBytes.load();
    t.CommitSeconds = double(CommitNanoseconds.load()) * 1e-9;
    t.ServiceSeconds = double(ServiceNanoseconds.load()) * 1e-9;
    return t;
}

void TClusterMaster::EndRun() {
    Serving = false;
    if (Service.joinable())
        Service.join();
    if (Watchdog.joinable())
        Watchdog.join();
}

std::string TClusterMaster::RankStatus(std::uint64_t own) const {
    std::ostringstream lines;
    for (int r = 0; r < cluster::Size(); ++r)
        lines << "\n  Rank " << r << " on " << cluster::HostOf(r) << ": "
              << FormatCount(r == 0 ? own : Ranks[std::size_t(r)].Traced.load()) << " histories traced";
    return lines.str();
}

void TClusterMaster::Serve() {
    const std::uint64_t start = ThreadProcessorNanoseconds();
    // Kept from message to message: hand-overs are tens of kilobytes each.
    std::string message;
    // Until every worker has ended; after a stop the run waits for that too.
    while (Serving.load() || Running.load() > 0) {
        while (!Deferred.empty() && Answer(Deferred.front()))
            Deferred.pop_front();
        int from = 0;
        // Deferred requests are tried again soon: tracers wait for them.
        const double wait = Deferred.empty() ? 0.05 : 0.0005;
        if (cluster::Receive(message, from, wait) && from > 0 && from < cluster::Size() && !message.empty()) {
            Ranks[std::size_t(from)].Heard = Now();
            ReceivedBytes += message.size();
            try {
                Handle(from, message);
            } catch (const std::exception& e) {
                Run->FailRemote(cluster::Describe(from) + ": " + e.what());
            }
        }
    }
    ServiceNanoseconds = ThreadProcessorNanoseconds() - start;
}

void TClusterMaster::Handle(int from, const std::string& message) {
    RankState& worker = Ranks[std::size_t(from)];
    cluster::MessageReader in(message);
    switch (message[0]) {
    case cluster::kRequest:
        // Answered in the order asked, the moment a round or a suspension is over.
        if (!Deferred.empty() || !Answer(from))
            Deferred.push_back(from);
        break;
    case cluster::kHandover: {
        const std::uint64_t detector = in.U64();
        if (detector >= Scene->DetectorCount())
            throw std::runtime_error("hand-over for a detector the scene lacks");
        const std::int64_t start = Now();
        AsDetector(Scene->GetDetector(std::size_t(detector))).TakeForwarded(in.Rest());
        CommitNanoseconds += std::uint64_t(Now() - start);
        break;
    }
    case cluster::kDone: {
        const bool complete = in.U64() != 0;
        TTracerCounters c;
        for (std::uint64_t* n :
             {&c.Emitted, &c.Traced, &c.Photons, &c.SplitPhotons, &c.Electrons, &c.Positrons})
            *n = in.U64();
        // Its hand-overs came before: the batch is committed or queued in order.
        Run->AddRemoteCounters(c, !complete);
        DoneTraced += c.Traced;
        if (worker.Outstanding > 0) {
            --worker.Outstanding;
            --Outstanding;
        }
        break;
    }
    case cluster::kProgress:
        worker.Traced = in.U64();
        break;
    case cluster::kFailed:
        Run->FailRemote(cluster::Describe(from) + ": " + in.String());
        break;
    case cluster::kEnded:
        if (in.U64() != 0)
            Run->AddRemoteCounters(TTracerCounters(), true);
        // Batches it dropped at a stop are no longer waited for.
        Outstanding -= worker.Outstanding;
        worker.Outstanding = 0;
        if (!worker.Ended.exchange(true))
            --Running;
        break;
    default:
        throw std::runtime_error("unexpected message");
    }
}

bool TClusterMaster::Answer(int to) {
    std::uint64_t index = 0, first = 0, count = 0;
    std::uint32_t seed = 0;
    std::string reply;
    // Counted before it is taken: a round that starts meanwhile must wait for it.
    ++Outstanding;
    const TMonteCarloRun::Remote taken = Run->TakeRemoteBatch(index, first, count, seed);
    if (taken != TMonteCarloRun::Remote::Batch)
        --Outstanding;
    switch (taken) {
    case TMonteCarloRun::Remote::Batch:
        reply = std::string(1, cluster::kBatch);
        for (const std::uint64_t n : {index, first, count, std::uint64_t(seed)})
            cluster::PutU64(reply, n);
        ++Ranks[std::size_t(to)].Outstanding;
        ++ReceivedBatches;
        break;
    case TMonteCarloRun::Remote::Wait:
        return false;
    case TMonteCarloRun::Remote::End:
        reply = std::string(1, cluster::kEnd);
        break;
    case TMonteCarloRun::Remote::Stop:
        reply = std::string(1, cluster::kStop);
        break;
    }
    Reply(to, reply);
    return true;
}

void TClusterMaster::Reply(int to, const std::string& message) {
    if (!cluster::Send(to, message))
        Lost(to, "it can not be reached");
}

void TClusterMaster::Watch() {
    while (Serving.load() || Running.load() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (int r = 1; r < cluster::Size(); ++r) {
            const RankState& rank = Ranks[std::size_t(r)];
            if (rank.Ended.load())
                continue;
            // The launcher ends every process when one dies, this one with a SIGTERM
            // first, and names the rank only in its own words: a worker on this host
            // whose process is gone is seen at once.
            if (cluster::HostOf(r) == cluster::HostOf(0) && kill(cluster::ProcessOf(r), 0) != 0 &&
                errno == ESRCH)
                Lost(r, "its process ended");
            if (Now() - rank.Heard.load() > std::int64_t(kSilenceSeconds) * 1000000000)
                Lost(r, "nothing heard from it for " + std::to_string(kSilenceSeconds) + " s");
        }
    }
}

void TClusterMaster::Lost(int rank, const std::string& why) {
    std::cerr << "Lost " << cluster::Describe(rank) << " (" << why << "): ending the cluster run."
              << std::endl;
    cluster::Abort(3);
}

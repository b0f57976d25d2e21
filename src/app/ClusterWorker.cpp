#include "app/ClusterWorker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include <omp.h>
#include <unistd.h>

#include "app/Cluster.h"
#include "app/ClusterProtocol.h"
#include "app/MonteCarloRun.h"
#include "app/StartUp.h"
#include "app/SystemUtils.h"
#include "app/TarvoApplication.h"
#include "detectors/BasicDetector.h"
#include "geometry/Scene.h"
#include "random/RandomNumbersGenerator.h"
#include "ui/Message.h"

namespace {

using Clock = std::chrono::steady_clock;

class TSilentInterface : public ui::TUserInterface {
public:
    void DisplayText(const std::string&, bool, bool) override {}
    int AskQuestion(int, const std::string&) override { return ui::TDialogMessage::kNo; }
    void Start() override {}
    std::string GetString(const std::string&, const std::string& d) override { return d; }
    void FlushInput() override {}
    bool IsInputClosed() const override { return true; }
};

std::string Message(char kind) {
    return std::string(1, kind);
}

void SendToMaster(std::string message) {
    // Rank 0 gone: the launcher ends this process too.
    cluster::Post(0, std::move(message));
}

// One run on this process: a thread per tracer takes batches from a queue that a
// receiving thread keeps filled by asking rank 0 ahead of the tracers.
class TWorkerRun {
public:
    TWorkerRun(IScene& scene, const TSimulationParameters& parameters, int threads, int nice)
        : Scene(scene), Parameters(parameters), Threads(threads), Nice(nice),
          Prototype(CreateGenerator(parameters.PRNG)) {}

    void Run() {
        for (std::size_t i = 0; i < Scene.DetectorCount(); ++i)
            AsDetector(Scene.GetDetector(i)).ForwardHandovers([i](std::string& bytes) {
                std::string message = Message(cluster::kHandover);
                cluster::PutU64(message, i);
                message += bytes;
                SendToMaster(std::move(message));
            });
        Active = Threads;
        {
            std::lock_guard<std::mutex> guard(Lock);
            TopUp();
        }
        std::thread receiver([this] { Receive(); });
#pragma omp parallel num_threads(Threads)
        Trace();
        receiver.join();
        std::string ended = Message(cluster::kEnded);
        cluster::PutU64(ended, Dropped ? 1 : 0);
        SendToMaster(std::move(ended));
    }

private:
    struct Batch {
        std::uint64_t Index = 0, First = 0, Count = 0;
        std::uint32_t Seed = 0;
    };

    // Under the lock: asks for batches until each tracer has one ahead, and two more:
    // an answer takes a few milliseconds (rank 0 looks every millisecond, this process
    // every two while no tracer is short, and either may wait for a core), about as
    // long as a few batches of a thousand histories.
    void TopUp() {
        while (!NoMore && !Stopping && Queue.size() + Requested < std::size_t(2 * Threads + 2)) {
            ++Requested;
            SendToMaster(Message(cluster::kRequest));
        }
    }

    bool Next(Batch& batch) {
        std::unique_lock<std::mutex> guard(Lock);
        for (;;) {
            if (Stopping)
                return false;
            if (!Queue.empty()) {
                batch = Queue.front();
                Queue.pop_front();
                TopUp();
                return true;
            }
            if (NoMore)
                return false;
            TopUp();
            Ready.wait(guard);
        }
    }

    void Trace() {
        std::unique_ptr<TPhotonTracer> tracer;
        try {
            if (omp_get_thread_num() != 0)
                SetBackgroundMode(true);
            SetThreadNice(Nice);
            TTracerSettings settings = MakeTracerSettings(Parameters);
            settings.Report = [](const std::string&) {};
#pragma omp critical(TarvoTracers)
            tracer = std::make_unique<TPhotonTracer>(Scene, settings, *Prototype);
            Batch batch;
            while (Next(batch)) {
                tracer->StartBatch(batch.Index, batch.First, batch.Count, batch.Seed);
                const std::uint64_t step = std::max<std::uint64_t>(1, batch.Count / 10);
                bool complete = true;
                while (tracer->IsRunning()) {
                    if (Stopping.load()) {
                        tracer->EndBatch();
                        complete = false;
                        break;
                    }
                    const std::uint64_t before = tracer->Counters().Traced;
                    tracer->TraceSome(step);
                    Traced += tracer->Counters().Traced - before;
                }
                // After the batch's hand-overs, which its end sent.
                std::string done = Message(cluster::kDone);
                cluster::PutU64(done, complete ? 1 : 0);
                const TTracerCounters& c = tracer->Counters();
                for (const std::uint64_t n :
                     {c.Emitted, c.Traced, c.Photons, c.SplitPhotons, c.Electrons, c.Positrons})
                    cluster::PutU64(done, n);
                SendToMaster(std::move(done));
                tracer->ResetCounters();
            }
        } catch (const std::exception& e) {
            Fail(e.what());
        } catch (...) {
            Fail("Unknown error in a tracer thread");
        }
        if (tracer) {
            tracer->EndBatch();
#pragma omp critical(TarvoTracers)
            tracer.reset();
        }
        --Active;
        Ready.notify_all();
    }

    void Fail(const std::string& text) {
        std::string failed = Message(cluster::kFailed);
        cluster::PutString(failed, text);
        SendToMaster(std::move(failed));
        {
            // Under the lock, so that a thread about to wait for a batch sees it.
            std::lock_guard<std::mutex> guard(Lock);
            Stopping = true;
        }
        Ready.notify_all();
    }

    // Rank 0's answers, and a progress message every second (which also says that
    // this process lives), until every tracer is done and every request answered.
    void Receive() {
        Clock::time_point lastProgress = Clock::now();
        bool hurry = true;
        for (;;) {
            std::string message;
            int from = 0;
            // While every tracer has a batch queued there is time: a look wakes this
            // thread on a tracer's core.
            if (cluster::Receive(message, from, hurry ? 0.0002 : 0.002) && from == 0 && !message.empty())
                Handle(message);
            const Clock::time_point now = Clock::now();
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (Active.load() == 0 && Requested == 0)
                    return;
                hurry = Queue.size() < std::size_t(Threads);
            }
            if (now - lastProgress >= std::chrono::seconds(1)) {
                lastProgress = now;
                std::string progress = Message(cluster::kProgress);
                cluster::PutU64(progress, Traced.load());
                SendToMaster(std::move(progress));
            }
        }
    }

    void Handle(const std::string& message) {
        std::lock_guard<std::mutex> guard(Lock);
        if (message[0] == cluster::kQuit) {
            // Rank 0 ended without a stop: nothing is waited for any more.
            std::_Exit(0);
        }
        if (Requested > 0)
            --Requested;
        switch (message[0]) {
        case cluster::kBatch: {
            cluster::MessageReader in(message);
            Batch batch;
            batch.Index = in.U64();
            batch.First = in.U64();
            batch.Count = in.U64();
            batch.Seed = std::uint32_t(in.U64());
            if (Stopping)
                Dropped = true;
            else
                Queue.push_back(batch);
            break;
        }
        case cluster::kEnd:
            NoMore = true;
            break;
        case cluster::kStop:
            NoMore = true;
            Dropped = Dropped || !Queue.empty();
            Queue.clear();
            Stopping = true;
            break;
        default:
            break;
        }
        Ready.notify_all();
    }

    IScene& Scene;
    const TSimulationParameters& Parameters;
    int Threads = 1;
    int Nice = 0;
    std::unique_ptr<TRandomNumbersGenerator> Prototype;
    std::mutex Lock;
    std::condition_variable Ready;
    std::deque<Batch> Queue;
    std::size_t Requested = 0;
    bool NoMore = false;
    bool Dropped = false;
    std::atomic<bool> Stopping{false};
    std::atomic<int> Active{0};
    std::atomic<std::uint64_t> Traced{0};
};

struct WorkerOptions {
    int Threads = 0;
    int Nice = 0;
};

WorkerOptions ReadOptions(const std::vector<std::string>& arguments) {
    WorkerOptions options;
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--")
            break;
        if (argument == "--threads")
            options.Threads = ParseThreadCount(arguments[i + 1]);
        else if (argument == "--nice")
            options.Nice = ParsePriority(arguments[i + 1]);
        else if (argument == "--workingdir" && chdir(arguments[i + 1].c_str()) != 0)
            throw std::runtime_error("Couldn't change working directory to " + arguments[i + 1]);
    }
    return options;
}

int TracerCount(const TSimulationParameters& parameters, int threads) {
    const int available = threads > 0 ? threads : omp_get_max_threads();
    const std::uint64_t most = parameters.MaxNumberOfTracers;
    return most > 0 && most < std::uint64_t(available) ? int(most) : available;
}

} // namespace

int RunClusterWorker(const std::vector<std::string>& arguments) {
    TSilentInterface silent;
    TTarvoApplication application(silent);
    application.SetInteractive(false);
    WorkerOptions options;
    std::string setupError;
    try {
        options = ReadOptions(arguments);
        // Before anything is loaded: the hierarchy keeps a stack per thread.
        if (options.Threads > 0)
            omp_set_num_threads(options.Threads);
        SetPriority(options.Nice);
    } catch (const std::exception& e) {
        // Rank 0 reads the same command line and reports it.
        setupError = e.what();
    }
    for (;;) {
        std::string message;
        int from = 0;
        if (!cluster::Receive(message, from, 1.0) || from != 0 || message.empty())
            continue;
        if (message[0] == cluster::kQuit)
            break;
        if (message[0] == cluster::kLoad) {
            std::string error = setupError;
            try {
                cluster::MessageReader in(message);
                const std::string configuration = in.String();
                const std::string resultDir = in.String();
                if (error.empty())
                    application.LoadAsClusterWorker(configuration, resultDir);
            } catch (const std::exception& e) {
                error = e.what();
            }
            std::string loaded = Message(cluster::kLoaded);
            cluster::PutString(loaded, error);
            SendToMaster(std::move(loaded));
        } else if (message[0] == cluster::kRun) {
            // Rank 0 starts a run only once every worker has loaded.
            if (IScene* scene = application.SceneForRun()) {
                TWorkerRun run(*scene, application.Parameters(),
                               TracerCount(application.Parameters(), options.Threads), options.Nice);
                run.Run();
            }
        }
    }
    cluster::Finish();
    return 0;
}

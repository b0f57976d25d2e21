// Histories per second of the photon tracer on the demo phantom, with splitting on
// and off, on one and two threads. Reference: the bare all-hits segment queries of
// the same kind of flights (each case's emissions and the interaction points and
// directions its tracer reported, recorded untimed), as histories per second; a
// history should cost little more than its ray queries. The two-thread figures take
// the one-thread rate as reference.

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

#include "QuietInterface.h"
#include "app/MonteCarloRun.h"
#include "app/TarvoApplication.h"
#include "detectors/BasicDetector.h"
#include "geometry/Scene.h"
#include "random/RandomNumbersGenerator.h"
#include "sources/SourceFactory.h"
#include "tracer/PhotonTracer.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Where photons start their later flights: after each scattering.
class FlightRecorder : public TParticleListener {
public:
    void Notify(const TParticle&, const TParticle& particle, int code) override {
        if (particle.Type == ParticlePhoton && particle.IsAlive() && code >= 2 && code <= 6)
            Rays.push_back(geometry::Ray{particle.Position, particle.Direction});
    }
    std::vector<geometry::Ray> Rays;
};

// A smaller count may be given on the command line (profiling runs).
std::uint64_t kHistories = 200000;
constexpr std::uint64_t kBatch = 1000;

// Under callgrind every timed region is dumped on its own as `name`, so
// instruction counts can stand in for times on a loaded machine.
double Trace(const IScene& scene, const TTracerSettings& settings, int threads, const std::string& name) {
    for (std::size_t i = 0; i < scene.DetectorCount(); ++i) AsDetector(scene.GetDetector(i)).BeginRun(0);
    auto prototype = CreateGenerator(PRNG_Type::MT19937_64);
    CALLGRIND_ZERO_STATS;
    const auto start = Clock::now();
#pragma omp parallel num_threads(threads)
    {
        TPhotonTracer tracer(scene, settings, *prototype);
#pragma omp for schedule(dynamic, 1)
        for (std::int64_t b = 0; b < std::int64_t(kHistories / kBatch); ++b) {
            tracer.StartBatch(std::uint64_t(b), std::uint64_t(b) * kBatch, kBatch, std::uint32_t(b + 1));
            while (tracer.TraceSome(kBatch)) {
            }
        }
        tracer.FlushDetectors();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    CALLGRIND_DUMP_STATS_AT(name.c_str());
    for (std::size_t i = 0; i < scene.DetectorCount(); ++i) AsDetector(scene.GetDetector(i)).Flush();
    return double(kHistories) / seconds;
}

// The same kind of flights as bare segment queries on one thread.
double Reference(const IScene& scene, const TTracerSettings& settings, const std::string& name) {
    auto rng = CreateGenerator(PRNG_Type::MT19937_64);
    TPhotonTracer tracer(scene, settings, *rng);
    FlightRecorder recorder;
    tracer.AddListener(&recorder);
    tracer.StartBatch(0, 0, kHistories, 1);
    while (tracer.TraceSome(kBatch)) {
    }
    std::vector<geometry::Ray> rays = std::move(recorder.Rays);
    std::unique_ptr<IScene> copy = scene.Clone();
    TBasicSource& source = AsSource(copy->GetSource(0));
    for (std::uint64_t n = 0; n < kHistories; ++n) {
        const TParticle* p = source.Emit(*rng);
        if (p->IsAlive())
            rays.push_back(geometry::Ray{p->Position, p->Direction});
    }
    std::size_t segments = 0;
    CALLGRIND_ZERO_STATS;
    const auto start = Clock::now();
    for (const geometry::Ray& ray : rays) {
        try {
            if (copy->ComputeSegments(ray))
                segments += copy->GetSegments().size();
        } catch (const std::exception&) {
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    CALLGRIND_DUMP_STATS_AT(name.c_str());
    if (segments == 0)
        std::fprintf(stderr, "no segments\n");
    return double(kHistories) / seconds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1)
        kHistories = std::max<std::uint64_t>(kBatch, std::strtoull(argv[1], nullptr, 10) / kBatch * kBatch);
    std::string file = __FILE__;
    const std::string root = file.substr(0, file.rfind("/bench/"));
    const std::string examples = root + "/examples";
    std::ifstream in(examples + "/phantom.ini");
    std::stringstream text;
    text << in.rdbuf();
    std::string config = Replace(text.str(), "../data/", root + "/data/");
    config = Replace(config, "= detectors/", "= " + examples + "/detectors/");
    config = Replace(config, "= spectra/", "= " + examples + "/spectra/");
    const std::string path = "/tmp/bench_tracer_phantom.ini";
    std::ofstream(path) << config;
    bench::QuietInterface ui;
    TTarvoApplication app(ui);
    if (!app.Initialize(path, false))
        return 1;
    const IScene& scene = *app.Scene();
    for (const bool splitting : {true, false}) {
        TTracerSettings settings = MakeTracerSettings(app.Parameters());
        settings.UsePhotonSplitting = splitting;
        const char* name = splitting ? "splitting_on" : "splitting_off";
        const std::string prefix = name;
        const double reference = Reference(scene, settings, prefix + "_reference");
        const double one = Trace(scene, settings, 1, prefix + "_1_thread");
        const double two = Trace(scene, settings, 2, prefix + "_2_threads");
        std::printf("BENCH tracer %s_1_thread: %.0f histories/s; reference all-hits ComputeSegments of the same "
                    "flights %.0f histories/s; ratio %.3f\n",
                    name, one, reference, one / reference);
        std::printf("BENCH tracer %s_2_threads: %.0f histories/s; reference %s_1_thread %.0f histories/s; "
                    "ratio %.3f\n",
                    name, two, name, one, two / one);
    }
    return 0;
}

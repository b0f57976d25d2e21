// Trace detectors on the tracer's event path: events per second into a shared 128^3
// mesh detector from 2 threads (each on its own scene copy, batches committed in
// order), beside plain `cells[i] += w` on the same cells; and trace-dump segments per
// second into a file, beside fwrite of the same bytes in blocks of the same size.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <omp.h>
#include <unistd.h>

#include "BenchThreads.h"
#include "app/ObjectTypes.h"
#include "detectors/MeshDetector.h"
#include "detectors/TraceDump.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"

namespace {

using bench::Parallel;
using bench::ThreadSeconds;

const std::size_t Side = 128;
const std::size_t Events = 4000000;
const std::size_t BatchSize = 20000;

struct Workload {
    std::vector<geometry::TCoord<double>> Positions;
    std::vector<double> Weights;
    std::vector<std::uint32_t> Cells;
};

Workload MakeWorkload() {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> u(0, 1);
    Workload w;
    for (std::size_t i = 0; i < Events; ++i) {
        const geometry::TCoord<double> p(double(Side) * u(random), double(Side) * u(random),
                                         double(Side) * u(random));
        w.Positions.push_back(p);
        w.Weights.push_back(0.5 + u(random));
        w.Cells.push_back(
            std::uint32_t((std::size_t(p.z) * Side + std::size_t(p.y)) * Side + std::size_t(p.x)));
    }
    return w;
}

std::unique_ptr<TScene<double>> MakeScene(const std::string& object) {
    auto quiet = [](const std::string&, bool) {};
    auto manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64, quiet);
    auto scene = std::make_unique<TScene<double>>(manager, quiet);
    inifiles::TIniFileStructure ini;
    std::istringstream in("[Objects]\n[Object]\n" + object + "[EndObject]\n[EndObjects]\n");
    ini.ReadFrom(in, "bench");
    scene->ReadScene(ini);
    return scene;
}

double PlainCells(const Workload& w, int threads) {
    std::vector<std::vector<double>> cells(std::size_t(threads), std::vector<double>(Side * Side * Side));
    const double seconds = Parallel(threads, [&](int thread) {
        std::vector<double>& c = cells[std::size_t(thread)];
        const std::size_t share = Events / std::size_t(threads), begin = std::size_t(thread) * share;
        for (std::size_t i = begin; i < begin + share; ++i)
            c[w.Cells[i]] += w.Weights[i];
    });
    if (cells[0][12345] < 0)
        std::printf("impossible\n");
    return double(Events) / seconds / 1e6;
}

double MeshEvents(const Workload& w, int threads) {
    auto scene = MakeScene("ObjectType = MeshDetector\nVertexA = (0, 0, 0)\nSide1 = (128, 0, 0)\n"
                           "Side2 = (0, 128, 0)\nSide3 = (0, 0, 128)\nDimensions = 128,128,128\n");
    TTraceDetector& master = AsTraceDetector(scene->GetTraceDetector(0));
    master.BeginRun(0);
    std::vector<std::unique_ptr<IScene>> copies;
    for (int t = 0; t < threads; ++t)
        copies.push_back(scene->Clone());
    std::atomic<std::int64_t> next{0};
    double seconds = Parallel(threads, [&](int thread) {
        TTraceDetector& d = AsTraceDetector(copies[std::size_t(thread)]->GetTraceDetector(0));
        TParticle before, after;
        before.Energy = 60;
        after.Energy = 50;
        for (std::int64_t b = next++; b < std::int64_t(Events / BatchSize); b = next++) {
            d.BeginBatch(std::uint64_t(b));
            for (std::size_t i = std::size_t(b) * BatchSize; i < std::size_t(b + 1) * BatchSize; ++i) {
                before.Weight = after.Weight = w.Weights[i];
                after.Position = w.Positions[i];
                d.Notify(before, after, 5);
            }
            d.EndBatch();
        }
        d.Flush();
    });
    const double start = ThreadSeconds();
    master.Flush();
    seconds += ThreadSeconds() - start;
    return double(Events) / seconds / 1e6;
}

// Segments per second through a dump's Notify (and its flush), and the same number of
// bytes through fwrite in blocks of the dump's queue length.
void Dump(const char* name, const std::string& keys, std::size_t segmentBytes) {
    const std::size_t segments = 2000000;
    // In memory, so that the disk does not set the pace.
    const std::string file = "/dev/shm/bench_tracedetectors_" + std::to_string(::getpid());
    auto scene = MakeScene("ObjectType = TraceDump\nFilename = " + file + ".dump\n" + keys);
    TTraceDetector& dump = AsTraceDetector(scene->GetTraceDetector(0));
    dump.StartRun(file);
    TParticle before, after;
    before.Energy = 60;
    after.Energy = 50;
    double start = ThreadSeconds();
    for (std::size_t i = 0; i < segments; ++i) {
        after.History = i;
        after.Position.x = double(i);
        dump.Notify(before, after, 5);
    }
    dump.Flush();
    const double ours = double(segments) / (ThreadSeconds() - start) / 1e6;
    std::vector<char> block(TraceDump<float>::QueueLimit * segmentBytes, 1);
    std::FILE* out = std::fopen((file + ".ref").c_str(), "wb");
    start = ThreadSeconds();
    for (std::size_t done = 0; done < segments; done += TraceDump<float>::QueueLimit)
        std::fwrite(block.data(), 1, block.size(), out);
    std::fflush(out);
    const double reference = double(segments) / (ThreadSeconds() - start) / 1e6;
    std::fclose(out);
    scene.reset();
    std::remove((file + ".dump").c_str());
    std::remove((file + ".ref").c_str());
    std::printf("BENCH tracedetectors dump %s: %.2f Mseg/s; reference fwrite of the same bytes %.2f Mseg/s; "
                "ratio %.3f\n",
                name, ours, reference, ours / reference);
    std::fflush(stdout);
}

} // namespace

int main() {
    RegisterSceneObjectTypes();
    const Workload w = MakeWorkload();
    for (const int threads : {1, 2}) {
        const double plain = PlainCells(w, threads);
        const double ours = MeshEvents(w, threads);
        std::printf(
            "BENCH tracedetectors mesh 128^3 shared %d thread%s: %.1f Mevents/s; reference cells[i] += w "
            "%.1f Mevents/s; ratio %.3f\n",
            threads, threads > 1 ? "s" : "", ours, plain, ours / plain);
        std::fflush(stdout);
    }
    Dump("binary float", "Single = true\n", sizeof(TraceSegment<float>));
    Dump("binary double", "", sizeof(TraceSegment<double>));
}

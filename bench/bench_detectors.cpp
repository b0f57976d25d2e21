// Registrations per second into 1024 x 1024 plane detectors (image and simple,
// shared or not, with and without split registration, 1 and 2 threads), through the
// detector's Transport (a photon reaching the plane) and through Register (pixel
// coordinates given), beside plain `img[i] += w` on the same pixels in the same run.

#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <omp.h>

#include "app/ObjectTypes.h"
#include "detectors/DetectorModel.h"
#include "detectors/ImageDetectors.h"
#include "geometry/IntersectionList.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "random/RandomNumbersGenerator.h"

namespace {

// The machine is shared: one thread is timed by the CPU time it gets, several by the
// wall clock (which is what running them side by side should shorten).
double Now(int threads) {
    timespec t{};
    clock_gettime(threads > 1 ? CLOCK_MONOTONIC : CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}
const std::size_t Side = 1024;
const std::size_t Hits = 4000000;
const std::size_t BatchSize = 20000;

struct Workload {
    std::vector<double> Rows, Columns, Weights;
    std::vector<std::uint32_t> Pixels;
};

Workload MakeWorkload() {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> u(0, 1);
    Workload w;
    for (std::size_t i = 0; i < Hits; ++i) {
        const double row = double(Side) * u(random), column = double(Side) * u(random);
        w.Rows.push_back(row);
        w.Columns.push_back(column);
        w.Weights.push_back(0.5 + u(random));
        w.Pixels.push_back(std::uint32_t(std::size_t(row) * Side + std::size_t(column)));
    }
    return w;
}

std::unique_ptr<TScene<double>> MakeScene(const std::string& keys) {
    auto quiet = [](const std::string&, bool) {};
    auto manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64, quiet);
    auto scene = std::make_unique<TScene<double>>(manager, quiet);
    inifiles::TIniFileStructure ini;
    std::istringstream in("[Objects]\n[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\n"
                          "Side1 = (40, 0, 0)\nSide2 = (0, 40, 0)\nPixelColumns = 1024\nPixelRows = 1024\n" +
                          keys + "[EndObject]\n[EndObjects]\n");
    ini.ReadFrom(in, "bench");
    scene->ReadScene(ini);
    LoadDetectorModels(*scene, ini);
    return scene;
}

double Plain(const Workload& w, int threads) {
    std::vector<std::vector<double>> images(std::size_t(threads), std::vector<double>(Side * Side));
    const double start = Now(threads);
#pragma omp parallel num_threads(threads)
    {
        std::vector<double>& img = images[std::size_t(omp_get_thread_num())];
#pragma omp for schedule(static)
        for (std::int64_t i = 0; i < std::int64_t(Hits); ++i)
            img[w.Pixels[std::size_t(i)]] += w.Weights[std::size_t(i)];
    }
    const double seconds = Now(threads) - start;
    double sum = 0;
    for (const auto& img : images)
        sum += img[12345];
    if (sum < 0)
        std::printf("impossible\n");
    return double(Hits) / seconds / 1e6;
}

double Ours(const Workload& w, const std::string& keys, int threads, bool transport) {
    auto scene = MakeScene(keys);
    auto& master = dynamic_cast<TPlaneDetector&>(scene->GetDetector(0));
    master.BeginRun(0);
    std::vector<std::unique_ptr<IScene>> copies;
    for (int t = 0; t < threads; ++t)
        copies.push_back(scene->Clone());
    const double start = Now(threads);
#pragma omp parallel num_threads(threads)
    {
        auto& d = dynamic_cast<TPlaneDetector&>(copies[std::size_t(omp_get_thread_num())]->GetDetector(0));
        auto rng = CreateGenerator(PRNG_Type::MT19937);
        std::deque<std::unique_ptr<TParticle>> queue;
        TParticle photon;
        photon.Energy = 50;
        photon.SetDirectionVector({0, 0, 1});
        geometry::Segment entry{&d, 10, 10};
#pragma omp for schedule(dynamic, 1)
        for (std::int64_t b = 0; b < std::int64_t(Hits / BatchSize); ++b) {
            d.BeginBatch(std::uint64_t(b));
            for (std::size_t i = std::size_t(b) * BatchSize; i < std::size_t(b + 1) * BatchSize; ++i) {
                photon.Weight = w.Weights[i];
                if (transport) {
                    photon.Position = {w.Columns[i] * (40.0 / Side), w.Rows[i] * (40.0 / Side), -10};
                    d.Transport(photon, entry, 0, *rng, queue);
                } else {
                    d.Register(w.Rows[i], w.Columns[i], photon, 1);
                }
            }
            d.EndBatch();
        }
        d.Flush();
    }
    master.Flush();
    const double seconds = Now(threads) - start;
    return double(Hits) / seconds / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    // An optional argument picks the cases whose name contains it.
    const std::string only = argc > 1 ? argv[1] : "";
    RegisterSceneObjectTypes();
    const Workload w = MakeWorkload();
    struct Case {
        const char* name;
        const char* keys;
    };
    const Case cases[] = {
        {"image", "Energy = false\n"},
        {"image split", "Energy = false\nSplitRegistration = true\n"},
        {"image unshared", "Energy = false\nShared = false\n"},
        {"simple", ""},
        {"simple split", "SplitRegistration = true\n"},
        {"simple unshared", "Shared = false\n"},
    };
    for (const int threads : {1, 2}) {
        for (const Case& c : cases) {
            if (std::string(c.name).find(only) == std::string::npos)
                continue;
            for (const bool transport : {true, false}) {
                const double plain = Plain(w, threads);
                const double ours = Ours(w, c.keys, threads, transport);
                std::printf("BENCH detectors %s %s %d thread%s: %.1f Mreg/s; reference img[i] += w %.1f "
                            "Mreg/s; ratio %.3f\n",
                            c.name, transport ? "Transport" : "Register", threads, threads > 1 ? "s" : "",
                            ours, plain, ours / plain);
                std::fflush(stdout);
            }
        }
    }
}

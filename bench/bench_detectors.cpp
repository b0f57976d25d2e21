// Registrations per second into 1024 x 1024 plane detectors (image and simple,
// shared or not, with and without split registration, 1 and 2 threads), through the
// detector's Transport (a photon reaching the plane) and through Register (pixel
// coordinates given), beside plain `img[i] += w` on the same pixels in the same run.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <omp.h>

#include "BenchThreads.h"
#include "app/ObjectTypes.h"
#include "detectors/DetectorModel.h"
#include "detectors/ImageDetectors.h"
#include "geometry/IntersectionList.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "random/RandomNumbersGenerator.h"

namespace {

using bench::Parallel;
using bench::ThreadSeconds;

const std::size_t Side = 1024;
const std::size_t Hits = 4000000;
const std::size_t BatchSize = 20000;
const int Runs = 3;

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

// Plain adds into cells of `fields` doubles: img[i] += w with one; with three, as a
// simple detector's count, square count and energy, c[0] += w, c[1] += w * w,
// c[2] += E * w, whose 24 MB no longer stay in the processor's cache as 8 MB do.
template <std::size_t fields> double Plain(const Workload& w, int threads) {
    std::vector<std::vector<double>> images(std::size_t(threads), std::vector<double>(Side * Side * fields));
    const double seconds = Parallel(threads, [&](int thread) {
        double* img = images[std::size_t(thread)].data();
        const std::size_t share = Hits / std::size_t(threads), begin = std::size_t(thread) * share;
        for (std::size_t i = begin; i < begin + share; ++i) {
            double* cell = img + std::size_t(w.Pixels[i]) * fields;
            cell[0] += w.Weights[i];
            if (fields == 3) {
                cell[1] += w.Weights[i] * w.Weights[i];
                cell[2] += 50 * w.Weights[i];
            }
        }
    });
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
    std::atomic<std::int64_t> next{0};
    double seconds = Parallel(threads, [&](int thread) {
        auto& d = dynamic_cast<TPlaneDetector&>(copies[std::size_t(thread)]->GetDetector(0));
        auto rng = CreateGenerator(PRNG_Type::MT19937);
        std::deque<std::unique_ptr<TParticle>> queue;
        TParticle photon;
        photon.Energy = 50;
        photon.SetDirectionVector({0, 0, 1});
        geometry::Segment entry{&d, 10, 10};
        for (std::int64_t b = next++; b < std::int64_t(Hits / BatchSize); b = next++) {
            d.BeginBatch(std::uint64_t(b));
            for (std::size_t i = std::size_t(b) * BatchSize; i < std::size_t(b + 1) * BatchSize; ++i) {
                // One history per registration, as a tracer's primaries mostly give.
                photon.History = i;
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
    });
    const double start = ThreadSeconds();
    master.Flush();
    seconds += ThreadSeconds() - start;
    return double(Hits) / seconds / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    // An optional argument picks the cases whose label ("image split Transport 1 thread")
    // contains it.
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
    // What memory alone allows a simple detector: the same adds into its cells of three
    // doubles, no detector involved.
    if (std::string("simple cells 1 thread").find(only) != std::string::npos) {
        double plain = 0, cells = 0;
        for (int run = 0; run < Runs; ++run) {
            plain = std::max(plain, Plain<1>(w, 1));
            cells = std::max(cells, Plain<3>(w, 1));
        }
        std::printf("BENCH detectors simple cells 1 thread: %.1f Mreg/s (c[0] += w, c[1] += w * w, "
                    "c[2] += E * w); reference img[i] += w %.1f Mreg/s; ratio %.3f\n",
                    cells, plain, cells / plain);
        std::fflush(stdout);
    }
    for (const int threads : {1, 2}) {
        for (const Case& c : cases) {
            for (const bool transport : {true, false}) {
                const std::string label = std::string(c.name) + (transport ? " Transport " : " Register ") +
                                          std::to_string(threads) + (threads > 1 ? " threads" : " thread");
                if (label.find(only) == std::string::npos)
                    continue;
                // Other processes slow either side at random: each is timed a few
                // times, interleaved with the other, and its best run counts.
                double plain = 0, ours = 0;
                for (int run = 0; run < Runs; ++run) {
                    plain = std::max(plain, Plain<1>(w, threads));
                    ours = std::max(ours, Ours(w, c.keys, threads, transport));
                }
                std::printf(
                    "BENCH detectors %s: %.1f Mreg/s; reference img[i] += w %.1f Mreg/s; ratio %.3f\n",
                    label.c_str(), ours, plain, ours / plain);
                std::fflush(stdout);
            }
        }
    }
}

// Registrations per second into a 512 x 512 flex detector whose pixels hold 100-bin
// spectra (2 threads, shared and not), beside as many plain `spectra[pixel][bin] += w`;
// and the "median error" stop condition over 1024 x 1024 pixels beside
// std::nth_element on the same number of doubles.

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

#include "BenchThreads.h"
#include "app/ObjectTypes.h"
#include "detectors/DetectorModel.h"
#include "detectors/FlexPlaneDetector.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"

namespace {

using bench::Parallel;
using bench::ThreadSeconds;

const std::size_t Side = 512, Bins = 100;
const std::size_t Hits = 4000000, BatchSize = 20000;
const int Threads = 2;

struct Workload {
    std::vector<double> Rows, Columns, Energies, Weights;
};

Workload MakeWorkload() {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> u(0, 1);
    Workload w;
    for (std::size_t i = 0; i < Hits; ++i) {
        w.Rows.push_back(double(Side) * u(random));
        w.Columns.push_back(double(Side) * u(random));
        w.Energies.push_back(100 * u(random));
        w.Weights.push_back(0.5 + u(random));
    }
    return w;
}

std::unique_ptr<TScene<double>> MakeScene(std::size_t side, const std::string& keys) {
    auto quiet = [](const std::string&, bool) {};
    auto manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64, quiet);
    auto scene = std::make_unique<TScene<double>>(manager, quiet);
    inifiles::TIniFileStructure ini;
    std::istringstream in("[Objects]\n[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\n"
                          "Side1 = (40, 0, 0)\nSide2 = (0, 40, 0)\nPixelColumns = " +
                          std::to_string(side) + "\nPixelRows = " + std::to_string(side) + "\n" + keys +
                          "[EndObject]\n[EndObjects]\n");
    ini.ReadFrom(in, "bench");
    scene->ReadScene(ini);
    LoadDetectorModels(*scene, ini);
    return scene;
}

double Plain(const Workload& w) {
    std::vector<double> spectra(Side * Side * Bins);
    std::atomic<std::int64_t> next{0};
    const double seconds = Parallel(Threads, [&](int) {
        // Each thread its own batches, as the detector's threads get them; the bins are
        // those of 1 keV from 0.
        for (std::int64_t b = next++; b < std::int64_t(Hits / BatchSize); b = next++)
            for (std::size_t i = std::size_t(b) * BatchSize; i < std::size_t(b + 1) * BatchSize; ++i) {
                const std::size_t pixel = std::size_t(w.Rows[i]) * Side + std::size_t(w.Columns[i]);
                const std::size_t bin = std::min(Bins - 1, std::size_t(w.Energies[i]));
#pragma omp atomic
                spectra[pixel * Bins + bin] += w.Weights[i];
            }
    });
    if (spectra[12345] < 0)
        std::printf("impossible\n");
    return double(Hits) / seconds / 1e6;
}

double Flex(const Workload& w, bool shared) {
    auto scene =
        MakeScene(Side, std::string("TotalOnly = true\nCells = (Spectrometer, 0, 100, 100)\nShared = ") +
                            (shared ? "true\n" : "false\n"));
    auto& master = dynamic_cast<TPlaneDetector&>(scene->GetDetector(0));
    master.BeginRun(0);
    std::vector<std::unique_ptr<IScene>> copies;
    for (int t = 0; t < Threads; ++t)
        copies.push_back(scene->Clone());
    std::atomic<std::int64_t> next{0};
    double seconds = Parallel(Threads, [&](int thread) {
        auto& d = dynamic_cast<TPlaneDetector&>(copies[std::size_t(thread)]->GetDetector(0));
        TParticle photon;
        for (std::int64_t b = next++; b < std::int64_t(Hits / BatchSize); b = next++) {
            d.BeginBatch(std::uint64_t(b));
            for (std::size_t i = std::size_t(b) * BatchSize; i < std::size_t(b + 1) * BatchSize; ++i) {
                photon.Energy = w.Energies[i];
                photon.Weight = w.Weights[i];
                photon.History = i;
                d.Register(w.Rows[i], w.Columns[i], photon, 1);
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

// Milliseconds per evaluation of "median error" over 1024 x 1024 filled pixels, and of
// std::nth_element over as many doubles (copied each time, as the condition collects them).
void Median() {
    const std::size_t side = 1024, rounds = 5;
    auto scene = MakeScene(side, "");
    auto& d = dynamic_cast<TPlaneDetector&>(scene->GetDetector(0));
    std::mt19937_64 random(7);
    TParticle photon;
    photon.Energy = 50;
    std::vector<double> errors;
    for (std::uint64_t pixel = 0; pixel < side * side; ++pixel)
        for (int k = 0; k < 2; ++k)
            d.RegisterPixel(pixel / side, pixel % side, photon, 0.5 + double(random() % 100));
    for (std::uint64_t pixel = 0; pixel < side * side; ++pixel)
        errors.push_back(double(random() % 1000) / 1000);
    const StopCondition median = StopCondition::Parse("median error 0.1");
    double start = ThreadSeconds(), sum = 0;
    for (std::size_t r = 0; r < rounds; ++r)
        sum += d.StopConditionValue(median);
    const double ours = (ThreadSeconds() - start) / double(rounds) * 1e3;
    start = ThreadSeconds();
    for (std::size_t r = 0; r < rounds; ++r) {
        std::vector<double> values(errors);
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2), values.end());
        sum += values[values.size() / 2];
    }
    const double reference = (ThreadSeconds() - start) / double(rounds) * 1e3;
    if (sum < 0)
        std::printf("impossible\n");
    std::printf(
        "BENCH spectra median error 1024x1024: %.2f ms; reference std::nth_element %.2f ms; ratio %.3f\n",
        ours, reference, ours / reference);
}

} // namespace

int main() {
    RegisterSceneObjectTypes();
    const Workload w = MakeWorkload();
    for (const bool shared : {true, false}) {
        const double plain = Plain(w);
        const double ours = Flex(w, shared);
        std::printf(
            "BENCH spectra flex 512x512 100 bins %s 2 threads: %.1f Mreg/s; reference spectra[pixel][bin] += "
            "w %.1f Mreg/s; ratio %.3f\n",
            shared ? "shared" : "unshared", ours, plain, ours / plain);
        std::fflush(stdout);
    }
    Median();
}

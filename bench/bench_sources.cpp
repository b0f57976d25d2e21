#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/ObjectTypes.h"
#include "geometry/AffineTransform.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "interactions/Particle.h"
#include "random/RandomNumbersGenerator.h"
#include "sources/SimpleSource.h"
#include "sources/SourceFactory.h"

// Emissions per second of the sources, each beside an inline loop that makes the
// same samples (same generator kind, same numbers per particle, same arithmetic)
// without source objects, measured right before it under the same machine load.

namespace {

constexpr double kMinSeconds = 0.2;
constexpr int kRepetitions = 3;
const double kPi = 4.0 * std::atan(1.0);

volatile double g_sink;

// Input files of this run, apart from those of runs beside it.
std::string SpectrumFile() {
    return "/tmp/bench_sources_" + std::to_string(getpid()) + "_spectrum.txt";
}
std::string MapFile() {
    return "/tmp/bench_sources_" + std::to_string(getpid()) + "_map.d256x256.raw";
}

// Best rate in emissions per second of `emit` (one particle per call).
template <typename Emit> double BestRate(Emit emit) {
    double best = 0;
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        std::size_t count = 0;
        double sum = 0;
        const auto start = std::chrono::steady_clock::now();
        double seconds = 0;
        do {
            for (int i = 0; i < 4096; ++i)
                sum += emit();
            count += 4096;
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        } while (seconds < kMinSeconds);
        g_sink = sum;
        best = std::max(best, count / seconds);
    }
    return best;
}

std::unique_ptr<TRandomNumbersGenerator> Generator() {
    auto g = CreateGenerator(PRNG_Type::MT19937_64);
    g->SetSeed(189705);
    return g;
}

// A 100 kV tungsten-like spectrum in 1 keV lines with the K lines on top.
std::string SpectrumLines(std::vector<double>& energies, std::vector<double>& cumulative) {
    std::ostringstream text;
    std::vector<double> weights;
    for (int e = 10; e <= 100; ++e) {
        double w = (100.0 - e) * std::exp(-std::pow(22.0 / e, 3));
        if (e == 59 || e == 67)
            w *= 4;
        energies.push_back(e);
        weights.push_back(w);
        text << e << " " << w << "\n";
    }
    double total = 0;
    for (double w : weights)
        total += w;
    double c = 0;
    for (double w : weights)
        cumulative.push_back(c += w / total);
    return text.str();
}

struct Loaded {
    std::shared_ptr<geometry::BVHManager<double>> manager;
    std::unique_ptr<TScene<double>> scene;
    TSimpleSource* source = nullptr;
};

Loaded Load(const std::string& keys, const std::string& basePath) {
    RegisterSceneObjectTypes();
    Loaded l;
    l.manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64);
    l.scene = std::make_unique<TScene<double>>(l.manager);
    inifiles::TIniFileStructure ini;
    ini.SetBasePath(basePath);
    std::istringstream in("[Objects]\n[Object]\nObjectType = Source\n" + keys +
                          "[EndObject]\n[EndObjects]\n");
    ini.ReadFrom(in, "bench");
    l.scene->ReadScene(ini);
    l.source = dynamic_cast<TSimpleSource*>(&l.scene->GetSource(0));
    return l;
}

void Report(const char* name, double ours, double reference) {
    std::printf("BENCH sources %s: %.3g emissions/s; reference inline sampler %.3g emissions/s; ratio %.2f\n",
                name, ours, reference, ours / reference);
    std::fflush(stdout);
}

// The frame of Direction = (theta, phi) with the sides turned into it.
struct Frame {
    geometry::TAffineTransform toWorld;
    geometry::TCoord<double> origin, s1, s2, s3;
    Frame(double theta, double phi, geometry::TCoord<double> a, geometry::TCoord<double> b,
          geometry::TCoord<double> c)
        : toWorld(geometry::TAffineTransform::LocalToWorld(geometry::TCoord<double>(),
                                                           geometry::TSphericalAngle(theta, phi))),
          origin(toWorld.Apply(geometry::TCoord<double>())), s1(toWorld.ApplyToVector(a)),
          s2(toWorld.ApplyToVector(b)), s3(toWorld.ApplyToVector(c)) {}
};

void CuboidConeSpectrum() {
    std::vector<double> energies, cumulative;
    const std::string lines = SpectrumLines(energies, cumulative);
    std::ofstream(SpectrumFile()) << lines;
    Loaded l = Load("Spectrum = " + SpectrumFile() +
                        "\nDirection = (0.3, 0.2)\nConeAngle = 0.2\n"
                        "Side1 = (2, 0, 0)\nSide2 = (0, 1, 0)\nSide3 = (0, 0, 0.5)\n",
                    "/tmp");
    const Frame f(0.3, 0.2, {2, 0, 0}, {0, 1, 0}, {0, 0, 0.5});
    const double cosHalf = std::cos(0.2);
    auto rng = Generator();
    TParticle particle;
    const double reference = BestRate([&] {
        rng->NextPoint();
        double u[3];
        rng->Generate(u, 3);
        particle.Position = f.origin + (u[0] - 0.5) * f.s1 + (u[1] - 0.5) * f.s2 + (u[2] - 0.5) * f.s3;
        rng->Generate(u, 2);
        const double ct = cosHalf + (1 - cosHalf) * u[0], st = std::sqrt(1 - ct * ct), ph = 2 * kPi * u[1];
        particle.SetDirectionVector(
            f.toWorld.ApplyToVector(geometry::TCoord<double>(st * std::cos(ph), st * std::sin(ph), ct)));
        rng->Generate(u, 1);
        particle.Energy =
            energies[std::lower_bound(cumulative.begin(), cumulative.end(), u[0]) - cumulative.begin()];
        return particle.Energy;
    });
    auto rng2 = Generator();
    const double ours = BestRate([&] { return l.source->Emit(*rng2)->Energy; });
    Report("cuboid, cone, 91-line spectrum", ours, reference);
}

void DiscMapWindow() {
    constexpr int n = 256;
    std::vector<double> map(n * n);
    {
        std::ofstream raw(MapFile(), std::ios::binary);
        for (int i = 0; i < n * n; ++i) {
            map[i] = 1 + (i * 7919 % 1000);
            raw.write(reinterpret_cast<const char*>(&map[i]), sizeof(double));
        }
        double sum = 0;
        for (double v : map)
            sum += v;
        for (double& v : map)
            v *= n * n / sum;
    }
    Loaded l = Load("Energy = 60\nShape = Cylinder\nConeAngle = 0.5\nSide1 = (3, 0, 0)\nSide2 = (0, 3, 0)\n"
                    "WindowLeft = 0\nIntensityMap = " +
                        MapFile() + "\n",
                    "/tmp");
    const Frame f(0, 0, {3, 0, 0}, {0, 3, 0}, {0, 0, 0});
    const double cosHalf = std::cos(0.5);
    auto rng = Generator();
    TParticle particle;
    const double reference = BestRate([&] {
        rng->NextPoint();
        particle.Weight = 1;
        particle.Status = 0;
        double u[2];
        rng->Generate(u, 2);
        const double r = 0.5 * std::sqrt(u[0]), phi = 2 * kPi * u[1];
        const double x = r * std::cos(phi), y = r * std::sin(phi);
        const int column = std::min(n - 1, int((x + 0.5) * n)), row = std::min(n - 1, int((0.5 - y) * n));
        particle.Weight *= map[row * n + column];
        particle.Position = f.origin + x * f.s1 + y * f.s2;
        rng->Generate(u, 2);
        const double ct = cosHalf + (1 - cosHalf) * u[0], st = std::sqrt(1 - ct * ct), ph = 2 * kPi * u[1];
        const geometry::TCoord<double> d(st * std::cos(ph), st * std::sin(ph), ct);
        if (std::atan2(d.x, d.z) < 0)
            particle.Status = 1;
        particle.SetDirectionVector(f.toWorld.ApplyToVector(d));
        particle.Energy = 60;
        return particle.Weight;
    });
    auto rng2 = Generator();
    const double ours = BestRate([&] { return l.source->Emit(*rng2)->Weight; });
    Report("disc, 256x256 map, window rejecting half", ours, reference);
}

void Toward() {
    Loaded l = Load("Energy = 60\nConeAngle = 0.3\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\n", "/tmp");
    const Frame f(0, 0, {2, 0, 0}, {0, 2, 0}, {0, 0, 0});
    const geometry::TCoord<double> target(1, 2, 30);
    const double cosHalf = std::cos(0.3);
    auto rng = Generator();
    TParticle particle;
    const double reference = BestRate([&] {
        rng->NextPoint();
        double u[2];
        rng->Generate(u, 2);
        particle.Position = f.origin + (u[0] - 0.5) * f.s1 + (u[1] - 0.5) * f.s2;
        const geometry::TCoord<double> d = target - particle.Position;
        particle.SetDirectionVector(d);
        particle.Status = d.z / geometry::Norm(d) < cosHalf;
        particle.Energy = 60;
        return particle.Position.x;
    });
    auto rng2 = Generator();
    const double ours = BestRate([&] { return l.source->EmitToward(target, *rng2)->Position.x; });
    Report("EmitToward, square", ours, reference);
}

} // namespace

int main() {
    CuboidConeSpectrum();
    DiscMapWindow();
    Toward();
    std::remove(SpectrumFile().c_str());
    std::remove(MapFile().c_str());
    return 0;
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <omp.h>

#include "app/ObjectTypes.h"
#include "detectors/PhaseSpaceWriter.h"
#include "geometry/PhaseSpaceFile.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "interactions/Particle.h"
#include "random/RandomNumbersGenerator.h"

// Phase-space throughput: loading a list source in MB/s beside fread of the same
// file, and recording particles from two threads in records/s beside one fwrite
// stream of the same bytes in the same blocks. The file is read once before timing,
// so both sides read from the page cache.

namespace {

constexpr std::size_t kRecords = 1 << 21;
constexpr int kRepetitions = 3;

std::string TempFile(const std::string& name) {
    return "/tmp/bench_phasespace_" + std::to_string(getpid()) + "_" + name;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename Work> double BestSeconds(Work work) {
    double best = 1e30;
    for (int i = 0; i < kRepetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, Seconds(start));
    }
    return best;
}

std::vector<geometry::PhaseSpaceRecord<float>> SampleRecords() {
    std::vector<geometry::PhaseSpaceRecord<float>> records(kRecords);
    for (std::size_t i = 0; i < kRecords; ++i) {
        auto& r = records[i];
        r.Type = 0;
        r.InteractionCount = std::uint32_t(i % 3);
        r.X = float(i % 1000) * 0.01f;
        r.Y = float(i % 777) * 0.01f;
        r.Z = 23;
        r.Latitude = float(i % 100) * 0.001f;
        r.Longitude = float(i % 628) * 0.01f;
        r.Energy = 20 + float(i % 40);
        r.Weight = 0.5f + float(i % 10) * 0.05f;
    }
    return records;
}

void WriteFile(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Into fresh memory, as a loader must: the first touch of new pages costs as much
// as the copy from the page cache.
double FreadSeconds(const std::string& name, std::size_t bytes) {
    return BestSeconds([&] {
        std::unique_ptr<char[]> buffer(new char[bytes]);
        std::FILE* f = std::fopen(name.c_str(), "rb");
        if (std::fread(buffer.get(), 1, bytes, f) != bytes)
            std::perror("fread");
        std::fclose(f);
    });
}

double LoadSeconds(const std::string& name) {
    return BestSeconds([&] {
        auto manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64);
        TScene<double> scene(manager, [](const std::string&, bool) {});
        inifiles::TIniFileStructure ini;
        std::istringstream in("[Objects]\n[Object]\nObjectType = Source\nParticleList = " + name +
                              "\n[EndObject]\n[EndObjects]\n");
        ini.ReadFrom(in, "bench");
        scene.ReadScene(ini);
    });
}

void ReportLoad(const char* label, const std::string& name, std::size_t bytes) {
    FreadSeconds(name, bytes);
    const double mb = double(bytes) / 1e6;
    const double ours = mb / LoadSeconds(name), reference = mb / FreadSeconds(name, bytes);
    std::printf("BENCH phasespace load %s: %.4g MB/s; reference fread %.4g MB/s; ratio %.2f\n", label, ours,
                reference, ours / reference);
    std::fflush(stdout);
}

// Every thread registers its half of the particles through its own writer copy.
double RecordSeconds(const std::string& name) {
    inifiles::TIniFileStructure ini;
    std::istringstream in("[Registrator]\nFilename = " + name + "\n[EndRegistrator]\n");
    ini.ReadFrom(in, "bench");
    return BestSeconds([&] {
        PhaseSpaceWriter<float> master(ini.FindSection("Registrator"), "");
        master.BeginRun(true);
#pragma omp parallel num_threads(2)
        {
            std::unique_ptr<ParticleRegistrator> copy = master.Clone();
            auto rng = CreateGenerator(PRNG_Type::MT19937_64);
            TParticle p;
            p.Position = geometry::TCoord<double>(1, 2, 23);
            p.Direction = geometry::TSphericalAngle(0.1, 0.2);
            p.Energy = 60;
#pragma omp for schedule(static)
            for (long i = 0; i < long(kRecords); ++i) {
                p.Weight = 0.5 + double(i % 10) * 0.05;
                copy->RegisterParticleWith(p, 1.0, *rng);
            }
            copy->EndOfRun();
        }
    });
}

double FwriteSeconds(const std::string& name, const std::string& bytes) {
    const std::size_t block = (PhaseSpaceWriter<float>::kFlushAbove + 1) * 36;
    return BestSeconds([&] {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        for (std::size_t at = 0; at < bytes.size(); at += block) {
            std::fwrite(bytes.data() + at, 1, std::min(block, bytes.size() - at), f);
            std::fflush(f);
        }
        std::fclose(f);
    });
}

} // namespace

int main() {
    RegisterSceneObjectTypes();
    const auto records = SampleRecords();
    const std::string native = TempFile("float.bin"), swapped = TempFile("double_be.bin"),
                      written = TempFile("written.bin");
    geometry::PhaseSpaceFormat big = geometry::PhaseSpaceFormat::Native(true);
    for (bool& b : big.BigEndian)
        b = !b;
    const geometry::PhaseSpaceFormat little = geometry::PhaseSpaceFormat::Native(false);
    const std::string floatBody = geometry::EncodePhaseSpaceRecords(records.data(), kRecords, little);
    WriteFile(native, little.Header() + floatBody);
    const std::string doubleFile =
        big.Header() + geometry::EncodePhaseSpaceRecords(records.data(), kRecords, big);
    WriteFile(swapped, doubleFile);

    ReportLoad("float native", native, little.Header().size() + floatBody.size());
    ReportLoad("double byte-swapped", swapped, doubleFile.size());

    const double ours = double(kRecords) / RecordSeconds(written);
    const double reference = double(kRecords) / FwriteSeconds(written, floatBody);
    std::printf("BENCH phasespace record 2 threads: %.4g records/s; reference fwrite of the same bytes %.4g "
                "records/s; ratio %.2f\n",
                ours, reference, ours / reference);
    for (const std::string& f : {native, swapped, written})
        std::remove(f.c_str());
    return 0;
}

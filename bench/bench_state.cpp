// Saving and restoring the state of a run whose scene holds a 2048 x 2048 detector
// with count, square count and energy per pixel for primary and scattered radiation
// (about 200 MB), beside writing the same bytes with fwrite + fsync and reading them
// with fread, in the same run and directory.

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/ObjectTypes.h"
#include "datafiles/ObjectIO.h"
#include "datafiles/StateFile.h"
#include "detectors/DetectorModel.h"
#include "detectors/ImageDetectors.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<TScene<double>> MakeScene(std::shared_ptr<geometry::BVHManager<double>>& manager) {
    RegisterSceneObjectTypes();
    auto quiet = [](const std::string&, bool) {};
    manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64, quiet);
    auto scene = std::make_unique<TScene<double>>(manager, quiet);
    inifiles::TIniFileStructure ini;
    std::istringstream in("[Objects]\n[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\n"
                          "Side1 = (40, 0, 0)\nSide2 = (0, 40, 0)\nPixelColumns = 2048\nPixelRows = 2048\n"
                          "[EndObject]\n[EndObjects]\n");
    ini.ReadFrom(in, "bench");
    scene->ReadScene(ini);
    LoadDetectorModels(*scene, ini);
    return scene;
}

// Fills every cell with random sums through a doctored state (past the entry headers
// and the detector's dimensions), so the files hold no runs of zeros.
void Fill(TScene<double>& scene) {
    std::ostringstream state;
    WriteObject(state, scene);
    std::string bytes = state.str();
    std::mt19937_64 random(5);
    for (std::size_t at = 200; at + 8 <= bytes.size(); at += 8) {
        const double value = double(random() % 1000000) * 0.25;
        bytes.replace(at, 8, reinterpret_cast<const char*>(&value), 8);
    }
    std::istringstream in(bytes);
    ReadObject(in, scene);
}

} // namespace

int main() {
    char pattern[] = "/tmp/bench_state_XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::shared_ptr<geometry::BVHManager<double>> manager;
    auto scene = MakeScene(manager);
    Fill(*scene);
    const std::string stateName = dir + "/run.state", plainName = dir + "/plain";

    const int rounds = 3;
    double save = 0, restore = 0, write = 0, read = 0;
    std::uint64_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = Now();
        datafiles::WriteStateFile(stateName, [&](std::ostream& out) { WriteObject(out, *scene); });
        save += Now() - start;

        start = Now();
        {
            datafiles::TStateFileReader reader(stateName);
            ReadObject(reader.Stream(), *scene);
            reader.ExpectEnd();
            bytes = reader.ChecksumAt();
        }
        restore += Now() - start;

        std::vector<char> block(bytes, 'x');
        start = Now();
        std::FILE* file = std::fopen(plainName.c_str(), "wb");
        std::fwrite(block.data(), 1, block.size(), file);
        std::fflush(file);
        fsync(fileno(file));
        std::fclose(file);
        write += Now() - start;

        start = Now();
        file = std::fopen(plainName.c_str(), "rb");
        const std::size_t got = std::fread(block.data(), 1, block.size(), file);
        std::fclose(file);
        read += Now() - start;
        if (got != block.size())
            std::fprintf(stderr, "short read\n");
    }
    const double mb = double(bytes) / 1e6;
    std::printf("BENCH state save 2048x2048 detector (%.0f MB): %.0f MB/s; reference fwrite+fsync %.0f MB/s; "
                "ratio %.2f\n",
                mb, mb * rounds / save, mb * rounds / write, write / save);
    std::printf("BENCH state restore 2048x2048 detector (%.0f MB): %.0f MB/s; reference fread %.0f MB/s; "
                "ratio %.2f\n",
                mb, mb * rounds / restore, mb * rounds / read, read / restore);
    for (const std::string& name : {stateName, stateName + ".bak", plainName})
        std::remove(name.c_str());
    rmdir(dir.c_str());
    return 0;
}

// Seeded mutation loop over every input file the loader reads: configurations, the
// mesh formats, vertex/facet tables and compressed streams, each plain and compressed.
// Not part of the test build (file name ends in .cc); built and run by hand:
//   g++ -std=c++17 -O2 -fopenmp -Isrc tests/geometry/fuzz/input_files_fuzz.cc build/libtarvo_core.a \
//     -o build/fuzz_inputs
// (or with -fsanitize=address,undefined against build-asan/libtarvo_core.a, from make sanitize)
//   nice -n 19 build/fuzz_inputs <seconds> <seed> <work dir> <seed files...>
// Seeds: the meshes of tests/data/geometry/make_meshes.py (the target follows the
// extension: .stl .off .ply .tri, .vtx for tables), configurations (.ini; a name with
// "scene" loads its Objects, whose mesh files must lie in the work dir) and text
// tables (.txt, copied through Decompress).
// Each input runs in a forked child (crash isolation, 10 s alarm). Reported: crashes
// (signals), hangs, and errors whose text does not name the input file; the inputs
// are kept in <work dir>/findings.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "datafiles/XRTCStream.h"
#include "geometry/MeshReaders.h"
#include "geometry/SceneLoader.h"
#include "inifiles/IniFile.h"

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Text holding byte 26 cannot be compressed; it stays plain.
std::string Compressed(const std::string& text) {
    std::ostringstream sink;
    try {
        datafiles::XRTCStream out(nullptr, &sink);
        out << text;
        out.Close();
    } catch (const std::exception&) {
        return text;
    }
    return sink.str();
}

const char* const kTokens[] = {"[",   "]",   "{",    "}",   "#",     "\n",         "=",      "[End",    "XRTC",
                               "1e308", "-1", "nan", "4294967295", "solid", "facet normal", "endloop", "vertex ",
                               "element vertex 99999999\n", "property list uchar int vertex_indices\n",
                               "end_header\n", "OFF\n", "3 0 1 2\n", "\x1a", "\xff\xff\xff\x7f"};

std::string Mutate(std::string data, std::mt19937_64& rng) {
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < edits; ++k) {
        const std::size_t at = data.empty() ? 0 : rng() % (data.size() + 1);
        switch (rng() % 7) {
        case 0: if (at < data.size()) data[at] = static_cast<char>(rng()); break;
        case 1: if (at < data.size()) data[at] ^= static_cast<char>(1 << (rng() % 8)); break;
        case 2: data.resize(at); break;
        case 3: data.insert(at, kTokens[rng() % (sizeof(kTokens) / sizeof(*kTokens))]); break;
        case 4: data.erase(at, rng() % 64); break;
        case 5: { // duplicate a slice
            const std::size_t from = data.empty() ? 0 : rng() % data.size();
            data.insert(at, data.substr(from, rng() % 256));
            break;
        }
        default: data.insert(at, std::string(1 + rng() % 8, "\x5f\xbf\xaa\x00"[rng() % 4])); break;
        }
    }
    return data;
}

enum Target { kIni, kStL, kOFF, kPLY, kTRI, kTables, kStream, kScene, kTargets };
const char* const kNames[] = {"ini", "stl", "off", "ply", "tri", "tables", "xrc", "scene"};

Target TargetOf(const std::string& path) {
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".stl") return kStL;
    if (ext == ".off") return kOFF;
    if (ext == ".ply") return kPLY;
    if (ext == ".tri") return kTRI;
    if (ext == ".vtx") return kTables;
    if (ext == ".txt") return kStream;
    return path.find("scene") != std::string::npos ? kScene : kIni;
}

// Runs in the child; the exit code says what happened.
int RunOne(Target target, const std::string& file, const std::string& dir) {
    try {
        geometry::FacetManager<double> store([](const std::string&, bool) {});
        switch (target) {
        case kIni: {
            inifiles::TIniFileStructure tree(file);
            break;
        }
        case kStL: geometry::ReadStL<double>(file, {}, 1, store, false); break;
        case kOFF: geometry::ReadOFF<double>(file, {}, 1, store, false); break;
        case kPLY: geometry::ReadPLY<double>(file, {}, 1, store, false); break;
        case kTRI: geometry::ReadTRI<double>(file, {}, 1, store, false); break;
        case kTables: geometry::ReadVertexFacetFiles<double>(file, dir + "/fixed.fct", 1, {}, 1, store, false); break;
        case kStream: datafiles::DecompressFile(file, dir + "/out.txt"); break;
        case kScene: {
            inifiles::TIniFileStructure tree(file);
            geometry::SceneSettings settings;
            settings.ConfigurationName = file;
            geometry::LoadSceneGeometry(tree, settings, [](const std::string&, bool) {});
            break;
        }
        default: break;
        }
    } catch (const std::exception& e) {
        const std::string text = e.what();
        // A vertex number outside the vertex table is the facet table's error.
        const bool named = text.find(std::filesystem::path(file).filename().string()) != std::string::npos ||
                           (target == kTables && text.find("fixed.fct") != std::string::npos);
        if (!named) {
            std::fprintf(stderr, "NONAME %s: %s\n", kNames[target], text.c_str());
            return 3;
        }
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: fuzz_inputs <seconds> <seed> <work dir> <seed files...>\n";
        return 1;
    }
    const double seconds = std::stod(argv[1]);
    std::mt19937_64 rng(std::stoull(argv[2]));
    const std::string dir = argv[3];
    std::filesystem::create_directories(dir + "/findings");
    std::vector<std::pair<Target, std::string>> seeds;
    for (int i = 4; i < argc; ++i) seeds.emplace_back(TargetOf(argv[i]), Read(argv[i]));
    // The facet table the vertex tables are read with.
    Write(dir + "/fixed.fct", "1 1 2 3\n1 2 3 4\n1 1 3 4\n1 1 2 4\n");

    std::map<std::string, int> counts;
    const auto start = std::chrono::steady_clock::now();
    double slowest = 0;
    for (long n = 0;; ++n) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > seconds) break;
        const auto& [target, seed] = seeds[rng() % seeds.size()];
        // A third of the inputs are compressed: mutated before or after compression.
        const int form = static_cast<int>(rng() % 3);
        std::string data = Mutate(seed, rng);
        if (form == 1) data = Compressed(data);
        if (form == 2) data = Mutate(Compressed(seed), rng);
        if (target == kStream && form == 0) data = Mutate(Compressed(seed), rng);
        const std::string file = dir + "/input." + kNames[target] + (form != 0 ? ".xrc" : "");
        Write(file, data);
        const auto t0 = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's shadow memory exceeds any such limit
            rlimit memory{rlim_t(6) << 30, rlim_t(6) << 30};
            setrlimit(RLIMIT_AS, &memory);
#endif
            alarm(10);
            _exit(RunOne(target, file, dir));
        }
        int status = 0;
        waitpid(child, &status, 0);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        slowest = std::max(slowest, elapsed);
        std::string outcome = WIFSIGNALED(status) ? (WTERMSIG(status) == SIGALRM ? "hang" : "crash")
                              : WEXITSTATUS(status) == 3 ? "noname"
                              : WEXITSTATUS(status) == 2 ? "error"
                                                         : "read";
        ++counts[std::string(kNames[target]) + " " + outcome];
        if (outcome == "hang" || outcome == "crash" || outcome == "noname") {
            const std::string kept = dir + "/findings/" + outcome + "_" + std::to_string(n) + "_" +
                                     std::filesystem::path(file).filename().string();
            Write(kept, data);
            std::cerr << outcome << " (signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << "): " << kept
                      << "\n";
        }
    }
    for (const auto& [what, count] : counts) std::cout << what << ": " << count << "\n";
    std::cout << "slowest input: " << slowest << " s\n";
    return 0;
}

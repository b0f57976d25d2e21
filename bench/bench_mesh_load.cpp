// Loading speed of large binary StL and PLY meshes through the readers, beside the
// time `cat` needs to read the same file in the same run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "geometry/MeshReaders.h"
#include "geometry/MeshWriters.h"
#include "geometry/Primitives.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double FileMB(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return static_cast<double>(st.st_size) / (1024.0 * 1024.0);
}

double CatSeconds(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(("cat '" + path + "' > /dev/null").c_str()) != 0) std::cerr << "cat failed\n";
    return Seconds(start);
}

template <typename Reader>
void Measure(const std::string& name, const std::string& path, Reader read) {
    CatSeconds(path);  // warm the page cache for both contenders
    double best = 1e300, bestCat = 1e300;
    std::size_t facets = 0;
    for (int round = 0; round < 3; ++round) {
        geometry::FacetManager<float> store([](const std::string&, bool) {});
        const auto start = std::chrono::steady_clock::now();
        read(path, store);
        best = std::min(best, Seconds(start));
        facets = store.GetFacets().size();
        bestCat = std::min(bestCat, CatSeconds(path));
    }
    const double mb = FileMB(path);
    std::printf("BENCH mesh_load %s_%zu_facets: %.1f MB/s; reference cat %.1f MB/s; ratio %.3f\n", name.c_str(),
                facets, mb / best, mb / bestCat, bestCat / best);
}

} // namespace

int main() {
    char pattern[] = "/tmp/bench_mesh_XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) return 1;
    const std::string stl = std::string(dir) + "/mesh.stl", ply = std::string(dir) + "/mesh.ply";
    {
        geometry::FacetManager<float> scene;
        geometry::MeshBuilder<float> mesh(scene, {}, 1, false);
        // 2 * 1001 * 1000 = 2,002,000 facets.
        geometry::AddEllipsoid(mesh, {0, 0, 0}, {10, 0, 0}, {0, 7, 0}, {0, 0, 5}, 1001);
        std::ofstream s(stl, std::ios::binary), p(ply, std::ios::binary);
        geometry::WriteStL(s, scene, scene.GetFacets(), "Part1", true);
        geometry::WritePLY(p, scene, scene.GetFacets());
    }
    Measure("binary_stl", stl, [](const std::string& path, geometry::FacetManager<float>& store) {
        geometry::ReadStL(path, {}, 1, store, false);
    });
    Measure("binary_ply", ply, [](const std::string& path, geometry::FacetManager<float>& store) {
        geometry::ReadPLY(path, {}, 1, store, false);
    });
    std::remove(stl.c_str());
    std::remove(ply.c_str());
    rmdir(dir);
    return 0;
}

// All-hits ray throughput of the hierarchy beside the brute-force facet store, and
// the hierarchy's build time beside one sort of the facets' centroid keys.

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchGeometry.h"
#include "geometry/BVHManager.h"

using namespace geometry;
using namespace bench;

namespace {

// Seconds of the hierarchy build beside one sort of the facets' x keys.
template <typename T>
void Build(BVHManager<T>& bvh, const char* type) {
    const std::size_t facets = bvh.GetFacets().size();
    std::vector<T> keys(facets);
    for (std::size_t i = 0; i < facets; ++i) {
        const Facet& f = bvh.GetFacets()[i];
        keys[i] = bvh.GetVertices()[f.V0].x + bvh.GetVertices()[f.V1].x + bvh.GetVertices()[f.V2].x;
    }
    double start = Cpu();
    std::sort(keys.begin(), keys.end());
    const double sortSeconds = Cpu() - start;
    start = Cpu();
    bvh.Prepare();
    const double buildSeconds = Cpu() - start;
    std::printf("BENCH bvh build sphere%zu %s %dt: %.4f s CPU; reference sort of the centroid keys %.4f s CPU; "
                "ratio %.2f\n",
                facets, type, omp_get_max_threads(), buildSeconds, sortSeconds, buildSeconds / sortSeconds);
}

template <typename T>
void Run(const char* type) {
    BVHManager<T> bvh(42, 5, 500);
    AddSphere(bvh, 316, 160);
    FacetManager<T> brute;
    for (const auto& v : bvh.GetVertices()) brute.AddVertex(v);
    for (const auto& f : bvh.GetFacets()) brute.AddFacet(f);
    const std::size_t facets = bvh.GetFacets().size();
    Build(bvh, type);

    const std::vector<Ray> rays = MakeRays(200000, 7);
    const std::vector<Ray> fewRays(rays.begin(), rays.begin() + 400);
    for (int threads : {1, 2}) {
        std::vector<std::size_t> ours, reference;
        const auto tree = Trace(bvh, rays, threads, ours);
        const auto slow = Trace(brute, fewRays, threads, reference);
        for (std::size_t i = 0; i < fewRays.size(); ++i)
            if (ours[i] != reference[i]) std::printf("hit count differs on ray %zu: %zu vs %zu\n", i, ours[i], reference[i]);
        std::printf("BENCH bvh rays sphere%zu %s %dt: %.0f rays/s; reference brute force %.0f rays/s; ratio %.1f\n",
                    facets, type, threads, tree.first, slow.first, tree.first / slow.first);
    }
}

} // namespace

template <typename T>
void BuildLarge(const char* type) {
    for (int threads : {1, 2}) {
        omp_set_num_threads(threads);
        BVHManager<T> bvh(42, 5, 500);
        AddSphere(bvh, 1415, 707);
        Build(bvh, type);
    }
}

int main() {
    Run<float>("float");
    Run<double>("double");
    BuildLarge<float>("float");
    BuildLarge<double>("double");
    return 0;
}

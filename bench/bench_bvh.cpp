// All-hits ray throughput of the hierarchy beside the brute-force facet store, and
// the hierarchy's build time beside one sort of the facets' centroid keys.

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "geometry/BVHManager.h"

using namespace geometry;

namespace {

// Processor seconds of the whole process: the build figures stay meaningful on a busy machine.
double Cpu() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Latitude-longitude sphere of radius 1 with about 2 * slices * stacks facets.
template <typename T>
void AddSphere(FacetManager<T>& store, int slices, int stacks) {
    auto vertex = [&](int i, int j) {
        if (i == 0 || i == stacks) return store.AddVertex(TCoord<T>(0, 0, i == 0 ? 1 : -1));
        const double theta = M_PI * i / stacks, phi = 2 * M_PI * (j % slices) / slices;
        return store.AddVertex(TCoord<T>(T(std::sin(theta) * std::cos(phi)), T(std::sin(theta) * std::sin(phi)),
                                         T(std::cos(theta))));
    };
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            if (i > 0) store.AddFacet(0, vertex(i, j), vertex(i + 1, j), vertex(i, j + 1));
            if (i + 1 < stacks) store.AddFacet(0, vertex(i + 1, j), vertex(i + 1, j + 1), vertex(i, j + 1));
        }
}

// From random points on a sphere of radius 3 towards random points within 0.5 of the centre.
std::vector<Ray> MakeRays(std::size_t count, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> near(-0.5, 0.5);
    std::vector<Ray> rays(count);
    for (Ray& ray : rays) {
        TCoord<double> p(normal(rng), normal(rng), normal(rng));
        p = p * (3.0 / Norm(p));
        const TCoord<double> d = TCoord<double>(near(rng), near(rng), near(rng)) - p;
        ray.Position = p;
        ray.Direction = TSphericalAngle(std::acos(d.z / Norm(d)), std::atan2(d.y, d.x));
    }
    return rays;
}

// Rays per second with `threads` threads; every ray's hit count goes to counts.
std::pair<double, std::size_t> Trace(const IntersectionManager& manager, const std::vector<Ray>& rays, int threads,
                                     std::vector<std::size_t>& counts) {
    counts.assign(rays.size(), 0);
    const double start = Now();
    const std::int64_t n = std::int64_t(rays.size());
#pragma omp parallel num_threads(threads)
    {
        std::vector<Hit> hits;
        hits.reserve(64);
#pragma omp for schedule(dynamic, 64)
        for (std::int64_t i = 0; i < n; ++i) {
            hits.clear();
            manager.Intersect(rays[std::size_t(i)], hits);
            counts[std::size_t(i)] = hits.size();
        }
    }
    const double seconds = Now() - start;
    std::size_t total = 0;
    for (std::size_t c : counts) total += c;
    return {double(rays.size()) / seconds, total};
}

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

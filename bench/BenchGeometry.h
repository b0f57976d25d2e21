#pragma once

// Meshes, rays and clocks shared by the geometry benchmarks.

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <random>
#include <utility>
#include <vector>

#include "geometry/FacetManager.h"

namespace bench {

// Processor seconds of the whole process: build figures stay meaningful on a busy machine.
inline double Cpu() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

inline double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Closed latitude-longitude sphere around the origin with 2 * slices * (stacks - 1)
// facets. With bumps > 0 the radius swells and dents by up to 15 % in a bumps x bumps
// pattern, so that rays cross the surface more than twice; the poles stay at radius 1.
template <typename T>
void AddSphere(geometry::FacetManager<T>& store, int slices, int stacks, int bumps = 0) {
    auto vertex = [&](int i, int j) {
        if (i == 0 || i == stacks) return store.AddVertex(geometry::TCoord<T>(0, 0, i == 0 ? 1 : -1));
        const double theta = M_PI * i / stacks, phi = 2 * M_PI * (j % slices) / slices;
        const double r = 1 + 0.15 * std::sin(bumps * theta) * std::cos(bumps * phi);
        return store.AddVertex(geometry::TCoord<T>(T(r * std::sin(theta) * std::cos(phi)),
                                                   T(r * std::sin(theta) * std::sin(phi)),
                                                   T(r * std::cos(theta))));
    };
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            if (i > 0) store.AddFacet(0, vertex(i, j), vertex(i + 1, j), vertex(i, j + 1));
            if (i + 1 < stacks) store.AddFacet(0, vertex(i + 1, j), vertex(i + 1, j + 1), vertex(i, j + 1));
        }
}

// From random points on a sphere of radius 3 towards random points within 0.5 of the
// centre. The direction's sines and cosines are cached here, so that threads tracing
// the rays later only read them.
inline std::vector<geometry::Ray> MakeRays(std::size_t count, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> near(-0.5, 0.5);
    std::vector<geometry::Ray> rays(count);
    for (geometry::Ray& ray : rays) {
        geometry::TCoord<double> p(normal(rng), normal(rng), normal(rng));
        p = p * (3.0 / Norm(p));
        const geometry::TCoord<double> d = geometry::TCoord<double>(near(rng), near(rng), near(rng)) - p;
        ray.Position = p;
        ray.Direction = geometry::TSphericalAngle(std::acos(d.z / Norm(d)), std::atan2(d.y, d.x));
        geometry::DirectionVector(ray.Direction);
    }
    return rays;
}

// Rays per second with `threads` threads and the total hit count; every ray's hit
// count goes to counts.
inline std::pair<double, std::size_t> Trace(const geometry::IntersectionManager& manager,
                                            const std::vector<geometry::Ray>& rays, int threads,
                                            std::vector<std::size_t>& counts) {
    counts.assign(rays.size(), 0);
    const double start = Now();
    const std::int64_t n = std::int64_t(rays.size());
#pragma omp parallel num_threads(threads)
    {
        std::vector<geometry::Hit> hits;
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

} // namespace bench

// All-hits ray throughput and build time of the hierarchy beside Intel Embree 3 on the
// same meshes and rays. Embree collects every hit through an intersection filter that
// records the hit and rejects it, so that its traversal goes on as ours does; its robust
// mode keeps it from losing hits on shared edges. Embree stores single precision only:
// the double scenes are compared with Embree holding their vertices rounded to float.
// Build times are processor seconds: ours summed over its threads, Embree's on one.

#include <embree3/rtcore.h>
#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchGeometry.h"
#include "geometry/BVHManager.h"

using namespace geometry;
using namespace bench;

namespace {

constexpr std::size_t RayCount = 300000;
// Hit counts may differ only for rays that pass this close to a facet's edge or corner
// (in barycentric coordinates of the facet), where the single-precision copy of the
// scene and of the ray may decide the other way; and only for a few rays.
constexpr double GrazeTolerance = 1e-4;
constexpr double DisagreementLimit = 1e-4;
// Telling a grazing ray costs a pass over every facet, so only the first few are examined.
constexpr std::size_t MaxExamined = 40;

struct MeshCase {
    const char* Name;
    int Slices;
    int Stacks;
    int Bumps;
    bool ReportBuild;
};

struct EmbreeHit {
    float Distance;
    unsigned Facet;
};

struct EmbreeRay {
    float Origin[3];
    float Direction[3];
};

// Embree hands the context through to the filter unchanged, so the filter finds the
// calling thread's hit list behind it.
struct CollectContext {
    RTCIntersectContext Context;
    std::vector<EmbreeHit>* Hits;
};

void CollectEveryHit(const RTCFilterFunctionNArguments* args) {
    auto* collect = reinterpret_cast<CollectContext*>(args->context);
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] != -1) continue;
        collect->Hits->push_back({RTCRayN_tfar(args->ray, args->N, i), RTCHitN_primID(args->hit, args->N, i)});
        args->valid[i] = 0;
    }
}

void CheckDevice(RTCDevice device, const char* what) {
    const RTCError error = rtcGetDeviceError(device);
    if (error != RTC_ERROR_NONE) throw std::runtime_error(std::string("Embree failed to ") + what + ", error " +
                                                          std::to_string(int(error)));
}

// One build thread, so that the scene commit compares with our build on one core.
class EmbreeDevice {
public:
    EmbreeDevice() : Device(rtcNewDevice("threads=1")) {
        if (!Device) throw std::runtime_error("Embree failed to create its device");
    }
    ~EmbreeDevice() { rtcReleaseDevice(Device); }
    EmbreeDevice(const EmbreeDevice&) = delete;
    EmbreeDevice& operator=(const EmbreeDevice&) = delete;

    RTCDevice Get() const { return Device; }

private:
    RTCDevice Device;
};

class EmbreeScene {
public:
    template <typename T>
    EmbreeScene(RTCDevice device, const FacetManager<T>& store) : Device(device), Scene(rtcNewScene(device)) {
        RTCGeometry mesh = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
        const std::vector<TCoord<T>>& vertices = store.GetVertices();
        const std::vector<Facet>& facets = store.GetFacets();
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(mesh, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                              3 * sizeof(float), vertices.size()));
        auto* f = static_cast<unsigned*>(rtcSetNewGeometryBuffer(mesh, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                                 3 * sizeof(unsigned), facets.size()));
        CheckDevice(device, "allocate the mesh buffers");
        for (const TCoord<T>& c : vertices) {
            *v++ = float(c.x);
            *v++ = float(c.y);
            *v++ = float(c.z);
        }
        for (const Facet& facet : facets) {
            *f++ = facet.V0;
            *f++ = facet.V1;
            *f++ = facet.V2;
        }
        rtcSetGeometryIntersectFilterFunction(mesh, CollectEveryHit);
        rtcCommitGeometry(mesh);
        rtcAttachGeometry(Scene, mesh);
        rtcReleaseGeometry(mesh);
        rtcSetSceneFlags(Scene, RTC_SCENE_FLAG_ROBUST);
        CheckDevice(device, "set up the scene");
    }
    ~EmbreeScene() { rtcReleaseScene(Scene); }
    EmbreeScene(const EmbreeScene&) = delete;
    EmbreeScene& operator=(const EmbreeScene&) = delete;

    // Processor seconds of building Embree's hierarchy.
    double Commit() {
        const double start = Cpu();
        rtcCommitScene(Scene);
        const double seconds = Cpu() - start;
        CheckDevice(Device, "commit the scene");
        return seconds;
    }

    // Rays per second with `threads` threads; every ray's hit count goes to counts.
    double Trace(const std::vector<EmbreeRay>& rays, int threads, std::vector<std::size_t>& counts) const {
        counts.assign(rays.size(), 0);
        const double start = Now();
        const std::int64_t n = std::int64_t(rays.size());
#pragma omp parallel num_threads(threads)
        {
            std::vector<EmbreeHit> hits;
            hits.reserve(64);
            CollectContext collect;
            rtcInitIntersectContext(&collect.Context);
            collect.Hits = &hits;
#pragma omp for schedule(dynamic, 64)
            for (std::int64_t i = 0; i < n; ++i) {
                const EmbreeRay& r = rays[std::size_t(i)];
                RTCRayHit query;
                query.ray.org_x = r.Origin[0];
                query.ray.org_y = r.Origin[1];
                query.ray.org_z = r.Origin[2];
                query.ray.dir_x = r.Direction[0];
                query.ray.dir_y = r.Direction[1];
                query.ray.dir_z = r.Direction[2];
                query.ray.tnear = 0;
                query.ray.tfar = std::numeric_limits<float>::infinity();
                query.ray.time = 0;
                query.ray.mask = ~0u;
                query.ray.id = 0;
                query.ray.flags = 0;
                query.hit.geomID = RTC_INVALID_GEOMETRY_ID;
                query.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
                hits.clear();
                rtcIntersect1(Scene, &collect.Context, &query);
                counts[std::size_t(i)] = hits.size();
            }
        }
        return double(rays.size()) / (Now() - start);
    }

private:
    RTCDevice Device;
    RTCScene Scene;
};

std::vector<EmbreeRay> ToEmbree(const std::vector<Ray>& rays) {
    std::vector<EmbreeRay> result(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        const TCoord<double>& o = rays[i].Position;
        const TCoord<double> d = DirectionVector(rays[i].Direction);
        result[i] = {{float(o.x), float(o.y), float(o.z)}, {float(d.x), float(d.y), float(d.z)}};
    }
    return result;
}

// Whether the ray meets some facet's plane within GrazeTolerance of the facet's edges
// or corners, on the facet's side of them or just outside.
template <typename T>
bool GrazesEdge(const FacetManager<T>& store, const Ray& ray) {
    const TCoord<double> d = DirectionVector(ray.Direction);
    const TCoord<double>& o = ray.Position;
    const std::vector<TCoord<T>>& vertices = store.GetVertices();
    for (const Facet& f : store.GetFacets()) {
        const TCoord<double> p0(vertices[f.V0]);
        const TCoord<double> e1 = TCoord<double>(vertices[f.V1]) - p0;
        const TCoord<double> e2 = TCoord<double>(vertices[f.V2]) - p0;
        const TCoord<double> p = Cross(d, e2);
        const double det = Dot(e1, p);
        if (det == 0) continue;
        const TCoord<double> s = o - p0;
        const double u = Dot(s, p) / det;
        const TCoord<double> q = Cross(s, e1);
        const double v = Dot(d, q) / det;
        const double w = 1 - u - v;
        const double t = Dot(e2, q) / det;
        const double nearest = std::min({u, v, w});
        if (t >= 0 && std::fabs(nearest) <= GrazeTolerance) return true;
    }
    return false;
}

// Compares the hit counts per ray and prints how many differ and whether they are the
// edge and corner cases that may differ.
template <typename T>
void CheckCounts(const FacetManager<T>& store, const std::vector<Ray>& rays, const std::vector<std::size_t>& ours,
                 const std::vector<std::size_t>& theirs, const MeshCase& mesh, const char* type) {
    std::size_t differing = 0, examined = 0, grazing = 0, ourHits = 0, theirHits = 0;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        ourHits += ours[i];
        theirHits += theirs[i];
        if (ours[i] == theirs[i]) continue;
        ++differing;
        if (examined == MaxExamined) continue;
        ++examined;
        if (GrazesEdge(store, rays[i])) ++grazing;
    }
    std::printf("check rays %s %s: %zu rays, %zu hits ours, %zu hits embree; %zu rays with different hit counts, "
                "%zu of the %zu examined graze an edge or vertex\n",
                mesh.Name, type, rays.size(), ourHits, theirHits, differing, grazing, examined);
    if (double(differing) > DisagreementLimit * double(rays.size()) || grazing < examined)
        std::printf("WARNING: rays %s %s: hit counts differ from Embree's on %zu of %zu rays; %zu of the %zu "
                    "examined do not graze an edge or vertex\n",
                    mesh.Name, type, differing, rays.size(), examined - grazing, examined);
}

template <typename T>
void Run(const EmbreeDevice& device, const MeshCase& mesh, const char* type, const std::vector<Ray>& rays,
         const std::vector<EmbreeRay>& embreeRays) {
    BVHManager<T> bvh(42, 5, 500);
    AddSphere(bvh, mesh.Slices, mesh.Stacks, mesh.Bumps);
    // Embree keeps the memory of released scenes; its first commit of a large scene,
    // which has to get fresh memory, takes about twice as long. The timed commit is a
    // second one, so that the reference is Embree at its best.
    if (mesh.ReportBuild) EmbreeScene(device.Get(), bvh).Commit();
    EmbreeScene reference(device.Get(), bvh);
    const double commitSeconds = reference.Commit();
    const double start = Cpu();
    bvh.Prepare();
    const double buildSeconds = Cpu() - start;
    if (mesh.ReportBuild)
        std::printf("BENCH rays build %s %s: %.3f s; reference embree commit %.3f s; ratio %.2f\n", mesh.Name, type,
                    buildSeconds, commitSeconds, buildSeconds / commitSeconds);
    std::fflush(stdout);

    std::vector<std::size_t> ours, theirs;
    for (int threads : {1, 2}) {
        const double ourRate = Trace(bvh, rays, threads, ours).first;
        const double theirRate = reference.Trace(embreeRays, threads, theirs);
        std::printf("BENCH rays %s %s %dt: %.0f rays/s; reference embree %.0f rays/s; ratio %.2f\n", mesh.Name, type,
                    threads, ourRate, theirRate, ourRate / theirRate);
        std::fflush(stdout);
    }
    CheckCounts(bvh, rays, ours, theirs, mesh, type);
    std::fflush(stdout);
}

} // namespace

int main() {
    try {
        // Every traversal stack is made at build time for the threads allowed then.
        omp_set_num_threads(std::max(2, omp_get_max_threads()));
        const EmbreeDevice device;
        const std::vector<Ray> rays = MakeRays(RayCount, 11);
        const std::vector<EmbreeRay> embreeRays = ToEmbree(rays);
        const MeshCase meshes[] = {{"sphere100k", 250, 201, 0, false}, {"bumpysphere2M", 1250, 801, 12, true}};
        for (const MeshCase& mesh : meshes) {
            Run<float>(device, mesh, "float", rays, embreeRays);
            Run<double>(device, mesh, "double", rays, embreeRays);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_rays: %s\n", e.what());
        return 1;
    }
    return 0;
}

// Thickness maps of a bumpy sphere from a point source, framed to fill most of the
// picture, drawn by the rasteriser beside one all-hits hierarchy ray per pixel; both
// maps must agree.

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "BenchGeometry.h"
#include "geometry/BVHManager.h"
#include "geometry/Rasterizer.h"
#include "geometry/SceneObjects.h"

using namespace geometry;
using namespace bench;

namespace {

class Body : public TTraceableObject {
public:
    std::unique_ptr<TBasicGeometricalObject> Clone() const override { return std::make_unique<Body>(*this); }
};

constexpr std::int64_t Side = 1024;

// Per pixel: the ray from the source to the pixel centre through the hierarchy,
// paired (and resolved) like the rasteriser's crossings.
std::vector<double> Reference(const BVHManager<float>& bvh, const std::vector<TTraceableObject*>& objects,
                              const TCoord<double>& source, const PixelGrid& grid, bool resolve) {
    std::vector<double> map(std::size_t(Side * Side), 0.0);
#pragma omp parallel
    {
        IntersectionList list;
        std::vector<Segment> segments, scratch;
#pragma omp for schedule(dynamic, 256)
        for (std::int64_t p = 0; p < Side * Side; ++p) {
            const TCoord<double> d = grid.PixelCentre(double(p % Side), double(p / Side)) - source;
            const double length = Norm(d);
            Ray ray;
            ray.Position = source;
            ray.Direction = TSphericalAngle(std::acos(d.z / length), std::atan2(d.y, d.x));
            list.Clear();
            bvh.Intersect(ray, list.GetHits());
            double sum = 0;
            if (!resolve) {
                for (const Hit& h : list.GetHits())
                    sum += h.Entering ? -std::min(h.Distance, length) : std::min(h.Distance, length);
            } else if (!list.GetHits().empty()) {
                try {
                    list.BuildSegments(objects, false);
                    segments = list.GetSegments();
                    IntersectionList::ResolveOverlaps(segments, scratch);
                    for (const Segment& s : segments)
                        sum += std::max(0.0, std::min(s.To, length) - s.From);
                } catch (const std::exception&) {
                    sum = NAN;
                }
            }
            map[std::size_t(p)] = sum;
        }
    }
    return map;
}

} // namespace

int main() {
    omp_set_num_threads(2);
    BVHManager<float> bvh(42, 5, 500);
    AddSphere(bvh, 1000, 500, 12);
    bvh.Prepare();
    const std::size_t facets = bvh.GetFacets().size();
    Body body;
    RasterObjects objects;
    objects.Objects = {&body};
    objects.Channels = {0};
    objects.ChannelCount = 1;
    const Rasterizer<float> rasterizer(bvh, objects);

    PixelGrid grid;
    grid.Columns = grid.Rows = Side;
    grid.ColumnStep = TCoord<double>(3.2 / Side, 0, 0);
    grid.RowStep = TCoord<double>(0, 3.2 / Side, 0);
    grid.Corner = TCoord<double>(-1.6, -1.6, -2);
    const TCoord<double> source(0.05, 0.03, 6);
    // The rasteriser keeps its working arrays from one source-detector pair to the
    // next; the first drawing pays for their fresh memory and is not timed.
    rasterizer.CastFrom(source, grid, false);

    for (bool resolve : {false, true})
        for (int threads : {1, 2}) {
            omp_set_num_threads(threads);
            double start = Now();
            const ThicknessMaps maps = rasterizer.CastFrom(source, grid, resolve);
            const double ours = double(Side * Side) / (Now() - start) / 1e6;
            start = Now();
            const std::vector<double> reference = Reference(bvh, objects.Objects, source, grid, resolve);
            const double theirs = double(Side * Side) / (Now() - start) / 1e6;
            std::size_t differ = 0, hit = 0;
            for (std::size_t p = 0; p < reference.size(); ++p) {
                if (maps.Maps[0][p] > 0)
                    ++hit;
                if (!(std::fabs(maps.Maps[0][p] - reference[p]) <= 1e-5))
                    ++differ;
            }
            std::printf("maps: %zu pixels of %zu crossed, %zu differ from the reference by more than 1e-5\n",
                        hit, reference.size(), differ);
            std::printf(
                "BENCH raycast sphere%zu CheckOverlap %s %dt: %.2f Mpixel/s; reference all-hits rays %.2f "
                "Mpixel/s; ratio %.2f\n",
                facets, resolve ? "on" : "off", threads, ours, theirs, ours / theirs);
        }
    return 0;
}

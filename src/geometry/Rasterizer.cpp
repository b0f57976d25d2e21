#include "geometry/Rasterizer.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "geometry/SceneObjects.h"

namespace geometry {

namespace {

constexpr std::int64_t TileSize = 32;
constexpr std::int64_t TilePixels = TileSize * TileSize;
constexpr std::int64_t Int32Max = std::numeric_limits<std::int32_t>::max();

// Inclusive pixel ranges of a facet's footprint; empty when C0 > C1.
struct Span {
    std::int32_t C0, C1, R0, R1;
    bool Empty() const { return C0 > C1 || R0 > R1; }
};
constexpr Span EmptySpan{1, 0, 1, 0};

// The per-vertex and per-facet arrays of one drawing, kept between calls: fresh
// memory of a million-facet scene costs more in page faults than the drawing.
template <typename Vertex> struct TileBuffers {
    std::vector<Vertex> Projected;
    std::vector<Span> Spans;
    std::vector<std::size_t> Counts, TileStart;
    std::vector<std::uint32_t> Entries;
};

// The ray of one pixel: edges are evaluated against D, which is computed once per
// pixel, so every facet sees the same bits.
struct PixelRay {
    TCoord<double> D;
    double Length = 0;
};

// A facet ready to test pixels: inside means Dot(Edge[i], D) > 0 for every edge, or
// 0 where the tie rule gives the pixel to this side.
struct FacetSetup {
    TCoord<double> Edge[3];
    bool TieInside[3] = {};
    TCoord<double> Normal;
    double W = 0;
    bool Entering = false;
};

// Edge normals are antisymmetric in floating point (a x b is exactly -(b x a)), so
// the two facets of a shared edge evaluate exactly opposite (or, on a silhouette,
// equal) edge functions. The tie rule is a fixed infinitesimal shift of the pixel
// centre along +column, then +row: consistent for all facets around an edge or vertex.
void OrientEdges(FacetSetup& f, double sign, const TCoord<double>& columnStep,
                 const TCoord<double>& rowStep) {
    for (int i = 0; i < 3; ++i) {
        f.Edge[i] = f.Edge[i] * sign;
        const double gc = Dot(f.Edge[i], columnStep);
        f.TieInside[i] = gc > 0 || (gc == 0 && Dot(f.Edge[i], rowStep) > 0);
    }
}

inline bool Covers(const FacetSetup& f, const TCoord<double>& d) {
    for (int i = 0; i < 3; ++i) {
        const double e = Dot(f.Edge[i], d);
        if (e < 0 || (e == 0 && !f.TieInside[i]))
            return false;
    }
    return true;
}

std::int32_t ClampIndex(double value, std::int64_t count) {
    if (!(value > 0))
        return 0;
    if (value >= double(count - 1))
        return std::int32_t(count - 1);
    return std::int32_t(value);
}

// Pixel centres within [umin, umax] x [vmin, vmax], widened by a little more than the
// rounding of the projection so that the exact edge tests decide.
Span SpanOf(double umin, double umax, double vmin, double vmax, std::int64_t columns, std::int64_t rows) {
    Span s = EmptySpan;
    auto margin = [](double x) { return 1e-6 + 1e-12 * std::fabs(x); };
    umin = std::ceil(umin - margin(umin));
    umax = std::floor(umax + margin(umax));
    vmin = std::ceil(vmin - margin(vmin));
    vmax = std::floor(vmax + margin(vmax));
    if (!(umin <= umax && vmin <= vmax) || umax < 0 || vmax < 0 || umin > double(columns - 1) ||
        vmin > double(rows - 1))
        return s;
    s.C0 = ClampIndex(umin, columns);
    s.C1 = ClampIndex(umax, columns);
    s.R0 = ClampIndex(vmin, rows);
    s.R1 = ClampIndex(vmax, rows);
    return s;
}

// Central projection from a point source onto a pixel grid.
class PointView {
public:
    // Where a vertex lands on the grid (U, V in pixel coordinates, integers at pixel
    // centres) when it lies in front of the source (K > 0), on the rays towards the grid.
    struct Vertex {
        double U, V, K;
    };

    PointView(const TCoord<double>& source, const PixelGrid& grid)
        : Source(source), ColumnStep(grid.ColumnStep), RowStep(grid.RowStep), Columns(grid.Columns),
          Rows(grid.Rows) {
        Base = grid.PixelCentre(0, 0) - source;
        const TCoord<double> normal = Cross(ColumnStep, RowStep);
        const double height = Dot(normal, Base);
        if (!(Norm(normal) > 0))
            throw std::runtime_error("Degenerate pixel grid");
        if (height == 0)
            throw std::runtime_error("The source lies in the plane of the pixel grid");
        // The dual basis turns a point of the plane into column and row coordinates.
        const TCoord<double> cu = Cross(RowStep, normal);
        const TCoord<double> rv = Cross(normal, ColumnStep);
        ColumnDual = cu * (1 / Dot(cu, ColumnStep));
        RowDual = rv * (1 / Dot(rv, RowStep));
        Normal = normal * (1 / height);
    }

    template <typename T> Vertex Project(const TCoord<T>& v) const {
        Vertex g{0, 0, 0};
        const TCoord<double> p = ToDouble(v) - Source;
        g.K = Dot(Normal, p);
        if (g.K > 0) {
            const TCoord<double> y = p * (1 / g.K) - Base;
            g.U = Dot(y, ColumnDual);
            g.V = Dot(y, RowDual);
        }
        return g;
    }

    // Only the part of the facet in front of the source is projected: where an edge
    // leaves the front half-space its projection runs off to infinity along the
    // edge's direction from the source there.
    template <typename T> Span Footprint(const TCoord<T>* corners, const Vertex* v[3]) const {
        double umin = HUGE_VAL, umax = -HUGE_VAL, vmin = HUGE_VAL, vmax = -HUGE_VAL;
        bool any = false;
        for (int i = 0; i < 3; ++i) {
            const Vertex& a = *v[i];
            const Vertex& b = *v[(i + 1) % 3];
            if (a.K > 0) {
                any = true;
                umin = std::min(umin, a.U), umax = std::max(umax, a.U);
                vmin = std::min(vmin, a.V), vmax = std::max(vmax, a.V);
            }
            if ((a.K > 0) != (b.K > 0)) {
                const TCoord<double> pa = ToDouble(corners[i]) - Source;
                const TCoord<double> pb = ToDouble(corners[(i + 1) % 3]) - Source;
                const TCoord<double> q = pa + (pb - pa) * (a.K / (a.K - b.K));
                const double du = Dot(q, ColumnDual), dv = Dot(q, RowDual);
                if (du > 0)
                    umax = HUGE_VAL;
                if (du < 0)
                    umin = -HUGE_VAL;
                if (dv > 0)
                    vmax = HUGE_VAL;
                if (dv < 0)
                    vmin = -HUGE_VAL;
            }
        }
        return any ? SpanOf(umin, umax, vmin, vmax, Columns, Rows) : EmptySpan;
    }

    PixelRay Ray(std::int64_t column, std::int64_t row) const {
        PixelRay r;
        r.D = Base + RowStep * double(row) + ColumnStep * double(column);
        r.Length = Norm(r.D);
        return r;
    }

    // Edge i runs from vertex i to i + 1; the side of the source decides the sign, so
    // a reversed grid frame needs no special case.
    template <typename T> bool Setup(const TCoord<T>* corners, const Vertex* [3], FacetSetup& f) const {
        const TCoord<double> a = ToDouble(corners[0]);
        const TCoord<double> p[3] = {a - Source, ToDouble(corners[1]) - Source,
                                     ToDouble(corners[2]) - Source};
        for (int i = 0; i < 3; ++i)
            f.Edge[i] = Cross(p[i], p[(i + 1) % 3]);
        f.Normal = Cross(ToDouble(corners[1]) - a, ToDouble(corners[2]) - a);
        f.W = Dot(f.Normal, p[0]);
        if (!(f.W != 0))
            return false;
        f.Entering = f.W < 0;
        OrientEdges(f, f.W > 0 ? 1.0 : -1.0, ColumnStep, RowStep);
        return true;
    }

    // Distance from the source to the facet's plane along the pixel's ray.
    static double Distance(const FacetSetup& f, const PixelRay& r) {
        return f.W / Dot(f.Normal, r.D) * r.Length;
    }

private:
    TCoord<double> Source, ColumnStep, RowStep, Base, ColumnDual, RowDual, Normal;
    std::int64_t Columns, Rows;
};

// Lines along +z through (c + 1/2, r + 1/2) after a transform into grid space.
class ColumnView {
public:
    struct Vertex {
        TCoord<double> P;
        double U, V;
    };

    ColumnView(std::function<TCoord<double>(const TCoord<double>&)> toGrid, std::int64_t columns,
               std::int64_t rows)
        : ToGrid(std::move(toGrid)), Columns(columns), Rows(rows) {}

    template <typename T> Vertex Project(const TCoord<T>& v) const {
        Vertex g;
        g.P = ToGrid(ToDouble(v));
        g.U = g.P.x - 0.5;
        g.V = g.P.y - 0.5;
        return g;
    }

    template <typename T> Span Footprint(const TCoord<T>*, const Vertex* v[3]) const {
        return SpanOf(std::min({v[0]->U, v[1]->U, v[2]->U}), std::max({v[0]->U, v[1]->U, v[2]->U}),
                      std::min({v[0]->V, v[1]->V, v[2]->V}), std::max({v[0]->V, v[1]->V, v[2]->V}), Columns,
                      Rows);
    }

    static PixelRay Ray(std::int64_t column, std::int64_t row) {
        PixelRay r;
        r.D = TCoord<double>(double(column) + 0.5, double(row) + 0.5, 1);
        r.Length = HUGE_VAL;
        return r;
    }

    // The edge function of (a, b) at (x, y) is the 2D cross product of a - (x, y) and
    // b - (x, y), written as a dot product with (x, y, 1).
    template <typename T> bool Setup(const TCoord<T>*, const Vertex* v[3], FacetSetup& f) const {
        for (int i = 0; i < 3; ++i) {
            const TCoord<double>& a = v[i]->P;
            const TCoord<double>& b = v[(i + 1) % 3]->P;
            f.Edge[i] = TCoord<double>(a.y - b.y, b.x - a.x, a.x * b.y - a.y * b.x);
        }
        f.Normal = Cross(v[1]->P - v[0]->P, v[2]->P - v[0]->P);
        if (!(f.Normal.z != 0))
            return false;
        f.W = Dot(f.Normal, v[0]->P);
        f.Entering = f.Normal.z < 0;
        OrientEdges(f, f.Normal.z > 0 ? 1.0 : -1.0, TCoord<double>(1, 0, 0), TCoord<double>(0, 1, 0));
        return true;
    }

    // The z of the facet's plane on the pixel's line.
    static double Distance(const FacetSetup& f, const PixelRay& r) {
        return (f.W - f.Normal.x * r.D.x - f.Normal.y * r.D.y) / f.Normal.z;
    }

private:
    std::function<TCoord<double>(const TCoord<double>&)> ToGrid;
    std::int64_t Columns, Rows;
};

void CheckPixelCount(std::int64_t columns, std::int64_t rows) {
    if (columns < 0 || rows < 0 || columns > Int32Max || rows > Int32Max || columns * rows > Int32Max)
        throw std::runtime_error("Too many pixels");
}

struct Tile {
    std::int64_t C0 = 0, R0 = 0, Width = 0, Height = 0;
};

// Bins the facets' footprints into screen tiles, in facet order within each tile
// whatever the thread count, then draws the tiles on all threads. Work is copied per
// thread and receives Begin(tile), Add(tile, local pixel, ray, t, object, entering)
// and End(tile). The first error in tile order is rethrown.
template <typename T, typename View, typename Work>
void DrawTiles(const FacetManager<T>& store, const std::vector<std::int32_t>& channels, const View& view,
               std::int64_t columns, std::int64_t rows, const Work& prototype,
               TileBuffers<typename View::Vertex>& buffers) {
    const std::vector<TCoord<T>>& vertices = store.GetVertices();
    const std::vector<Facet>& facets = store.GetFacets();
    if (std::int64_t(vertices.size()) > Int32Max)
        throw std::runtime_error("Too many vertices");
    CheckPixelCount(columns, rows);
    if (std::int64_t(facets.size()) > Int32Max)
        throw std::runtime_error("Too many facets!");
    const std::int64_t nv = std::int64_t(vertices.size()), nf = std::int64_t(facets.size());
    const std::int64_t tilesX = (columns + TileSize - 1) / TileSize,
                       tilesY = (rows + TileSize - 1) / TileSize;
    const std::int64_t tiles = tilesX * tilesY;
    if (tiles == 0)
        return;

    using Vertex = typename View::Vertex;
    buffers.Projected.resize(std::size_t(nv));
    buffers.Spans.resize(std::size_t(nf));
    buffers.TileStart.resize(std::size_t(tiles + 1));
    Vertex* const projected = buffers.Projected.data();
    Span* const spans = buffers.Spans.data();
    std::vector<std::size_t>& counts = buffers.Counts;
    std::vector<std::size_t>& tileStart = buffers.TileStart;
    std::vector<std::uint32_t>& entries = buffers.Entries;
    std::int64_t failedTile = tiles;
    std::string failure;

#pragma omp parallel
    {
#pragma omp for schedule(dynamic, 4096)
        for (std::int64_t i = 0; i < nv; ++i)
            projected[std::size_t(i)] = view.Project(vertices[std::size_t(i)]);

        // Contiguous facet ranges per thread keep the tile lists in facet order.
        const std::int64_t threads = omp_get_num_threads(), thread = omp_get_thread_num();
        const std::int64_t first = nf * thread / threads, last = nf * (thread + 1) / threads;
#pragma omp single
        counts.assign(std::size_t(tiles * threads), 0);
        std::size_t* count = counts.data() + thread * tiles;
        for (std::int64_t i = first; i < last; ++i) {
            const Facet& f = facets[std::size_t(i)];
            Span& s = spans[std::size_t(i)];
            s = EmptySpan;
            if (f.ObjectID >= channels.size() || channels[f.ObjectID] < 0)
                continue;
            const Vertex* v[3] = {&projected[f.V0], &projected[f.V1], &projected[f.V2]};
            const TCoord<T> corners[3] = {vertices[f.V0], vertices[f.V1], vertices[f.V2]};
            s = view.Footprint(corners, v);
            if (s.Empty())
                continue;
            for (std::int64_t ty = s.R0 / TileSize; ty <= s.R1 / TileSize; ++ty)
                for (std::int64_t tx = s.C0 / TileSize; tx <= s.C1 / TileSize; ++tx)
                    ++count[ty * tilesX + tx];
        }
#pragma omp barrier
#pragma omp single
        {
            std::size_t total = 0;
            for (std::int64_t t = 0; t < tiles; ++t) {
                tileStart[std::size_t(t)] = total;
                for (std::int64_t k = 0; k < threads; ++k) {
                    const std::size_t n = counts[std::size_t(k * tiles + t)];
                    counts[std::size_t(k * tiles + t)] = total;
                    total += n;
                }
            }
            tileStart[std::size_t(tiles)] = total;
            try {
                entries.resize(total);
            } catch (const std::bad_alloc&) {
                failure = "Not enough memory to bin " + std::to_string(total) + " facet footprints";
                failedTile = -1;
            }
        }
        for (std::int64_t i = first; i < last && failedTile >= 0; ++i) {
            const Span& s = spans[std::size_t(i)];
            if (s.Empty())
                continue;
            for (std::int64_t ty = s.R0 / TileSize; ty <= s.R1 / TileSize; ++ty)
                for (std::int64_t tx = s.C0 / TileSize; tx <= s.C1 / TileSize; ++tx)
                    entries[count[ty * tilesX + tx]++] = std::uint32_t(i);
        }
#pragma omp barrier

        Work work(prototype);
        std::vector<PixelRay> rays(static_cast<std::size_t>(TilePixels));
#pragma omp for schedule(dynamic, 1)
        for (std::int64_t t = 0; t < tiles; ++t) {
            std::int64_t skip;
#pragma omp atomic read
            skip = failedTile;
            if (t > skip)
                continue;
            Tile tile;
            tile.C0 = (t % tilesX) * TileSize;
            tile.R0 = (t / tilesX) * TileSize;
            tile.Width = std::min(TileSize, columns - tile.C0);
            tile.Height = std::min(TileSize, rows - tile.R0);
            try {
                // A tile without facets meets nothing; its rays are not needed.
                if (tileStart[std::size_t(t)] < tileStart[std::size_t(t + 1)])
                    for (std::int64_t r = 0; r < tile.Height; ++r)
                        for (std::int64_t c = 0; c < tile.Width; ++c)
                            rays[std::size_t(r * TileSize + c)] = view.Ray(tile.C0 + c, tile.R0 + r);
                work.Begin(tile);
                for (std::size_t e = tileStart[std::size_t(t)]; e < tileStart[std::size_t(t + 1)]; ++e) {
                    const Facet& f = facets[entries[e]];
                    const Vertex* v[3] = {&projected[f.V0], &projected[f.V1], &projected[f.V2]};
                    const TCoord<T> corners[3] = {vertices[f.V0], vertices[f.V1], vertices[f.V2]};
                    FacetSetup setup;
                    if (!view.Setup(corners, v, setup))
                        continue;
                    const Span& s = spans[entries[e]];
                    const std::int64_t c0 = std::max<std::int64_t>(s.C0, tile.C0) - tile.C0;
                    const std::int64_t c1 = std::min<std::int64_t>(s.C1, tile.C0 + tile.Width - 1) - tile.C0;
                    const std::int64_t r0 = std::max<std::int64_t>(s.R0, tile.R0) - tile.R0;
                    const std::int64_t r1 = std::min<std::int64_t>(s.R1, tile.R0 + tile.Height - 1) - tile.R0;
                    for (std::int64_t r = r0; r <= r1; ++r)
                        for (std::int64_t c = c0; c <= c1; ++c) {
                            const std::int64_t p = r * TileSize + c;
                            const PixelRay& ray = rays[std::size_t(p)];
                            if (!Covers(setup, ray.D))
                                continue;
                            work.Add(tile, p, ray, View::Distance(setup, ray), f.ObjectID, setup.Entering);
                        }
                }
                work.End(tile, rays);
            } catch (const std::exception& error) {
#pragma omp critical(RasterizerFailure)
                if (t < failedTile) {
                    failure = error.what();
#pragma omp atomic write
                    failedTile = t;
                }
            }
        }
    }
    if (failedTile < tiles)
        throw std::runtime_error(failure);
}

// Path lengths as the sum over exits of min(t, d) minus the sum over entries.
class SumWork {
public:
    SumWork(std::vector<std::vector<double>>& maps, const std::vector<std::int32_t>& channels,
            std::int64_t columns)
        : Maps(maps), Channels(channels), Columns(columns) {}
    void Begin(const Tile&) {}
    void Add(const Tile& tile, std::int64_t p, const PixelRay& ray, double t, std::uint32_t id,
             bool entering) {
        const double length = std::min(t, ray.Length);
        double& pixel = Maps[std::size_t(Channels[id])]
                            [std::size_t((tile.R0 + p / TileSize) * Columns + tile.C0 + p % TileSize)];
        pixel += entering ? -length : length;
    }
    void End(const Tile&, const std::vector<PixelRay>&) {}

private:
    std::vector<std::vector<double>>& Maps;
    const std::vector<std::int32_t>& Channels;
    std::int64_t Columns;
};

// Collects each pixel's crossings in facet order and pairs them per object into
// segments, then lets Finish turn the pixel's segments into results.
class PairingWork {
public:
    explicit PairingWork(const std::vector<TTraceableObject*>& objects) : Objects(objects) {}
    virtual ~PairingWork() = default;

    void Begin(const Tile&) { Crossings.clear(); }
    void Add(const Tile&, std::int64_t p, const PixelRay&, double t, std::uint32_t id, bool entering) {
        Crossings.push_back(Crossing{std::uint32_t(p), Hit{t, id, entering}});
    }
    void End(const Tile& tile, const std::vector<PixelRay>& rays) {
        // A stable counting sort by pixel keeps the facet order within each pixel.
        Starts.assign(std::size_t(TilePixels + 1), 0);
        for (const Crossing& c : Crossings)
            ++Starts[c.Pixel + 1];
        for (std::size_t p = 0; p < std::size_t(TilePixels); ++p)
            Starts[p + 1] += Starts[p];
        Sorted.resize(Crossings.size());
        Fill.assign(Starts.begin(), Starts.end() - 1);
        for (const Crossing& c : Crossings)
            Sorted[Fill[c.Pixel]++] = c.H;
        for (std::int64_t r = 0; r < tile.Height; ++r)
            for (std::int64_t c = 0; c < tile.Width; ++c) {
                const std::size_t p = std::size_t(r * TileSize + c);
                std::vector<Hit>& hits = List.GetHits();
                hits.assign(Sorted.begin() + Starts[p], Sorted.begin() + Starts[p + 1]);
                Segments.clear();
                Pair(tile.C0 + c, tile.R0 + r);
                Finish(tile.C0 + c, tile.R0 + r, rays[p]);
            }
    }

protected:
    // Pairs List's hits into Segments (sorted by From); an open object raises.
    virtual void Pair(std::int64_t column, std::int64_t row) {
        try {
            if (!List.GetHits().empty() && List.BuildSegments(Objects, false))
                Segments = List.GetSegments();
        } catch (const HitPairingError& error) {
            throw std::runtime_error("Not a closed surface at (" + std::to_string(column) + ", " +
                                     std::to_string(row) + ") for object ID " +
                                     std::to_string(error.ObjectID));
        }
    }
    virtual void Finish(std::int64_t column, std::int64_t row, const PixelRay& ray) = 0;

    struct Crossing {
        std::uint32_t Pixel;
        Hit H;
    };

    const std::vector<TTraceableObject*>& Objects;
    IntersectionList List;
    std::vector<Segment> Segments, Scratch;
    std::vector<Crossing> Crossings;
    std::vector<Hit> Sorted;
    std::vector<std::uint32_t> Starts, Fill;
};

// Overlaps resolved by priority, segments clipped to [0, d].
class ResolvedWork : public PairingWork {
public:
    ResolvedWork(const std::vector<TTraceableObject*>& objects, std::vector<std::vector<double>>& maps,
                 const std::vector<std::int32_t>& channels, std::int64_t columns, bool& ambiguous)
        : PairingWork(objects), Maps(maps), Channels(channels), Columns(columns), Ambiguous(ambiguous) {}

protected:
    void Finish(std::int64_t column, std::int64_t row, const PixelRay& ray) override {
        if (Segments.empty())
            return;
        if (IntersectionList::ResolveOverlaps(Segments, Scratch)) {
#pragma omp atomic write
            Ambiguous = true;
        }
        for (const Segment& s : Segments) {
            const double length = std::min(s.To, ray.Length) - std::max(s.From, 0.0);
            if (length > 0)
                Maps[std::size_t(Channels[s.Object->ObjectID])][std::size_t(row * Columns + column)] +=
                    length;
        }
    }

private:
    std::vector<std::vector<double>>& Maps;
    const std::vector<std::int32_t>& Channels;
    std::int64_t Columns;
    bool& Ambiguous;
};

// Every column's resolved segments go to the visitor; an open object is reported and
// left out of that column.
class ColumnWork : public PairingWork {
public:
    ColumnWork(const std::vector<TTraceableObject*>& objects, const ColumnVisitor& visit,
               const OpenColumnVisitor& open)
        : PairingWork(objects), Visit(visit), Open(open) {}

protected:
    void Pair(std::int64_t column, std::int64_t row) override {
        std::vector<Hit>& hits = List.GetHits();
        // Along a whole line every entry needs its exit (a ray that starts inside an
        // object does not occur here).
        std::sort(hits.begin(), hits.end(),
                  [](const Hit& a, const Hit& b) { return a.ObjectID < b.ObjectID; });
        for (std::size_t first = 0; first < hits.size();) {
            std::size_t last = first;
            int balance = 0;
            for (; last < hits.size() && hits[last].ObjectID == hits[first].ObjectID; ++last)
                balance += hits[last].Entering ? 1 : -1;
            if (balance == 0) {
                first = last;
                continue;
            }
            Open(column, row, hits[first].ObjectID);
            hits.erase(hits.begin() + std::ptrdiff_t(first), hits.begin() + std::ptrdiff_t(last));
        }
        for (;;) {
            try {
                if (!hits.empty() && List.BuildSegments(Objects, false))
                    Segments = List.GetSegments();
                return;
            } catch (const HitPairingError& error) {
                Open(column, row, error.ObjectID);
                hits.erase(std::remove_if(hits.begin(), hits.end(),
                                          [&](const Hit& h) { return h.ObjectID == error.ObjectID; }),
                           hits.end());
            }
        }
    }
    void Finish(std::int64_t column, std::int64_t row, const PixelRay&) override {
        IntersectionList::ResolveOverlaps(Segments, Scratch);
        Visit(column, row, Segments);
    }

private:
    const ColumnVisitor& Visit;
    const OpenColumnVisitor& Open;
};

} // namespace

template <typename T> struct Rasterizer<T>::Buffers {
    TileBuffers<PointView::Vertex> Point;
    TileBuffers<ColumnView::Vertex> Column;
};

template <typename T>
Rasterizer<T>::Rasterizer(const FacetManager<T>& store, RasterObjects objects)
    : Store(store), Objects(std::move(objects)), Scratch(std::make_unique<Buffers>()) {
    for (std::int32_t c : Objects.Channels)
        if (c >= std::int32_t(Objects.ChannelCount))
            throw std::runtime_error("Rasterizer: channel out of range");
}

template <typename T> Rasterizer<T>::~Rasterizer() = default;

template <typename T>
ThicknessMaps Rasterizer<T>::CastFrom(const TCoord<double>& source, const PixelGrid& grid,
                                      bool resolveOverlaps) const {
    const PointView view(source, grid);
    ThicknessMaps result;
    CheckPixelCount(grid.Columns, grid.Rows);
    const std::size_t pixels = std::size_t(grid.Columns * grid.Rows);
    // Maps of channels that no object draws into stay empty.
    result.Maps.resize(Objects.ChannelCount);
    for (std::int32_t channel : Objects.Channels)
        if (channel >= 0)
            result.Maps[std::size_t(channel)].resize(pixels, 0.0);
    if (resolveOverlaps) {
        if (Objects.Objects.size() < Objects.Channels.size())
            throw std::runtime_error("Rasterizer: overlaps need every object");
        const ResolvedWork work(Objects.Objects, result.Maps, Objects.Channels, grid.Columns,
                                result.Ambiguous);
        DrawTiles(Store, Objects.Channels, view, grid.Columns, grid.Rows, work, Scratch->Point);
    } else {
        const SumWork work(result.Maps, Objects.Channels, grid.Columns);
        DrawTiles(Store, Objects.Channels, view, grid.Columns, grid.Rows, work, Scratch->Point);
    }
    return result;
}

template <typename T>
void Rasterizer<T>::CastColumns(const std::function<TCoord<double>(const TCoord<double>&)>& toGrid,
                                std::int64_t columns, std::int64_t rows, const ColumnVisitor& visit,
                                const OpenColumnVisitor& open) const {
    if (Objects.Objects.size() < Objects.Channels.size())
        throw std::runtime_error("Rasterizer: overlaps need every object");
    const ColumnView view(toGrid, columns, rows);
    const ColumnWork work(Objects.Objects, visit, open);
    DrawTiles(Store, Objects.Channels, view, columns, rows, work, Scratch->Column);
}

template class Rasterizer<float>;
template class Rasterizer<double>;

} // namespace geometry

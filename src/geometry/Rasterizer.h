#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "geometry/FacetManager.h"
#include "geometry/IntersectionList.h"

class TTraceableObject;

namespace geometry {

// A plane grid of pixels: pixel (column c, row r) has its centre at
// Corner + (c + 1/2) * ColumnStep + (r + 1/2) * RowStep. A plane detector with corners
// A, B, C gives Corner = A, ColumnStep = (B - A) / columns, RowStep = (C - A) / rows.
struct PixelGrid {
    TCoord<double> Corner;
    TCoord<double> ColumnStep;
    TCoord<double> RowStep;
    std::int64_t Columns = 0;
    std::int64_t Rows = 0;

    TCoord<double> PixelCentre(double column, double row) const {
        return Corner + ColumnStep * (column + 0.5) + RowStep * (row + 0.5);
    }
};

// What the rasteriser draws: per ObjectID the map its path lengths go to (-1 leaves
// the object out), and the objects themselves, indexed by ObjectID, whose priorities
// decide overlaps (needed only when overlaps are resolved).
struct RasterObjects {
    std::vector<std::int32_t> Channels;
    std::vector<TTraceableObject*> Objects;
    std::size_t ChannelCount = 0;
};

struct ThicknessMaps {
    // Per channel Rows x Columns path lengths, row by row; empty for a channel that
    // no object draws into.
    std::vector<std::vector<double>> Maps;
    // Objects of equal priority overlapped somewhere (resolved: the nearer one won).
    bool Ambiguous = false;
};

// Called per column (x, y) with the column's resolved segments, distances being z.
using ColumnVisitor =
    std::function<void(std::int64_t column, std::int64_t row, const std::vector<Segment>& segments)>;
// Called per column whose crossings of an object do not pair up; that object is
// left out of the column's segments.
using OpenColumnVisitor = std::function<void(std::int64_t column, std::int64_t row, std::uint32_t objectID)>;

// Projects facets onto pixel grids and computes, per pixel, the ray's path inside
// every object from the exact crossings of the ray with each facet's plane.
// Coverage is watertight: the two facets of a shared edge evaluate its edge function
// from the same two vertices, exactly negated, and one tie rule decides centres on an
// edge or vertex, so such a centre belongs to exactly one facet on each side of a
// closed surface and crossings always pair. Work is split into screen tiles,
// each tile drawing its facets in facet order, so the maps do not depend on the
// number of threads.
template <typename T> class Rasterizer {
public:
    Rasterizer(const FacetManager<T>& store, RasterObjects objects);
    ~Rasterizer();

    // Rays from source through every pixel centre of grid; only the stretch from the
    // source to the pixel centre counts. Without resolveOverlaps a pixel's length of a
    // channel is the sum of min(t, d) over exits minus the sum over entries (d the
    // pixel's distance), so overlapping objects both count. With it, crossings are
    // paired per object, overlaps resolved by priority and the segments clipped to
    // [0, d]; an open surface raises "Not a closed surface at (column, row) for
    // object ID n".
    ThicknessMaps CastFrom(const TCoord<double>& source, const PixelGrid& grid, bool resolveOverlaps) const;

    // Lines along +z through (c + 1/2, r + 1/2) for c < columns, r < rows, in the
    // store's own coordinates after `toGrid` (applied to every vertex); crossings are
    // paired over the whole line and overlaps resolved by priority. Visits every
    // column, also those that meet nothing.
    void CastColumns(const std::function<TCoord<double>(const TCoord<double>&)>& toGrid, std::int64_t columns,
                     std::int64_t rows, const ColumnVisitor& visit, const OpenColumnVisitor& open) const;

private:
    struct Buffers;

    const FacetManager<T>& Store;
    RasterObjects Objects;
    // Working arrays kept from call to call, so one rasteriser serves one caller at a time.
    std::unique_ptr<Buffers> Scratch;
};

extern template class Rasterizer<float>;
extern template class Rasterizer<double>;

} // namespace geometry

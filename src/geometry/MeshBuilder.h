#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "geometry/AffineTransform.h"
#include "geometry/FacetManager.h"

namespace geometry {

// Where a mesh reader puts what it reads: places every vertex by the accumulated
// transform, tags every facet with the part's object and applies the orientation.
template <typename T>
class MeshBuilder {
public:
    MeshBuilder(FacetManager<T>& store, const TAffineTransform& transform, std::uint32_t objectID, bool invert)
        : Store(store), Transform(transform), ObjectID(objectID),
          // A mirroring placement turns the surface inside out; undo that so facets keep facing outward.
          Invert(invert != (transform.Determinant() < 0)) {}

    GeometryIndex AddVertex(double x, double y, double z) {
        const TCoord<double> p = Transform.Apply(TCoord<double>(x, y, z));
        return Store.AddVertex(TCoord<T>(p));
    }
    // Vertex already placed (analytic primitives compute world coordinates themselves).
    GeometryIndex AddPlacedVertex(const TCoord<double>& p) { return Store.AddVertex(TCoord<T>(p)); }

    void AddTriangle(GeometryIndex a, GeometryIndex b, GeometryIndex c) {
        if (Invert) Store.AddFacet(ObjectID, a, c, b);
        else Store.AddFacet(ObjectID, a, b, c);
    }
    // A polygon as a fan of triangles around its first corner.
    void AddFan(const GeometryIndex* corners, std::size_t n) {
        for (std::size_t k = 1; k + 1 < n; ++k) AddTriangle(corners[0], corners[k], corners[k + 1]);
    }

    // Counts from file headers are honoured only up to a limit, so that a corrupt count
    // cannot demand memory the file does not back; beyond it the arrays simply grow.
    static std::size_t CappedReservation(std::uint64_t n) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(n, std::uint64_t(1) << 20));
    }
    void Reserve(std::uint64_t vertices, std::uint64_t facets) {
        Store.ReserveVertices(CappedReservation(vertices));
        Store.ReserveFacets(CappedReservation(facets));
    }

    FacetManager<T>& GetStore() { return Store; }
    const TAffineTransform& GetTransform() const { return Transform; }
    std::uint32_t GetObjectID() const { return ObjectID; }
    bool IsInverted() const { return Invert; }

private:
    FacetManager<T>& Store;
    TAffineTransform Transform;
    std::uint32_t ObjectID;
    bool Invert;
};

} // namespace geometry

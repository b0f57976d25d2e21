#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "geometry/IntersectionManager.h"
#include "geometry/Messages.h"
#include "geometry/RayTriangle.h"

namespace geometry {

// Every triangle of the scene with the object it belongs to. Vertices merge only when
// bit-identical in value; the brute-force queries here are replaced by tree walks in
// the hierarchy that derives from this class.
template <typename T>
class FacetManager : public IntersectionManager {
public:
    using Coord = TCoord<T>;

    explicit FacetManager(MessageSink messages = DefaultMessageSink());

    std::shared_ptr<IntersectionManager> ExtractNear(const TCoord<double>& point, double radius) const override;
    void Prepare() override;
    bool IsEmpty() const override { return Facets.empty(); }
    void Intersect(const Ray& ray, std::vector<Hit>& hits, double reach = 0) const override;
    bool IsNear(const TCoord<double>& point, double radius) const override;
    void PrintMemoryUsage(std::ostream& os) const override;
    // Copies every facet within radius of point into target, merging vertices there.
    virtual void CollectNear(FacetManager<T>& target, const TCoord<double>& point, double radius) const;
    virtual void Clear();

    GeometryIndex AddVertex(const Coord& coord);
    // Drops a facet with repeated indices (with a message) instead of failing.
    void AddFacet(std::uint32_t objectID, GeometryIndex a, GeometryIndex b, GeometryIndex c);
    // Returns the new facet count.
    std::size_t AddFacet(const Facet& facet);
    // Also sizes the vertex index, so that loading n vertices does not rehash.
    void ReserveVertices(std::size_t n);
    void ReserveFacets(std::size_t n) { Facets.reserve(Facets.size() + n); }

    std::vector<Facet> GetObjectFacets(std::uint32_t objectID) const;
    TBoundingBox<T> GetObjectBounds(std::uint32_t objectID) const;
    TBoundingBox<T> GetFacetBounds(const Facet& facet) const;
    bool FacetNear(const Facet& facet, const TCoord<double>& point, double radius2) const {
        return geometry::FacetNear(Vertices.data(), facet, point, radius2);
    }
    // Keeps only vertices used by facets, numbered in order of first use.
    void Compact();

    const std::vector<Coord>& GetVertices() const { return Vertices; }
    const std::vector<Facet>& GetFacets() const { return Facets; }
    const MessageSink& GetMessageSink() const { return Messages; }
    void SetMessageSink(MessageSink messages) { Messages = std::move(messages); }

protected:
    void DropVertexIndex();

    std::vector<Coord> Vertices;
    std::vector<Facet> Facets;
    MessageSink Messages;

private:
    static constexpr GeometryIndex EmptySlot = 0xFFFFFFFFu;
    // The cache has an eighth of the table's slots, at most 2^13.
    static constexpr unsigned MaxRecentBits = 13;
    struct RecentEntry {
        std::uint64_t Spread;
        GeometryIndex Index;
    };

    static std::uint64_t SpreadHash(const Coord& coord);
    std::size_t SlotOf(const Coord& coord, std::uint64_t spread) const;
    void RebuildVertexIndex(std::size_t slotCount);
    // Makes room for vertexCount vertices at a load of at most one half.
    void ReserveVertexIndex(std::size_t vertexCount);

    // Open-addressing table of vertex indices keyed by the vertex coordinates, and a
    // small direct-mapped cache of the latest lookups in front of it.
    std::vector<GeometryIndex> Slots;
    std::vector<RecentEntry> Recent;
    std::size_t IndexedCount = 0;
    unsigned SlotShift = 64;
    unsigned RecentShift = 64;
};

// Hash of the raw bytes of a coordinate, folded as h = h*31 + b over signed bytes;
// negative zero is hashed as positive zero so that equal keys hash equally.
template <typename T>
std::uint64_t HashCoord(const TCoord<T>& coord);

extern template class FacetManager<float>;
extern template class FacetManager<double>;

} // namespace geometry

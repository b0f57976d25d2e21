#include "geometry/FacetManager.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "datafiles/Formatting.h"

namespace geometry {

template <typename T>
std::uint64_t HashCoord(const TCoord<T>& coord) {
    // Negative zero equals zero, so it must hash like it.
    const T key[3] = {coord.x + T(0), coord.y + T(0), coord.z + T(0)};
    unsigned char bytes[sizeof(key)];
    std::memcpy(bytes, key, sizeof(key));
    std::uint64_t h = 0;
    for (unsigned char b : bytes)
        h = h * 31 + static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<signed char>(b)));
    return h;
}

template <typename T>
FacetManager<T>::FacetManager(MessageSink messages) : Messages(std::move(messages)) {}

template <typename T>
std::uint64_t FacetManager<T>::SpreadHash(const Coord& coord) {
    // The fold keeps most of its variation in the low bits; the multiplication carries it
    // into the high bits, which pick the slots.
    return HashCoord(coord) * 0x9E3779B97F4A7C15ull;
}

template <typename T>
std::size_t FacetManager<T>::SlotOf(const Coord& coord, std::uint64_t spread) const {
    const std::size_t mask = Slots.size() - 1;
    std::size_t slot = static_cast<std::size_t>(spread >> SlotShift);
    while (Slots[slot] != EmptySlot && !(Vertices[Slots[slot]] == coord)) slot = (slot + 1) & mask;
    return slot;
}

template <typename T>
void FacetManager<T>::RebuildVertexIndex(std::size_t slotCount) {
    Slots.assign(slotCount, EmptySlot);
    SlotShift = 64;
    for (std::size_t n = slotCount; n > 1; n /= 2) --SlotShift;
    RecentShift = std::max(SlotShift + 3, 64 - MaxRecentBits);
    Recent.assign(std::size_t(1) << (64 - RecentShift), RecentEntry{0, EmptySlot});
    IndexedCount = 0;
    for (std::size_t i = 0; i < Vertices.size(); ++i) {
        const std::size_t slot = SlotOf(Vertices[i], SpreadHash(Vertices[i]));
        if (Slots[slot] == EmptySlot) {
            Slots[slot] = static_cast<GeometryIndex>(i);
            ++IndexedCount;
        }
    }
}

template <typename T>
void FacetManager<T>::ReserveVertexIndex(std::size_t vertexCount) {
    std::size_t slotCount = 1024;
    while (slotCount < 2 * vertexCount + 2) slotCount *= 2;
    if (slotCount > Slots.size()) RebuildVertexIndex(slotCount);
}

template <typename T>
void FacetManager<T>::ReserveVertices(std::size_t n) {
    Vertices.reserve(Vertices.size() + n);
    ReserveVertexIndex(Vertices.size() + n);
}

template <typename T>
GeometryIndex FacetManager<T>::AddVertex(const Coord& coord) {
    const std::uint64_t spread = SpreadHash(coord);
    // Meshes list a vertex again soon after its first use, so most repeats are found
    // among the recently seen vertices without touching the large table.
    RecentEntry* recent = nullptr;
    if (!Recent.empty()) {
        recent = &Recent[spread >> RecentShift];
        if (recent->Index != EmptySlot && recent->Spread == spread && Vertices[recent->Index] == coord)
            return recent->Index;
    }
    if (Slots.empty() || 2 * (IndexedCount + 1) > Slots.size()) {
        ReserveVertexIndex(2 * (Vertices.size() + 1));
        recent = &Recent[spread >> RecentShift];
    }
    const std::size_t slot = SlotOf(coord, spread);
    if (Slots[slot] == EmptySlot) {
        if (Vertices.size() >= EmptySlot) throw std::runtime_error("GeometryIndex type too small!");
        Slots[slot] = static_cast<GeometryIndex>(Vertices.size());
        Vertices.push_back(coord);
        ++IndexedCount;
    }
    *recent = RecentEntry{spread, Slots[slot]};
    return Slots[slot];
}

template <typename T>
void FacetManager<T>::AddFacet(std::uint32_t objectID, GeometryIndex a, GeometryIndex b, GeometryIndex c) {
    if (a == b || b == c || a == c) {
        Messages("Facet with at least two identical vertices removed!\n", false);
        return;
    }
    AddFacet(Facet{a, b, c, objectID});
}

template <typename T>
std::size_t FacetManager<T>::AddFacet(const Facet& facet) {
    const std::size_t n = Vertices.size();
    if (facet.V0 >= n || facet.V1 >= n || facet.V2 >= n) throw std::runtime_error("Invalid vertex indices");
    if (Facets.size() >= 0xFFFFFFFFu) throw std::runtime_error("Too many facets");
    Facets.push_back(facet);
    return Facets.size();
}

template <typename T>
void FacetManager<T>::DropVertexIndex() {
    std::vector<GeometryIndex>().swap(Slots);
    std::vector<RecentEntry>().swap(Recent);
    IndexedCount = 0;
}

template <typename T>
void FacetManager<T>::Prepare() {
    DropVertexIndex();
}

template <typename T>
void FacetManager<T>::Clear() {
    std::vector<Coord>().swap(Vertices);
    std::vector<Facet>().swap(Facets);
    DropVertexIndex();
}

template <typename T>
std::vector<Facet> FacetManager<T>::GetObjectFacets(std::uint32_t objectID) const {
    std::vector<Facet> result;
    for (const Facet& f : Facets)
        if (f.ObjectID == objectID) result.push_back(f);
    return result;
}

template <typename T>
TBoundingBox<T> FacetManager<T>::GetFacetBounds(const Facet& facet) const {
    TBoundingBox<T> box;
    box.Add(Vertices[facet.V0]);
    box.Add(Vertices[facet.V1]);
    box.Add(Vertices[facet.V2]);
    return box;
}

template <typename T>
TBoundingBox<T> FacetManager<T>::GetObjectBounds(std::uint32_t objectID) const {
    TBoundingBox<T> box;
    for (const Facet& f : Facets) {
        if (f.ObjectID != objectID) continue;
        box.Add(Vertices[f.V0]);
        box.Add(Vertices[f.V1]);
        box.Add(Vertices[f.V2]);
    }
    return box;
}

template <typename T>
void FacetManager<T>::Compact() {
    std::vector<GeometryIndex> newIndex(Vertices.size(), EmptySlot);
    std::vector<Coord> used;
    used.reserve(Vertices.size());
    auto renumber = [&](GeometryIndex& v) {
        if (newIndex[v] == EmptySlot) {
            newIndex[v] = static_cast<GeometryIndex>(used.size());
            used.push_back(Vertices[v]);
        }
        v = newIndex[v];
    };
    for (Facet& f : Facets) {
        renumber(f.V0);
        renumber(f.V1);
        renumber(f.V2);
        if (f.V0 == f.V1 || f.V1 == f.V2 || f.V0 == f.V2)
            throw std::runtime_error("A Facet needs three distinct vertices!");
    }
    Vertices.swap(used);
    DropVertexIndex();
}

template <typename T>
void FacetManager<T>::Intersect(const Ray& ray, std::vector<Hit>& hits, double) const {
    const TCoord<double> d = DirectionVector(ray.Direction);
    Hit hit;
    for (const Facet& f : Facets)
        if (IntersectRayTriangle(ray.Position, d, Vertices.data(), f, hit)) hits.push_back(hit);
}

template <typename T>
bool FacetManager<T>::IsNear(const TCoord<double>& point, double radius) const {
    const double r2 = radius * radius;
    for (const Facet& f : Facets)
        if (FacetNear(f, point, r2)) return true;
    return false;
}

template <typename T>
void FacetManager<T>::CollectNear(FacetManager<T>& target, const TCoord<double>& point, double radius) const {
    const double r2 = radius * radius;
    for (const Facet& f : Facets) {
        if (!FacetNear(f, point, r2)) continue;
        const GeometryIndex a = target.AddVertex(Vertices[f.V0]);
        const GeometryIndex b = target.AddVertex(Vertices[f.V1]);
        const GeometryIndex c = target.AddVertex(Vertices[f.V2]);
        target.AddFacet(f.ObjectID, a, b, c);
    }
}

template <typename T>
std::shared_ptr<IntersectionManager> FacetManager<T>::ExtractNear(const TCoord<double>& point, double radius) const {
    auto result = std::make_shared<FacetManager<T>>(Messages);
    CollectNear(*result, point, radius);
    result->Prepare();
    result->Finish();
    return result;
}

template <typename T>
void FacetManager<T>::PrintMemoryUsage(std::ostream& os) const {
    IntersectionManager::PrintMemoryUsage(os);
    os << "Vertex: ";
    FormatMemory(os, 3 * sizeof(T), Vertices.size());
    os << "\n";
    os << "Facet:  ";
    FormatMemory(os, sizeof(Facet), Facets.size());
    os << "\n";
}

template std::uint64_t HashCoord<float>(const TCoord<float>&);
template std::uint64_t HashCoord<double>(const TCoord<double>&);
template class FacetManager<float>;
template class FacetManager<double>;

} // namespace geometry

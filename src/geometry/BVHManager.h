#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "geometry/FacetManager.h"

namespace geometry {

// The facet store with a bounding-volume hierarchy over its facets, built by a
// surface-area heuristic. Queries replace the brute-force loops by tree walks;
// each OpenMP thread walks with its own preallocated stack, so queries allocate
// nothing and may run on all tracer threads of one parallel region at once.
template <typename T>
class BVHManager : public FacetManager<T> {
public:
    using Coord = TCoord<T>;

    // Leaf: A <= B, facets A..B. Inner node: A > B = 0, the left child follows
    // directly, A is the right child. The root is node 0, depth-first, left first.
    struct Node {
        TBoundingBox<T> Box;
        std::uint32_t A = 0;
        std::uint32_t B = 0;
        bool IsLeaf() const { return A <= B; }
    };

    struct Statistics {
        std::size_t NodeCount = 0;
        std::size_t LeafCount = 0;
        std::size_t MinDepth = 0;
        double AvgDepth = 0;
        std::size_t MaxDepth = 0;
        std::size_t MinLeafFacets = 0;
        double AvgLeafFacets = 0;
        std::size_t MaxLeafFacets = 0;
    };

    BVHManager(std::uint64_t sahBins, std::uint64_t maxLeafCount, std::uint64_t maxBVHDepth,
               MessageSink messages = DefaultMessageSink());

    std::shared_ptr<IntersectionManager> ExtractNear(const TCoord<double>& point, double radius) const override;
    // Builds the tree; falls back to the in-place builder when memory is short.
    void Prepare() override;
    bool IsEmpty() const override { return Nodes.empty(); }
    void Intersect(const Ray& ray, std::vector<Hit>& hits, double reach = 0) const override;
    bool IsNear(const TCoord<double>& point, double radius) const override;
    void PrintMemoryUsage(std::ostream& os) const override;
    void CollectNear(FacetManager<T>& target, const TCoord<double>& point, double radius) const override;
    void Clear() override;

    // Builds without the per-facet caches, sorting the facets themselves: what
    // Prepare falls back to when the cached build runs out of memory.
    void PrepareInPlace();

    const std::vector<Node>& GetNodes() const { return Nodes; }
    Statistics GetStatistics() const;
    std::uint64_t GetSAHBins() const { return SAHBins; }
    std::uint64_t GetMaxLeafCount() const { return MaxLeafCount; }
    std::uint64_t GetMaxBVHDepth() const { return MaxBVHDepth; }

private:
    class Builder;
    class CachedBuilder;
    class InPlaceBuilder;

    // Traversal copy of the tree with up to four children per node, so that one
    // ray meets four boxes in one pass of vector instructions. The boxes are floats
    // rounded outward from the padded node boxes, and the ray test adds a margin
    // above its own rounding error, so a box the binary walk enters is never
    // missed. Children keep the depth-first, left-first order of the binary tree.
    // Below the binary leaves the same nodes hold the facets' own boxes.
    struct alignas(64) WideNode {
        float Bounds[6][4]; // per child: min x, y, z, max x, y, z
        std::uint32_t First[4]; // leaf: first facet; inner child: its wide node
        std::uint32_t Last[4];  // leaf: last facet; inner child: InnerChild
    };
    static constexpr std::uint32_t InnerChild = 0xFFFFFFFFu;
    // A facet's corners in the order the ray test takes them, stored in facet order
    // so that a leaf's triangles are read in one stretch, without the indirection
    // through the vertex array.
    struct WideFacet {
        Coord P0;
        Coord PA;
        Coord PB;
        std::uint32_t ObjectID;
        std::uint32_t Swapped;
    };

    void StartBuild();
    void BuildInPlaceAfterCachedFailed();
    void FinishBuild();
    // Returns the depth of the wide tree, the root being 0.
    std::size_t BuildWide();
    bool IntersectWide(const Ray& ray, std::vector<Hit>& hits) const;
    void IntersectBinary(const Ray& ray, std::vector<Hit>& hits, double reach) const;
    std::uint32_t* ThreadStack() const;
    template <typename Visit>
    bool WalkNear(const TCoord<double>& point, double radius, Visit&& visit) const;

    std::vector<Node> Nodes;
    std::uint64_t SAHBins;
    std::uint64_t MaxLeafCount;
    std::uint64_t MaxBVHDepth;
    // One per OpenMP thread, each deep enough for the built tree.
    mutable std::vector<std::vector<std::uint32_t>> Stacks;
    // Slab tests widen every box by this much so that a facet hit on a box face is
    // never lost to rounding in the box test (the facet test alone decides).
    double SlabPad = 0;
    std::vector<WideNode> Wide;
    std::vector<WideFacet> WideFacets;
    // Largest magnitude of any wide box coordinate; scales the ray test's margin.
    double WideExtent = 0;
};

extern template class BVHManager<float>;
extern template class BVHManager<double>;

} // namespace geometry

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/FacetManager.h"

namespace geometry {

struct ClosedSurfaceReport {
    std::size_t Facets = 0;
    std::size_t Edges = 0;
    std::size_t Vertices = 0;
    std::size_t BoundaryEdges = 0;   // edges of a single facet, before any repair
    std::size_t AddedFacets = 0;
    std::size_t RemainingBoundaryEdges = 0;
};

// Counts how many of the part's facets use each edge, reports edges not shared by
// exactly two facets through the store's message sink (the whole report on the
// message output, so its lines stay together), and closes holes by adding
// facets under objectID that keep the orientation of the facets around each hole.
template <typename T>
ClosedSurfaceReport CheckClosed(FacetManager<T>& scene, std::uint32_t objectID, const std::vector<Facet>& facets);

} // namespace geometry

#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "geometry/FacetManager.h"

namespace geometry {

// Dumps of a part's facets as they are in the scene's store (placed, merged and
// oriented). Corners are renumbered 0.. in order of first use so shared corners
// are written once. Failures to write show in the stream's state.

// Text output.
template <typename T>
void WriteOFF(std::ostream& os, const FacetManager<T>& scene, const std::vector<Facet>& facets);
// Binary output in this machine's byte order.
template <typename T>
void WritePLY(std::ostream& os, const FacetManager<T>& scene, const std::vector<Facet>& facets);
// ASCII, or binary little-endian; the solid is named name.
template <typename T>
void WriteStL(std::ostream& os, const FacetManager<T>& scene, const std::vector<Facet>& facets,
              const std::string& name, bool binary);

// The facets copied into a fresh store: vertices numbered in order of first use.
template <typename T>
FacetManager<T> CopyFacets(const FacetManager<T>& scene, const std::vector<Facet>& facets);

} // namespace geometry

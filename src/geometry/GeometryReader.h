#pragma once

#include <cstdint>

#include "geometry/AffineTransform.h"
#include "geometry/FacetManager.h"
#include "inifiles/IniFile.h"

namespace geometry {

// Reads the surface described by a geometry section into the store: nested "Geometry"
// subsections, a mesh file (StL, OFF, PLY, TRI, vertex and facet tables), inline
// facets and polygons, or an analytic primitive. Every vertex is placed by
// transform o (this section's placement); invert flips the facets' orientation and is
// toggled by the section's "Invert". Facets are tagged with objectID.
template <typename T>
void ReadGeometry(const inifiles::TIniFileSection& section, const TAffineTransform& transform,
                  std::uint32_t objectID, FacetManager<T>& store, bool invert);

} // namespace geometry

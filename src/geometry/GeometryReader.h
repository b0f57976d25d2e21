#pragma once

#include <cstdint>

#include "geometry/AffineTransform.h"
#include "geometry/FacetManager.h"
#include "inifiles/IniFile.h"

namespace geometry {

// The parallelogram of a primitive's base or a plane detector: corner a and the edges
// a->b (side1) and a->c (side2), from "VertexA", "VertexB", "VertexC" when "VertexB"
// or "VertexC" is given, else from "Side1", "Side2" with "VertexA" or, without it,
// "BaseCenter" (the centre). Section coordinates, before placement.
void ReadParallelogram(const inifiles::TIniFileSection& section, TCoord<double>& a, TCoord<double>& side1,
                       TCoord<double>& side2);

// Reads the surface described by a geometry section into the store: nested "Geometry"
// subsections, a mesh file (StL, OFF, PLY, TRI, vertex and facet tables), inline
// facets and polygons, or an analytic primitive. Every vertex is placed by
// transform o (this section's placement); invert flips the facets' orientation and is
// toggled by the section's "Invert". Facets are tagged with objectID.
template <typename T>
void ReadGeometry(const inifiles::TIniFileSection& section, const TAffineTransform& transform,
                  std::uint32_t objectID, FacetManager<T>& store, bool invert);

} // namespace geometry

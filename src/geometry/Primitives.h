#pragma once

#include "geometry/MeshBuilder.h"

namespace geometry {

// Closed, outward-facing meshes of the analytic primitives, in section coordinates
// (the builder places them). The orientation follows the handedness of the edge
// vectors, so mirrored edge sets still face outward.

// Parallelepiped on the corner a with edges s1, s2, s3; with pyramidal, a pyramid
// over the parallelogram (a, s1, s2) with its apex at the parallelogram's centre + s3.
template <typename T>
void AddParallelepiped(MeshBuilder<T>& mesh, const TCoord<double>& a, const TCoord<double>& s1,
                       const TCoord<double>& s2, const TCoord<double>& s3, bool pyramidal);

// Elliptical prism around center with half-axes h1, h2 in its cross-section, reaching
// from center - h3 to center + h3; with cone, the apex is at center + h3. The
// outline has `steps` segments.
template <typename T>
void AddEllipticalPrism(MeshBuilder<T>& mesh, const TCoord<double>& center, const TCoord<double>& h1,
                        const TCoord<double>& h2, const TCoord<double>& h3, int steps, bool cone);

// Ellipsoid with half-axes h1, h2, h3, poles at center +- h3: `steps` segments around
// and `steps` bands from pole to pole.
template <typename T>
void AddEllipsoid(MeshBuilder<T>& mesh, const TCoord<double>& center, const TCoord<double>& h1,
                  const TCoord<double>& h2, const TCoord<double>& h3, int steps);

} // namespace geometry

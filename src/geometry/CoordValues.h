#pragma once

// Coordinate vectors "(x, y, z)" / "(x, y)" and spherical angles "(theta, phi)" in
// radians as INI values. They live beside the types so that the INI layer knows
// nothing of geometry; the by-key getters of inifiles find them by argument-dependent
// lookup: inifiles::GetValue(section, "VertexA", coord) works once this is included.

#include "geometry/Angles.h"
#include "geometry/Coord.h"
#include "inifiles/IniValues.h"

INIFILES_TYPE_NAME(geometry::TCoord<double>, "vector");
INIFILES_TYPE_NAME(geometry::TCoord<float>, "vector");
INIFILES_TYPE_NAME(geometry::TSphericalAngle, "spherical angle");

namespace geometry {

void GetValue(const inifiles::TIniFileVariable& variable, TCoord<double>& out);
void GetValue(const inifiles::TIniFileVariable& variable, TCoord<float>& out);
void GetValue(const inifiles::TIniFileVariable& variable, TSphericalAngle& out);

} // namespace geometry

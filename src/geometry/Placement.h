#pragma once

#include "geometry/AffineTransform.h"
#include "inifiles/IniFile.h"

namespace geometry {

// The transform of the placement keys of a section ("Origin", "Translation", "Scale",
// "RotateX", "RotateY", "RotateZ"), applied in file order; rotations and scalings
// act about the pivot set by the latest "Origin". With inverse, the inverse transform.
// Origin and Translation are given in the section's length unit.
TAffineTransform BuildPlacement(const inifiles::TIniFileSection& section, bool inverse);

} // namespace geometry

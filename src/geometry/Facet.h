#pragma once

#include <cstdint>
#include <limits>

#include "geometry/Angles.h"
#include "geometry/Coord.h"

namespace geometry {

using GeometryIndex = std::uint32_t;

// Vertices counter-clockwise seen from outside: the outward normal is (V1-V0)x(V2-V0).
struct Facet {
    GeometryIndex V0 = 0;
    GeometryIndex V1 = 0;
    GeometryIndex V2 = 0;
    std::uint32_t ObjectID = 0;
};
static_assert(sizeof(Facet) == 16, "Facet layout");

struct Hit {
    double Distance = 0;
    std::uint32_t ObjectID = 0;
    bool Entering = false;
};
static_assert(sizeof(Hit) == 16, "Hit layout");

template <typename T>
struct TBoundingBox {
    TCoord<T> Min{std::numeric_limits<T>::infinity(), std::numeric_limits<T>::infinity(),
                  std::numeric_limits<T>::infinity()};
    TCoord<T> Max{-std::numeric_limits<T>::infinity(), -std::numeric_limits<T>::infinity(),
                  -std::numeric_limits<T>::infinity()};

    bool IsEmpty() const { return !(Min.x <= Max.x && Min.y <= Max.y && Min.z <= Max.z); }
    void Add(const TCoord<T>& p) {
        if (p.x < Min.x) Min.x = p.x;
        if (p.y < Min.y) Min.y = p.y;
        if (p.z < Min.z) Min.z = p.z;
        if (p.x > Max.x) Max.x = p.x;
        if (p.y > Max.y) Max.y = p.y;
        if (p.z > Max.z) Max.z = p.z;
    }
};

// The leading part of the particle record: what every intersection query receives.
struct Ray {
    TCoord<double> Position;
    TSphericalAngle Direction;
};

// Unit vector of a spherical angle scaled by r.
inline TCoord<double> DirectionVector(const TSphericalAngle& a, double r = 1.0) {
    const double st = a.Theta.Sin();
    return TCoord<double>(r * st * a.Phi.Cos(), r * st * a.Phi.Sin(), r * a.Theta.Cos());
}

} // namespace geometry

#pragma once

#include "geometry/Angles.h"
#include "geometry/Coord.h"

namespace geometry {

// 3x4 row-major matrix [R | t] mapping p to R*p + t.
class TAffineTransform {
public:
    double M[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

    static TAffineTransform Translation(const TCoord<double>& t);
    static TAffineTransform Scaling(const TCoord<double>& s);
    // Rotation by the angle whose cosine and sine are given about axis 0, 1 or 2,
    // turning clockwise seen from the positive axis for a positive sine.
    static TAffineTransform AxisRotation(int axis, double c, double s);
    // Frame whose local z axis is the ray direction, local x the theta tangent
    // and local y the phi tangent, placed at the ray position.
    static TAffineTransform LocalToWorld(const TCoord<double>& position, const TSphericalAngle& direction);
    static TAffineTransform WorldToLocal(const TCoord<double>& position, const TSphericalAngle& direction);

    // Replaces this transform A by A o B: B is applied first.
    TAffineTransform& Compose(const TAffineTransform& b);

    TCoord<double> Apply(const TCoord<double>& p) const {
        return TCoord<double>(M[0][0] * p.x + M[0][1] * p.y + M[0][2] * p.z + M[0][3],
                              M[1][0] * p.x + M[1][1] * p.y + M[1][2] * p.z + M[1][3],
                              M[2][0] * p.x + M[2][1] * p.y + M[2][2] * p.z + M[2][3]);
    }
    TCoord<double> ApplyToVector(const TCoord<double>& v) const {
        return TCoord<double>(M[0][0] * v.x + M[0][1] * v.y + M[0][2] * v.z,
                              M[1][0] * v.x + M[1][1] * v.y + M[1][2] * v.z,
                              M[2][0] * v.x + M[2][1] * v.y + M[2][2] * v.z);
    }
    // Sign of the rotation part's determinant: negative when the transform mirrors.
    double Determinant() const;
};

// Composition as a new value: (a o b)(p) = a(b(p)).
TAffineTransform operator*(TAffineTransform a, const TAffineTransform& b);

} // namespace geometry

#include "geometry/AffineTransform.h"

namespace geometry {

TAffineTransform TAffineTransform::Translation(const TCoord<double>& t) {
    TAffineTransform r;
    r.M[0][3] = t.x;
    r.M[1][3] = t.y;
    r.M[2][3] = t.z;
    return r;
}

TAffineTransform TAffineTransform::Scaling(const TCoord<double>& s) {
    TAffineTransform r;
    r.M[0][0] = s.x;
    r.M[1][1] = s.y;
    r.M[2][2] = s.z;
    return r;
}

TAffineTransform TAffineTransform::AxisRotation(int axis, double c, double s) {
    TAffineTransform r;
    // The two axes turned, in the cyclic order that makes the rule identical for x, y and z
    // (for y the cyclic pair is (z, x), which puts the sine terms on the other side).
    const int i = (axis + 1) % 3;
    const int j = (axis + 2) % 3;
    r.M[i][i] = c;
    r.M[i][j] = s;
    r.M[j][i] = -s;
    r.M[j][j] = c;
    return r;
}

TAffineTransform TAffineTransform::LocalToWorld(const TCoord<double>& p, const TSphericalAngle& d) {
    const double st = d.Theta.Sin(), ct = d.Theta.Cos(), sp = d.Phi.Sin(), cp = d.Phi.Cos();
    TAffineTransform r;
    r.M[0][0] = ct * cp; r.M[0][1] = -sp; r.M[0][2] = st * cp; r.M[0][3] = p.x;
    r.M[1][0] = ct * sp; r.M[1][1] = cp;  r.M[1][2] = st * sp; r.M[1][3] = p.y;
    r.M[2][0] = -st;     r.M[2][1] = 0;   r.M[2][2] = ct;      r.M[2][3] = p.z;
    return r;
}

TAffineTransform TAffineTransform::WorldToLocal(const TCoord<double>& p, const TSphericalAngle& d) {
    const TAffineTransform f = LocalToWorld(p, d);
    TAffineTransform r;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) r.M[i][j] = f.M[j][i];
        r.M[i][3] = -(f.M[0][i] * p.x + f.M[1][i] * p.y + f.M[2][i] * p.z);
    }
    return r;
}

TAffineTransform& TAffineTransform::Compose(const TAffineTransform& b) {
    double r[3][4];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j)
            r[i][j] = M[i][0] * b.M[0][j] + M[i][1] * b.M[1][j] + M[i][2] * b.M[2][j];
        r[i][3] += M[i][3];
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) M[i][j] = r[i][j];
    return *this;
}

double TAffineTransform::Determinant() const {
    return M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
           M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
           M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0]);
}

TAffineTransform operator*(TAffineTransform a, const TAffineTransform& b) { return a.Compose(b); }

} // namespace geometry

#pragma once

#include <cmath>
#include <cstdint>

#include "geometry/Facet.h"

namespace geometry {

namespace detail {

// Below this the raw determinant cannot be trusted and the normalised test decides.
constexpr double DeterminantEpsilon = 1e-14;

// Scale-free variant for nearly parallel rays and tiny facets. p0, pa, pb as in
// IntersectRayTriangle. Conditions are written so that NaN rejects.
inline bool NormalisedRayTriangle(const TCoord<double>& o, const TCoord<double>& d, const TCoord<double>& p0,
                                  const TCoord<double>& pa, const TCoord<double>& pb, double& t, double& det) {
    const TCoord<double> a = pa - p0;
    const TCoord<double> b = pb - p0;
    const double l1 = Norm(a);
    const double l2 = Norm(b);
    const TCoord<double> e1 = a * (1.0 / l1);
    const TCoord<double> e2 = b * (1.0 / l2);
    const TCoord<double> p = Cross(d, e1);
    det = Dot(e2, p);
    if (!(std::fabs(det) >= DeterminantEpsilon)) return false;
    const TCoord<double> s = o - p0;
    const double ls = Norm(s);
    if (ls == 0) {
        t = 0;
        return true;
    }
    const TCoord<double> sn = s * (1.0 / ls);
    const double k = ls / det;
    const double u = Dot(sn, p) * k / l2;
    if (!(u >= 0 && u <= 1)) return false;
    const TCoord<double> q = Cross(sn, e2);
    const double v = Dot(d, q) * k / l1;
    t = Dot(e1, q) * k;
    return v >= 0 && u + v <= 1 && t >= 0;
}

} // namespace detail

// Ray (origin o, unit direction d) against the triangle p0, pa, pb, where pa and pb
// are the facet's two later corners in index order and swapped tells whether that
// reverses the facet's own order; fills hit and returns true when the ray meets it
// at a distance >= 0. Edges, vertices and t = 0 count. Allocates nothing.
inline bool IntersectRayCorners(const TCoord<double>& o, const TCoord<double>& d, const TCoord<double>& p0,
                                const TCoord<double>& pa, const TCoord<double>& pb, bool swapped,
                                std::uint32_t objectID, Hit& hit) {
    const TCoord<double> e1 = pa - p0;
    const TCoord<double> e2 = pb - p0;
    const TCoord<double> p = Cross(d, e1);
    double det = Dot(e2, p);
    double t = 0;
    if (!(std::fabs(det) >= detail::DeterminantEpsilon)) {
        if (!detail::NormalisedRayTriangle(o, d, p0, pa, pb, t, det)) return false;
    } else {
        const double inv = 1.0 / det;
        const TCoord<double> s = o - p0;
        const double u = Dot(s, p) * inv;
        if (!(u >= 0 && u <= 1)) return false;
        const TCoord<double> q = Cross(s, e2);
        const double v = Dot(d, q) * inv;
        if (!(v >= 0 && u + v <= 1)) return false;
        t = Dot(e1, q) * inv;
        if (!(t >= 0)) return false;
    }
    hit.Distance = t;
    hit.ObjectID = objectID;
    hit.Entering = (det > 0) != swapped;
    return true;
}

// Ray (origin o, unit direction d) against one facet, as IntersectRayCorners. The two
// later corners are taken in index order so that a shared edge is computed
// identically for both facets that use it.
template <typename T>
inline bool IntersectRayTriangle(const TCoord<double>& o, const TCoord<double>& d, const TCoord<T>* vertices,
                                 const Facet& f, Hit& hit) {
    const bool swapped = f.V2 < f.V1;
    return IntersectRayCorners(o, d, TCoord<double>(vertices[f.V0]),
                               TCoord<double>(vertices[swapped ? f.V1 : f.V2]),
                               TCoord<double>(vertices[swapped ? f.V2 : f.V1]), swapped, f.ObjectID, hit);
}

// True if point p lies within sqrt(r2) of the facet (corners, plane interior or edges).
template <typename T>
inline bool FacetNear(const TCoord<T>* vertices, const Facet& f, const TCoord<double>& p, double r2) {
    const TCoord<double> v0(vertices[f.V0]);
    const TCoord<double> v1(vertices[f.V1]);
    const TCoord<double> v2(vertices[f.V2]);
    for (const TCoord<double>* v : {&v0, &v1, &v2}) {
        const TCoord<double> dv = *v - p;
        if (Dot(dv, dv) <= r2) return true;
    }
    const TCoord<double> e1 = v1 - v0;
    const TCoord<double> e2 = v2 - v0;
    const TCoord<double> c = Cross(e1, e2);
    const double c2 = Dot(c, c);
    TCoord<double> n = c;
    if (c2 > 0) n = c * (1.0 / std::sqrt(c2));
    const double h = Dot(v0 - p, n);
    if (h * h > r2) return false;
    if (c2 > 0) {
        const TCoord<double> q = p + n * h - v0;
        const double alpha = Dot(Cross(q, e2), c) / c2;
        const double beta = Dot(Cross(e1, q), c) / c2;
        if (alpha >= 0 && beta >= 0 && alpha + beta <= 1) return true;
    }
    const TCoord<double> e3 = v1 - v2;
    const TCoord<double>* starts[3] = {&v0, &v0, &v2};
    const TCoord<double>* edges[3] = {&e1, &e2, &e3};
    for (int i = 0; i < 3; ++i) {
        const TCoord<double>& e = *edges[i];
        const double ee = Dot(e, e);
        if (!(ee > 0)) continue;
        const double lambda = Dot(p - *starts[i], e) / ee;
        if (lambda > 0 && lambda < 1) {
            const TCoord<double> foot = *starts[i] + e * lambda - p;
            if (Dot(foot, foot) <= r2) return true;
        }
    }
    return false;
}

} // namespace geometry

#pragma once

// Closed test meshes built directly into a facet store, and ray helpers.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "geometry/FacetManager.h"
#include "geometry/SceneObjects.h"

namespace testmesh {

using geometry::TCoord;

struct Rotation {
    double M[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    TCoord<double> Apply(const TCoord<double>& p) const {
        return {M[0][0] * p.x + M[0][1] * p.y + M[0][2] * p.z, M[1][0] * p.x + M[1][1] * p.y + M[1][2] * p.z,
                M[2][0] * p.x + M[2][1] * p.y + M[2][2] * p.z};
    }
};

inline Rotation RandomRotation(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(0, 2 * M_PI);
    const double a = u(rng), b = u(rng), c = u(rng);
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b), cc = std::cos(c),
                 sc = std::sin(c);
    Rotation r;
    const double rz[3][3] = {{ca, -sa, 0}, {sa, ca, 0}, {0, 0, 1}};
    const double ry[3][3] = {{cb, 0, sb}, {0, 1, 0}, {-sb, 0, cb}};
    const double rx[3][3] = {{1, 0, 0}, {0, cc, -sc}, {0, sc, cc}};
    double t[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) t[i][j] += rz[i][k] * ry[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            r.M[i][j] = 0;
            for (int k = 0; k < 3; ++k) r.M[i][j] += t[i][k] * rx[k][j];
        }
    return r;
}

// Adds the triangle with its outward side away from `inside` (a point inside a convex body).
template <typename T>
void AddOriented(geometry::FacetManager<T>& store, std::uint32_t id, const TCoord<double>& inside,
                 const TCoord<double>& a, const TCoord<double>& b, const TCoord<double>& c) {
    const auto ia = store.AddVertex(TCoord<T>(a));
    auto ib = store.AddVertex(TCoord<T>(b));
    auto ic = store.AddVertex(TCoord<T>(c));
    const TCoord<double> n = geometry::Cross(b - a, c - a);
    if (geometry::Dot(n, a - inside) < 0) std::swap(ib, ic);
    store.AddFacet(id, ia, ib, ic);
}

// Latitude-longitude sphere: slices around the z axis, stacks from pole to pole.
template <typename T>
void AddSphere(geometry::FacetManager<T>& store, std::uint32_t id, const TCoord<double>& centre, double radius,
               int slices, int stacks) {
    auto point = [&](int i, int j) {
        if (i == 0 || i == stacks) return TCoord<double>(centre.x, centre.y, centre.z + (i == 0 ? radius : -radius));
        const double theta = M_PI * i / stacks;
        const double phi = 2 * M_PI * (j % slices) / slices;
        return TCoord<double>(centre.x + radius * std::sin(theta) * std::cos(phi),
                              centre.y + radius * std::sin(theta) * std::sin(phi),
                              centre.z + radius * std::cos(theta));
    };
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            if (i > 0) AddOriented(store, id, centre, point(i, j), point(i, j + 1), point(i + 1, j));
            if (i + 1 < stacks) AddOriented(store, id, centre, point(i + 1, j), point(i, j + 1), point(i + 1, j + 1));
        }
}

// Box of the given half sides, rotated and centred; each face split into n x n squares.
template <typename T>
void AddBox(geometry::FacetManager<T>& store, std::uint32_t id, const TCoord<double>& centre,
            const TCoord<double>& half, const Rotation& rotation = Rotation(), int n = 1) {
    const double h[3] = {half.x, half.y, half.z};
    auto at = [&](int axis, double sign, double u, double v) {
        double p[3];
        p[axis] = sign * h[axis];
        p[(axis + 1) % 3] = (2 * u - 1) * h[(axis + 1) % 3];
        p[(axis + 2) % 3] = (2 * v - 1) * h[(axis + 2) % 3];
        return centre + rotation.Apply(TCoord<double>(p[0], p[1], p[2]));
    };
    for (int axis = 0; axis < 3; ++axis)
        for (double sign : {-1.0, 1.0})
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    const double u0 = double(i) / n, u1 = double(i + 1) / n, v0 = double(j) / n,
                                 v1 = double(j + 1) / n;
                    AddOriented(store, id, centre, at(axis, sign, u0, v0), at(axis, sign, u1, v0),
                                at(axis, sign, u1, v1));
                    AddOriented(store, id, centre, at(axis, sign, u0, v0), at(axis, sign, u1, v1),
                                at(axis, sign, u0, v1));
                }
}

inline geometry::Ray RayTowards(const TCoord<double>& from, const TCoord<double>& to) {
    const TCoord<double> d = to - from;
    geometry::Ray ray;
    ray.Position = from;
    ray.Direction = geometry::TSphericalAngle(std::acos(d.z / geometry::Norm(d)), std::atan2(d.y, d.x));
    return ray;
}

using HitKey = std::tuple<std::uint32_t, bool, double>;

inline std::vector<HitKey> Keys(const std::vector<geometry::Hit>& hits) {
    std::vector<HitKey> keys;
    for (const auto& h : hits) keys.emplace_back(h.ObjectID, h.Entering, h.Distance);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Volume enclosed by the facets (divergence theorem): negative when they face inward.
template <typename T>
double Volume(const geometry::FacetManager<T>& m) {
    double v = 0;
    for (const auto& f : m.GetFacets()) {
        const TCoord<double> a(m.GetVertices()[f.V0]), b(m.GetVertices()[f.V1]), c(m.GetVertices()[f.V2]);
        v += geometry::Dot(a, geometry::Cross(b, c)) / 6;
    }
    return v;
}

class TestObject : public TTraceableObject {
public:
    std::unique_ptr<TBasicGeometricalObject> Clone() const override {
        return std::make_unique<TestObject>(*this);
    }
};

// Traceable objects numbered 0, 1, ... in the order they are added.
struct ObjectSet {
    std::vector<std::unique_ptr<TestObject>> Owned;
    std::vector<TTraceableObject*> Objects;

    std::uint32_t AddObject(std::int32_t priority = 0) {
        Owned.push_back(std::make_unique<TestObject>());
        Owned.back()->ObjectID = std::uint32_t(Objects.size());
        Owned.back()->Priority = priority;
        Objects.push_back(Owned.back().get());
        return Owned.back()->ObjectID;
    }
};

// Copies vertices and facets unchanged, so that both stores compute bit-identical hits.
template <typename T>
void CopyStore(const geometry::FacetManager<T>& from, geometry::FacetManager<T>& to) {
    for (const auto& v : from.GetVertices()) to.AddVertex(v);
    for (const auto& f : from.GetFacets()) to.AddFacet(f);
}

} // namespace testmesh

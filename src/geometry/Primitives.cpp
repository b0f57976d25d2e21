#include "geometry/Primitives.h"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace geometry {

namespace {

const double Pi = 4 * std::atan(1.0);

// Adds polygons given counter-clockwise for a right-handed edge set, reversing them
// for a left-handed one.
template <typename T>
class Surface {
public:
    Surface(MeshBuilder<T>& mesh, const TCoord<double>& u, const TCoord<double>& v, const TCoord<double>& w)
        : Mesh(mesh), Reverse(Dot(Cross(u, v), w) < 0) {}

    GeometryIndex Vertex(const TCoord<double>& p) { return Mesh.AddVertex(p.x, p.y, p.z); }
    void Triangle(GeometryIndex a, GeometryIndex b, GeometryIndex c) {
        if (Reverse) Mesh.AddTriangle(a, c, b);
        else Mesh.AddTriangle(a, b, c);
    }
    void Quad(GeometryIndex a, GeometryIndex b, GeometryIndex c, GeometryIndex d) {
        Triangle(a, b, c);
        Triangle(a, c, d);
    }

private:
    MeshBuilder<T>& Mesh;
    bool Reverse;
};

void CheckSteps(int steps) {
    if (steps < 3) throw std::runtime_error("Steps has to be at least 3");
}

} // namespace

template <typename T>
void AddParallelepiped(MeshBuilder<T>& mesh, const TCoord<double>& a, const TCoord<double>& s1,
                       const TCoord<double>& s2, const TCoord<double>& s3, bool pyramidal) {
    Surface<T> s(mesh, s1, s2, s3);
    const GeometryIndex b00 = s.Vertex(a), b10 = s.Vertex(a + s1), b11 = s.Vertex(a + s1 + s2),
                        b01 = s.Vertex(a + s2);
    s.Quad(b00, b01, b11, b10);
    const GeometryIndex base[4] = {b00, b10, b11, b01};
    if (pyramidal) {
        const GeometryIndex apex = s.Vertex(a + (s1 + s2) * 0.5 + s3);
        for (int k = 0; k < 4; ++k) s.Triangle(base[k], base[(k + 1) % 4], apex);
        return;
    }
    const GeometryIndex t00 = s.Vertex(a + s3), t10 = s.Vertex(a + s1 + s3), t11 = s.Vertex(a + s1 + s2 + s3),
                        t01 = s.Vertex(a + s2 + s3);
    s.Quad(t00, t10, t11, t01);
    const GeometryIndex top[4] = {t00, t10, t11, t01};
    for (int k = 0; k < 4; ++k) s.Quad(base[k], base[(k + 1) % 4], top[(k + 1) % 4], top[k]);
}

template <typename T>
void AddEllipticalPrism(MeshBuilder<T>& mesh, const TCoord<double>& center, const TCoord<double>& h1,
                        const TCoord<double>& h2, const TCoord<double>& h3, int steps, bool cone) {
    CheckSteps(steps);
    Surface<T> s(mesh, h1, h2, h3);
    std::vector<GeometryIndex> bottom(steps), top(steps);
    for (int k = 0; k < steps; ++k) {
        const double phi = 2 * Pi * k / steps;
        const TCoord<double> q = center + h1 * std::cos(phi) + h2 * std::sin(phi);
        bottom[k] = s.Vertex(q - h3);
        if (!cone) top[k] = s.Vertex(q + h3);
    }
    const GeometryIndex bottomCenter = s.Vertex(center - h3);
    const GeometryIndex topCenter = s.Vertex(center + h3);
    for (int k = 0; k < steps; ++k) {
        const int n = (k + 1) % steps;
        s.Triangle(bottomCenter, bottom[n], bottom[k]);
        if (cone) {
            s.Triangle(bottom[k], bottom[n], topCenter);
        } else {
            s.Triangle(topCenter, top[k], top[n]);
            s.Quad(bottom[k], bottom[n], top[n], top[k]);
        }
    }
}

template <typename T>
void AddEllipsoid(MeshBuilder<T>& mesh, const TCoord<double>& center, const TCoord<double>& h1,
                  const TCoord<double>& h2, const TCoord<double>& h3, int steps) {
    CheckSteps(steps);
    Surface<T> s(mesh, h1, h2, h3);
    // rings[i] holds the ring at polar angle pi*(i+1)/steps.
    std::vector<std::vector<GeometryIndex>> rings(steps - 1, std::vector<GeometryIndex>(steps));
    for (int i = 0; i + 1 < steps; ++i) {
        const double theta = Pi * (i + 1) / steps;
        for (int k = 0; k < steps; ++k) {
            const double phi = 2 * Pi * k / steps;
            rings[i][k] = s.Vertex(center + h1 * (std::sin(theta) * std::cos(phi)) +
                                   h2 * (std::sin(theta) * std::sin(phi)) + h3 * std::cos(theta));
        }
    }
    const GeometryIndex north = s.Vertex(center + h3);
    const GeometryIndex south = s.Vertex(center - h3);
    const auto& last = rings.back();
    for (int k = 0; k < steps; ++k) {
        const int n = (k + 1) % steps;
        s.Triangle(north, rings[0][k], rings[0][n]);
        for (std::size_t i = 0; i + 1 < rings.size(); ++i)
            s.Quad(rings[i][k], rings[i + 1][k], rings[i + 1][n], rings[i][n]);
        s.Triangle(south, last[n], last[k]);
    }
}

#define TARVO_INSTANTIATE_PRIMITIVES(T)                                                                          \
    template void AddParallelepiped<T>(MeshBuilder<T>&, const TCoord<double>&, const TCoord<double>&,              \
                                       const TCoord<double>&, const TCoord<double>&, bool);                        \
    template void AddEllipticalPrism<T>(MeshBuilder<T>&, const TCoord<double>&, const TCoord<double>&,             \
                                        const TCoord<double>&, const TCoord<double>&, int, bool);                  \
    template void AddEllipsoid<T>(MeshBuilder<T>&, const TCoord<double>&, const TCoord<double>&,                   \
                                  const TCoord<double>&, const TCoord<double>&, int);
TARVO_INSTANTIATE_PRIMITIVES(float)
TARVO_INSTANTIATE_PRIMITIVES(double)
#undef TARVO_INSTANTIATE_PRIMITIVES

} // namespace geometry

#include "geometry/MeshWriters.h"

#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <stdexcept>

#include "geometry/ByteSource.h"

namespace geometry {

namespace {

template <typename N>
void PutLittleEndian(std::ostream& os, N value) {
    unsigned char b[sizeof(N)];
    std::memcpy(b, &value, sizeof(N));
    if (!HostIsLittleEndian()) SwapBytes(b, sizeof(N));
    os.write(reinterpret_cast<const char*>(b), sizeof(N));
}

template <typename N>
void PutNative(std::ostream& os, N value) {
    os.write(reinterpret_cast<const char*>(&value), sizeof(N));
}

std::int32_t ToInt32(std::size_t n) {
    if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::runtime_error("Conversion failed");
    return static_cast<std::int32_t>(n);
}

template <typename T>
TCoord<double> UnitNormal(const FacetManager<T>& m, const Facet& f) {
    const auto& v = m.GetVertices();
    const TCoord<double> p0(v[f.V0]);
    const TCoord<double> n = Cross(TCoord<double>(v[f.V1]) - p0, TCoord<double>(v[f.V2]) - p0);
    const double len = Norm(n);
    return len > 0 ? n * (1.0 / len) : n;
}

} // namespace

template <typename T>
FacetManager<T> CopyFacets(const FacetManager<T>& scene, const std::vector<Facet>& facets) {
    FacetManager<T> copy(scene.GetMessageSink());
    const auto& v = scene.GetVertices();
    for (const Facet& f : facets) {
        const GeometryIndex a = copy.AddVertex(v[f.V0]);
        const GeometryIndex b = copy.AddVertex(v[f.V1]);
        const GeometryIndex c = copy.AddVertex(v[f.V2]);
        copy.AddFacet(Facet{a, b, c, f.ObjectID});
    }
    return copy;
}

template <typename T>
void WriteOFF(std::ostream& os, const FacetManager<T>& scene, const std::vector<Facet>& facets) {
    const FacetManager<T> m = CopyFacets(scene, facets);
    // Enough digits that the dump reads back to the very same coordinates.
    const auto precision = os.precision(std::numeric_limits<T>::max_digits10);
    os << "OFF\n" << m.GetVertices().size() << " " << m.GetFacets().size() << " " << 0 << "\n";
    for (const auto& p : m.GetVertices()) os << p.x << " " << p.y << " " << p.z << "\n";
    for (const Facet& f : m.GetFacets()) os << "3 " << f.V0 << " " << f.V1 << " " << f.V2 << "\n";
    os.precision(precision);
}

template <typename T>
void WritePLY(std::ostream& os, const FacetManager<T>& scene, const std::vector<Facet>& facets) {
    const FacetManager<T> m = CopyFacets(scene, facets);
    const char* type = sizeof(T) == 8 ? "double" : "float";
    os << "ply\nformat " << (HostIsLittleEndian() ? "binary_little_endian" : "binary_big_endian") << " 1.0\n"
       << "element vertex " << m.GetVertices().size() << "\n"
       << "property " << type << " x\nproperty " << type << " y\nproperty " << type << " z\n"
       << "element face " << m.GetFacets().size() << "\n"
       << "property list uint8 int32 vertex_indices\nend_header\n";
    ToInt32(m.GetVertices().size());
    for (const auto& p : m.GetVertices()) {
        PutNative(os, p.x);
        PutNative(os, p.y);
        PutNative(os, p.z);
    }
    for (const Facet& f : m.GetFacets()) {
        PutNative(os, std::uint8_t(3));
        PutNative(os, ToInt32(f.V0));
        PutNative(os, ToInt32(f.V1));
        PutNative(os, ToInt32(f.V2));
    }
}

template <typename T>
void WriteStL(std::ostream& os, const FacetManager<T>& scene, const std::vector<Facet>& facets,
              const std::string& name, bool binary) {
    const auto& v = scene.GetVertices();
    if (binary) {
        if (facets.size() > std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error("Too many facets!");
        std::string header = name.substr(0, 80);
        header.resize(80, '\0');
        os.write(header.data(), 80);
        PutLittleEndian(os, static_cast<std::uint32_t>(facets.size()));
        for (const Facet& f : facets) {
            const TCoord<double> n = UnitNormal(scene, f);
            const float values[12] = {float(n.x),      float(n.y),      float(n.z),      float(v[f.V0].x),
                                      float(v[f.V0].y), float(v[f.V0].z), float(v[f.V1].x), float(v[f.V1].y),
                                      float(v[f.V1].z), float(v[f.V2].x), float(v[f.V2].y), float(v[f.V2].z)};
            for (float x : values) PutLittleEndian(os, x);
            PutLittleEndian(os, std::uint16_t(0));
        }
        return;
    }
    const auto flags = os.flags();
    const auto precision = os.precision(12);
    os << std::fixed << std::showpos;
    os << "solid " << name << "\n";
    for (const Facet& f : facets) {
        const TCoord<double> n = UnitNormal(scene, f);
        os << "  facet normal " << n.x << " " << n.y << " " << n.z << "\n    outer loop\n";
        for (GeometryIndex i : {f.V0, f.V1, f.V2})
            os << "      vertex " << double(v[i].x) << " " << double(v[i].y) << " " << double(v[i].z) << "\n";
        os << "    endloop\n  endfacet\n";
    }
    os << "endsolid " << name << "\n";
    os.flags(flags);
    os.precision(precision);
}

#define TARVO_INSTANTIATE_WRITERS(T)                                                                          \
    template FacetManager<T> CopyFacets<T>(const FacetManager<T>&, const std::vector<Facet>&);                \
    template void WriteOFF<T>(std::ostream&, const FacetManager<T>&, const std::vector<Facet>&);              \
    template void WritePLY<T>(std::ostream&, const FacetManager<T>&, const std::vector<Facet>&);              \
    template void WriteStL<T>(std::ostream&, const FacetManager<T>&, const std::vector<Facet>&, const std::string&, \
                              bool);
TARVO_INSTANTIATE_WRITERS(float)
TARVO_INSTANTIATE_WRITERS(double)
#undef TARVO_INSTANTIATE_WRITERS

} // namespace geometry

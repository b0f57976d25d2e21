#include "geometry/GeometryReader.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "geometry/CoordValues.h"
#include "geometry/MeshReaders.h"
#include "geometry/Placement.h"
#include "geometry/Primitives.h"
#include "inifiles/IniValues.h"

namespace geometry {

namespace {

template <typename V>
V Get(const inifiles::TIniFileSection& section, const char* key) {
    V value{};
    inifiles::GetValue(section, key, value);
    return value;
}

template <typename V>
V GetOptional(const inifiles::TIniFileSection& section, const char* key, V value) {
    inifiles::ReadOptional(section, key, value);
    return value;
}

// The first of the given keys that the section has.
const char* FirstKey(const inifiles::TIniFileSection& section, std::initializer_list<const char*> keys) {
    for (const char* key : keys)
        if (section.HasVariable(key)) return key;
    return nullptr;
}

template <typename T>
bool ReadMeshFile(const inifiles::TIniFileSection& section, const TAffineTransform& transform,
                  std::uint32_t objectID, FacetManager<T>& store, bool invert) {
    using Reader = void (*)(const std::string&, const TAffineTransform&, std::uint32_t, FacetManager<T>&, bool);
    static const std::pair<const char*, Reader> formats[] = {
        {"StLFile", &ReadStL<T>}, {"OFFFile", &ReadOFF<T>}, {"PLYFile", &ReadPLY<T>}, {"TRIFile", &ReadTRI<T>}};
    for (const auto& [key, read] : formats) {
        if (const inifiles::TIniFileVariable* v = section.TryFindVariable(key)) {
            read(inifiles::MakePath(*v, v->GetValue()), transform, objectID, store, invert);
            return true;
        }
    }
    const inifiles::TIniFileVariable* vertexFile = section.TryFindVariable("VertexFile");
    if (vertexFile == nullptr) return false;
    const inifiles::TIniFileVariable& facetFile = section.FindVariable("FacetFile");
    ReadVertexFacetFiles(inifiles::MakePath(*vertexFile, vertexFile->GetValue()),
                         inifiles::MakePath(facetFile, facetFile.GetValue()),
                         GetOptional<SizeType>(section, "ObjectID", 1), transform, objectID, store, invert);
    return true;
}

template <typename T>
GeometryIndex AddCoordinate(MeshBuilder<T>& mesh, const TCoord<double>& p) {
    return mesh.AddVertex(p.x, p.y, p.z);
}

// A "Facet" subsection: one triangle from three vertex keys.
template <typename T>
void ReadFacetSection(const inifiles::TIniFileSection& facet, MeshBuilder<T>& mesh) {
    static const char* const keys[3][2] = {{"Vertex1", "VertexA"}, {"Vertex2", "VertexB"}, {"Vertex3", "VertexC"}};
    TCoord<double> corners[3];
    for (int k = 0; k < 3; ++k) {
        const char* key = FirstKey(facet, {keys[k][0], keys[k][1]});
        corners[k] = Get<TCoord<double>>(facet, key != nullptr ? key : keys[k][0]);
    }
    GeometryIndex v[3];
    if (mesh.IsInverted()) {
        for (int k = 2; k >= 0; --k) v[k] = AddCoordinate(mesh, corners[k]);
    } else {
        for (int k = 0; k < 3; ++k) v[k] = AddCoordinate(mesh, corners[k]);
    }
    mesh.AddTriangle(v[0], v[1], v[2]);
}

// "Facet" variable: a polygon over the inline vertices, cut into triangles that all
// share its first corner, from the last pair down to the first.
template <typename T>
void ReadPolygon(const inifiles::TIniFileVariable& variable, const std::vector<GeometryIndex>& vertices,
                 MeshBuilder<T>& mesh) {
    std::vector<GeometryIndex> corners;
    for (const std::string& piece : inifiles::Split(variable.GetValue(), ",; \t\r", false)) {
        SizeType index = 0;
        std::size_t used = 0;
        try {
            index = std::stoull(piece, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != piece.size() || piece[0] == '-')
            throw std::runtime_error("Problem getting Facet as list of indices: " + variable.GetValue());
        if (index >= vertices.size())
            throw std::runtime_error("Invalid vertex index in Facet: " + variable.GetValue());
        corners.push_back(vertices[index]);
    }
    if (corners.size() < 3) throw std::runtime_error("A Facet needs at least three vertices: " + variable.GetValue());
    for (std::size_t k = corners.size() - 2; k >= 1; --k) mesh.AddTriangle(corners[0], corners[k], corners[k + 1]);
}

template <typename T>
bool ReadInline(const inifiles::TIniFileSection& section, MeshBuilder<T>& mesh) {
    if (!section.HasSubsection("Facet") && !section.HasVariable("Facet")) return false;
    for (std::size_t i = 0; i < section.SubsectionCount(); ++i)
        if (section.Subsection(i).NameEquals("Facet")) ReadFacetSection(section.Subsection(i), mesh);
    std::vector<GeometryIndex> vertices;
    for (std::size_t i = 0; i < section.VariableCount(); ++i) {
        const inifiles::TIniFileVariable& v = section.Variable(i);
        if (v.NameEquals("Vertex")) {
            TCoord<double> p;
            GetValue(v, p);
            vertices.push_back(AddCoordinate(mesh, p));
        } else if (v.NameEquals("Facet")) {
            ReadPolygon(v, vertices, mesh);
        }
    }
    return true;
}

template <typename T>
void ReadPrimitive(const inifiles::TIniFileSection& section, MeshBuilder<T>& mesh) {
    const bool pyramidal = GetOptional(section, "Pyramidal", false);
    const bool elliptical = GetOptional(section, "Elliptical", false);
    const bool ellipsoid = GetOptional(section, "Ellipsoid", false);
    using C = TCoord<double>;
    if (elliptical || ellipsoid) {
        const int steps = GetOptional(section, "Steps", std::int32_t(20));
        const C center = GetOptional(section, "BaseCenter", C());
        const C h1 = Get<C>(section, "Side1") * 0.5, h2 = Get<C>(section, "Side2") * 0.5,
                h3 = Get<C>(section, "Side3") * 0.5;
        if (ellipsoid) AddEllipsoid(mesh, center, h1, h2, h3, steps);
        else AddEllipticalPrism(mesh, center, h1, h2, h3, steps, pyramidal);
        return;
    }
    C a, s1, s2;
    ReadParallelogram(section, a, s1, s2);
    const C s3 = section.HasVariable("Side3") ? Get<C>(section, "Side3") : Get<C>(section, "VertexD") - a;
    AddParallelepiped(mesh, a, s1, s2, s3, pyramidal);
}

} // namespace

void ReadParallelogram(const inifiles::TIniFileSection& section, TCoord<double>& a, TCoord<double>& side1,
                       TCoord<double>& side2) {
    using C = TCoord<double>;
    if (section.HasVariable("VertexB") || section.HasVariable("VertexC")) {
        a = Get<C>(section, "VertexA");
        side1 = Get<C>(section, "VertexB") - a;
        side2 = Get<C>(section, "VertexC") - a;
    } else {
        side1 = Get<C>(section, "Side1");
        side2 = Get<C>(section, "Side2");
        a = section.HasVariable("VertexA") ? Get<C>(section, "VertexA")
                                           : Get<C>(section, "BaseCenter") - (side1 + side2) * 0.5;
    }
}

template <typename T>
void ReadGeometry(const inifiles::TIniFileSection& section, const TAffineTransform& transform,
                  std::uint32_t objectID, FacetManager<T>& store, bool invert) {
    const TAffineTransform placed = transform * BuildPlacement(section, false);
    if (GetOptional(section, "Invert", false)) invert = !invert;
    bool nested = false;
    for (std::size_t i = 0; i < section.SubsectionCount(); ++i) {
        if (!section.Subsection(i).NameEquals("Geometry")) continue;
        ReadGeometry(section.Subsection(i), placed, objectID, store, invert);
        nested = true;
    }
    if (ReadMeshFile(section, placed, objectID, store, invert)) return;
    MeshBuilder<T> mesh(store, placed, objectID, invert);
    if (ReadInline(section, mesh) || nested) return;
    ReadPrimitive(section, mesh);
}

template void ReadGeometry<float>(const inifiles::TIniFileSection&, const TAffineTransform&, std::uint32_t,
                                  FacetManager<float>&, bool);
template void ReadGeometry<double>(const inifiles::TIniFileSection&, const TAffineTransform&, std::uint32_t,
                                   FacetManager<double>&, bool);

} // namespace geometry

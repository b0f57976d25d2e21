#include <stdexcept>
#include <vector>

#include "geometry/ByteSource.h"
#include "geometry/MeshReaders.h"
#include "geometry/TextParsing.h"

namespace geometry {

namespace {

// Splits at blanks and tabs; if that does not give exactly n fields, cuts the line
// into n columns of equal width. False if neither works.
bool SplitFields(std::string_view line, std::size_t n, std::vector<std::string_view>& fields) {
    fields.clear();
    std::string_view rest = line;
    for (std::string_view w = text::NextWord(rest); !w.empty(); w = text::NextWord(rest)) fields.push_back(w);
    if (fields.size() == n) return true;
    fields.clear();
    if (line.empty() || line.size() % n != 0) return false;
    const std::size_t width = line.size() / n;
    for (std::size_t i = 0; i < n; ++i) fields.push_back(line.substr(i * width, width));
    return true;
}

template <typename N>
bool ParseField(std::string_view field, N& out) {
    return text::ParseNumber(field, out) && text::AtEnd(field);
}

// A table line: comment removed, line ends trimmed; blanks inside are kept because
// fixed-width columns may be padded with them.
std::string_view TableLine(const std::string& buffer) {
    std::string_view line = text::StripComment(buffer);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == '\r' || line.front() == '\n')) line.remove_prefix(1);
    return line;
}

} // namespace

template <typename T>
void ReadTRI(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh) {
    ByteSource src(in);
    std::string buffer;
    while (src.ReadLine(buffer)) {
        const std::string_view line = text::Trim(text::StripComment(buffer));
        if (line.empty()) continue;
        std::string_view rest = line;
        T v[9];
        for (T& x : v)
            if (!text::ParseNumber(rest, x))
                throw std::runtime_error("Error parsing TRI file " + fileName + ": " + text::Printable(line));
        const GeometryIndex a = mesh.AddVertex(v[0], v[1], v[2]);
        const GeometryIndex b = mesh.AddVertex(v[3], v[4], v[5]);
        const GeometryIndex c = mesh.AddVertex(v[6], v[7], v[8]);
        mesh.AddTriangle(a, b, c);
    }
}

template <typename T>
void ReadVertexFacetTables(std::istream& vertices, const std::string& vertexFileName, std::istream& facets,
                           const std::string& facetFileName, std::uint64_t tableObjectID, MeshBuilder<T>& mesh) {
    std::vector<GeometryIndex> table;
    std::vector<std::string_view> fields;
    std::string buffer;
    ByteSource vsrc(vertices);
    while (vsrc.ReadLine(buffer)) {
        const std::string_view line = TableLine(buffer);
        if (text::AtEnd(line)) continue;
        T v[3];
        if (!SplitFields(line, 3, fields))
            throw std::runtime_error("Can't split line: " + text::Printable(line) + " while reading " + vertexFileName);
        for (int i = 0; i < 3; ++i)
            if (!ParseField(fields[i], v[i]))
                throw std::runtime_error("Error parsing vertex file " + vertexFileName + ": " + text::Printable(line));
        table.push_back(mesh.AddVertex(v[0], v[1], v[2]));
    }
    ByteSource fsrc(facets);
    while (fsrc.ReadLine(buffer)) {
        const std::string_view line = TableLine(buffer);
        if (text::AtEnd(line)) continue;
        if (!SplitFields(line, 4, fields))
            throw std::runtime_error("Can't split line: " + text::Printable(line) + " while reading " + facetFileName);
        std::uint64_t n[4];
        for (int i = 0; i < 4; ++i)
            if (!ParseField(fields[i], n[i]))
                throw std::runtime_error("Error parsing facet file " + facetFileName + ": " + text::Printable(line));
        if (n[0] != tableObjectID) continue;
        GeometryIndex corners[3];
        for (int i = 0; i < 3; ++i) {
            if (n[i + 1] < 1 || n[i + 1] > table.size()) throw std::out_of_range("invalid vector<T> subscript");
            corners[i] = table[n[i + 1] - 1];
        }
        mesh.AddTriangle(corners[0], corners[1], corners[2]);
    }
}

#define TARVO_INSTANTIATE_TABLE_READERS(T)                                                                    \
    template void ReadTRI<T>(std::istream&, const std::string&, MeshBuilder<T>&);                             \
    template void ReadVertexFacetTables<T>(std::istream&, const std::string&, std::istream&, const std::string&, \
                                           std::uint64_t, MeshBuilder<T>&);
TARVO_INSTANTIATE_TABLE_READERS(float)
TARVO_INSTANTIATE_TABLE_READERS(double)
#undef TARVO_INSTANTIATE_TABLE_READERS

} // namespace geometry

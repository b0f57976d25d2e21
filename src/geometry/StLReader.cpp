#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "geometry/ByteSource.h"
#include "geometry/MeshReaders.h"
#include "geometry/TextParsing.h"

namespace geometry {

namespace {

constexpr std::size_t HeaderSize = 80;
constexpr std::size_t FacetRecordSize = 50;

bool IsPrintable(int c) { return std::isprint(c) != 0 || c == '\t'; }

template <typename T>
void ReadBinaryBody(ByteSource& src, const std::string& fileName, MeshBuilder<T>& mesh) {
    const std::string error = "Error reading binary StL file " + fileName;
    unsigned char countBytes[4];
    if (!src.Read(countBytes, 4)) throw std::runtime_error(error);
    const std::uint32_t count = std::uint32_t(countBytes[0]) | (std::uint32_t(countBytes[1]) << 8) |
                                (std::uint32_t(countBytes[2]) << 16) | (std::uint32_t(countBytes[3]) << 24);
    // A closed mesh has about half as many vertices as facets.
    mesh.Reserve(count / 2 + 3, count);
    const bool swap = !HostIsLittleEndian();
    constexpr std::size_t Block = 1024;
    std::vector<unsigned char> buffer(Block * FacetRecordSize);
    for (std::uint32_t done = 0; done < count;) {
        const std::size_t n = std::min<std::size_t>(Block, count - done);
        if (!src.Read(buffer.data(), n * FacetRecordSize)) throw std::runtime_error(error);
        for (std::size_t i = 0; i < n; ++i) {
            float v[9];
            std::memcpy(v, buffer.data() + i * FacetRecordSize + 12, sizeof(v));
            if (swap)
                for (float& x : v) SwapBytes(&x, sizeof(x));
            const GeometryIndex a = mesh.AddVertex(v[0], v[1], v[2]);
            const GeometryIndex b = mesh.AddVertex(v[3], v[4], v[5]);
            const GeometryIndex c = mesh.AddVertex(v[6], v[7], v[8]);
            mesh.AddTriangle(a, b, c);
        }
        done += static_cast<std::uint32_t>(n);
    }
}

bool IsEndSolid(std::string_view line) {
    return text::StartsWithNoCase(line, "endsolid") || text::StartsWithNoCase(line, "end solid");
}

// Reads the next non-empty trimmed line; false at the end of input.
bool NextLine(ByteSource& src, std::string& buffer, std::string_view& line) {
    while (src.ReadLine(buffer)) {
        line = text::Trim(buffer);
        if (!line.empty()) return true;
    }
    return false;
}

template <typename T>
void ReadAsciiBody(ByteSource& src, const std::string& fileName, MeshBuilder<T>& mesh) {
    std::string buffer;
    std::string_view line;
    auto next = [&]() {
        if (!NextLine(src, buffer, line)) throw std::runtime_error("Unexpected end of ASCII StL file " + fileName);
    };
    auto expect = [&](std::string_view a, std::string_view b) {
        next();
        if (!text::StartsWithNoCase(line, a) && (b.empty() || !text::StartsWithNoCase(line, b)))
            throw std::runtime_error("Error parsing facet from ASCII StL file " + fileName + ": " + text::Printable(line));
    };
    for (;;) {
        next();
        if (IsEndSolid(line)) return;
        if (!text::StartsWithNoCase(line, "facet normal"))
            throw std::runtime_error("Error parsing ASCII StL file " + fileName + ": " + text::Printable(line));
        expect("outer loop", "");
        GeometryIndex corners[3];
        for (GeometryIndex& corner : corners) {
            next();
            std::string_view rest = line.substr(std::min<std::size_t>(line.size(), 6));
            T x, y, z;
            if (!text::StartsWithNoCase(line, "vertex") || rest.empty() || !text::IsBlank(rest[0]) ||
                !text::ParseNumber(rest, x) ||
                !text::ParseNumber(rest, y) || !text::ParseNumber(rest, z) || !text::AtEnd(rest))
                throw std::runtime_error("Error parsing vertex from ASCII StL file " + fileName + ": " +
                                         text::Printable(line));
            corner = mesh.AddVertex(x, y, z);
        }
        expect("endloop", "end loop");
        expect("endfacet", "end facet");
        mesh.AddTriangle(corners[0], corners[1], corners[2]);
    }
}

} // namespace

template <typename T>
void ReadStL(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh) {
    ByteSource src(in);
    std::string head(HeaderSize, '\0');
    if (!src.Read(&head[0], 5)) throw std::runtime_error("Error reading binary StL file " + fileName);
    if (!text::EqualsNoCase(head.substr(0, 5), "solid")) {
        if (!src.Read(&head[5], HeaderSize - 5)) throw std::runtime_error("Error reading binary StL file " + fileName);
        ReadBinaryBody(src, fileName, mesh);
        return;
    }
    head.resize(5);
    // A binary header may begin with "solid" too: the first byte that cannot occur
    // in text decides.
    for (int c = src.Get(); c >= 0 && c != '\n'; c = src.Get()) {
        head.push_back(static_cast<char>(c));
        if (c == '\r' || IsPrintable(c)) continue;
        if (head.size() <= HeaderSize) {
            std::string rest(HeaderSize - head.size(), '\0');
            if (!src.Read(&rest[0], rest.size())) throw std::runtime_error("Error reading binary StL file " + fileName);
        } else {
            src.Unread(head.substr(HeaderSize));
        }
        ReadBinaryBody(src, fileName, mesh);
        return;
    }
    ReadAsciiBody(src, fileName, mesh);
}

template void ReadStL<float>(std::istream&, const std::string&, MeshBuilder<float>&);
template void ReadStL<double>(std::istream&, const std::string&, MeshBuilder<double>&);

} // namespace geometry

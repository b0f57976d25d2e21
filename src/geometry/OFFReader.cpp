#include <algorithm>
#include <stdexcept>
#include <vector>

#include "geometry/ByteSource.h"
#include "geometry/MeshReaders.h"
#include "geometry/TextParsing.h"

namespace geometry {

namespace {

// Next line with its comment removed that is not blank; false at the end of input.
bool NextContentLine(ByteSource& src, std::string& buffer, std::string_view& line) {
    while (src.ReadLine(buffer)) {
        line = text::Trim(text::StripComment(buffer));
        if (!line.empty()) return true;
    }
    return false;
}

} // namespace

template <typename T>
void ReadOFF(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh) {
    ByteSource src(in);
    std::string buffer;
    std::string_view line;
    auto fail = [&](std::string_view what) {
        throw std::runtime_error("Error parsing OFF file " + fileName + ": " + text::Printable(what));
    };
    auto next = [&]() {
        if (!NextContentLine(src, buffer, line)) fail("unexpected end of file");
    };
    if (!src.ReadLine(buffer)) throw std::runtime_error("Not an OFF file: " + fileName);
    std::string_view first = text::Trim(buffer);
    std::size_t keyword = 0;
    if (first.compare(0, 3, "OFF") == 0) keyword = 3;
    else if (first.compare(0, 4, "COFF") == 0) keyword = 4;
    else throw std::runtime_error("Not an OFF file: " + fileName);
    // Some writers put the counts on the keyword line.
    line = text::Trim(text::StripComment(first.substr(keyword)));
    if (line.empty()) next();
    std::uint64_t vertexCount = 0, faceCount = 0;
    {
        std::string_view rest = line;
        if (!text::ParseNumber(rest, vertexCount) || !text::ParseNumber(rest, faceCount)) fail(line);
    }
    mesh.Reserve(vertexCount, faceCount);
    std::vector<GeometryIndex> indices;
    indices.reserve(mesh.CappedReservation(vertexCount));
    for (std::uint64_t i = 0; i < vertexCount; ++i) {
        next();
        std::string_view rest = line;
        T x, y, z;
        if (!text::ParseNumber(rest, x) || !text::ParseNumber(rest, y) || !text::ParseNumber(rest, z)) fail(line);
        indices.push_back(mesh.AddVertex(x, y, z));
    }
    std::vector<GeometryIndex> corners;
    for (std::uint64_t i = 0; i < faceCount; ++i) {
        next();
        std::string_view rest = line;
        std::uint64_t n = 0;
        if (!text::ParseNumber(rest, n) || n < 3) fail(line);
        corners.clear();
        for (std::uint64_t k = 0; k < n; ++k) {
            std::int64_t index = 0;
            if (!text::ParseNumber(rest, index)) fail(line);
            if (index < 0 || static_cast<std::uint64_t>(index) >= indices.size())
                throw std::runtime_error("Invalid vertex index in file " + fileName);
            corners.push_back(indices[static_cast<std::size_t>(index)]);
        }
        mesh.AddFan(corners.data(), corners.size());
    }
}

template void ReadOFF<float>(std::istream&, const std::string&, MeshBuilder<float>&);
template void ReadOFF<double>(std::istream&, const std::string&, MeshBuilder<double>&);

} // namespace geometry

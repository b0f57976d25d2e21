#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "geometry/ByteSource.h"
#include "geometry/MeshReaders.h"
#include "geometry/TextParsing.h"

namespace geometry {

int ParsePlyPropertyType(const std::string& name) {
    static const char* const names[][2] = {{"char", "int8"},    {"uchar", "uint8"},   {"short", "int16"},
                                           {"ushort", "uint16"}, {"int", "int32"},     {"uint", "uint32"},
                                           {"long", "int64"},    {"ulong", "uint64"},  {"float", "float32"},
                                           {"double", "float64"}};
    for (int code = 1; code <= 10; ++code)
        if (name == names[code - 1][0] || name == names[code - 1][1]) return code;
    if (name == "list") return PlyListType;
    throw std::runtime_error("Error parsing PLY property type: " + name);
}

std::size_t PlyPropertySize(int code) {
    static const std::size_t sizes[] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
    if (code < 1 || code > 10)
        throw std::runtime_error("Don't know size of this PLY property type: " + std::to_string(code));
    return sizes[code - 1];
}

namespace {

enum TypeCode { Int8 = 1, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float32, Float64 };

struct Property {
    std::string Name;
    int Type = 0;       // value type, or index type of a list
    int CountType = 0;  // non-zero for a list
};

struct Element {
    std::string Name;
    std::uint64_t Count = 0;
    std::vector<Property> Properties;
};

enum class Encoding { Ascii, Little, Big };

// Decodes one value of a declared type from the body, in either encoding.
class ValueReader {
public:
    ValueReader(ByteSource& src, Encoding encoding, const std::string& fileName)
        : Src(src), Ascii(encoding == Encoding::Ascii),
          Swap(!Ascii && (encoding == Encoding::Little) != HostIsLittleEndian()), FileName(fileName) {}

    void SetElement(const std::string& name) { ElementName = name; }

    [[noreturn]] void Fail() const {
        throw std::runtime_error("Error parsing " + ElementName + " in PLY file " + FileName);
    }
    [[noreturn]] void ConversionFailed() const {
        throw std::runtime_error("Conversion failed in " + ElementName + " in PLY file " + FileName);
    }

    // Integral value of an integer property, or of a float property holding a whole number.
    std::int64_t ReadInteger(int type) {
        if (type == Float32 || type == Float64) {
            const double d = ReadReal<double>(type);
            if (!(d >= -9.2e18 && d <= 9.2e18) || d != static_cast<double>(static_cast<std::int64_t>(d)))
                ConversionFailed();
            return static_cast<std::int64_t>(d);
        }
        if (Ascii) return ParseAsciiInteger(type);
        unsigned char b[8];
        ReadBinary(b, PlyPropertySize(type));
        switch (type) {
        case Int8: return Load<std::int8_t>(b);
        case UInt8: return Load<std::uint8_t>(b);
        case Int16: return Load<std::int16_t>(b);
        case UInt16: return Load<std::uint16_t>(b);
        case Int32: return Load<std::int32_t>(b);
        case UInt32: return Load<std::uint32_t>(b);
        case Int64: return Load<std::int64_t>(b);
        default: {
            const auto u = Load<std::uint64_t>(b);
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) ConversionFailed();
            return static_cast<std::int64_t>(u);
        }
        }
    }

    template <typename N>
    N ReadReal(int type) {
        if (Ascii) {
            N value;
            std::string_view token = NextToken();
            if (!text::ParseNumber(token, value)) Fail();
            return value;
        }
        if (type != Float32 && type != Float64) return static_cast<N>(ReadInteger(type));
        unsigned char b[8];
        ReadBinary(b, PlyPropertySize(type));
        return type == Float32 ? static_cast<N>(Load<float>(b)) : static_cast<N>(Load<double>(b));
    }

    void Skip(int type) {
        if (Ascii) {
            NextToken();
            return;
        }
        unsigned char b[8];
        ReadBinary(b, PlyPropertySize(type));
    }

    // Count of a list property: non-negative and small enough to hold in memory.
    std::size_t ReadCount(int type) {
        const std::int64_t n = ReadInteger(type);
        if (n < 0 || n > std::numeric_limits<std::int32_t>::max()) ConversionFailed();
        return static_cast<std::size_t>(n);
    }

private:
    template <typename N>
    N Load(const unsigned char* b) const {
        N value;
        std::memcpy(&value, b, sizeof(N));
        return value;
    }

    void ReadBinary(unsigned char* b, std::size_t n) {
        if (!Src.Read(b, n)) Fail();
        if (Swap) SwapBytes(b, n);
    }

    std::string_view NextToken() {
        for (;;) {
            std::string_view word = text::NextWord(Rest);
            if (!word.empty()) return word;
            if (!Src.ReadLine(Line)) Fail();
            Rest = Line;
        }
    }

    std::int64_t ParseAsciiInteger(int type) {
        std::string_view token = NextToken();
        std::int64_t value = 0;
        if (type == UInt64) {
            std::uint64_t u = 0;
            if (!text::ParseNumber(token, u)) Fail();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) ConversionFailed();
            return static_cast<std::int64_t>(u);
        }
        if (!text::ParseNumber(token, value)) Fail();
        static const std::int64_t lo[] = {-128, 0, -32768, 0, std::numeric_limits<std::int32_t>::min(), 0,
                                          std::numeric_limits<std::int64_t>::min()};
        static const std::int64_t hi[] = {127, 255, 32767, 65535, std::numeric_limits<std::int32_t>::max(),
                                          std::numeric_limits<std::uint32_t>::max(),
                                          std::numeric_limits<std::int64_t>::max()};
        if (value < lo[type - 1] || value > hi[type - 1]) ConversionFailed();
        return value;
    }

    ByteSource& Src;
    bool Ascii;
    bool Swap;
    const std::string& FileName;
    std::string ElementName;
    std::string Line;
    std::string_view Rest;
};

struct Header {
    Encoding Body = Encoding::Ascii;
    std::vector<Element> Elements;
};

[[noreturn]] void HeaderError(const std::string& what, const std::string& fileName, const std::string& line) {
    throw std::runtime_error(text::Printable(what) + " in PLY file " + fileName + ": " + text::Printable(line));
}

Header ReadHeader(ByteSource& src, const std::string& fileName, const MessageSink& messages) {
    Header header;
    std::string buffer;
    if (!src.ReadLine(buffer) || text::Trim(buffer) != "ply") throw std::runtime_error("Not a PLY file: " + fileName);
    bool formatSeen = false;
    for (;;) {
        if (!src.ReadLine(buffer)) throw std::runtime_error("Unexpected end of header in PLY file " + fileName);
        const std::string line(text::Trim(buffer));
        auto fail = [&](const std::string& what) { HeaderError(what, fileName, line); };
        std::string_view rest = line;
        const std::string_view keyword = text::NextWord(rest);
        if (line.empty()) {
            messages("Empty line in PLY header\n", true);
        } else if (keyword == "comment" || keyword == "obj_info") {
        } else if (keyword == "format") {
            const std::string_view encoding = text::NextWord(rest);
            const std::string_view version = text::NextWord(rest);
            if (version.empty() || !text::AtEnd(rest)) fail("Error parsing format");
            if (encoding == "ascii") header.Body = Encoding::Ascii;
            else if (encoding == "binary_little_endian") header.Body = Encoding::Little;
            else if (encoding == "binary_big_endian") header.Body = Encoding::Big;
            else fail("Error parsing format");
            formatSeen = true;
        } else if (keyword == "element") {
            Element e;
            e.Name = std::string(text::NextWord(rest));
            if (e.Name.empty() || !text::ParseNumber(rest, e.Count) || !text::AtEnd(rest))
                fail("Error parsing element");
            header.Elements.push_back(e);
        } else if (keyword == "property") {
            if (header.Elements.empty()) fail("Property doesn't belong to any element");
            Property p;
            auto type = [&]() {
                const std::string name(text::NextWord(rest));
                if (name.empty()) fail("Error parsing property");
                try {
                    return ParsePlyPropertyType(name);
                } catch (const std::runtime_error& e) {
                    HeaderError(e.what(), fileName, line);
                }
            };
            p.Type = type();
            if (p.Type == PlyListType) {
                p.CountType = type();
                p.Type = type();
                if (p.CountType == PlyListType || p.Type == PlyListType) fail("Error parsing property");
            }
            p.Name = std::string(text::NextWord(rest));
            if (p.Name.empty() || !text::AtEnd(rest)) fail("Error parsing property");
            header.Elements.back().Properties.push_back(p);
        } else if (keyword == "end_header" && text::AtEnd(rest)) {
            break;
        } else {
            throw std::runtime_error("Unexpected line in PLY header: " + text::Printable(line) + " in PLY file " +
                                     fileName);
        }
    }
    if (!formatSeen) throw std::runtime_error("Error parsing format in PLY file " + fileName);
    return header;
}

int FindProperty(const Element& e, const char* name) {
    for (std::size_t i = 0; i < e.Properties.size(); ++i)
        if (e.Properties[i].Name == name && e.Properties[i].CountType == 0) return static_cast<int>(i);
    return -1;
}

bool IsIndexList(const Property& p) {
    return p.CountType != 0 && (p.Name == "vertex_indices" || p.Name == "vertex_index");
}

void SkipProperty(ValueReader& values, const Property& p) {
    if (p.CountType == 0) {
        values.Skip(p.Type);
        return;
    }
    const std::size_t n = values.ReadCount(p.CountType);
    for (std::size_t k = 0; k < n; ++k) values.Skip(p.Type);
}

template <typename T>
void ReadVertices(ValueReader& values, const Element& e, MeshBuilder<T>& mesh, std::vector<GeometryIndex>& table) {
    const int axes[3] = {FindProperty(e, "x"), FindProperty(e, "y"), FindProperty(e, "z")};
    if (axes[0] < 0 || axes[1] < 0 || axes[2] < 0) values.Fail();
    mesh.Reserve(e.Count, 0);
    table.reserve(table.size() + mesh.CappedReservation(e.Count));
    for (std::uint64_t i = 0; i < e.Count; ++i) {
        T c[3] = {0, 0, 0};
        for (std::size_t k = 0; k < e.Properties.size(); ++k) {
            const Property& p = e.Properties[k];
            const int axis = static_cast<int>(std::find(axes, axes + 3, static_cast<int>(k)) - axes);
            if (axis < 3) c[axis] = values.ReadReal<T>(p.Type);
            else SkipProperty(values, p);
        }
        table.push_back(mesh.AddVertex(c[0], c[1], c[2]));
    }
}

// Faces are polygons split into fans; strips give a triangle for every three
// consecutive indices, every second one reversed so that all keep the orientation
// of the first, and a negative index restarts the strip.
template <typename T>
void ReadPolygons(ValueReader& values, const Element& e, bool strips, const std::string& fileName,
                  MeshBuilder<T>& mesh, const std::vector<GeometryIndex>& table) {
    if (!strips) mesh.Reserve(0, e.Count);
    std::vector<GeometryIndex> corners;
    for (std::uint64_t i = 0; i < e.Count; ++i) {
        for (const Property& p : e.Properties) {
            if (!IsIndexList(p)) {
                SkipProperty(values, p);
                continue;
            }
            const std::size_t n = values.ReadCount(p.CountType);
            corners.clear();
            for (std::size_t k = 0; k < n; ++k) {
                const std::int64_t index = values.ReadInteger(p.Type);
                if (strips && index < 0) {
                    corners.clear();
                    continue;
                }
                if (index < 0 || static_cast<std::uint64_t>(index) >= table.size())
                    throw std::runtime_error("Invalid vertex index in file " + fileName);
                corners.push_back(table[static_cast<std::size_t>(index)]);
                if (strips && corners.size() >= 3) {
                    const std::size_t m = corners.size();
                    if (m % 2 == 1) mesh.AddTriangle(corners[m - 3], corners[m - 2], corners[m - 1]);
                    else mesh.AddTriangle(corners[m - 2], corners[m - 3], corners[m - 1]);
                }
            }
            if (!strips) {
                if (n < 3) values.Fail();
                mesh.AddFan(corners.data(), corners.size());
            }
        }
    }
}

} // namespace

template <typename T>
void ReadPLY(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh) {
    ByteSource src(in);
    const Header header = ReadHeader(src, fileName, mesh.GetStore().GetMessageSink());
    ValueReader values(src, header.Body, fileName);
    std::vector<GeometryIndex> table;
    bool verticesRead = false;
    for (const Element& e : header.Elements) {
        values.SetElement(e.Name);
        const bool faces = e.Name == "face";
        const bool strips = e.Name == "tristrips";
        if (e.Name == "vertex") {
            ReadVertices(values, e, mesh, table);
            verticesRead = true;
        } else if (faces || strips) {
            if (!verticesRead)
                throw std::runtime_error("Vertices must come before faces or triangle strips in PLY file " + fileName);
            ReadPolygons(values, e, strips, fileName, mesh, table);
        } else {
            for (std::uint64_t i = 0; i < e.Count; ++i)
                for (const Property& p : e.Properties) SkipProperty(values, p);
        }
    }
}

template void ReadPLY<float>(std::istream&, const std::string&, MeshBuilder<float>&);
template void ReadPLY<double>(std::istream&, const std::string&, MeshBuilder<double>&);

} // namespace geometry

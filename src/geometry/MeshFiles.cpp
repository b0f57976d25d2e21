#include <stdexcept>

#include "datafiles/XRTCStream.h"
#include "geometry/MeshReaders.h"

namespace geometry {

std::unique_ptr<std::istream> OpenMeshFile(const std::string& fileName) {
    auto in = std::make_unique<datafiles::XRTCStream>(fileName, std::ios::in);
    if (!in->is_open() || in->fail()) return nullptr;
    return in;
}

namespace {

// A file that cannot be opened is reported with the format's own error text.
std::unique_ptr<std::istream> OpenOrFail(const std::string& fileName, const std::string& error) {
    auto in = OpenMeshFile(fileName);
    if (!in) throw std::runtime_error(error + fileName);
    return in;
}

} // namespace

template <typename T>
void ReadStL(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    auto in = OpenOrFail(fileName, "Error reading binary StL file ");
    MeshBuilder<T> mesh(store, transform, objectID, invert);
    ReadStL(*in, fileName, mesh);
}

template <typename T>
void ReadOFF(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    auto in = OpenOrFail(fileName, "Not an OFF file: ");
    MeshBuilder<T> mesh(store, transform, objectID, invert);
    ReadOFF(*in, fileName, mesh);
}

template <typename T>
void ReadPLY(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    auto in = OpenOrFail(fileName, "Not a PLY file: ");
    MeshBuilder<T> mesh(store, transform, objectID, invert);
    ReadPLY(*in, fileName, mesh);
}

template <typename T>
void ReadTRI(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    auto in = OpenOrFail(fileName, "Error parsing TRI file ");
    MeshBuilder<T> mesh(store, transform, objectID, invert);
    ReadTRI(*in, fileName, mesh);
}

template <typename T>
void ReadVertexFacetFiles(const std::string& vertexFileName, const std::string& facetFileName,
                          std::uint64_t tableObjectID, const TAffineTransform& transform, std::uint32_t objectID,
                          FacetManager<T>& store, bool invert) {
    auto vertices = OpenOrFail(vertexFileName, "Can not open file for reading: ");
    auto facets = OpenOrFail(facetFileName, "Can not open file for reading: ");
    MeshBuilder<T> mesh(store, transform, objectID, invert);
    ReadVertexFacetTables(*vertices, vertexFileName, *facets, facetFileName, tableObjectID, mesh);
}

#define TARVO_INSTANTIATE_FILE_READERS(T)                                                                      \
    template void ReadStL<T>(const std::string&, const TAffineTransform&, std::uint32_t, FacetManager<T>&, bool); \
    template void ReadOFF<T>(const std::string&, const TAffineTransform&, std::uint32_t, FacetManager<T>&, bool); \
    template void ReadPLY<T>(const std::string&, const TAffineTransform&, std::uint32_t, FacetManager<T>&, bool); \
    template void ReadTRI<T>(const std::string&, const TAffineTransform&, std::uint32_t, FacetManager<T>&, bool); \
    template void ReadVertexFacetFiles<T>(const std::string&, const std::string&, std::uint64_t,                \
                                          const TAffineTransform&, std::uint32_t, FacetManager<T>&, bool);
TARVO_INSTANTIATE_FILE_READERS(float)
TARVO_INSTANTIATE_FILE_READERS(double)
#undef TARVO_INSTANTIATE_FILE_READERS

} // namespace geometry

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

template <typename T>
void ReadFile(void (*read)(std::istream&, const std::string&, MeshBuilder<T>&), const char* openError,
              const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
              FacetManager<T>& store, bool invert) {
    const auto in = OpenOrFail(fileName, openError);
    MeshBuilder<T> mesh(store, transform, objectID, invert);
    try {
        read(*in, fileName, mesh);
    } catch (const std::exception& e) {
        throw datafiles::NamingFile(e, fileName);
    }
}

} // namespace

template <typename T>
void ReadStL(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    ReadFile<T>(&ReadStL<T>, "Error reading binary StL file ", fileName, transform, objectID, store, invert);
}

template <typename T>
void ReadOFF(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    ReadFile<T>(&ReadOFF<T>, "Not an OFF file: ", fileName, transform, objectID, store, invert);
}

template <typename T>
void ReadPLY(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    ReadFile<T>(&ReadPLY<T>, "Not a PLY file: ", fileName, transform, objectID, store, invert);
}

template <typename T>
void ReadTRI(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert) {
    ReadFile<T>(&ReadTRI<T>, "Error parsing TRI file ", fileName, transform, objectID, store, invert);
}

template <typename T>
void ReadVertexFacetFiles(const std::string& vertexFileName, const std::string& facetFileName,
                          std::uint64_t tableObjectID, const TAffineTransform& transform, std::uint32_t objectID,
                          FacetManager<T>& store, bool invert) {
    const auto vertices = OpenOrFail(vertexFileName, "Can not open file for reading: ");
    const auto facets = OpenOrFail(facetFileName, "Can not open file for reading: ");
    MeshBuilder<T> mesh(store, transform, objectID, invert);
    try {
        ReadVertexFacetTables(*vertices, vertexFileName, *facets, facetFileName, tableObjectID, mesh);
    } catch (const std::exception& e) {
        // The table readers name the table of their errors; what remains (a vertex number
        // outside the table) belongs to the facets.
        if (std::string(e.what()).find(vertexFileName) != std::string::npos) throw;
        throw datafiles::NamingFile(e, facetFileName);
    }
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

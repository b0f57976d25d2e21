#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

#include "geometry/MeshBuilder.h"

namespace geometry {

// Opens a mesh or table file for reading; plain and compressed files are both accepted.
// Returns null when the file cannot be opened (each format reports that its own way).
std::unique_ptr<std::istream> OpenMeshFile(const std::string& fileName);

// Stream readers: fileName only names the source in error messages.
template <typename T>
void ReadStL(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh);
template <typename T>
void ReadOFF(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh);
template <typename T>
void ReadPLY(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh);
template <typename T>
void ReadTRI(std::istream& in, const std::string& fileName, MeshBuilder<T>& mesh);
// Facets of the table whose object number equals tableObjectID, corners numbered
// from 1 into the vertex table.
template <typename T>
void ReadVertexFacetTables(std::istream& vertices, const std::string& vertexFileName, std::istream& facets,
                           const std::string& facetFileName, std::uint64_t tableObjectID, MeshBuilder<T>& mesh);

// File readers: open the file and read it into the store.
template <typename T>
void ReadStL(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert);
template <typename T>
void ReadOFF(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert);
template <typename T>
void ReadPLY(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert);
template <typename T>
void ReadTRI(const std::string& fileName, const TAffineTransform& transform, std::uint32_t objectID,
             FacetManager<T>& store, bool invert);
template <typename T>
void ReadVertexFacetFiles(const std::string& vertexFileName, const std::string& facetFileName,
                          std::uint64_t tableObjectID, const TAffineTransform& transform, std::uint32_t objectID,
                          FacetManager<T>& store, bool invert);

} // namespace geometry

namespace geometry {

// PLY property types: codes 1..10 in the order char, uchar, short, ushort, int, uint,
// long, ulong, float, double (each also known by its sized name, int8 ... float64).
constexpr int PlyListType = 11;
int ParsePlyPropertyType(const std::string& name);
std::size_t PlyPropertySize(int code);

} // namespace geometry

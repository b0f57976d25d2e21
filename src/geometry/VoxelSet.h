#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "geometry/Coord.h"
#include "inifiles/IniFile.h"

namespace materials {
class TMaterial;
}

namespace geometry {

// A regular grid of material indices over the box Origin .. Origin + (XSize, YSize, ZSize),
// filled voxel by voxel and written as a VTK structured-points file.
class TVoxelSet {
public:
    static constexpr std::size_t MaxMaterials = 256;

    // Keys "Origin", "XSize", "YSize", "ZSize" (in the section's length unit) and
    // "DimX", "DimY", "DimZ".
    explicit TVoxelSet(const inifiles::TIniFileSection& section);
    TVoxelSet(const TCoord<double>& origin, const TCoord<double>& size, std::uint64_t dimX, std::uint64_t dimY,
              std::uint64_t dimZ);
    TVoxelSet(const TVoxelSet&) = delete;
    TVoxelSet& operator=(const TVoxelSet&) = delete;

    // May be called from several threads for distinct voxels; only entering a new
    // material into the table takes a lock.
    void SetVoxel(std::uint64_t x, std::uint64_t y, std::uint64_t z, const materials::TMaterial* material);
    // Enters the material into the table if it is new; returns its index.
    std::uint8_t AddMaterial(const materials::TMaterial* material) { return MaterialIndex(material); }
    std::uint8_t GetVoxel(std::uint64_t x, std::uint64_t y, std::uint64_t z) const;
    // The material table in index order.
    std::vector<const materials::TMaterial*> GetMaterials() const;

    void WriteVTK(const std::string& fileName) const;

    const TCoord<double>& GetOrigin() const { return Origin; }
    double GetXSize() const { return XSize; }
    double GetYSize() const { return YSize; }
    double GetZSize() const { return ZSize; }
    std::uint64_t GetDimX() const { return DimX; }
    std::uint64_t GetDimY() const { return DimY; }
    std::uint64_t GetDimZ() const { return DimZ; }

private:
    void Allocate();
    std::size_t Offset(std::uint64_t x, std::uint64_t y, std::uint64_t z) const;
    std::uint8_t MaterialIndex(const materials::TMaterial* material);

    // Fixed capacity, so readers can scan it without a lock while a writer appends.
    std::array<std::atomic<const materials::TMaterial*>, MaxMaterials> Materials{};
    std::atomic<std::size_t> MaterialCount{0};
    std::mutex MaterialsLock;
    TCoord<double> Origin;
    double XSize = 0, YSize = 0, ZSize = 0;
    std::uint64_t DimX = 0, DimY = 0, DimZ = 0;
    // DimZ slices of DimY rows of DimX columns: x fastest.
    std::vector<std::uint8_t> Voxels;
};

} // namespace geometry

#include "geometry/VoxelSet.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "datafiles/LegacyVTK.h"
#include "datafiles/ResultFile.h"
#include "geometry/CoordValues.h"
#include "inifiles/IniValues.h"

namespace geometry {

TVoxelSet::TVoxelSet(const inifiles::TIniFileSection& section) {
    const inifiles::LengthUnit unit = section.GetLengthUnit();
    inifiles::GetValue(section, "Origin", Origin);
    Origin = inifiles::ToInternalLength(Origin, unit);
    double* sizes[3] = {&XSize, &YSize, &ZSize};
    const char* sizeKeys[3] = {"XSize", "YSize", "ZSize"};
    for (int i = 0; i < 3; ++i) {
        inifiles::GetValue(section, sizeKeys[i], *sizes[i]);
        *sizes[i] = inifiles::ConvertLength(*sizes[i], unit, inifiles::LengthUnit::Centimetre);
    }
    inifiles::GetValue(section, "DimX", DimX);
    inifiles::GetValue(section, "DimY", DimY);
    inifiles::GetValue(section, "DimZ", DimZ);
    Allocate();
}

TVoxelSet::TVoxelSet(const TCoord<double>& origin, const TCoord<double>& size, std::uint64_t dimX,
                     std::uint64_t dimY, std::uint64_t dimZ)
    : Origin(origin), XSize(size.x), YSize(size.y), ZSize(size.z), DimX(dimX), DimY(dimY), DimZ(dimZ) {
    Allocate();
}

void TVoxelSet::Allocate() {
    const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    if (DimX == 0 || DimY == 0 || DimZ == 0 || DimX > limit || DimY > limit || DimZ > limit ||
        DimX * DimY > std::numeric_limits<std::size_t>::max() / DimZ)
        throw std::runtime_error("Invalid voxel set dimensions");
    Voxels.assign(DimX * DimY * DimZ, 0);
}

std::size_t TVoxelSet::Offset(std::uint64_t x, std::uint64_t y, std::uint64_t z) const {
    if (x >= DimX || y >= DimY || z >= DimZ) throw std::out_of_range("Index out of bounds");
    return static_cast<std::size_t>((z * DimY + y) * DimX + x);
}

std::uint8_t TVoxelSet::MaterialIndex(const materials::TMaterial* material) {
    auto find = [&](std::size_t count) -> std::size_t {
        for (std::size_t i = 0; i < count; ++i)
            if (Materials[i].load(std::memory_order_relaxed) == material) return i;
        return MaxMaterials;
    };
    std::size_t index = find(MaterialCount.load(std::memory_order_acquire));
    if (index < MaxMaterials) return static_cast<std::uint8_t>(index);
    std::lock_guard<std::mutex> lock(MaterialsLock);
    const std::size_t count = MaterialCount.load(std::memory_order_relaxed);
    index = find(count);
    if (index < MaxMaterials) return static_cast<std::uint8_t>(index);
    if (count >= MaxMaterials) throw std::runtime_error("Too many materials");
    Materials[count].store(material, std::memory_order_relaxed);
    MaterialCount.store(count + 1, std::memory_order_release);
    return static_cast<std::uint8_t>(count);
}

void TVoxelSet::SetVoxel(std::uint64_t x, std::uint64_t y, std::uint64_t z, const materials::TMaterial* material) {
    const std::size_t offset = Offset(x, y, z);
    Voxels[offset] = MaterialIndex(material);
}

std::uint8_t TVoxelSet::GetVoxel(std::uint64_t x, std::uint64_t y, std::uint64_t z) const {
    return Voxels[Offset(x, y, z)];
}

std::vector<const materials::TMaterial*> TVoxelSet::GetMaterials() const {
    std::vector<const materials::TMaterial*> result;
    const std::size_t count = MaterialCount.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < count; ++i) result.push_back(Materials[i].load(std::memory_order_relaxed));
    return result;
}

void TVoxelSet::WriteVTK(const std::string& fileName) const {
    // One point per voxel centre, so that the data are the voxels' own values.
    const TCoord<double> d(XSize / DimX, YSize / DimY, ZSize / DimZ);
    const TCoord<double> first = Origin + d * 0.5;
    datafiles::VTKGrid grid;
    grid.Dimensions[0] = DimX;
    grid.Dimensions[1] = DimY;
    grid.Dimensions[2] = DimZ;
    const double origin[3] = {first.x, first.y, first.z}, spacing[3] = {d.x, d.y, d.z};
    std::copy(origin, origin + 3, grid.Origin);
    std::copy(spacing, spacing + 3, grid.Spacing);
    datafiles::WriteReplacing(fileName, [&](const std::string& temporary) {
        std::ofstream out(temporary, std::ios::binary);
        if (!out.is_open())
            throw std::runtime_error("Couldn't open \"" + fileName + "\" for writing");
        datafiles::LegacyVTKWriter writer(out, "Tarvo VoxelSet", grid,
                                          datafiles::LegacyVTKWriter::Attachment::Points);
        writer.WriteScalars("Material", Voxels.data());
        out.flush();
        if (!out)
            throw std::runtime_error("Error writing " + fileName);
    });
}

} // namespace geometry

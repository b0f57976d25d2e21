#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/FacetManager.h"
#include "geometry/Messages.h"
#include "geometry/VoxelSet.h"

class TTraceableObject;

namespace materials {
class TMaterial;
}

namespace geometry {

// A part as the voxeliser sees it; a null material (a void part) fills nothing.
struct VoxelPart {
    std::uint32_t ObjectID = 0;
    const materials::TMaterial* Material = nullptr;
    std::string MaterialName;
};

// Fills every voxel of the set with the material of the part that owns the voxel's
// centre, overlaps resolved by priority (objects indexed by ObjectID). Index 0 is no
// material, the parts' materials follow in part order; the table is printed, and
// columns where a part's surface is open are reported with that part left out.
template <typename T>
void Voxelize(TVoxelSet& set, const FacetManager<T>& store, const std::vector<TTraceableObject*>& objects,
              const std::vector<VoxelPart>& parts, const MessageSink& messages);

} // namespace geometry

#include "geometry/Voxelizer.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "geometry/Rasterizer.h"
#include "geometry/SceneObjects.h"

namespace geometry {

namespace {

// One line per open column, or a summary line when there are many.
void ReportOpenColumns(std::vector<std::int64_t> open, const TVoxelSet& set, const MessageSink& messages) {
    if (open.empty())
        return;
    std::sort(open.begin(), open.end());
    open.erase(std::unique(open.begin(), open.end()), open.end());
    const std::int64_t dimX = std::int64_t(set.GetDimX()), dimY = std::int64_t(set.GetDimY());
    auto column = [&](std::int64_t index) { return index % dimX; };
    auto row = [&](std::int64_t index) { return dimY - 1 - index / dimX; };
    std::ostringstream text;
    if (open.size() <= 10) {
        for (std::int64_t index : open)
            text << "Not a closed surface at (" << column(index) << ", " << row(index) << ")!\n";
    } else {
        std::int64_t c0 = column(open[0]), c1 = c0;
        for (std::int64_t index : open)
            c0 = std::min(c0, column(index)), c1 = std::max(c1, column(index));
        text << "Not a closed surface at " << open.size() << " pixels in rows " << row(open.back()) << "-"
             << row(open.front()) << ", columns " << c0 << "-" << c1 << "!\n";
    }
    messages(text.str(), false);
}

} // namespace

template <typename T>
void Voxelize(TVoxelSet& set, const FacetManager<T>& store, const std::vector<TTraceableObject*>& objects,
              const std::vector<VoxelPart>& parts, const MessageSink& messages) {
    if (store.GetFacets().size() > std::size_t(std::numeric_limits<std::int32_t>::max()))
        throw std::runtime_error("Conversion failed");
    // The table is fixed before the parallel pass, so indices do not depend on timing.
    set.AddMaterial(nullptr);
    RasterObjects raster;
    raster.Objects = objects;
    raster.Channels.assign(objects.size(), -1);
    raster.ChannelCount = TVoxelSet::MaxMaterials;
    std::vector<std::string> names{"none"};
    for (const VoxelPart& part : parts) {
        const std::uint8_t index = set.AddMaterial(part.Material);
        if (index >= names.size()) {
            names.resize(index + 1u);
            names[index] = part.MaterialName;
        }
        if (part.ObjectID < raster.Channels.size())
            raster.Channels[part.ObjectID] = index;
    }
    std::ostringstream table;
    table << "Voxel set materials:\n";
    for (std::size_t i = 0; i < names.size(); ++i)
        table << "   " << i << ": " << names[i] << '\n';
    messages(table.str(), false);

    const std::vector<const materials::TMaterial*> materials = set.GetMaterials();
    const std::vector<std::int32_t>& channels = raster.Channels;
    const TCoord<double> origin = set.GetOrigin();
    const TCoord<double> scale(double(set.GetDimX()) / set.GetXSize(), double(set.GetDimY()) / set.GetYSize(),
                               double(set.GetDimZ()) / set.GetZSize());
    const std::int64_t dimZ = std::int64_t(set.GetDimZ());
    std::vector<std::int64_t> open;
    const Rasterizer<T> rasterizer(store, raster);
    rasterizer.CastColumns(
        [&](const TCoord<double>& p) {
            return TCoord<double>((p.x - origin.x) * scale.x, (p.y - origin.y) * scale.y,
                                  (p.z - origin.z) * scale.z);
        },
        std::int64_t(set.GetDimX()), std::int64_t(set.GetDimY()),
        [&](std::int64_t column, std::int64_t row, const std::vector<Segment>& segments) {
            // Voxel k takes the segment that holds its centre: From <= k + 1/2 < To.
            auto voxelAt = [&](double z) {
                return std::int64_t(std::ceil(std::clamp(z - 0.5, 0.0, double(dimZ))));
            };
            std::int64_t k = 0;
            for (const Segment& s : segments) {
                const std::int64_t first = std::max(k, voxelAt(s.From)), end = voxelAt(s.To);
                for (; k < first; ++k)
                    set.SetVoxel(column, row, k, nullptr);
                const materials::TMaterial* material = materials[std::size_t(channels[s.Object->ObjectID])];
                for (; k < end; ++k)
                    set.SetVoxel(column, row, k, material);
            }
            for (; k < dimZ; ++k)
                set.SetVoxel(column, row, k, nullptr);
        },
        [&](std::int64_t column, std::int64_t row, std::uint32_t) {
#pragma omp critical(VoxelizerOpenColumns)
            open.push_back(row * std::int64_t(set.GetDimX()) + column);
        });
    ReportOpenColumns(std::move(open), set, messages);
}

template void Voxelize<float>(TVoxelSet&, const FacetManager<float>&, const std::vector<TTraceableObject*>&,
                              const std::vector<VoxelPart>&, const MessageSink&);
template void Voxelize<double>(TVoxelSet&, const FacetManager<double>&, const std::vector<TTraceableObject*>&,
                               const std::vector<VoxelPart>&, const MessageSink&);

} // namespace geometry

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "common/TestUtil.h"
#include "geometry/VoxelSet.h"
#include "materials/TestErrors.h"

using namespace geometry;

namespace {

const materials::TMaterial* Material(std::size_t i) {
    static char storage[300];
    return reinterpret_cast<const materials::TMaterial*>(&storage[i]);
}

} // namespace

TEST(VoxelSet, SingleVoxelWritesOneByteAndTheBoxCentre) {
    inifiles::TIniFileStructure tree;
    std::istringstream in("[VoxelSet]\nLengthUnit = mm\nOrigin = (10, 20, 30)\nXSize = 10\nYSize = 20\nZSize = 40\n"
                          "DimX = 1\nDimY = 1\nDimZ = 1\n[EndVoxelSet]\n");
    tree.Read(in);
    TVoxelSet set(tree.Section(0));
    set.SetVoxel(0, 0, 0, Material(0));
    set.SetVoxel(0, 0, 0, Material(1));
    testutil::TempDir dir;
    set.WriteVTK(dir.File("v.vtk"));
    EXPECT_EQ(testutil::ReadFile(dir.File("v.vtk")),
              std::string("# vtk DataFile Version 2.0\nTarvo VoxelSet\nBINARY\nDATASET STRUCTURED_POINTS\n"
                          "DIMENSIONS 1 1 1\nORIGIN 1.5 3 5\nSPACING 1 2 4\nPOINT_DATA 1\n"
                          "SCALARS Material unsigned_char 1\nLOOKUP_TABLE default\n\x01\n"));
}

TEST(VoxelSet, DataRunsXFastestThenYThenZ) {
    TVoxelSet set({0, 0, 0}, {3, 2, 2}, 3, 2, 2);
    set.SetVoxel(1, 0, 0, Material(5));
    set.SetVoxel(0, 1, 0, Material(6));
    set.SetVoxel(0, 0, 1, Material(7));
    EXPECT_EQ(set.GetVoxel(0, 0, 1), 2);  // table index: the third material entered
    testutil::TempDir dir;
    set.WriteVTK(dir.File("v.vtk"));
    const std::string file = testutil::ReadFile(dir.File("v.vtk"));
    EXPECT_EQ(file.substr(file.size() - 13), std::string("\0\0\0\1\0\0\2\0\0\0\0\0\n", 13));
    EXPECT_THROW(set.SetVoxel(3, 0, 0, Material(0)), std::out_of_range);
    EXPECT_THROW(set.WriteVTK(dir.File("missing/v.vtk")), std::runtime_error);
}

TEST(VoxelSet, MaterialTableIsSharedByThreadsAndLimitedTo256) {
    TVoxelSet set({0, 0, 0}, {1, 1, 1}, 16, 16, 4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&set, t] {
            for (std::uint64_t y = 0; y < 16; ++y)
                for (std::uint64_t x = 0; x < 16; ++x) set.SetVoxel(x, y, t, Material((x + 16 * y) % 200));
        });
    for (auto& th : threads) th.join();
    const auto table = set.GetMaterials();
    ASSERT_EQ(table.size(), 200u);
    for (std::uint64_t z = 0; z < 4; ++z)
        for (std::uint64_t y = 0; y < 16; ++y)
            for (std::uint64_t x = 0; x < 16; ++x) ASSERT_EQ(table[set.GetVoxel(x, y, z)], Material((x + 16 * y) % 200));
    for (std::size_t i = 200; i < 256; ++i) set.SetVoxel(0, 0, 0, Material(i));
    EXPECT_EQ(ErrorOf([&] { set.SetVoxel(0, 0, 0, Material(256)); }), "Too many materials");
}

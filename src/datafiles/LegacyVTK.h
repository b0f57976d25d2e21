#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace datafiles {

// A regular grid as a legacy VTK file sees it: the numbers of points along x, y and z
// (cells are one fewer), and either an axis-aligned lattice (origin and spacing,
// written as STRUCTURED_POINTS) or every point explicitly (STRUCTURED_GRID).
struct VTKGrid {
    std::uint64_t Dimensions[3] = {1, 1, 1};
    double Origin[3] = {0, 0, 0};
    double Spacing[3] = {1, 1, 1};
    // x y z of every point, x fastest, then y, then z; empty: the lattice above.
    std::vector<double> Points;
    // The explicit points as doubles instead of floats.
    bool DoublePoints = false;
};

// Writes a binary legacy VTK file (version 2.0): header, title line, geometry, then
// data arrays of one kind (cell or point data). Binary values go out big-endian and
// each binary block ends with a line feed, which readers expect before the next
// keyword. Numbers in the text lines are written so that they read back exactly.
class LegacyVTKWriter {
public:
    enum class Attachment { Cells, Points };

    LegacyVTKWriter(std::ostream& os, const std::string& title, const VTKGrid& grid, Attachment attachment);

    // One byte per value (material indices).
    void WriteScalars(const std::string& name, const std::uint8_t* values);
    // `components` values per cell or point, as float or double. Up to four components
    // are SCALARS; more are a FIELD array, since readers reject SCALARS of more.
    void WriteValues(const std::string& name, const double* values, std::size_t components, bool asDouble);

private:
    std::ostream& Out;
    std::uint64_t Count = 0;
};

// The shortest text that reads back as exactly this double.
std::string RoundTrip(double value);
// The shortest text that reads back as exactly this float.
std::string RoundTrip(float value);

} // namespace datafiles

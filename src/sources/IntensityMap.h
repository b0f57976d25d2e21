#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Emission weights over a source's face, rows first with row 0 at the face's +y
// edge, scaled to mean 1 so that a map changes where particles carry weight, not the
// total.
struct IntensityMap {
    std::size_t Rows = 0;
    std::size_t Columns = 0;
    std::vector<double> Values;

    // The entry under the unit-face point (x, y), both in [-1/2, 1/2].
    double At(double x, double y) const {
        std::size_t column = static_cast<std::size_t>((x + 0.5) * static_cast<double>(Columns));
        std::size_t row = static_cast<std::size_t>((0.5 - y) * static_cast<double>(Rows));
        if (column >= Columns)
            column = Columns - 1;
        if (row >= Rows)
            row = Rows - 1;
        return Values[row * Columns + column];
    }
};

// Reads a map as a TIFF image, else as a headerless raw image whose name describes
// it: "<name>[.LE|.BE].<type><rows>x<columns>.raw" (or ".bin"), with the type codes
// f, d, s, u8_, i8_, i16_, u16_, u32_, i32_. Note that the name gives rows first,
// unlike the width-first names of detector images. A file longer than its layout
// sends a warning to `warn`; errors name the file.
IntensityMap ReadIntensityMap(const std::string& fileName,
                              const std::function<void(const std::string&)>& warn);

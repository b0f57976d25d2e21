#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "datafiles/ImageTypes.h"

// How the run writes detector images; filled from the simulation parameters.
struct ImageWriterOptions {
    bool Compress = false; // TXT, Vimo and PGM images as .xrc
    ImageType Type = ImageType::TIFF;
    PixelType Pixels = PixelType::Default;
    // Factors applied to count, energy and relative-error images.
    double CountScale = 1;
    double EnergyScale = 1;
    double ErrorScale = 1;
    // TIFF tags: Software (the version banner) and ImageDescription (particles, seed).
    std::string Software = "Tarvo";
    std::string Description;
    // Non-fatal notes, such as values clamped into 16 bits; standard error when empty.
    std::function<void(const std::string&)> Warn;
};

// Uniform read access to the pixels of a matrix, rows from the top.
class PixelAccessor {
public:
    virtual ~PixelAccessor() = default;
    virtual std::uint64_t Rows() const = 0;
    virtual std::uint64_t Columns() const = 0;
    virtual double Value(std::uint64_t row, std::uint64_t column) const = 0;
};

// A row-major array of numbers (thickness maps, radiographs).
template <typename T> class ImageAccessor : public PixelAccessor {
public:
    ImageAccessor(const T* data, std::uint64_t rows, std::uint64_t columns)
        : Data(data), RowCount(rows), ColumnCount(columns) {}
    std::uint64_t Rows() const override { return RowCount; }
    std::uint64_t Columns() const override { return ColumnCount; }
    double Value(std::uint64_t row, std::uint64_t column) const override {
        return double(Data[row * ColumnCount + column]);
    }

private:
    const T* Data;
    std::uint64_t RowCount, ColumnCount;
};

// Where and how one image goes: the class name (result prefix and suffixes), the
// factor for its values, the pixel type of binary formats, and pixels per centimetre.
struct ImageFile {
    std::string ClassName;
    double Scale = 1;
    PixelType Pixels = PixelType::Default;
    double XResolution = 10;
    double YResolution = 10;
};

// The name the image gets: ClassName + "." + extension (RAW: type letter, columns,
// "x", rows, ".raw"), + ".xrc" for compressed text formats.
std::string ImageFileName(const ImageFile& file, const ImageWriterOptions& options, std::uint64_t rows,
                          std::uint64_t columns);
// Writes the image (nothing for ImageType None) through a temporary file renamed
// into place; errors name the file. 16-bit pixels are clamped to 0 .. 65535 (NaN to
// 0) with one warning per file.
void WriteImage(const PixelAccessor& image, const ImageFile& file, const ImageWriterOptions& options);

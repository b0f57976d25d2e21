#pragma once

// Single-channel TIFF images: a writer for 64-bit float, 32-bit float and
// 16-bit unsigned images (classic TIFF, or BigTIFF when the classic format
// cannot hold the file) and a reader for grayscale images (uncompressed, LZW
// or PackBits, horizontal predictor, integer and float samples, either byte
// order). Errors are std::runtime_error carrying the user-visible text.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace TIFF {

// The classic format cannot hold the file; WriteTIFF then writes BigTIFF.
class FileSizeException : public std::runtime_error {
public:
    FileSizeException() : std::runtime_error("Image too large") {}
};

enum class ByteOrder { Native, LittleEndian, BigEndian };

// A grayscale image, rows from the top, `width` pixels per row.
template <class T> struct Image {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<T> pixels;

    T& operator()(std::size_t row, std::size_t column) { return pixels[row * width + column]; }
    const T& operator()(std::size_t row, std::size_t column) const { return pixels[row * width + column]; }
};

// Optional description data; empty strings are not written.
struct Description {
    std::string software;
    std::string documentName;
    std::string imageDescription;
    double xResolution = 10.0; // pixels per centimetre
    double yResolution = 10.0;
    ByteOrder byteOrder = ByteOrder::Native; // only the machine's order can be written
};

// Largest size a classic TIFF file may reach (32-bit offsets). Tests lower it
// to exercise BigTIFF without writing 4 GiB.
constexpr std::uint64_t kClassicLimit = std::numeric_limits<std::uint32_t>::max();

// Writes `pixels` (height rows of width values) as one image: classic TIFF
// when the whole file fits `classicLimit` bytes, BigTIFF otherwise. T is
// double, float or std::uint16_t. Throws "Empty image", "Unsupported byte
// order", "Error writing image" and the DateTime errors.
template <class T>
void WriteTIFF(const T* pixels, std::size_t width, std::size_t height, std::ostream& out,
               const Description& description = Description(), std::uint64_t classicLimit = kClassicLimit);
template <class T>
void WriteTIFF(const Image<T>& image, std::ostream& out, const Description& description = Description(),
               std::uint64_t classicLimit = kClassicLimit) {
    WriteTIFF(image.pixels.data(), image.width, image.height, out, description, classicLimit);
}
// Creates (truncates) the file; "Can not open file for writing: " + name.
template <class T>
void WriteTIFF(const Image<T>& image, const std::string& fileName,
               const Description& description = Description(), std::uint64_t classicLimit = kClassicLimit);

// Reads the first image of a grayscale TIFF, converting samples to T (float
// or double). The stream must be seekable and opened in binary mode.
template <class T = double> Image<T> ReadTIFF(std::istream& in);
// Opens the file; "Can not open file for reading: " + name.
template <class T = double> Image<T> ReadTIFF(const std::string& fileName);

// The rational written for a resolution (numerator, denominator).
std::pair<std::uint32_t, std::uint32_t> ResolutionToRational(double value);

} // namespace TIFF

#pragma once

#include <cstdint>

// Image file type of the detectors' images; read in exact case
// ("None", "TXT", "Vimo", "PGM", "TIF" or "TIFF", "RAW"), else "Unknown image type!".
enum class ImageType : std::int32_t { None = 0, TXT = 1, Vimo = 2, PGM = 3, TIFF = 4, RAW = 5 };
// Pixel type of image files; read in any case ("default", "uint16", "float",
// "double"), else "Unknown pixel type!". Default writes floats.
enum class PixelType : std::int32_t { Default = 1, UInt16 = 2, Float = 3, Double = 4 };

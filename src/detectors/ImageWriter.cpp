#include "detectors/ImageWriter.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "datafiles/ResultFile.h"
#include "datafiles/TIFF.h"
#include "datafiles/XRTCStream.h"

namespace {

PixelType Resolved(PixelType type) {
    return type == PixelType::UInt16 || type == PixelType::Double ? type : PixelType::Float;
}

// The scaled values in the pixel type; counts how many had to be clamped.
template <typename T>
std::vector<T> Pixels(const PixelAccessor& image, double scale, std::uint64_t& clamped) {
    std::vector<T> out;
    out.reserve(image.Rows() * image.Columns());
    for (std::uint64_t r = 0; r < image.Rows(); ++r) {
        for (std::uint64_t c = 0; c < image.Columns(); ++c) {
            const double v = image.Value(r, c) * scale;
            if constexpr (std::is_same_v<T, std::uint16_t>) {
                const bool inside = v >= 0 && v <= 65535;
                if (!inside)
                    ++clamped;
                out.push_back(inside ? T(v) : v > 65535 ? T(65535) : T(0));
            } else {
                out.push_back(T(v));
            }
        }
    }
    return out;
}

void WriteText(std::ostream& out, const PixelAccessor& image, const ImageFile& file, ImageType type,
               std::uint64_t& clamped) {
    const std::uint64_t rows = image.Rows(), columns = image.Columns();
    if (type == ImageType::Vimo) {
        out << columns << '\t' << rows;
        for (std::uint64_t c = 2; c < columns; ++c)
            out << "\t0";
        out << '\n';
    } else if (type == ImageType::PGM) {
        out << "P2\n" << columns << ' ' << rows << "\n65535\n";
    }
    std::vector<std::uint16_t> levels;
    if (type == ImageType::PGM)
        levels = Pixels<std::uint16_t>(image, file.Scale, clamped);
    std::string line;
    char number[40];
    for (std::uint64_t r = 0; r < rows; ++r) {
        line.clear();
        for (std::uint64_t c = 0; c < columns; ++c) {
            if (c > 0)
                line += '\t';
            if (type == ImageType::PGM)
                std::snprintf(number, sizeof number, "%u", unsigned(levels[r * columns + c]));
            else
                std::snprintf(number, sizeof number, "%.12e", image.Value(r, c) * file.Scale);
            line += number;
        }
        line += '\n';
        out << line;
    }
}

template <typename T>
void WriteBinary(const std::string& temporary, const std::string& name, const PixelAccessor& image,
                 const ImageFile& file, const ImageWriterOptions& options, std::uint64_t& clamped) {
    const std::vector<T> pixels = Pixels<T>(image, file.Scale, clamped);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Can not open file for writing: " + name);
    if (options.Type == ImageType::TIFF) {
        TIFF::Description description;
        description.software = options.Software;
        description.documentName = file.ClassName.substr(file.ClassName.find_last_of('/') + 1);
        description.imageDescription = options.Description;
        description.xResolution = file.XResolution;
        description.yResolution = file.YResolution;
        TIFF::WriteTIFF(pixels.data(), std::size_t(image.Columns()), std::size_t(image.Rows()), out,
                        description);
    } else {
        out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size() * sizeof(T)));
    }
    out.close();
    if (!out)
        throw std::runtime_error("Error writing " + name);
}

} // namespace

std::string ImageFileName(const ImageFile& file, const ImageWriterOptions& options, std::uint64_t rows,
                          std::uint64_t columns) {
    switch (options.Type) {
    case ImageType::TXT:
        return file.ClassName + ".txt" + (options.Compress ? ".xrc" : "");
    case ImageType::Vimo:
        return file.ClassName + ".ascii" + (options.Compress ? ".xrc" : "");
    case ImageType::PGM:
        return file.ClassName + ".pgm" + (options.Compress ? ".xrc" : "");
    case ImageType::TIFF:
        return file.ClassName + ".tiff";
    case ImageType::RAW: {
        const PixelType type = Resolved(file.Pixels);
        const char* letter = type == PixelType::UInt16 ? "s" : type == PixelType::Double ? "d" : "f";
        return file.ClassName + "." + letter + std::to_string(columns) + "x" + std::to_string(rows) + ".raw";
    }
    default:
        return std::string();
    }
}

void WriteImage(const PixelAccessor& image, const ImageFile& file, const ImageWriterOptions& options) {
    const std::string name = ImageFileName(file, options, image.Rows(), image.Columns());
    if (name.empty())
        return;
    std::uint64_t clamped = 0;
    datafiles::WriteReplacing(name, [&](const std::string& temporary) {
        try {
            if (options.Type == ImageType::TIFF || options.Type == ImageType::RAW) {
                switch (Resolved(file.Pixels)) {
                case PixelType::UInt16:
                    WriteBinary<std::uint16_t>(temporary, name, image, file, options, clamped);
                    break;
                case PixelType::Double:
                    WriteBinary<double>(temporary, name, image, file, options, clamped);
                    break;
                default:
                    WriteBinary<float>(temporary, name, image, file, options, clamped);
                    break;
                }
                return;
            }
            auto out = datafiles::OpenOutputFile(temporary, options.Compress);
            WriteText(*out, image, file, options.Type, clamped);
            out->Close();
        } catch (const std::exception& e) {
            const std::string text = e.what();
            if (text.find(name) != std::string::npos && text.find(temporary) == std::string::npos)
                throw;
            throw std::runtime_error("Error writing " + name + ": " + text);
        }
    });
    if (clamped == 0)
        return;
    const std::string note =
        "Warning: " + std::to_string(clamped) + " pixel values outside 0..65535 clamped in " + name;
    if (options.Warn)
        options.Warn(note);
    else
        std::cerr << note << std::endl;
}

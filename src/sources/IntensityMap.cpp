#include "sources/IntensityMap.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "datafiles/TIFF.h"
#include "inifiles/IniValues.h"

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

struct RawLayout {
    std::string Type; // "f", "d", "s", "u8_" ...
    std::size_t Rows = 0;
    std::size_t Columns = 0;
    bool Swap = false; // the file's byte order differs from the machine's
};

bool MachineIsLittleEndian() {
    const std::uint16_t one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

std::size_t SampleSize(const std::string& type) {
    if (type == "f" || type == "u32_" || type == "i32_")
        return 4;
    if (type == "d")
        return 8;
    if (type == "s" || type == "i16_" || type == "u16_")
        return 2;
    if (type == "u8_" || type == "i8_")
        return 1;
    return 0;
}

std::size_t ParseCount(const std::string& text, const std::string& piece) {
    const bool digits =
        !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
    if (!digits || text.size() > 18)
        throw std::runtime_error("Can't parse raw file info: " + piece);
    return static_cast<std::size_t>(std::stoull(text));
}

// The layout the file name describes; the directories may contain dots, so only the
// last path component is split.
RawLayout ParseRawName(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const std::vector<std::string> pieces = inifiles::Split(base, ".", true);
    const std::size_t n = pieces.size();
    if (n < 3 || (Upper(pieces[n - 1]) != "RAW" && Upper(pieces[n - 1]) != "BIN"))
        throw std::runtime_error("Invalid raw file: " + fileName);
    const std::string& info = pieces[n - 2];
    RawLayout layout;
    const std::size_t underscore = info.find('_');
    const std::size_t codeLength = underscore == std::string::npos ? 1 : underscore + 1;
    if (info.size() <= codeLength)
        throw std::runtime_error("Can't parse raw file info: " + info);
    layout.Type = info.substr(0, codeLength);
    const std::string size = info.substr(codeLength);
    const std::size_t x = size.find('x');
    if (x == std::string::npos)
        throw std::runtime_error("Can't parse raw file info: " + info);
    layout.Rows = ParseCount(size.substr(0, x), info);
    layout.Columns = ParseCount(size.substr(x + 1), info);
    if (SampleSize(layout.Type) == 0)
        throw std::runtime_error("Unknown raw sample type " + layout.Type + " in " + fileName);
    if (layout.Rows == 0 || layout.Columns == 0)
        throw std::runtime_error("Raw map " + fileName + " has no rows or no columns");
    const std::string order = Upper(pieces[n - 3]);
    if (order == "LE")
        layout.Swap = !MachineIsLittleEndian();
    if (order == "BE")
        layout.Swap = MachineIsLittleEndian();
    return layout;
}

template <class S> double Sample(const unsigned char* bytes, bool swap) {
    unsigned char buffer[sizeof(S)];
    if (swap)
        std::reverse_copy(bytes, bytes + sizeof(S), buffer);
    else
        std::memcpy(buffer, bytes, sizeof(S));
    S value;
    std::memcpy(&value, buffer, sizeof(S));
    return static_cast<double>(value);
}

double Convert(const std::string& type, const unsigned char* bytes, bool swap) {
    if (type == "f")
        return Sample<float>(bytes, swap);
    if (type == "d")
        return Sample<double>(bytes, swap);
    if (type == "s" || type == "u16_")
        return Sample<std::uint16_t>(bytes, swap);
    if (type == "i16_")
        return Sample<std::int16_t>(bytes, swap);
    if (type == "u8_")
        return Sample<std::uint8_t>(bytes, swap);
    if (type == "i8_")
        return Sample<std::int8_t>(bytes, swap);
    if (type == "u32_")
        return Sample<std::uint32_t>(bytes, swap);
    return Sample<std::int32_t>(bytes, swap);
}

IntensityMap ReadRaw(const std::string& fileName, const std::function<void(const std::string&)>& warn) {
    const RawLayout layout = ParseRawName(fileName);
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        throw std::runtime_error("Error opening file " + fileName);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    const std::size_t size = SampleSize(layout.Type);
    const std::size_t count = layout.Rows * layout.Columns;
    if (count / layout.Columns != layout.Rows || bytes.size() / size < count)
        throw std::runtime_error("Raw map " + fileName + " holds " + std::to_string(bytes.size()) +
                                 " bytes, " + std::to_string(layout.Rows) + "x" +
                                 std::to_string(layout.Columns) + " samples need " +
                                 std::to_string(count * size));
    if (bytes.size() > count * size && warn)
        warn("Warning: raw map " + fileName + " holds " + std::to_string(bytes.size()) +
             " bytes, only the first " + std::to_string(count * size) + " are used");
    IntensityMap map;
    map.Rows = layout.Rows;
    map.Columns = layout.Columns;
    map.Values.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        map.Values[i] = Convert(layout.Type, &bytes[i * size], layout.Swap);
    return map;
}

// Entries must be usable as weights; the map is scaled to mean 1.
void Normalise(IntensityMap& map, const std::string& fileName) {
    double sum = 0;
    for (double v : map.Values) {
        if (!std::isfinite(v) || v < 0)
            throw std::runtime_error("Intensity map " + fileName + " holds a negative or non-finite entry");
        sum += v;
    }
    if (!(sum > 0) || !std::isfinite(sum))
        throw std::runtime_error("Intensity map " + fileName + " has no positive entries");
    const double factor = static_cast<double>(map.Values.size()) / sum;
    for (double& v : map.Values)
        v *= factor;
}

} // namespace

IntensityMap ReadIntensityMap(const std::string& fileName,
                              const std::function<void(const std::string&)>& warn) {
    if (!std::ifstream(fileName, std::ios::binary))
        throw std::runtime_error("Error opening file " + fileName);
    IntensityMap map;
    try {
        std::ifstream file(fileName, std::ios::binary);
        TIFF::Image<double> image = TIFF::ReadTIFF<double>(file);
        map.Rows = image.height;
        map.Columns = image.width;
        map.Values = std::move(image.pixels);
    } catch (const std::exception& tiffError) {
        // Not a TIFF image: the name must describe a raw one; say why both failed.
        try {
            map = ReadRaw(fileName, warn);
        } catch (const std::exception& rawError) {
            throw std::runtime_error(std::string(rawError.what()) + " (as TIFF: " + tiffError.what() + ")");
        }
    }
    Normalise(map, fileName);
    return map;
}

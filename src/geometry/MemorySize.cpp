#include "geometry/MemorySize.h"

#include <iomanip>
#include <sstream>

namespace geometry {

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = KiB * 1024;
constexpr std::uint64_t GiB = MiB * 1024;

std::string ElementSize(std::uint64_t n) {
    if (n != 0 && n % GiB == 0) return std::to_string(n / GiB) + "G";
    if (n != 0 && n % MiB == 0) return std::to_string(n / MiB) + "M";
    if (n != 0 && n % KiB == 0) return std::to_string(n / KiB) + "k";
    return std::to_string(n);
}

std::string Total(std::uint64_t bytes) {
    std::ostringstream os;
    os << std::fixed << std::setprecision(2);
    if (bytes > GiB) os << static_cast<double>(bytes) / GiB << "GB";
    else if (bytes > MiB) os << static_cast<double>(bytes) / MiB << "MB";
    else if (bytes <= KiB) return std::to_string(bytes) + "B";
    else os << static_cast<double>(bytes) / KiB << "kB";
    return os.str();
}

} // namespace

std::string FormatMemorySize(std::uint64_t elementSize, std::uint64_t count) {
    std::string text;
    if (count > 1) text = ElementSize(elementSize) + "B * " + std::to_string(count) + " = ";
    return text + Total(elementSize * count);
}

} // namespace geometry

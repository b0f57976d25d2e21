#include "datafiles/Formatting.h"

#include <cmath>
#include <iomanip>
#include <ostream>
#include <sstream>

std::string FormatCount(std::uint64_t count) {
    std::ostringstream asDouble;
    asDouble << static_cast<double>(count);
    const std::string text = std::to_string(count);
    if (asDouble.str().find_first_of("eE") == std::string::npos)
        return text;
    return text + " (" + asDouble.str() + ")";
}

void FormatMemory(std::ostream& stream, std::uint64_t elementSize, std::uint64_t count) {
    constexpr std::uint64_t kKilo = 1024, kMega = kKilo * 1024, kGiga = kMega * 1024;
    if (count > 1) {
        if (elementSize != 0 && elementSize % kGiga == 0)
            stream << elementSize / kGiga << "G";
        else if (elementSize != 0 && elementSize % kMega == 0)
            stream << elementSize / kMega << "M";
        else if (elementSize != 0 && elementSize % kKilo == 0)
            stream << elementSize / kKilo << "k";
        else
            stream << elementSize;
        stream << "B * " << count << " = ";
    }
    const std::uint64_t total = elementSize * count;
    if (total > kGiga)
        stream << static_cast<double>(total) / kGiga << "GB";
    else if (total > kMega)
        stream << static_cast<double>(total) / kMega << "MB";
    else if (total <= kKilo)
        stream << total << "B";
    else
        stream << static_cast<double>(total) / kKilo << "kB";
}

void FormatEnergyRange(std::ostream& stream, double low, double high) {
    stream << low;
    if (high != low)
        stream << "-" << high;
    stream << " keV";
}

std::string FormatDuration(double seconds) {
    std::uint64_t s = seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
    std::uint64_t m = s / 60;
    s %= 60;
    std::ostringstream text;
    text << std::setfill('0');
    if (m > 0) {
        std::uint64_t h = m / 60;
        m %= 60;
        if (h > 0) {
            std::uint64_t d = h / 24;
            h %= 24;
            if (d > 0) {
                const std::uint64_t w = d / 7;
                d %= 7;
                if (w > 0)
                    text << w << "w ";
                text << d << "d ";
            }
            text << std::setw(2) << h << ":";
        }
    }
    text << std::setw(2) << m << ":" << std::setw(2) << s;
    return text.str();
}

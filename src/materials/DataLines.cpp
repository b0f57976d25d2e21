#include "materials/DataLines.h"

#include <cstdlib>

namespace materials {

std::string StripComment(const std::string& line)
{
    const std::string text = line.substr(0, line.find('#'));
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool NextDataLine(std::istream& in, std::string& line)
{
    std::string raw;
    while (std::getline(in, raw)) {
        line = StripComment(raw);
        if (!line.empty())
            return true;
    }
    return false;
}

std::size_t ParseNumbers(const std::string& line, double* values, std::size_t count)
{
    const char* p = line.c_str();
    std::size_t n = 0;
    while (n < count) {
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        if (end == p)
            break;
        values[n++] = v;
        p = end;
    }
    return n;
}

bool AppendNumbers(const std::string& line, std::size_t count, std::vector<double>& values)
{
    // Every number takes a character at least.
    if (count > line.size())
        return false;
    const std::size_t at = values.size();
    values.resize(at + count);
    return ParseNumbers(line, values.data() + at, count) == count;
}

} // namespace materials

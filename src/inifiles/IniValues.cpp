#include "inifiles/IniValues.h"

#include "datafiles/Text.h"

#include <cmath>
#include <iterator>
#include <ostream>

namespace inifiles {

namespace {

struct LengthUnitEntry {
    const char* keyword;
    LengthUnit unit;
};

constexpr LengthUnitEntry kLengthUnitKeywords[] = {
    {"m", LengthUnit::Metre},           {"dm", LengthUnit::Decimetre},
    {"cm", LengthUnit::Centimetre},     {"mm", LengthUnit::Millimetre},
    {"micron", LengthUnit::Micrometre}, {"micrometer", LengthUnit::Micrometre},
    {"nm", LengthUnit::Nanometre},      {"yd", LengthUnit::Yard},
    {"ft", LengthUnit::Foot},           {"in", LengthUnit::Inch},
    {"mil", LengthUnit::Mil},
};

// Indexed by code.
constexpr double kLengthFactors[] = {1.0, 0.1, 0.01, 0.001, 1e-06, 1e-09, 0.9144, 0.3048, 0.0254, 2.54e-05};
constexpr const char* kLengthUnitNames[] = {"m", "dm", "cm", "mm", "micron", "nm", "yd", "ft", "in", "mil"};

bool IsValid(LengthUnit unit) {
    const int code = static_cast<int>(unit);
    return code >= 0 && code < static_cast<int>(std::size(kLengthFactors));
}

template <class T> std::istream& ReadList(std::istream& stream, std::vector<T>& out) {
    std::string word;
    if (!(stream >> word))
        return stream;
    std::vector<T> values;
    for (const std::string& piece : Split(word, ",;", true)) {
        std::istringstream pieceStream(piece);
        T value{};
        if (!(pieceStream >> value))
            throw std::runtime_error("Error parsing: " + piece);
        values.push_back(value);
    }
    out = std::move(values);
    return stream;
}

template <class T> std::vector<T> ParseList(const std::string& text) {
    std::istringstream stream(text);
    std::vector<T> values;
    if (!ReadNumberList(stream, values))
        throw std::runtime_error("Error parsing vector");
    return values;
}

template <class T> void GetList(const TIniFileVariable& variable, std::vector<T>& out) {
    GetValueWith(variable, out, TypeName<std::vector<T>>::value,
                 [](std::istream& stream, std::vector<T>& values) { ReadNumberList(stream, values); });
}

} // namespace

void RethrowWhileGetting(const TIniFileVariable& variable, const char* typeName) {
    try {
        throw;
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(e.what()) + " while getting " + variable.GetName() + " as " +
                                 typeName + ": " + variable.GetValue());
    }
}

void GetBool(const TIniFileVariable& variable, bool& out) {
    bool value = false;
    std::istringstream words(variable.GetValue());
    if (words >> std::boolalpha >> value) {
        out = value;
        return;
    }
    std::istringstream number(variable.GetValue());
    if (number >> std::noboolalpha >> value) {
        out = value;
        return;
    }
    throw std::runtime_error("Problem getting " + variable.GetName() + " as bool: " + variable.GetValue());
}

void GetSize(const TIniFileVariable& variable, SizeType& out) {
    // The stream would take "-5" as 2^64 - 5; a count is never negative.
    std::istringstream stream(variable.GetValue());
    SizeType integer = 0;
    char sign = 0;
    const bool negative = (stream >> sign) && sign == '-';
    stream.clear();
    stream.seekg(0);
    if (negative || !(stream >> integer))
        throw std::runtime_error("Problem getting " + variable.GetName() + " as " +
                                 TypeName<SizeType>::value + ": " + variable.GetValue());
    double real = 0;
    GetValue(variable, real);
    if (real > static_cast<double>(integer)) { // written with a fraction or an exponent
        try {
            integer = ToSize(real);
        } catch (const std::exception&) {
            RethrowWhileGetting(variable, TypeName<SizeType>::value);
        }
    }
    out = integer;
}

void GetValue(const TIniFileVariable& variable, std::vector<double>& out) {
    GetList(variable, out);
}

void GetValue(const TIniFileVariable& variable, std::vector<SizeType>& out) {
    GetList(variable, out);
}

SizeType ToSize(double value) {
    constexpr double kLimit = 18446744073709551616.0; // 2^64
    if (!(value >= 0 && value < kLimit) || std::floor(value) != value)
        throw std::runtime_error("Conversion failed");
    return static_cast<SizeType>(value);
}

std::istream& ReadNumberList(std::istream& stream, std::vector<double>& out) {
    return ReadList(stream, out);
}
std::istream& ReadNumberList(std::istream& stream, std::vector<SizeType>& out) {
    return ReadList(stream, out);
}

std::vector<double> ParseNumberList(const std::string& text) {
    return ParseList<double>(text);
}
std::vector<SizeType> ParseSizeList(const std::string& text) {
    return ParseList<SizeType>(text);
}

std::vector<std::string> Split(const std::string& text, const std::string& delimiters, bool keepEmpty) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find_first_of(delimiters, start);
        const std::string piece =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (keepEmpty || !piece.empty())
            pieces.push_back(piece);
        if (end == std::string::npos)
            return pieces;
        start = end + 1;
    }
}

std::istream& operator>>(std::istream& stream, LengthUnit& unit) {
    std::string word;
    if (!(stream >> word))
        return stream;
    word = ToLower(word);
    for (const auto& entry : kLengthUnitKeywords)
        if (word == entry.keyword) {
            unit = entry.unit;
            return stream;
        }
    throw std::runtime_error("Unknown length unit!");
}

std::ostream& operator<<(std::ostream& stream, LengthUnit unit) {
    if (IsValid(unit))
        return stream << kLengthUnitNames[static_cast<int>(unit)];
    return stream << static_cast<int>(unit);
}

double LengthFactor(LengthUnit unit) {
    if (!IsValid(unit))
        throw std::runtime_error("Invalid length unit!");
    return kLengthFactors[static_cast<int>(unit)];
}

double ConvertLength(double value, LengthUnit from, LengthUnit to) {
    const double fromFactor = LengthFactor(from);
    const double toFactor = LengthFactor(to);
    if (from == to)
        return value;
    return fromFactor / toFactor * value;
}

} // namespace inifiles

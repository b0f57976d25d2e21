#pragma once

// Typed reading of INI values: numbers, booleans, counts, number lists and length
// units, with messages naming the variable and its text ("Problem getting <name> as
// <type>: <value>"). Coordinate vectors and spherical angles: geometry/CoordValues.h.
//
// Usage:
//   double d;   inifiles::GetValue(section.FindVariable("Energy"), d);   // ItemNotFound if missing
//   SizeType n; inifiles::GetValue(section, "NumberOfParticles", n);     // same, by key
//   bool b = false; inifiles::ReadOptional(section, "Single", b);         // keeps b if missing
//
// GetValue picks GetBool for bool, GetSize for SizeType, and has overloads for
// number lists. Other value types are read with their text input operator (found
// by argument-dependent lookup) and need a display name, given at global scope next
// to the operator:
//   INIFILES_TYPE_NAME(particles::ParticleType, "ParticleType");
// An exception thrown by such an operator ("Unknown ...!") reaches the caller as
// "<text> while getting <name> as <type>: <value>".

#include "inifiles/IniFile.h"

#include <cstdint>
#include <istream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

// Unsigned 64-bit counts: numbers of particles, batch sizes, bins.
using SizeType = std::uint64_t;

namespace inifiles {

// Display name of a value type inside the getter messages.
template <class T> struct TypeName; // specialize with a `static constexpr const char* value`

#define INIFILES_TYPE_NAME(Type, Name)                                                                       \
    template <> struct inifiles::TypeName<Type> { static constexpr const char* value = Name; }

} // namespace inifiles

INIFILES_TYPE_NAME(double, "double");
INIFILES_TYPE_NAME(float, "float");
INIFILES_TYPE_NAME(std::int32_t, "int32");
INIFILES_TYPE_NAME(std::uint32_t, "uint32");
INIFILES_TYPE_NAME(std::int64_t, "int64");
INIFILES_TYPE_NAME(SizeType, "SizeType");
INIFILES_TYPE_NAME(bool, "bool");
INIFILES_TYPE_NAME(std::string, "string");
INIFILES_TYPE_NAME(std::vector<double>, "list of doubles");
INIFILES_TYPE_NAME(std::vector<SizeType>, "list of SizeType");
INIFILES_TYPE_NAME(inifiles::LengthUnit, "LengthUnit");

namespace inifiles {

// Rethrows the current exception's text + " while getting <name> as <type>: <value>".
[[noreturn]] void RethrowWhileGetting(const TIniFileVariable& variable, const char* typeName);

// Runs read(stream, value) over the variable's text; a failed stream gives
// "Problem getting <name> as <typeName>: <value>", an exception thrown by the
// reader gets " while getting ..." appended. `out` changes only on success.
template <class T, class Reader>
void GetValueWith(const TIniFileVariable& variable, T& out, const char* typeName, Reader read) {
    std::istringstream stream(variable.GetValue());
    T value{};
    try {
        read(stream, value);
    } catch (const std::exception&) {
        RethrowWhileGetting(variable, typeName);
    }
    if (stream.fail())
        throw std::runtime_error("Problem getting " + variable.GetName() + " as " + typeName + ": " +
                                 variable.GetValue());
    out = std::move(value);
}

// Reads T from the value with its text input operator; trailing text is ignored.
template <class T> void GetValue(const TIniFileVariable& variable, T& out) {
    GetValueWith(variable, out, TypeName<T>::value, [](std::istream& stream, T& value) {
        // The stream would take "-1" as the largest value; an unsigned key is never negative.
        if constexpr (std::is_unsigned_v<T>) {
            if ((stream >> std::ws).peek() == '-') {
                stream.setstate(std::ios::failbit);
                return;
            }
        }
        stream >> value;
    });
}

// `true`/`false` (lower case), else 0 or 1; "Problem getting <name> as bool: <value>".
void GetBool(const TIniFileVariable& variable, bool& out);
// A whole number, also written with a fraction or exponent (2.5e3 = 2500).
void GetSize(const TIniFileVariable& variable, SizeType& out);
inline void GetValue(const TIniFileVariable& variable, bool& out) {
    GetBool(variable, out);
}
inline void GetValue(const TIniFileVariable& variable, SizeType& out) {
    GetSize(variable, out);
}
// The value as written (no conversion).
inline void GetValue(const TIniFileVariable& variable, std::string& out) {
    out = variable.GetValue();
}
// Number lists: one word split at ',' and ';' ("10,20,30"); blanks end the list.
void GetValue(const TIniFileVariable& variable, std::vector<double>& out);
void GetValue(const TIniFileVariable& variable, std::vector<SizeType>& out);

// By key: the LAST variable of that name; ItemNotFound when it is missing.
template <class T> void GetValue(const TIniFileSection& section, const std::string& key, T& out) {
    GetValue(section.FindVariable(key), out);
}

// Optional key: false (and `out` unchanged) when missing; a malformed value still throws.
template <class T> bool ReadOptional(const TIniFileSection& section, const std::string& key, T& out) {
    const TIniFileVariable* variable = section.TryFindVariable(key);
    if (variable == nullptr)
        return false;
    GetValue(*variable, out);
    return true;
}

// Writes the value back with its text output operator.
template <class T> void SetValue(TIniFileVariable& variable, const T& value) {
    std::ostringstream stream;
    stream << value;
    if (stream.fail())
        throw std::runtime_error("Problem setting " + variable.GetName() + " as " + TypeName<T>::value +
                                 ": " + stream.str());
    variable.SetValue(stream.str());
}

// Only a whole number that fits in 64 unsigned bits exactly; else "Conversion failed".
SizeType ToSize(double value);

// "Error parsing vector" if the text cannot be read as a list.
std::vector<double> ParseNumberList(const std::string& text);
std::vector<SizeType> ParseSizeList(const std::string& text);
// Reads one word and splits it at ',' and ';' (empty pieces kept); a piece that
// yields no number throws "Error parsing: " + piece.
std::istream& ReadNumberList(std::istream& stream, std::vector<double>& out);
std::istream& ReadNumberList(std::istream& stream, std::vector<SizeType>& out);

// Pieces between delimiter characters; empty pieces only with keepEmpty.
std::vector<std::string> Split(const std::string& text, const std::string& delimiters, bool keepEmpty);

// Vector text form "(x, y, z)" or "(x, y)" (z = 0), blanks allowed between tokens.
// A wrong character where '(', ',' or ')' belongs sets the fail state (it is put
// back only when it is the first one). Reads `maxCount` numbers at most and
// `minCount` at least; returns how many were read (0 on failure) and sets the rest to 0.
template <class T>
std::size_t ReadTupleText(std::istream& stream, T* values, std::size_t minCount, std::size_t maxCount) {
    char c = 0;
    if (!(stream >> c))
        return 0;
    if (c != '(') {
        stream.putback(c);
        stream.setstate(std::ios::failbit);
        return 0;
    }
    std::vector<T> read;
    for (;;) {
        T value{};
        if (!(stream >> value) || !(stream >> c))
            return 0;
        read.push_back(value);
        const bool last = read.size() == maxCount;
        if (c == ')' && read.size() >= minCount)
            break;
        if (c != ',' || last) {
            stream.setstate(std::ios::failbit);
            return 0;
        }
    }
    for (std::size_t i = 0; i < maxCount; ++i)
        values[i] = i < read.size() ? read[i] : T{};
    return read.size();
}

// "(x, y, z)" or "(x, y)" into three components (z = 0 in the second form).
template <class T> std::istream& ReadVectorText(std::istream& stream, T& x, T& y, T& z) {
    T values[3];
    if (ReadTupleText(stream, values, 2, 3) != 0) {
        x = values[0];
        y = values[1];
        z = values[2];
    }
    return stream;
}

// Length units: one word, any case ("m", "dm", "cm", "mm", "micron"/"micrometer",
// "nm", "yd", "ft", "in", "mil"); another word throws "Unknown length unit!".
std::istream& operator>>(std::istream& stream, LengthUnit& unit);
std::ostream& operator<<(std::ostream& stream, LengthUnit unit);
// Length of one unit in metres; "Invalid length unit!" outside the ten codes.
double LengthFactor(LengthUnit unit);
double ConvertLength(double value, LengthUnit from, LengthUnit to);

// A coordinate (any type with x, y, z) given in `unit`, in centimetres.
template <class Coord> Coord ToInternalLength(const Coord& coordinate, LengthUnit unit) {
    if (unit == LengthUnit::Centimetre)
        return coordinate;
    const double factor = LengthFactor(unit) / LengthFactor(LengthUnit::Centimetre);
    Coord result = coordinate;
    using Component = decltype(result.x);
    result.x = static_cast<Component>(result.x * factor);
    result.y = static_cast<Component>(result.y * factor);
    result.z = static_cast<Component>(result.z * factor);
    return result;
}

} // namespace inifiles

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace geometry {

// One particle of a phase-space file: type, interaction count, position (cm), the
// direction's polar angle and azimuth (rad), energy (keV) and weight. With T the
// file's own float type the struct is exactly the packed record, so records in the
// machine's byte order are copied without conversion.
template <typename T> struct PhaseSpaceRecord {
    std::uint32_t Type = 0;
    std::uint32_t InteractionCount = 0;
    T X = 0, Y = 0, Z = 0, Latitude = 0, Longitude = 0, Energy = 0, Weight = 0;
};
static_assert(sizeof(PhaseSpaceRecord<float>) == 36, "float records are 36 packed bytes");
static_assert(sizeof(PhaseSpaceRecord<double>) == 64, "double records are 64 packed bytes");

constexpr const char* kPhaseSpaceMagic = "Tarvo Binary PhaseSpaceData";
constexpr int kPhaseSpaceColumns = 9;

// The record layout a header declares: the width of the seven float columns and the
// byte order of each of the nine columns.
struct PhaseSpaceFormat {
    bool Double = false;
    bool BigEndian[kPhaseSpaceColumns] = {};

    // The layout this machine writes.
    static PhaseSpaceFormat Native(bool isDouble);
    std::size_t RecordSize() const { return 8 + 7 * (Double ? 8 : 4); }
    // Every column in the machine's byte order.
    bool IsNative() const;
    bool operator==(const PhaseSpaceFormat& other) const;
    // Magic line, column lines and the empty line that ends the header.
    std::string Header() const;
};

// Reads the header of an open file from its start. False when the first line is not
// the magic (the file is something else; its position is then undefined). Column
// lines that are not the nine of a record, in order, are "Incompatible format while
// reading " + name.
bool ReadPhaseSpaceHeader(std::FILE* file, const std::string& name, PhaseSpaceFormat& format);

// Decodes `count` packed records of that layout.
template <typename T>
void DecodePhaseSpaceRecords(const unsigned char* data, std::size_t count, const PhaseSpaceFormat& format,
                             PhaseSpaceRecord<T>* records);

// Encodes records in the given layout (any precision and byte order).
template <typename T>
std::string EncodePhaseSpaceRecords(const PhaseSpaceRecord<T>* records, std::size_t count,
                                    const PhaseSpaceFormat& format);

// Reads a whole phase-space file: false when it does not start with the magic. Errors:
// "Unable to open file: " + name, the header's, and "Error reading binary particle
// data" (naming the file) when the body is not whole records.
template <typename T>
bool ReadPhaseSpaceFile(const std::string& name, std::vector<PhaseSpaceRecord<T>>& records);

} // namespace geometry

#include "datafiles/LegacyVTK.h"

#include <array>
#include <charconv>
#include <cstring>

namespace datafiles {

namespace {

bool LittleEndianHost() {
    const std::uint16_t one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Big-endian bytes of a value, as legacy VTK requires.
template <typename T> void PutBigEndian(char* out, T value) {
    std::memcpy(out, &value, sizeof(T));
    if (LittleEndianHost())
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i)
            std::swap(out[i], out[sizeof(T) - 1 - i]);
}

// Converts and writes values in chunks, so that a large grid needs no second copy.
template <typename T> void WriteBigEndian(std::ostream& os, const double* values, std::size_t count) {
    constexpr std::size_t chunk = 4096;
    std::array<char, chunk * sizeof(T)> buffer;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(chunk, count - done);
        for (std::size_t i = 0; i < n; ++i)
            PutBigEndian(buffer.data() + i * sizeof(T), T(values[done + i]));
        os.write(buffer.data(), std::streamsize(n * sizeof(T)));
        done += n;
    }
}

template <typename T> std::string Shortest(T value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

std::string RoundTrip(double value) {
    return Shortest(value);
}
std::string RoundTrip(float value) {
    return Shortest(value);
}

LegacyVTKWriter::LegacyVTKWriter(std::ostream& os, const std::string& title, const VTKGrid& grid,
                                 Attachment attachment)
    : Out(os) {
    const std::uint64_t* d = grid.Dimensions;
    Out << "# vtk DataFile Version 2.0\n" << title << "\nBINARY\n";
    if (grid.Points.empty()) {
        Out << "DATASET STRUCTURED_POINTS\nDIMENSIONS " << d[0] << " " << d[1] << " " << d[2] << "\n";
        Out << "ORIGIN " << RoundTrip(grid.Origin[0]) << " " << RoundTrip(grid.Origin[1]) << " "
            << RoundTrip(grid.Origin[2]) << "\n";
        Out << "SPACING " << RoundTrip(grid.Spacing[0]) << " " << RoundTrip(grid.Spacing[1]) << " "
            << RoundTrip(grid.Spacing[2]) << "\n";
    } else {
        const std::size_t points = grid.Points.size() / 3;
        Out << "DATASET STRUCTURED_GRID\nDIMENSIONS " << d[0] << " " << d[1] << " " << d[2] << "\n";
        Out << "POINTS " << points << (grid.DoublePoints ? " double\n" : " float\n");
        if (grid.DoublePoints)
            WriteBigEndian<double>(Out, grid.Points.data(), grid.Points.size());
        else
            WriteBigEndian<float>(Out, grid.Points.data(), grid.Points.size());
        Out << "\n";
    }
    if (attachment == Attachment::Cells) {
        Count = 1;
        for (int i = 0; i < 3; ++i)
            Count *= d[i] > 1 ? d[i] - 1 : 1;
        Out << "CELL_DATA " << Count << "\n";
    } else {
        Count = d[0] * d[1] * d[2];
        Out << "POINT_DATA " << Count << "\n";
    }
}

void LegacyVTKWriter::WriteScalars(const std::string& name, const std::uint8_t* values) {
    Out << "SCALARS " << name << " unsigned_char 1\nLOOKUP_TABLE default\n";
    Out.write(reinterpret_cast<const char*>(values), std::streamsize(Count));
    Out << "\n";
}

void LegacyVTKWriter::WriteValues(const std::string& name, const double* values, std::size_t components,
                                  bool asDouble) {
    const char* type = asDouble ? "double" : "float";
    if (components <= 4)
        Out << "SCALARS " << name << " " << type << " " << components << "\nLOOKUP_TABLE default\n";
    else
        Out << "FIELD FieldData 1\n" << name << " " << components << " " << Count << " " << type << "\n";
    if (asDouble)
        WriteBigEndian<double>(Out, values, Count * components);
    else
        WriteBigEndian<float>(Out, values, Count * components);
    Out << "\n";
}

} // namespace datafiles

#include "geometry/PhaseSpaceFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "geometry/ByteSource.h"

namespace geometry {

namespace {

struct Column {
    const char* Name;
    bool IsFloat;
};

const Column kColumns[kPhaseSpaceColumns] = {
    {"Particle Enum", false},  {"InteractionCount UInt", false},
    {"X Float", true},         {"Y Float", true},
    {"Z Float", true},         {"Latitude Float", true},
    {"Longitude Float", true}, {"Energy Float", true},
    {"Weight Float", true},
};

// Header lines are short; a longer "line" is binary data, not a header.
bool ReadShortLine(std::FILE* file, std::string& line) {
    line.clear();
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == '\n')
            return true;
        if (line.size() >= 256)
            return false;
        line += char(c);
    }
    return false;
}

// "<name><width> LE|BE"; false when the line is not that column.
bool ParseColumn(const std::string& line, const Column& column, int& width, bool& bigEndian) {
    const std::size_t n = std::strlen(column.Name);
    if (line.compare(0, n, column.Name) != 0)
        return false;
    const std::string rest = line.substr(n);
    if (rest == "32 LE" || rest == "32 BE")
        width = 32;
    else if (column.IsFloat && (rest == "64 LE" || rest == "64 BE"))
        width = 64;
    else
        return false;
    bigEndian = rest[3] == 'B';
    return true;
}

template <typename Word> Word Load(const unsigned char* p, bool swap) {
    Word w;
    std::memcpy(&w, p, sizeof w);
    if (swap)
        SwapBytes(&w, sizeof w);
    return w;
}

template <typename Word> void Store(unsigned char* p, Word w, bool swap) {
    if (swap)
        SwapBytes(&w, sizeof w);
    std::memcpy(p, &w, sizeof w);
}

} // namespace

PhaseSpaceFormat PhaseSpaceFormat::Native(bool isDouble) {
    PhaseSpaceFormat f;
    f.Double = isDouble;
    for (bool& b : f.BigEndian)
        b = !HostIsLittleEndian();
    return f;
}

bool PhaseSpaceFormat::IsNative() const {
    for (bool b : BigEndian)
        if (b == HostIsLittleEndian())
            return false;
    return true;
}

bool PhaseSpaceFormat::operator==(const PhaseSpaceFormat& other) const {
    return Double == other.Double && std::equal(BigEndian, BigEndian + kPhaseSpaceColumns, other.BigEndian);
}

std::string PhaseSpaceFormat::Header() const {
    std::string text = std::string(kPhaseSpaceMagic) + "\n";
    for (int i = 0; i < kPhaseSpaceColumns; ++i) {
        text += kColumns[i].Name;
        text += kColumns[i].IsFloat && Double ? "64" : "32";
        text += BigEndian[i] ? " BE\n" : " LE\n";
    }
    return text + "\n";
}

bool ReadPhaseSpaceHeader(std::FILE* file, const std::string& name, PhaseSpaceFormat& format) {
    std::string line;
    if (!ReadShortLine(file, line) || line != kPhaseSpaceMagic)
        return false;
    const std::runtime_error incompatible("Incompatible format while reading " + name);
    int floatWidth = 0;
    for (int i = 0; i < kPhaseSpaceColumns; ++i) {
        int width = 0;
        if (!ReadShortLine(file, line) || !ParseColumn(line, kColumns[i], width, format.BigEndian[i]))
            throw incompatible;
        if (kColumns[i].IsFloat) {
            if (floatWidth != 0 && width != floatWidth)
                throw incompatible;
            floatWidth = width;
        }
    }
    if (!ReadShortLine(file, line) || !line.empty())
        throw incompatible;
    format.Double = floatWidth == 64;
    return true;
}

template <typename T>
void DecodePhaseSpaceRecords(const unsigned char* data, std::size_t count, const PhaseSpaceFormat& format,
                             PhaseSpaceRecord<T>* records) {
    const bool little = HostIsLittleEndian();
    bool swap[kPhaseSpaceColumns];
    for (int i = 0; i < kPhaseSpaceColumns; ++i)
        swap[i] = format.BigEndian[i] == little;
    const std::size_t size = format.RecordSize(), width = format.Double ? 8 : 4;
    for (std::size_t k = 0; k < count; ++k, data += size) {
        PhaseSpaceRecord<T>& r = records[k];
        r.Type = Load<std::uint32_t>(data, swap[0]);
        r.InteractionCount = Load<std::uint32_t>(data + 4, swap[1]);
        T* values = &r.X;
        for (int i = 0; i < 7; ++i) {
            const unsigned char* p = data + 8 + i * width;
            values[i] = format.Double ? T(Load<double>(p, swap[2 + i])) : T(Load<float>(p, swap[2 + i]));
        }
    }
}

template <typename T>
std::string EncodePhaseSpaceRecords(const PhaseSpaceRecord<T>* records, std::size_t count,
                                    const PhaseSpaceFormat& format) {
    const bool little = HostIsLittleEndian();
    const std::size_t size = format.RecordSize(), width = format.Double ? 8 : 4;
    std::string bytes(count * size, '\0');
    auto* data = reinterpret_cast<unsigned char*>(&bytes[0]);
    for (std::size_t k = 0; k < count; ++k, data += size) {
        const PhaseSpaceRecord<T>& r = records[k];
        Store(data, r.Type, format.BigEndian[0] == little);
        Store(data + 4, r.InteractionCount, format.BigEndian[1] == little);
        const T* values = &r.X;
        for (int i = 0; i < 7; ++i) {
            unsigned char* p = data + 8 + i * width;
            const bool swap = format.BigEndian[2 + i] == little;
            if (format.Double)
                Store(p, double(values[i]), swap);
            else
                Store(p, float(values[i]), swap);
        }
    }
    return bytes;
}

template <typename T>
bool ReadPhaseSpaceFile(const std::string& name, std::vector<PhaseSpaceRecord<T>>& records) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
    if (!file)
        throw std::runtime_error("Unable to open file: " + name);
    PhaseSpaceFormat format;
    if (!ReadPhaseSpaceHeader(file.get(), name, format))
        return false;
    const long start = std::ftell(file.get());
    if (start < 0 || std::fseek(file.get(), 0, SEEK_END) != 0)
        throw std::runtime_error("Error reading binary particle data from " + name);
    const long end = std::ftell(file.get());
    const std::size_t size = format.RecordSize(), bytes = std::size_t(end - start);
    if (end < start || bytes % size != 0 || std::fseek(file.get(), start, SEEK_SET) != 0)
        throw std::runtime_error("Error reading binary particle data: " + name + " ends within record " +
                                 std::to_string(bytes / size + 1));
    const std::size_t count = bytes / size;
    // Block by block through a buffer that stays in cache: the list's fresh memory is
    // then touched once, by the copy (a zero-filled resize would touch it twice).
    records.clear();
    records.reserve(count);
    const bool native = format.IsNative() && format.Double == (sizeof(T) == 8);
    const std::size_t block = std::max<std::size_t>(1, (std::size_t(1) << 18) / size);
    std::vector<unsigned char> raw(native ? 0 : block * size);
    std::vector<PhaseSpaceRecord<T>> decoded(block);
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(block, count - done);
        void* target = native ? static_cast<void*>(decoded.data()) : static_cast<void*>(raw.data());
        if (std::fread(target, size, n, file.get()) != n)
            throw std::runtime_error("Error reading binary particle data from " + name);
        if (!native)
            DecodePhaseSpaceRecords(raw.data(), n, format, decoded.data());
        records.insert(records.end(), decoded.begin(), decoded.begin() + std::ptrdiff_t(n));
        done += n;
    }
    return true;
}

template void DecodePhaseSpaceRecords(const unsigned char*, std::size_t, const PhaseSpaceFormat&,
                                      PhaseSpaceRecord<float>*);
template void DecodePhaseSpaceRecords(const unsigned char*, std::size_t, const PhaseSpaceFormat&,
                                      PhaseSpaceRecord<double>*);
template std::string EncodePhaseSpaceRecords(const PhaseSpaceRecord<float>*, std::size_t,
                                             const PhaseSpaceFormat&);
template std::string EncodePhaseSpaceRecords(const PhaseSpaceRecord<double>*, std::size_t,
                                             const PhaseSpaceFormat&);
template bool ReadPhaseSpaceFile(const std::string&, std::vector<PhaseSpaceRecord<float>>&);
template bool ReadPhaseSpaceFile(const std::string&, std::vector<PhaseSpaceRecord<double>>&);

} // namespace geometry

#include "geometry/ByteSource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace geometry {

ByteSource::ByteSource(std::istream& in, std::size_t bufferSize) : In(in), Buffer(bufferSize) {}

bool ByteSource::Fill() {
    if (Pos < End) return true;
    if (!In.good()) return false;
    In.read(Buffer.data(), static_cast<std::streamsize>(Buffer.size()));
    Pos = 0;
    End = static_cast<std::size_t>(In.gcount());
    return End > 0;
}

bool ByteSource::ReadLine(std::string& line) {
    line.clear();
    bool any = false;
    while (Fill()) {
        any = true;
        const char* begin = Buffer.data() + Pos;
        const char* end = Buffer.data() + End;
        const char* nl = std::find(begin, end, '\n');
        line.append(begin, nl);
        if (nl != end) {
            Pos += static_cast<std::size_t>(nl - begin) + 1;
            return true;
        }
        Pos = End;
    }
    return any;
}

bool ByteSource::Read(void* destination, std::size_t n) {
    auto* out = static_cast<char*>(destination);
    while (n > 0) {
        if (!Fill()) return false;
        const std::size_t k = std::min(n, End - Pos);
        std::memcpy(out, Buffer.data() + Pos, k);
        Pos += k;
        out += k;
        n -= k;
    }
    return true;
}

int ByteSource::Get() {
    if (!Fill()) return -1;
    return static_cast<unsigned char>(Buffer[Pos++]);
}

void ByteSource::Unread(const std::string& bytes) {
    std::vector<char> rest;
    rest.reserve(bytes.size() + (End - Pos) + Buffer.size());
    rest.insert(rest.end(), bytes.begin(), bytes.end());
    rest.insert(rest.end(), Buffer.begin() + static_cast<std::ptrdiff_t>(Pos), Buffer.begin() + static_cast<std::ptrdiff_t>(End));
    End = rest.size();
    Pos = 0;
    rest.resize(std::max(rest.size(), Buffer.size()));
    Buffer.swap(rest);
}

bool HostIsLittleEndian() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

void SwapBytes(void* data, std::size_t n) {
    auto* b = static_cast<unsigned char*>(data);
    std::reverse(b, b + n);
}

} // namespace geometry

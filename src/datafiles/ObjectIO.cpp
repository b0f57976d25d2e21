#include "datafiles/ObjectIO.h"

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <iomanip>
#include <istream>
#include <limits>
#include <memory>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <typeinfo>

namespace {

constexpr char kTag[] = "ObjDsc0";
constexpr std::size_t kTagSize = 7;
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

void PutLE(std::ostream& stream, std::uint64_t value, int bytes) {
    char buffer[8];
    for (int i = 0; i < bytes; ++i)
        buffer[i] = char((value >> (8 * i)) & 0xff);
    stream.write(buffer, bytes);
}

std::uint64_t GetLE(std::istream& stream, int bytes) {
    unsigned char buffer[8] = {0};
    stream.read(reinterpret_cast<char*>(buffer), bytes);
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(buffer[i]) << (8 * i);
    return value;
}

void WriteHeaderStart(std::ostream& stream, const std::string& name) {
    if (name.size() > 65535)
        throw std::runtime_error("Class name too long");
    stream.write(kTag, kTagSize);
    PutLE(stream, name.size(), 2);
    stream.write(name.data(), std::streamsize(name.size()));
    if (!stream)
        throw std::runtime_error("Error writing object header");
}

} // namespace

void TIO_Object::InternalRead(std::istream&, std::uint64_t) {
    throw std::runtime_error("InternalRead unimplemented");
}

void TIO_Object::InternalWrite(std::ostream&) {
    throw std::runtime_error("InternalWrite unimplemented");
}

std::string TIO_Object::IOClassName() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

std::uint64_t WriteObject(std::ostream& stream, TIO_Object& object) {
    const std::string name = object.IOClassName();
    WriteHeaderStart(stream, name);
    const std::uint64_t header = EntryHeader::FixedSize + name.size();
    const std::streampos sizeAt = stream.tellp();
    if (sizeAt != std::streampos(-1)) {
        PutLE(stream, 0, 8);
        object.InternalWrite(stream);
        const std::streampos end = stream.tellp();
        if (!stream || end == std::streampos(-1) || end < sizeAt + std::streamoff(8))
            throw std::runtime_error("Too large for binary IO");
        const std::uint64_t size = std::uint64_t(end - sizeAt) - 8;
        stream.seekp(sizeAt);
        PutLE(stream, size, 8);
        stream.seekp(end);
        return header + size;
    }
    stream.clear();
    std::ostringstream buffer;
    object.InternalWrite(buffer);
    const std::string payload = buffer.str();
    PutLE(stream, payload.size(), 8);
    stream.write(payload.data(), std::streamsize(payload.size()));
    return header + payload.size();
}

std::uint64_t BytesLeft(std::istream& stream) {
    const std::streampos here = stream.tellg();
    if (here == std::streampos(-1)) {
        stream.clear(stream.rdstate() & ~std::ios::failbit);
        return std::numeric_limits<std::uint64_t>::max();
    }
    stream.seekg(0, std::ios::end);
    const std::streampos end = stream.tellg();
    stream.seekg(here);
    return end >= here ? std::uint64_t(end - here) : 0;
}

EntryHeader ReadEntryHeader(std::istream& stream) {
    std::string word;
    stream >> std::setw(kTagSize) >> word;
    if (word != kTag)
        throw std::runtime_error("EntryHeader not found: " + word);
    EntryHeader header;
    const std::uint64_t length = GetLE(stream, 2);
    if (!stream || length > BytesLeft(stream))
        throw std::runtime_error("Entry header cut short");
    header.ClassName.resize(length);
    stream.read(header.ClassName.data(), std::streamsize(length));
    header.PayloadSize = GetLE(stream, 8);
    if (!stream)
        throw std::runtime_error("Entry header cut short");
    if (header.PayloadSize > BytesLeft(stream))
        throw std::runtime_error("Entry " + header.ClassName + " larger than the rest of the stream (" +
                                 std::to_string(header.PayloadSize) + " bytes)");
    return header;
}

std::uint64_t ReadObject(std::istream& stream, TIO_Object& object) {
    const EntryHeader header = ReadEntryHeader(stream);
    if (header.ClassName != object.IOClassName())
        throw std::runtime_error("Wrong object type in stream");
    if (header.PayloadSize > std::uint64_t(std::numeric_limits<std::streamoff>::max()))
        throw std::runtime_error("Object size too large for stream offset");
    const std::streampos start = stream.tellg();
    object.InternalRead(stream, header.PayloadSize);
    if (!stream)
        throw std::runtime_error("Error reading " + header.ClassName);
    const std::streampos end = stream.tellg();
    if (start != std::streampos(-1) && end - start != std::streamoff(header.PayloadSize))
        throw std::runtime_error("Object didn't read correct amount of data");
    return EntryHeader::FixedSize + header.ClassName.size() + header.PayloadSize;
}

void WriteU64(std::ostream& stream, std::uint64_t value) {
    PutLE(stream, value, 8);
}
std::uint64_t ReadU64(std::istream& stream) {
    return GetLE(stream, 8);
}
void WriteU32(std::ostream& stream, std::uint32_t value) {
    PutLE(stream, value, 4);
}
std::uint32_t ReadU32(std::istream& stream) {
    return std::uint32_t(GetLE(stream, 4));
}

void WriteDouble(std::ostream& stream, double value) {
    WriteDoubles(stream, &value, 1);
}

double ReadDouble(std::istream& stream) {
    double value = 0;
    ReadDoubles(stream, &value, 1);
    return value;
}

void WriteDoubles(std::ostream& stream, const double* values, std::size_t count) {
    if (kLittleEndian) {
        stream.write(reinterpret_cast<const char*>(values), std::streamsize(count * sizeof(double)));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t bits;
        std::memcpy(&bits, values + i, 8);
        PutLE(stream, bits, 8);
    }
}

void ReadDoubles(std::istream& stream, double* values, std::size_t count) {
    if (kLittleEndian) {
        stream.read(reinterpret_cast<char*>(values), std::streamsize(count * sizeof(double)));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t bits = GetLE(stream, 8);
        std::memcpy(values + i, &bits, 8);
    }
}

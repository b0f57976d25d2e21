#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

// Base of everything that is saved in, and restored from, a state file.
class TIO_Object {
public:
    virtual void InternalRead(std::istream& stream, std::uint64_t payloadSize);
    virtual void InternalWrite(std::ostream& stream);
    virtual ~TIO_Object() = default;
    // The name that tags this object's entries. Saved classes return a fixed name of
    // their own, so that states do not depend on how a compiler spells types; the
    // default is the class's name as the program sees it.
    virtual std::string IOClassName() const;
};

// An entry: "ObjDsc0", the class-name length (u16), the name, the payload size (u64)
// and the payload, little-endian and unpadded.
struct EntryHeader {
    static constexpr std::size_t FixedSize = 17;

    std::string ClassName;
    std::uint64_t PayloadSize = 0;
};

// Writes `object` as one entry; returns the bytes written. A stream that can seek gets
// the size patched in after the payload; any other (a pipe) gets the payload through a
// memory buffer: both give the same bytes.
std::uint64_t WriteObject(std::ostream& stream, TIO_Object& object);
// Reads an entry's header; the payload size must fit the bytes left in the stream.
EntryHeader ReadEntryHeader(std::istream& stream);
// Reads an entry into `object`, which must be of the recorded class and consume exactly
// the recorded payload; returns the bytes consumed.
std::uint64_t ReadObject(std::istream& stream, TIO_Object& object);

// Bytes between the read position and the end of a stream that can seek; the largest
// value for one that cannot.
std::uint64_t BytesLeft(std::istream& stream);

// Little-endian numbers of payloads. The array versions move whole blocks at once on
// little-endian machines, which keeps large detector states fast.
void WriteU64(std::ostream& stream, std::uint64_t value);
std::uint64_t ReadU64(std::istream& stream);
void WriteU32(std::ostream& stream, std::uint32_t value);
std::uint32_t ReadU32(std::istream& stream);
void WriteDouble(std::ostream& stream, double value);
double ReadDouble(std::istream& stream);
void WriteDoubles(std::ostream& stream, const double* values, std::size_t count);
void ReadDoubles(std::istream& stream, double* values, std::size_t count);

#pragma once

#include <cstdint>
#include <iosfwd>

// Base of everything that is saved in, and restored from, a state file.
class TIO_Object {
public:
    virtual void InternalRead(std::istream& stream, std::uint64_t payloadSize);
    virtual void InternalWrite(std::ostream& stream);
    virtual ~TIO_Object() = default;
};

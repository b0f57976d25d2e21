#include "datafiles/ObjectIO.h"

#include <stdexcept>

void TIO_Object::InternalRead(std::istream&, std::uint64_t) {
    throw std::runtime_error("InternalRead unimplemented");
}

void TIO_Object::InternalWrite(std::ostream&) { throw std::runtime_error("InternalWrite unimplemented"); }

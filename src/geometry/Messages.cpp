#include "geometry/Messages.h"

#include <iostream>

namespace geometry {

MessageSink DefaultMessageSink() {
    return [](const std::string& text, bool) { std::cerr << text << std::flush; };
}

} // namespace geometry

#pragma once

#include <functional>
#include <string>

namespace geometry {

// Receives the user-visible messages of the geometry code; the application routes
// them to its console. isError selects the error stream.
using MessageSink = std::function<void(const std::string& text, bool isError)>;

// Writes to the standard error stream; used until the application installs its own sink.
MessageSink DefaultMessageSink();

} // namespace geometry

#pragma once

#include <cstdint>
#include <string>

namespace geometry {

// "12B * 100 = 1.17kB" for several elements, "16B" for one: the memory lines of the summaries.
std::string FormatMemorySize(std::uint64_t elementSize, std::uint64_t count);

} // namespace geometry

#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

// Number, size, energy and time forms shared by the summaries and progress lines.

// The decimal number, followed by " (1e+06)" when the default floating form of
// the number has an exponent.
std::string FormatCount(std::uint64_t count);
// "16B * 1000 = 15.625kB" (the element size only for count > 1); divided values in
// the stream's current floating format.
void FormatMemory(std::ostream& stream, std::uint64_t elementSize, std::uint64_t count);
// "low keV", or "low-high keV" when they differ.
void FormatEnergyRange(std::ostream& stream, double low, double high);
// Whole seconds as [[[[w"w "]d"d "]hh:]mm:]ss: 00:05, 01:02:05, 1w 2d 03:00:00.
std::string FormatDuration(double seconds);

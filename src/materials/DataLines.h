#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace materials {

// Next line holding data: text after '#' is dropped and blank lines are
// skipped. Returns false at the end of the stream.
bool NextDataLine(std::istream& in, std::string& line);

// Drops text after '#' and surrounding blanks, tabs and line ends.
std::string StripComment(const std::string& line);

// Parses up to `count` numbers separated by blanks or tabs from `line` into
// `values`; returns how many were read before the first non-number.
std::size_t ParseNumbers(const std::string& line, double* values, std::size_t count);

// Appends `count` numbers parsed from `line` to `values`; false when it holds fewer.
// Counts come from file headers, which may be corrupt: one the line cannot hold fails
// before memory is reserved for it.
bool AppendNumbers(const std::string& line, std::size_t count, std::vector<double>& values);

} // namespace materials

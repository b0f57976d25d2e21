#pragma once

#include <string>

// Small text helpers every reader of names, keys and commands needs.

// Trims blanks, tabs, carriage returns and line feeds from both ends.
std::string TrimWhite(const std::string& text);
std::string ToLower(std::string text);
// The file name without the extension of its last component ("dir.v2/run" keeps its dots).
std::string WithoutExtension(const std::string& name);

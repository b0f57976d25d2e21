#pragma once

#include <string>
#include <vector>

// Runs the program for the given arguments (without the program name), from
// the start lines to the end; returns 0, -1 (a configuration or argument
// failed) or -2 (ended by an interrupt).
int TarvoMain(const std::vector<std::string>& arguments);

// Value readers of the command-line options; they throw the user-visible message.
bool ParseInteractiveValue(const std::string& value);
int ParseThreadCount(const std::string& value);

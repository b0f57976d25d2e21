#pragma once

#include <string>

namespace materials {

// The program's data directory: $TARVO_DATA when set and not empty, else a
// "data" folder beside the executable, else the source tree's data folder.
std::string DataDirectory();

// `relative` resolved against DataDirectory(); absolute paths stay as given.
std::string DataPath(const std::string& relative);

} // namespace materials

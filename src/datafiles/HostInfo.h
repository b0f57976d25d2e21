#pragma once

#include <string>

// Who and where a file was made, for start lines and TIFF tags; both throw with the
// system's message when the name cannot be told.
std::string QueryUserName();
std::string QueryHostName();

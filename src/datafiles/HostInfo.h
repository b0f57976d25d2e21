#pragma once

#include <cstdint>
#include <string>

// Who and where a file was made, for start lines and TIFF tags; both throw with the
// system's message when the name cannot be told.
std::string QueryUserName();
std::string QueryHostName();
// The machine's physical memory in bytes (0 when it cannot be told).
std::uint64_t PhysicalMemory();

// The program, its version and build, as the first line and the TIFF Software tag show it.
const std::string& VersionBanner();
// The local time, the user and the host ("... root on vm"); a name that cannot be told
// is left out.
std::string GetStartLine();

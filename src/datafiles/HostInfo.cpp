#include "datafiles/HostInfo.h"

#include "datafiles/Text.h"

#include <ctime>
#include <stdexcept>

#include <pwd.h>
#include <unistd.h>

std::string QueryUserName() {
    const passwd* entry = getpwuid(geteuid());
    if (entry == nullptr || entry->pw_name == nullptr || entry->pw_name[0] == '\0')
        throw std::runtime_error("Couldn't retrieve user name");
    return std::string(entry->pw_name).substr(0, 256);
}

std::string QueryHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0)
        throw std::runtime_error("Couldn't determine hostname");
    return name;
}

std::uint64_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? std::uint64_t(pages) * std::uint64_t(size) : 0;
}

const std::string& VersionBanner() {
    static const std::string banner = std::string("Tarvo ") + "v2.0.7-0-g6a7a6ef" + " " +
                                      std::to_string(sizeof(void*) * 8) + "bit" + " OpenMP";
    return banner;
}

std::string GetStartLine() {
    const std::time_t now = std::time(nullptr);
    std::string line = TrimWhite(std::ctime(&now));
    try {
        line += " " + QueryUserName();
    } catch (const std::exception&) {
    }
    try {
        line += " on " + QueryHostName();
    } catch (const std::exception&) {
    }
    return line;
}

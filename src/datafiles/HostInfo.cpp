#include "datafiles/HostInfo.h"

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

#include "materials/DataDirectory.h"

#include "inifiles/IniFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace materials {

namespace {

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ExecutableDirectory()
{
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return std::string();
    return inifiles::DirectoryPart(std::string(buffer.data(), static_cast<std::size_t>(length)));
}

} // namespace

std::string DataDirectory()
{
    const char* configured = std::getenv("TARVO_DATA");
    if (configured && *configured)
        return configured;
    const std::string beside = ExecutableDirectory() + "/data";
    if (IsDirectory(beside))
        return beside;
    return TARVO_SOURCE_DATA_DIR;
}

std::string DataPath(const std::string& relative)
{
    if (!relative.empty() && (relative[0] == '/' || relative[0] == '\\' ||
                              (relative.size() > 1 && relative[1] == ':')))
        return relative;
    return DataDirectory() + "/" + relative;
}

} // namespace materials

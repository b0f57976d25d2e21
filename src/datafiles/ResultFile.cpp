#include "datafiles/ResultFile.h"

#include <cstdio>
#include <stdexcept>

namespace datafiles {

void WriteReplacing(const std::string& fileName,
                    const std::function<void(const std::string& temporary)>& write) {
    const std::string temporary = fileName + ".tmp";
    try {
        write(temporary);
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("Error writing " + fileName);
    }
}

} // namespace datafiles

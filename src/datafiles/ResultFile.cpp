#include "datafiles/ResultFile.h"

#include <cstdio>
#include <filesystem>
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

std::FILE* ContinueFile(const std::string& fileName, std::uint64_t length) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error || size < length)
        throw std::runtime_error("Can't continue " + fileName + ": it is shorter than the saved run's " +
                                 std::to_string(length) + " bytes");
    std::filesystem::resize_file(fileName, length, error);
    std::FILE* file = error ? nullptr : std::fopen(fileName.c_str(), "ab");
    if (file == nullptr)
        throw std::runtime_error("Couldn't open " + fileName);
    return file;
}

} // namespace datafiles

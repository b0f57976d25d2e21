#include "detectors/PhaseSpaceOutput.h"

#include <iostream>
#include <memory>
#include <stdexcept>

#include <unistd.h>

#include "datafiles/ResultFile.h"

PhaseSpaceOutput::PhaseSpaceOutput(std::string fileName, bool append,
                                   const geometry::PhaseSpaceFormat& format)
    : FileName(std::move(fileName)), Append(append), Format(format) {
    omp_init_lock(&Lock);
    // A file that cannot take our records is refused when the scene loads, not at Start.
    if (Append && !FileName.empty()) {
        try {
            ExistingMatches();
        } catch (...) {
            omp_destroy_lock(&Lock);
            throw;
        }
    }
    if (FileName.empty()) {
        std::cout.flush();
        std::fflush(stdout);
        SavedStdout = dup(STDOUT_FILENO);
        if (SavedStdout < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
            omp_destroy_lock(&Lock);
            throw std::runtime_error("Couldn't open standard output");
        }
    }
}

PhaseSpaceOutput::~PhaseSpaceOutput() {
    if (File != nullptr)
        std::fclose(File);
    if (SavedStdout >= 0) {
        std::cout.flush();
        std::fflush(stdout);
        dup2(SavedStdout, STDOUT_FILENO);
        close(SavedStdout);
    }
    omp_destroy_lock(&Lock);
}

void PhaseSpaceOutput::Open(bool fresh) {
    if (SavedStdout >= 0) {
        if (File != nullptr)
            return;
        const int fd = dup(SavedStdout);
        File = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (File == nullptr)
            throw std::runtime_error("Couldn't open standard output");
        if (!Append) {
            const std::string header = Format.Header();
            Write(header.data(), header.size());
        }
        return;
    }
    if (File != nullptr) {
        if (!fresh)
            return;
        std::fclose(File);
        File = nullptr;
    }
    if (!fresh && SavedLength != std::uint64_t(-1)) {
        OpenRestored();
        return;
    }
    // A continued run that has not written yet keeps what is in the file.
    const bool appending = (Append || !fresh) && ExistingMatches();
    File = std::fopen(FileName.c_str(), appending ? "ab" : "wb");
    if (File == nullptr)
        throw std::runtime_error("Couldn't open " + FileName);
    if (!appending) {
        Written = 0;
        const std::string header = Format.Header();
        Write(header.data(), header.size());
    }
}

void PhaseSpaceOutput::OpenRestored() {
    File = datafiles::ContinueFile(FileName, SavedLength);
    Written = SavedLength;
    SavedLength = std::uint64_t(-1);
}

bool PhaseSpaceOutput::ExistingMatches() {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(FileName.c_str(), "rb"), &std::fclose);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0 || std::ftell(file.get()) <= 0)
        return false;
    const long size = std::ftell(file.get());
    std::rewind(file.get());
    const std::string refused = "Can't append to " + FileName + ": ";
    geometry::PhaseSpaceFormat existing;
    if (!geometry::ReadPhaseSpaceHeader(file.get(), FileName, existing))
        throw std::runtime_error(refused + "it is not a phase-space file");
    if (!(existing == Format))
        throw std::runtime_error(refused + "its records are of another precision or byte order");
    const long header = std::ftell(file.get());
    if ((size - header) % long(Format.RecordSize()) != 0)
        throw std::runtime_error(refused + "it ends within a record");
    Written = std::uint64_t(size);
    return true;
}

void PhaseSpaceOutput::Write(const void* data, std::size_t bytes) {
    bool failed = false;
    omp_set_lock(&Lock);
    if (File == nullptr || std::fwrite(data, 1, bytes, File) != bytes || std::fflush(File) != 0)
        failed = true;
    else
        Written += bytes;
    omp_unset_lock(&Lock);
    if (failed)
        throw std::runtime_error("Error writing " + Label());
}

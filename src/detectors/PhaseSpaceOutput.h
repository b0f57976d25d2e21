#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <omp.h>

#include "geometry/PhaseSpaceFile.h"

// The file that all thread copies of one phase-space writer append their blocks to,
// with the lock that keeps the blocks whole. An empty name is the standard output:
// the program's own standard output then goes to the standard error stream for as
// long as the records stream there, so that no message lands among them.
class PhaseSpaceOutput {
public:
    PhaseSpaceOutput(std::string fileName, bool append, const geometry::PhaseSpaceFormat& format);
    ~PhaseSpaceOutput();
    PhaseSpaceOutput(const PhaseSpaceOutput&) = delete;
    PhaseSpaceOutput& operator=(const PhaseSpaceOutput&) = delete;

    // Opens the file: a fresh run truncates it (unless Append) and (re)opens it, a
    // continued run keeps an open file and what an unopened one holds. A new file (or
    // a missing or empty one) gets the header; appending to a file of another layout
    // is refused. The standard output is opened once and gets one header.
    // Errors: "Couldn't open " + name, "Can't append to " + name + ": " + why.
    void Open(bool fresh);
    bool IsOpen() const { return File != nullptr; }
    // Writes one block and flushes it; blocks of different threads never interleave.
    // Errors: "Error writing " + name (also when the file is not open).
    void Write(const void* data, std::size_t bytes);
    // Bytes written so far, the header included (the file's length while this
    // output is its only writer).
    std::uint64_t Length() const { return Written; }
    // A restored run continues the file from the length it had when the state was
    // saved: the next continued Open cuts what was written after that point.
    void ContinueFrom(std::uint64_t length) { SavedLength = length; }

    const std::string& Name() const { return FileName; }
    // The name in messages: the file's, or "standard output".
    std::string Label() const { return FileName.empty() ? "standard output" : FileName; }

private:
    void OpenRestored();
    // Checks the header of an existing file against ours; false for a missing or empty file.
    bool ExistingMatches();

    std::string FileName;
    bool Append;
    geometry::PhaseSpaceFormat Format;
    std::FILE* File = nullptr;
    // The standard output's own descriptor while records stream there, else -1.
    int SavedStdout = -1;
    std::uint64_t Written = 0;
    // The length to continue from after a restore, or -1.
    std::uint64_t SavedLength = std::uint64_t(-1);
    omp_lock_t Lock;
};

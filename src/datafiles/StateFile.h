#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <string>

// A state file is a sequence of object entries closed by a "StateChecksum" entry: the
// format version (u32) and the CRC-32 (as zlib computes it) of every byte before that
// entry. It is never written in place: the entries go to a temporary file beside it,
// which is synced and then renamed over the old one, whose content stays as ".bak".
namespace datafiles {

constexpr std::uint32_t kStateFormatVersion = 1;

// Writes the state file `fileName` through `writeEntries` and closes it with the
// checksum. On any failure the temporary file is removed, the state file and its
// backup are left as they were, and the error propagates.
//
// For tests, the environment variable TARVO_STATE_EXIT ends the process (_exit(86))
// while writing: a number n after n bytes, "backup" after the backup is in place,
// "rename" after the rename, before the directory is synced.
void WriteStateFile(const std::string& fileName, const std::function<void(std::ostream&)>& writeEntries);

// Opens a state file for reading after checking its checksum; ChecksumAt() is where the
// entries end. Errors name what is wrong but not the file: callers add it.
class TStateFileReader {
public:
    explicit TStateFileReader(const std::string& fileName);
    std::istream& Stream() { return Input; }
    std::uint64_t ChecksumAt() const { return EntriesEnd; }
    // The stream stands exactly at the checksum entry.
    void ExpectEnd();

private:
    std::ifstream Input;
    std::uint64_t EntriesEnd = 0;
};

// Whether the file begins with an entry tag.
bool IsStateFile(const std::string& fileName);
// Removes the state file, its backup and any temporaries of them; false if one exists and stays.
bool RemoveStateFiles(const std::string& fileName);
// CRC-32 of a file's first `bytes` bytes.
std::uint32_t FileCRC32(const std::string& fileName, std::uint64_t bytes);

} // namespace datafiles

#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace datafiles {

// Writes a result file so that a failure never leaves a half-written file under its
// name: `write` fills fileName + ".tmp" (and throws on any error), which is then
// renamed into place. On failure the temporary file is removed and an older file of
// that name is kept; `write` throws errors that name fileName (not the temporary), a
// failed rename is "Error writing " + fileName.
void WriteReplacing(const std::string& fileName,
                    const std::function<void(const std::string& temporary)>& write);

// Reopens a file that a restored run goes on writing (a phase-space file, a trace
// dump): what was written after the state was saved is cut off, and the file is opened
// for appending at the saved length. Errors: "Can't continue " + fileName when it is
// shorter than that, "Couldn't open " + fileName.
std::FILE* ContinueFile(const std::string& fileName, std::uint64_t length);

} // namespace datafiles

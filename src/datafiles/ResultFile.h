#pragma once

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

} // namespace datafiles

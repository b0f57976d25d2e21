#pragma once

#include <string>
#include <vector>

namespace testutil {

struct RunResult {
    int exitCode = -1;   // exit status, or 128 + signal number when killed
    std::string out;
    std::string err;
};

// Runs `program` with `args`, feeding `input` on standard input and closing it
// afterwards, and collects both output streams. The child is killed after
// `timeoutSeconds` (exit code 128 + SIGKILL) so a hang fails the test instead of CI.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input = std::string(), double timeoutSeconds = 60.0,
              const std::string& workingDir = std::string());

// Runs the tarvo executable under test.
RunResult RunTarvo(const std::vector<std::string>& args, const std::string& input = std::string(),
                   double timeoutSeconds = 60.0, const std::string& workingDir = std::string());

// Runs a Python snippet with the system interpreter (which has numpy, tifffile, meshio).
RunResult RunPython(const std::string& script, const std::vector<std::string>& args = {});

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// Counts non-overlapping occurrences of `needle` in `text`.
int CountOf(const std::string& text, const std::string& needle);

// A fresh directory under the system temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace testutil

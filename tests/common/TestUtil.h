#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testutil {

// The program's own materials, as the bundled examples use them.
inline const std::string kMaterials = std::string(TARVO_TEST_DATA) + "/../../data/materials/materials.ini";

// One object section of a scene.
inline std::string Object(const std::string& keys) {
    return "[Object]\n" + keys + "[EndObject]\n";
}

struct RunResult {
    int exitCode = -1;   // exit status, or 128 + signal number when killed
    std::string out;
    std::string err;
};

// A child process with pipes on all three standard streams, for tests that
// talk to the program while it runs (questions, signals).
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workingDir = std::string());
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Write(const std::string& text);
    void CloseInput();
    void Signal(int sig);
    // Collects output until standard output contains `text`; false on timeout or exit.
    bool WaitForOutput(const std::string& text, double timeoutSeconds = 30.0);
    // Feeds the remaining input, closes it, collects everything and waits for the exit.
    RunResult Finish(const std::string& input = std::string(), double timeoutSeconds = 60.0);
    const std::string& Out() const { return result_.out; }
    const std::string& Err() const { return result_.err; }

private:
    // One round of polling; returns false once both output pipes are closed.
    bool Pump(int timeoutMs);

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string pending_;
    bool closeAfterPending_ = false;
    RunResult result_;
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

// The last results summary a run printed, from "Results Summary:" to "Writing results...".
std::string LastResultsSummary(const std::string& out);

// Every RAW image, spectrum, phase-space file, volume and trace dump of a result
// directory, by name without the configuration's, for byte comparisons of runs.
// Threads write phase-space and dump blocks in the order they finish them, so of those
// only the header and the set of records count.
std::string ResultFiles(const std::string& dir);

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

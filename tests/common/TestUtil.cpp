#include "common/TestUtil.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void CloseFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline(double seconds) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workingDir) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    signal(SIGPIPE, SIG_IGN);
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        if (!workingDir.empty() && chdir(workingDir.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    in_ = inPipe[1];
    out_ = outPipe[0];
    err_ = errPipe[0];
    SetNonBlocking(in_);
    SetNonBlocking(out_);
    SetNonBlocking(err_);
}

ChildProcess::~ChildProcess() {
    CloseFd(in_);
    CloseFd(out_);
    CloseFd(err_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::Write(const std::string& text) {
    pending_ += text;
    Pump(0);
}

void ChildProcess::CloseInput() {
    closeAfterPending_ = true;
    Pump(0);
}

void ChildProcess::Signal(int sig) {
    if (pid_ > 0)
        kill(pid_, sig);
}

bool ChildProcess::Pump(int timeoutMs) {
    if (in_ >= 0 && pending_.empty() && closeAfterPending_)
        CloseFd(in_);
    pollfd fds[3];
    int n = 0;
    if (out_ >= 0)
        fds[n++] = {out_, POLLIN, 0};
    if (err_ >= 0)
        fds[n++] = {err_, POLLIN, 0};
    if (in_ >= 0 && !pending_.empty())
        fds[n++] = {in_, POLLOUT, 0};
    if (n == 0)
        return false;
    poll(fds, static_cast<nfds_t>(n), timeoutMs);
    char buf[65536];
    for (int i = 0; i < n; ++i) {
        if (fds[i].revents == 0)
            continue;
        if (fds[i].fd == in_) {
            const ssize_t w = write(in_, pending_.data(), pending_.size());
            if (w > 0)
                pending_.erase(0, static_cast<size_t>(w));
            else if (w < 0 && errno != EAGAIN)
                pending_.clear(); // the child stopped reading
            if (pending_.empty() && closeAfterPending_)
                CloseFd(in_);
            continue;
        }
        const ssize_t r = read(fds[i].fd, buf, sizeof(buf));
        const bool isOut = fds[i].fd == out_;
        if (r > 0)
            (isOut ? result_.out : result_.err).append(buf, static_cast<size_t>(r));
        else if (r == 0 || errno != EAGAIN)
            CloseFd(isOut ? out_ : err_);
    }
    return out_ >= 0 || err_ >= 0;
}

bool ChildProcess::WaitForOutput(const std::string& text, double timeoutSeconds) {
    const auto deadline = Deadline(timeoutSeconds);
    while (result_.out.find(text) == std::string::npos) {
        if (Clock::now() > deadline || !Pump(50))
            return result_.out.find(text) != std::string::npos;
    }
    return true;
}

RunResult ChildProcess::Finish(const std::string& input, double timeoutSeconds) {
    pending_ += input;
    closeAfterPending_ = true;
    const auto deadline = Deadline(timeoutSeconds);
    bool killed = false;
    while (Pump(100)) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            killed = true;
            break;
        }
    }
    CloseFd(in_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (killed || WIFSIGNALED(status))
        result_.exitCode = 128 + (killed ? SIGKILL : WTERMSIG(status));
    else
        result_.exitCode = WEXITSTATUS(status);
    return result_;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& input,
              double timeoutSeconds, const std::string& workingDir) {
    ChildProcess child(program, args, workingDir);
    return child.Finish(input, timeoutSeconds);
}

RunResult RunTarvo(const std::vector<std::string>& args, const std::string& input, double timeoutSeconds,
                   const std::string& workingDir) {
    return Run(TARVO_EXE, args, input, timeoutSeconds, workingDir);
}

RunResult RunPython(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> all{"-c", script};
    all.insert(all.end(), args.begin(), args.end());
    return Run(TARVO_PYTHON, all, std::string(), 300.0);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

int CountOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size()))
        ++count;
    return count;
}

std::string LastResultsSummary(const std::string& out) {
    const std::size_t at = out.rfind("Results Summary:");
    return at == std::string::npos ? std::string() : out.substr(at, out.find("Writing results...", at) - at);
}

namespace {

// A phase-space file or trace dump as its header and its records sorted.
std::string SortedRecords(const std::string& file, const std::string& headerEnd, std::size_t size) {
    const std::size_t body = file.find(headerEnd) + headerEnd.size();
    std::vector<std::string> records;
    for (std::size_t at = body; at + size <= file.size(); at += size)
        records.push_back(file.substr(at, size));
    std::sort(records.begin(), records.end());
    std::string all = file.substr(0, body) + std::to_string((file.size() - body) % size);
    for (const std::string& r : records)
        all += r;
    return all;
}

} // namespace

std::string ResultFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const auto extension = entry.path().extension();
        if (extension == ".raw" || extension == ".xrs" || extension == ".bin" || extension == ".vtk")
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) {
        const std::string data = ReadFile(dir + "/" + name);
        const bool dump = name.find("traces.bin") != std::string::npos;
        const bool records = dump || name.find("phsp.bin") != std::string::npos;
        all += name.substr(name.find(".ini_") + 5) + ":" +
               (records ? SortedRecords(data, dump ? "segment.\n" : "\n\n", dump ? 72 : 36) : data);
    }
    return all;
}

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace testutil

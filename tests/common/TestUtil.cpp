#include "common/TestUtil.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

} // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& input,
              double timeoutSeconds, const std::string& workingDir) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
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
    SetNonBlocking(inPipe[1]);
    SetNonBlocking(outPipe[0]);
    SetNonBlocking(errPipe[0]);
    signal(SIGPIPE, SIG_IGN);

    RunResult result;
    size_t written = 0;
    int inFd = inPipe[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    bool killed = false;
    while (outOpen || errOpen) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd fds[3];
        int n = 0;
        if (outOpen)
            fds[n++] = {outPipe[0], POLLIN, 0};
        if (errOpen)
            fds[n++] = {errPipe[0], POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        poll(fds, n, 100);
        char buf[65536];
        for (int i = 0; i < n; ++i) {
            if (fds[i].fd == inFd && (fds[i].revents & (POLLOUT | POLLERR | POLLHUP))) {
                const ssize_t w = write(inFd, input.data() + written, input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN) // the child closed its input: stop feeding it
                    written = input.size();
                if (written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
            } else if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t r = read(fds[i].fd, buf, sizeof(buf));
                if (r > 0) {
                    (fds[i].fd == outPipe[0] ? result.out : result.err).append(buf, static_cast<size_t>(r));
                } else if (r == 0 || errno != EAGAIN) {
                    (fds[i].fd == outPipe[0] ? outOpen : errOpen) = false;
                }
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (killed || WIFSIGNALED(status))
        result.exitCode = 128 + (killed ? SIGKILL : WTERMSIG(status));
    else
        result.exitCode = WEXITSTATUS(status);
    return result;
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

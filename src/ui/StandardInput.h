#pragma once

#include <cstddef>
#include <istream>
#include <streambuf>

namespace ui {

// Reads a file descriptor (standard input by default) that may be a terminal,
// a pipe or a redirected file, with a non-blocking test for pending input.
// It keeps its own buffer, so polling and reading always agree.
class TStandardInput {
public:
    explicit TStandardInput(int fd = 0) : fd_(fd) {}

    // True when a read would not block: buffered data, readable data, or the end of input.
    bool HasPending();
    // Blocks for the next byte; -1 at the end of input.
    int ReadChar();
    bool IsClosed() const { return closed_ && pos_ == len_; }

private:
    bool Fill();

    int fd_;
    char buffer_[4096];
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool closed_ = false;
};

// Lets stream readers (a configuration piped in as "-") share the console's
// input, so commands that follow it are not swallowed by a second buffer.
class TStandardInputBuffer : public std::streambuf {
public:
    explicit TStandardInputBuffer(TStandardInput& input) : input_(input) {}

protected:
    int_type underflow() override;

private:
    TStandardInput& input_;
    char current_ = 0;
};

} // namespace ui

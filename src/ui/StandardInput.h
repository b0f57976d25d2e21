#pragma once

#include <cstddef>

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

} // namespace ui

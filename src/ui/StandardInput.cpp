#include "ui/StandardInput.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace ui {

bool TStandardInput::HasPending() {
    if (pos_ < len_ || closed_)
        return true;
    pollfd request{fd_, POLLIN, 0};
    const int ready = poll(&request, 1, 0);
    if (ready < 0)
        return false;
    // A hang-up or an invalid descriptor is an end of input that the next read reports.
    return ready > 0 && (request.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool TStandardInput::Fill() {
    if (closed_)
        return false;
    for (;;) {
        const ssize_t count = read(fd_, buffer_, sizeof(buffer_));
        if (count > 0) {
            pos_ = 0;
            len_ = static_cast<std::size_t>(count);
            return true;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Inherited non-blocking descriptor: wait for data instead of taking it as the end.
            pollfd request{fd_, POLLIN, 0};
            poll(&request, 1, -1);
            continue;
        }
        closed_ = true;
        return false;
    }
}

int TStandardInput::ReadChar() {
    if (pos_ == len_ && !Fill())
        return -1;
    return static_cast<unsigned char>(buffer_[pos_++]);
}

TStandardInputBuffer::int_type TStandardInputBuffer::underflow() {
    // One byte at a time: nothing is taken from the console's input that the reader did not ask for.
    const int c = input_.ReadChar();
    if (c < 0)
        return traits_type::eof();
    current_ = static_cast<char>(c);
    setg(&current_, &current_, &current_ + 1);
    return traits_type::to_int_type(current_);
}

} // namespace ui

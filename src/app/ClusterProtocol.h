#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

// The messages of a cluster run: a kind letter, then fixed-width numbers and strings.
// Rank 0 to a worker: Load (configuration, result directory), Run, Batch (index,
// first history, count, seed), End (no batch left), Stop, Quit. A worker to rank 0:
// Loaded (error text, empty when loaded), Request (answered when no round is due),
// Handover (detector, bytes), Done (complete flag, six counters), Progress
// (histories traced), Failed (error text), Ended (whether batches were dropped).
namespace cluster {

enum Kind : char {
    kLoad = 'L',
    kRun = 'R',
    kBatch = 'B',
    kEnd = 'E',
    kStop = 'S',
    kQuit = 'Q',
    kLoaded = 'l',
    kRequest = 'r',
    kHandover = 'h',
    kDone = 'd',
    kProgress = 'p',
    kFailed = 'f',
    kEnded = 'e',
};

inline void PutU64(std::string& out, std::uint64_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

inline void PutString(std::string& out, const std::string& text) {
    PutU64(out, text.size());
    out += text;
}

// Reads a message from after its kind letter on; a short message is an error.
class MessageReader {
public:
    explicit MessageReader(const std::string& message) : Message(message) {}
    std::uint64_t U64() {
        std::uint64_t value = 0;
        Need(sizeof value);
        std::memcpy(&value, Message.data() + At, sizeof value);
        At += sizeof value;
        return value;
    }
    std::string String() {
        const std::uint64_t size = U64();
        Need(size);
        std::string text = Message.substr(At, std::size_t(size));
        At += std::size_t(size);
        return text;
    }
    // The rest of the message, valid as long as the message.
    std::string_view Rest() const { return std::string_view(Message).substr(At); }

private:
    void Need(std::uint64_t size) const {
        if (size > Message.size() - At)
            throw std::runtime_error("Cluster message is truncated");
    }
    const std::string& Message;
    std::size_t At = 1;
};

} // namespace cluster

#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace geometry {

// Buffered reading of text lines and raw bytes from one stream, so that a header
// read line by line and a binary body that follows it share one position. Bytes
// can be handed back (Unread) when a format turns out different from what its
// first bytes suggested.
class ByteSource {
public:
    explicit ByteSource(std::istream& in, std::size_t bufferSize = 1 << 16);

    // Next line without its line feed; false at the end of input with nothing read.
    bool ReadLine(std::string& line);
    // Exactly n bytes, or false if the input ends first.
    bool Read(void* destination, std::size_t n);
    // Next byte as 0..255, or -1 at the end of input.
    int Get();
    // Makes bytes be read again before anything still unread.
    void Unread(const std::string& bytes);

private:
    bool Fill();

    std::istream& In;
    std::vector<char> Buffer;
    std::size_t Pos = 0;
    std::size_t End = 0;
};

// True if this machine stores numbers least significant byte first.
bool HostIsLittleEndian();

// Reverses the byte order of n bytes in place.
void SwapBytes(void* data, std::size_t n);

} // namespace geometry

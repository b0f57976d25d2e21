#pragma once

// The compressed text stream (".xrc" files, magic "XRTC").
//
// XRTCBuffer compresses text on output and decompresses it on input; data that
// does not start with the magic passes through unchanged in both directions,
// so every reader that opens its files through an XRTCStream accepts plain and
// compressed files alike, and a compressed file is never compressed twice.
//
// Every line is coded against the line above it: a character equal to the one
// in the same column of the previous line is the 2-bit symbol SAME, digits
// cost 4 or 5 bits, and runs of equal symbols are folded into multiplicative
// repeat prefixes. Codes (most significant bit first):
//   0ddd digit 0-7 | 10000 "8" | 10001 "9" | 10010 line feed | 1001100 space
//   10011010 "+" | 100110110 "-" | 100110111 "." | 100111bbbbbbbb literal byte
//   101kkkk repeat prefix (factor k + 2) | 11 SAME
// The literal code of byte 26 ends the stream; byte 26 cannot be compressed.
//
// Typical use:
//   auto in = datafiles::OpenInputFile(name);        // plain or compressed
//   std::getline(*in, line);
//   auto out = datafiles::OpenOutputFile(name, true); // compressed
//   *out << table; out->Close();
// The streams report decoding and coding errors by rethrowing the buffer's
// exception (their exception mask includes badbit).

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

namespace datafiles {

// How decoding reacts to the world outside: the application polls its interrupt flag
// here and decides whether a decompression that grows beyond the bound may go on.
// Without a guard nothing interrupts and growth beyond the bound is refused.
struct DecodeGuard {
    // Polled while decoding and copying; true stops with "Interrupted".
    std::function<bool()> Interrupted;
    // Asked once per stream with a question text when its output would grow beyond
    // Ratio times the compressed bytes read plus Slack; true lets it go on.
    std::function<bool(const std::string& question)> AllowExpansion;
    std::uint64_t Ratio = 1000;
    std::uint64_t Slack = std::uint64_t(1) << 30;
};
void SetDecodeGuard(DecodeGuard guard);

class XRTCBuffer : public std::streambuf {
public:
    static constexpr std::size_t kAreaSize = 1024;

    // Reads from `source` and writes to `sink` (either may be null when that
    // direction is not used; neither is owned). With `passThrough` the output
    // is written plain, without header.
    XRTCBuffer(std::istream* source, std::ostream* sink, bool passThrough = false);
    ~XRTCBuffer() override;
    XRTCBuffer(const XRTCBuffer&) = delete;
    XRTCBuffer& operator=(const XRTCBuffer&) = delete;

    // Ends the output: codes the last line and the held-back run, writes the
    // end code, pads the last byte and flushes the sink. Happens once, and
    // only when something was written; false when the sink failed. Throws the
    // coding errors.
    bool Finish();

    // Names the data in error messages (" while reading " / " while writing " + name).
    void SetName(const std::string& name) { name_ = name; }

protected:
    int_type underflow() override;
    int_type overflow(int_type ch) override;
    int sync() override;

private:
    // Writing.
    bool FlushPutArea();
    bool WriteOut(const char* data, std::size_t size);
    void Encode(const unsigned char* data, std::size_t size);
    void EmitSymbol(int symbol);
    void EndEncodedLine();
    void CodeRun(int symbol, std::uint64_t count);
    void PutBits(std::uint32_t code, unsigned bits);
    void SpillBits();
    bool DrainPacked();

    [[noreturn]] void Fail(const std::string& text, bool reading = true) const;

    // Reading.
    void CheckInterrupt() const;
    void CheckGrowth(std::uint64_t more);
    void AppendRun(char ch, std::uint64_t count);
    std::size_t Fetch(char* dst, std::size_t capacity);
    std::size_t Decode(char* dst, std::size_t capacity);
    bool Deliver(char* dst, std::size_t capacity, std::size_t& pos);
    void EndDecodedLine();
    bool RunPending(char* dst, std::size_t capacity, std::size_t& pos);
    bool RepeatLines(char* dst, std::size_t capacity, std::size_t& pos);
    void RefillFromRaw();
    bool NeedBits(unsigned count);
    std::uint32_t TakeBits(unsigned count);
    int DecodeSlow(std::uint32_t& value);

    std::istream* source_;
    std::ostream* sink_;
    std::string name_;
    char inArea_[kAreaSize];
    char outArea_[kAreaSize + 1];

    // Bit reader: source bytes not yet taken, and the accumulator.
    std::vector<unsigned char> raw_;
    std::size_t rawPos_ = 0;
    std::size_t rawEnd_ = 0;
    bool sourceEnded_ = false;
    std::uint64_t readAcc_ = 0;
    unsigned readBits_ = 0;

    // Decoder state.
    std::string curLine_;
    std::string prevLine_;
    bool delivering_ = false;    // prevLine_ + "\n" is being handed out
    std::size_t deliverPos_ = 0; // next position in prevLine_ + "\n"
    int pendingSymbol_ = -1;     // SAME or line feed still to be repeated
    std::uint64_t pendingCount_ = 0;
    std::uint64_t factor_ = 1;
    std::uint64_t fetched_ = 0;  // source bytes taken
    std::uint64_t produced_ = 0; // text bytes handed out
    bool growthAllowed_ = false;
    bool headerSeen_ = false;
    bool endReached_ = false;
    bool readPassThrough_ = false;

    // Bit writer: accumulator and the packed bytes waiting for the sink.
    std::uint64_t writeAcc_ = 0;
    unsigned writeBits_ = 0;
    std::vector<char> packed_;

    // Encoder state.
    std::string encPrevLine_;
    std::string encCurLine_;
    int runSymbol_ = -1;
    std::uint64_t runLength_ = 0;
    char pairedDelimiter_ = 0; // the delimiter that would pair with the last one
    bool started_ = false;
    bool finished_ = false;
    bool writePassThrough_;
};

// An input/output stream over one XRTCBuffer.
class XRTCStream : public std::iostream {
public:
    // Over a pair of streams (not owned): reads from `source`, writes to
    // `sink`, compressed unless `passThrough`.
    XRTCStream(std::istream* source, std::ostream* sink, bool passThrough = false);
    // Over a file opened with `mode` (binary is added) and used as both source
    // and sink. A file that cannot be opened leaves the failbit set.
    XRTCStream(const std::string& fileName, std::ios::openmode mode, bool passThrough = false);
    // Finishes the buffer and closes the file; errors are swallowed here, so
    // writers call Close() to see them.
    ~XRTCStream() override;

    bool is_open() const { return !file_ || file_->is_open(); }
    void SetName(const std::string& name) { buffer_.SetName(name); }
    // Finishes the output, flushes and closes the file. Coding errors are
    // thrown; a failing sink sets badbit (and so throws std::ios_base::failure).
    void Close();

private:
    std::unique_ptr<std::fstream> file_;
    XRTCBuffer buffer_;
};

// Opens a text file for reading, plain or compressed. Throws
// "Can not open file for reading: " + name.
std::unique_ptr<XRTCStream> OpenInputFile(const std::string& fileName);

// Reads an already open stream (for example std::cin) the same way.
std::unique_ptr<XRTCStream> OpenInputStream(std::istream& source);

// Creates (truncates) a text file for writing, compressed or plain. Throws
// "Can not open file for writing: " + name. Call Close() at the end to see
// write errors.
std::unique_ptr<XRTCStream> OpenOutputFile(const std::string& fileName, bool compress);

// For a reader's catch block: the error's text with " while reading " + fileName
// appended, unless the text names the file already.
std::runtime_error NamingFile(const std::exception& error, const std::string& fileName);

// Copies `source` to `target` through the stream: compressing (data already
// compressed is copied unchanged) or decompressing (plain data is copied
// unchanged). Throws "Can not open file for reading: " / "Can not open file
// for writing: " + name, "Error writing " + target, and the stream's errors.
void CopyThroughStream(const std::string& source, const std::string& target, bool compress);
inline void CompressFile(const std::string& source, const std::string& target) {
    CopyThroughStream(source, target, true);
}
inline void DecompressFile(const std::string& source, const std::string& target) {
    CopyThroughStream(source, target, false);
}

} // namespace datafiles

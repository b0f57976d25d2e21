#include "datafiles/XRTCStream.h"
#include "datafiles/ResultFile.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace datafiles {

namespace {

constexpr char kMagic[4] = {'X', 'R', 'T', 'C'};
constexpr std::size_t kMagicSize = sizeof(kMagic);
// Byte 26 is reserved: as a symbol it is SAME, its literal code is the end code.
constexpr int kSame = 26;
constexpr int kLineFeed = '\n';
constexpr std::uint64_t kMaxRun = 17;
constexpr std::size_t kRawSize = 1 << 16;
constexpr std::size_t kPackedFlush = 1 << 15;

struct Code {
    std::uint32_t bits;
    unsigned length;
};

// Code of every symbol 0..255 (26 is SAME, 10 the line feed code).
constexpr std::array<Code, 256> MakeCodes() {
    std::array<Code, 256> codes{};
    for (unsigned b = 0; b < 256; ++b)
        codes[b] = {(0x27u << 8) | b, 14}; // 100111 bbbbbbbb
    for (unsigned d = 0; d < 8; ++d)
        codes['0' + d] = {d, 4};
    codes['8'] = {0x10, 5};
    codes['9'] = {0x11, 5};
    codes['\n'] = {0x12, 5};
    codes[' '] = {0x4C, 7};
    codes['+'] = {0x9A, 8};
    codes['-'] = {0x136, 9};
    codes['.'] = {0x137, 9};
    codes[kSame] = {0x3, 2};
    return codes;
}
constexpr std::array<Code, 256> kCodes = MakeCodes();
constexpr Code kEndCode = {(0x27u << 8) | 26u, 14};

constexpr Code RepeatPrefix(std::uint64_t k) {
    return {0x50u | static_cast<std::uint32_t>(k), 7};
}

enum Kind : std::uint8_t { kByte, kSameSymbol, kLineFeedSymbol, kPrefix, kLiteral };

struct Decoded {
    Kind kind;
    std::uint8_t value;
    std::uint8_t length;
};

// Decoding table indexed by the next 9 bits; every code except the literal
// is decided within them (the literal's byte follows its 6-bit head).
constexpr std::array<Decoded, 512> MakeDecodeTable() {
    std::array<Decoded, 512> table{};
    for (unsigned i = 0; i < 512; ++i) {
        Decoded d{kByte, 0, 0};
        if ((i >> 8) == 0)
            d = {kByte, static_cast<std::uint8_t>('0' + ((i >> 5) & 7)), 4};
        else if ((i >> 7) == 3)
            d = {kSameSymbol, 0, 2};
        else if ((i >> 6) == 5)
            d = {kPrefix, static_cast<std::uint8_t>((i >> 2) & 15), 7};
        else if ((i >> 4) == 0x10)
            d = {kByte, '8', 5};
        else if ((i >> 4) == 0x11)
            d = {kByte, '9', 5};
        else if ((i >> 4) == 0x12)
            d = {kLineFeedSymbol, 0, 5};
        else if ((i >> 3) == 0x27)
            d = {kLiteral, 0, 14};
        else if ((i >> 2) == 0x4C)
            d = {kByte, ' ', 7};
        else if ((i >> 1) == 0x9A)
            d = {kByte, '+', 8};
        else if (i == 0x136)
            d = {kByte, '-', 9};
        else if (i == 0x137)
            d = {kByte, '.', 9};
        table[i] = d;
    }
    return table;
}
constexpr std::array<Decoded, 512> kDecodeTable = MakeDecodeTable();

DecodeGuard& Guard() {
    static DecodeGuard guard;
    return guard;
}

} // namespace

void SetDecodeGuard(DecodeGuard guard) {
    Guard() = std::move(guard);
}

// ---------------------------------------------------------------------------
// XRTCBuffer

XRTCBuffer::XRTCBuffer(std::istream* source, std::ostream* sink, bool passThrough)
    : source_(source), sink_(sink), writePassThrough_(passThrough) {
    setg(inArea_, inArea_, inArea_);
    setp(outArea_, outArea_ + kAreaSize);
}

XRTCBuffer::~XRTCBuffer() {
    try {
        Finish();
    } catch (...) {
    }
}

void XRTCBuffer::Fail(const std::string& text, bool reading) const {
    if (name_.empty())
        throw std::runtime_error(text);
    throw std::runtime_error(text + (reading ? " while reading " : " while writing ") + name_);
}

// --- writing ---------------------------------------------------------------

XRTCBuffer::int_type XRTCBuffer::overflow(int_type ch) {
    if (finished_)
        return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch); // the spare byte behind the area
        pbump(1);
    }
    if (!FlushPutArea())
        return traits_type::eof();
    return traits_type::not_eof(ch);
}

int XRTCBuffer::sync() {
    if (finished_)
        return 0;
    if (!FlushPutArea())
        return -1;
    if (!started_)
        return 0;
    return DrainPacked() && sink_->flush() ? 0 : -1;
}

bool XRTCBuffer::FlushPutArea() {
    const std::size_t size = static_cast<std::size_t>(pptr() - pbase());
    setp(outArea_, outArea_ + kAreaSize);
    if (size == 0)
        return true;
    if (sink_ == nullptr)
        return false;
    if (!started_) {
        // Data that already is compressed is copied, never compressed twice.
        started_ = true;
        if (!writePassThrough_) {
            if (size >= kMagicSize && std::memcmp(outArea_, kMagic, kMagicSize) == 0)
                writePassThrough_ = true;
            else
                packed_.insert(packed_.end(), kMagic, kMagic + kMagicSize);
        }
    }
    if (writePassThrough_)
        return sink_->rdbuf()->sputn(outArea_, static_cast<std::streamsize>(size)) ==
               static_cast<std::streamsize>(size);
    try {
        Encode(reinterpret_cast<const unsigned char*>(outArea_), size);
    } catch (...) {
        finished_ = true; // the output is broken; no end code follows
        throw;
    }
    return packed_.size() < kPackedFlush || DrainPacked();
}

inline void XRTCBuffer::PutBits(std::uint32_t code, unsigned bits) {
    writeAcc_ = (writeAcc_ << bits) | code;
    writeBits_ += bits;
    if (writeBits_ >= 32)
        SpillBits();
}

// Extends the current run or codes it; the last run is held back, as it may go on.
inline void XRTCBuffer::EmitSymbol(int symbol) {
    if (symbol == runSymbol_) {
        ++runLength_;
        return;
    }
    if (runLength_ == 1) {
        const Code code = kCodes[static_cast<unsigned>(runSymbol_)];
        PutBits(code.bits, code.length);
    } else if (runLength_ != 0) {
        CodeRun(runSymbol_, runLength_);
    }
    runSymbol_ = symbol;
    runLength_ = 1;
}

void XRTCBuffer::Encode(const unsigned char* data, std::size_t size) {
    const unsigned char* p = data;
    const unsigned char* const end = data + size;
    if (pairedDelimiter_ != 0 && p < end) {
        if (*p == static_cast<unsigned char>(pairedDelimiter_))
            ++p;
        pairedDelimiter_ = 0;
    }
    while (p < end) {
        const unsigned char ch = *p++;
        if (ch == '\n' || ch == '\r') {
            EndEncodedLine();
            // "\r\n" and "\n\r" are one line end; the partner may arrive later.
            const unsigned char other = ch == '\n' ? '\r' : '\n';
            if (p == end)
                pairedDelimiter_ = static_cast<char>(other);
            else if (*p == other)
                ++p;
            continue;
        }
        if (ch == kSame)
            Fail("Input contains special value -- cannot be compressed!", false);
        const std::size_t column = encCurLine_.size();
        const bool same =
            column < encPrevLine_.size() && static_cast<unsigned char>(encPrevLine_[column]) == ch;
        encCurLine_.push_back(static_cast<char>(ch));
        EmitSymbol(same ? kSame : ch);
    }
}

void XRTCBuffer::EndEncodedLine() {
    EmitSymbol(encCurLine_.size() >= encPrevLine_.size() ? kSame : kLineFeed);
    encPrevLine_.swap(encCurLine_);
    encCurLine_.clear();
}

void XRTCBuffer::CodeRun(int symbol, std::uint64_t count) {
    const Code code = kCodes[static_cast<unsigned>(symbol)];
    while (count > kMaxRun) {
        std::uint64_t unit = 1;
        do {
            const Code prefix = RepeatPrefix(15);
            PutBits(prefix.bits, prefix.length);
            unit *= kMaxRun;
        } while (count / unit > kMaxRun);
        const std::uint64_t groups = count / unit;
        count -= groups * unit;
        if (groups > 1) {
            const Code prefix = RepeatPrefix(groups - 2);
            PutBits(prefix.bits, prefix.length);
        }
        if (count > 0)
            PutBits(code.bits, code.length); // closes the group; the remainder follows
    }
    if (count > 1) {
        if (code.length * count < code.length + 7) {
            for (std::uint64_t i = 1; i < count; ++i)
                PutBits(code.bits, code.length);
        } else {
            const Code prefix = RepeatPrefix(count - 2);
            PutBits(prefix.bits, prefix.length);
        }
    }
    PutBits(code.bits, code.length);
}

void XRTCBuffer::SpillBits() {
    while (writeBits_ >= 8) {
        writeBits_ -= 8;
        packed_.push_back(static_cast<char>(writeAcc_ >> writeBits_));
    }
}

bool XRTCBuffer::DrainPacked() {
    if (packed_.empty())
        return true;
    if (sink_ == nullptr)
        return false;
    const auto size = static_cast<std::streamsize>(packed_.size());
    const bool ok = sink_->rdbuf()->sputn(packed_.data(), size) == size;
    packed_.clear();
    return ok;
}

bool XRTCBuffer::Finish() {
    if (finished_)
        return true;
    bool ok = FlushPutArea();
    finished_ = true;
    if (!started_)
        return ok;
    if (!writePassThrough_) {
        if (!encCurLine_.empty())
            EndEncodedLine(); // a last line without line end
        if (runLength_ != 0)
            CodeRun(runSymbol_, runLength_);
        runLength_ = 0;
        PutBits(kEndCode.bits, kEndCode.length);
        if (writeBits_ % 8 != 0)
            PutBits(0, 8 - writeBits_ % 8);
        SpillBits();
        ok = DrainPacked() && ok;
    }
    return sink_->flush() && ok;
}

// --- reading ---------------------------------------------------------------

std::size_t XRTCBuffer::Fetch(char* dst, std::size_t capacity) {
    if (sourceEnded_ || source_ == nullptr || source_->rdbuf() == nullptr || capacity == 0)
        return 0;
    // Take what the source holds without waiting; wait for one byte only when
    // it holds nothing, so a pipe is never read beyond the data needed.
    std::streambuf* buf = source_->rdbuf();
    const auto cap = static_cast<std::streamsize>(capacity);
    std::streamsize got = 0;
    try {
        std::streamsize avail = buf->in_avail();
        got = buf->sgetn(dst, avail > 0 ? std::min(avail, cap) : 1);
        if (got <= 0) {
            sourceEnded_ = true;
            return 0;
        }
        if (got < cap && (avail = buf->in_avail()) > 0)
            got += std::max<std::streamsize>(0, buf->sgetn(dst + got, std::min(avail, cap - got)));
    } catch (const std::exception&) {
        // The file buffer's own text names neither the file nor the cause plainly.
        Fail(std::string("Read error (") + std::strerror(errno) + ")");
    }
    fetched_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

XRTCBuffer::int_type XRTCBuffer::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    std::size_t size = 0;
    if (!headerSeen_) {
        headerSeen_ = true;
        if (kAreaSize <= kMagicSize)
            Fail("Buffer too small for header!");
        std::size_t got;
        while (size < kMagicSize && (got = Fetch(inArea_ + size, kMagicSize - size)) > 0)
            size += got;
        if (size == kMagicSize && std::memcmp(inArea_, kMagic, kMagicSize) == 0) {
            size = 0;
            raw_.resize(kRawSize);
        } else {
            readPassThrough_ = true; // plain data: the bytes read so far, then the rest
        }
    }
    if (size == 0 && readPassThrough_) {
        size = Fetch(inArea_, kAreaSize);
    } else if (size == 0) {
        CheckInterrupt();
        CheckGrowth(0);
        size = Decode(inArea_, kAreaSize);
        produced_ += size;
    }
    setg(inArea_, inArea_, inArea_ + size);
    return size == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

void XRTCBuffer::RefillFromRaw() {
    while (readBits_ <= 56 && rawPos_ < rawEnd_) {
        readAcc_ = (readAcc_ << 8) | raw_[rawPos_++];
        readBits_ += 8;
    }
}

bool XRTCBuffer::NeedBits(unsigned count) {
    while (readBits_ < count) {
        if (rawPos_ == rawEnd_) {
            rawPos_ = 0;
            rawEnd_ = Fetch(reinterpret_cast<char*>(raw_.data()), raw_.size());
            if (rawEnd_ == 0)
                return false;
        }
        RefillFromRaw();
    }
    return true;
}

std::uint32_t XRTCBuffer::TakeBits(unsigned count) {
    if (!NeedBits(count))
        Fail("Not enough bits in input!");
    readBits_ -= count;
    return static_cast<std::uint32_t>(readAcc_ >> readBits_) & ((1u << count) - 1);
}

// Bit by bit, fetching from the source only as far as the code reaches.
int XRTCBuffer::DecodeSlow(std::uint32_t& value) {
    if (TakeBits(1) == 0) {
        value = TakeBits(3);
        if (value > 7)
            Fail("I only asked for three bits!");
        value += '0';
        return kByte;
    }
    if (TakeBits(1) == 1)
        return kSameSymbol;
    if (TakeBits(1) == 1) {
        value = TakeBits(4);
        return kPrefix;
    }
    switch (TakeBits(2)) {
    case 0:
        value = '8';
        return kByte;
    case 1:
        value = '9';
        return kByte;
    case 2:
        return kLineFeedSymbol;
    default:
        break;
    }
    if (TakeBits(1) == 1) {
        value = TakeBits(8);
        return kLiteral;
    }
    value = TakeBits(1) == 0 ? ' ' : TakeBits(1) == 0 ? '+' : TakeBits(1) == 0 ? '-' : '.';
    return kByte;
}

void XRTCBuffer::CheckInterrupt() const {
    if (Guard().Interrupted && Guard().Interrupted())
        Fail("Interrupted");
}

// A few compressed bytes can stand for billions of text bytes; beyond the bound the
// guard decides (an attended console asks the user), once per stream.
void XRTCBuffer::CheckGrowth(std::uint64_t more) {
    if (growthAllowed_)
        return;
    const DecodeGuard& guard = Guard();
    const std::uint64_t bound = guard.Slack + guard.Ratio * fetched_;
    if (produced_ + curLine_.size() + more <= bound)
        return;
    const std::string what = name_.empty() ? std::string("The compressed data") : name_;
    const std::string limit = "more than " + std::to_string(bound) + " bytes (" +
                              std::to_string(guard.Ratio) + " times the compressed size plus " +
                              std::to_string(guard.Slack) + " bytes)";
    if (guard.AllowExpansion && guard.AllowExpansion(what + " expands to " + limit + ". Go on?")) {
        growthAllowed_ = true;
        return;
    }
    Fail("Decompressed data would grow to " + limit);
}

// A repeated byte stays in the line until the line ends; it grows in chunks so an
// interrupt is seen while a huge run is built.
void XRTCBuffer::AppendRun(char ch, std::uint64_t count) {
    if (count > curLine_.max_size() - curLine_.size())
        Fail("Repeat count too large");
    CheckGrowth(count);
    constexpr std::uint64_t kChunk = std::uint64_t(1) << 26;
    try {
        while (count != 0) {
            CheckInterrupt();
            const std::uint64_t n = std::min(count, kChunk);
            curLine_.append(static_cast<std::size_t>(n), ch);
            count -= n;
        }
    } catch (const std::bad_alloc&) {
        Fail("Out of memory for a decoded line");
    }
}

void XRTCBuffer::EndDecodedLine() {
    prevLine_.swap(curLine_);
    curLine_.clear();
    delivering_ = true;
    deliverPos_ = 0;
}

bool XRTCBuffer::Deliver(char* dst, std::size_t capacity, std::size_t& pos) {
    const std::size_t length = prevLine_.size();
    if (deliverPos_ < length) {
        const std::size_t n = std::min(length - deliverPos_, capacity - pos);
        std::memcpy(dst + pos, prevLine_.data() + deliverPos_, n);
        pos += n;
        deliverPos_ += n;
    }
    if (deliverPos_ < length || pos == capacity)
        return false;
    dst[pos++] = '\n';
    delivering_ = false;
    return true;
}

bool XRTCBuffer::RunPending(char* dst, std::size_t capacity, std::size_t& pos) {
    while (pendingCount_ != 0) {
        if (!delivering_ && curLine_.empty() && RepeatLines(dst, capacity, pos))
            continue;
        if (pendingSymbol_ == kSame && curLine_.size() < prevLine_.size()) {
            const std::size_t column = curLine_.size();
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(pendingCount_, prevLine_.size() - column));
            curLine_.append(prevLine_, column, n);
            pendingCount_ -= n;
            continue;
        }
        if (pos == capacity)
            return false;
        EndDecodedLine();
        --pendingCount_;
        if (!Deliver(dst, capacity, pos))
            return false;
    }
    return true;
}

// From an empty line on, a repeated SAME gives copies of the previous line and a
// repeated line feed gives empty lines: written as whole lines at memory speed, so
// a long run costs no more than its output. False when not one whole line fits.
bool XRTCBuffer::RepeatLines(char* dst, std::size_t capacity, std::size_t& pos) {
    if (pendingSymbol_ == kLineFeed)
        prevLine_.clear(); // the first line feed ends the empty line, and so on
    const std::size_t length = prevLine_.size() + 1;
    const std::uint64_t lines = std::min<std::uint64_t>(pendingCount_ / length, (capacity - pos) / length);
    if (lines == 0)
        return false;
    for (std::uint64_t i = 0; i < lines; ++i) {
        std::memcpy(dst + pos, prevLine_.data(), length - 1);
        dst[pos + length - 1] = '\n';
        pos += length;
    }
    pendingCount_ -= lines * length;
    return true;
}

std::size_t XRTCBuffer::Decode(char* dst, std::size_t capacity) {
    std::size_t pos = 0;
    for (;;) {
        if (delivering_ && !Deliver(dst, capacity, pos))
            return pos;
        if (pendingCount_ != 0) {
            if (!RunPending(dst, capacity, pos))
                return pos;
            continue;
        }
        if (endReached_ || pos == capacity)
            return pos;
        // Decode until a line ends (or a repeated line end is pending).
        for (;;) {
            int kind;
            std::uint32_t value;
            if (readBits_ < 14)
                RefillFromRaw();
            if (readBits_ >= 14) {
                const Decoded& d = kDecodeTable[(readAcc_ >> (readBits_ - 9)) & 0x1FF];
                readBits_ -= d.length;
                kind = d.kind;
                value = kind == kLiteral ? static_cast<std::uint32_t>(readAcc_ >> readBits_) & 0xFF : d.value;
            } else {
                kind = DecodeSlow(value);
            }
            if (kind == kLiteral) {
                if (value == static_cast<std::uint32_t>(kSame)) {
                    endReached_ = true; // a pending factor and an open line are dropped
                    factor_ = 1;
                    return pos;
                }
                kind = value == '\n' ? kLineFeedSymbol : kByte;
            }
            if (kind == kPrefix) {
                const std::uint64_t k = value + 2;
                if (factor_ > std::numeric_limits<std::uint64_t>::max() / k)
                    Fail("Repeat count too large");
                factor_ *= k;
                continue;
            }
            if (kind == kByte) {
                if (factor_ == 1)
                    curLine_.push_back(static_cast<char>(value));
                else
                    AppendRun(static_cast<char>(value), factor_);
                factor_ = 1;
                continue;
            }
            if (factor_ != 1) {
                pendingSymbol_ = kind == kSameSymbol ? kSame : kLineFeed;
                pendingCount_ = factor_;
                factor_ = 1;
                break;
            }
            if (kind == kSameSymbol && curLine_.size() < prevLine_.size()) {
                curLine_.push_back(prevLine_[curLine_.size()]);
                continue;
            }
            EndDecodedLine();
            break;
        }
    }
}

// ---------------------------------------------------------------------------
// XRTCStream

XRTCStream::XRTCStream(std::istream* source, std::ostream* sink, bool passThrough)
    : std::iostream(nullptr), buffer_(source, sink, passThrough) {
    init(&buffer_);
    exceptions(std::ios::badbit);
}

XRTCStream::XRTCStream(const std::string& fileName, std::ios::openmode mode, bool passThrough)
    : std::iostream(nullptr), file_(std::make_unique<std::fstream>(fileName, mode | std::ios::binary)),
      buffer_(file_.get(), file_.get(), passThrough) {
    init(&buffer_);
    buffer_.SetName(fileName);
    // A directory opens for reading on some systems and fails only at the first read.
    std::error_code error;
    if (file_->is_open() && std::filesystem::is_directory(fileName, error))
        file_->close();
    if (!file_->is_open())
        setstate(std::ios::failbit);
    exceptions(std::ios::badbit);
}

XRTCStream::~XRTCStream() {
    exceptions(std::ios::goodbit);
    try {
        if (!buffer_.Finish())
            setstate(std::ios::badbit);
    } catch (...) {
        setstate(std::ios::badbit);
    }
}

void XRTCStream::Close() {
    bool ok = buffer_.Finish();
    if (file_ && file_->is_open()) {
        file_->close();
        ok = ok && !file_->fail();
    }
    if (!ok)
        setstate(std::ios::badbit);
}

// ---------------------------------------------------------------------------
// Helpers

std::unique_ptr<XRTCStream> OpenInputFile(const std::string& fileName) {
    auto stream = std::make_unique<XRTCStream>(fileName, std::ios::in);
    if (!stream->is_open())
        throw std::runtime_error("Can not open file for reading: " + fileName);
    return stream;
}

std::runtime_error NamingFile(const std::exception& error, const std::string& fileName) {
    const std::string text = error.what();
    if (text.find(fileName) != std::string::npos)
        return std::runtime_error(text);
    return std::runtime_error(text + " while reading " + fileName);
}

std::unique_ptr<XRTCStream> OpenInputStream(std::istream& source) {
    return std::make_unique<XRTCStream>(&source, nullptr);
}

std::unique_ptr<XRTCStream> OpenOutputFile(const std::string& fileName, bool compress) {
    auto stream = std::make_unique<XRTCStream>(fileName, std::ios::out | std::ios::trunc, !compress);
    if (!stream->is_open())
        throw std::runtime_error("Can not open file for writing: " + fileName);
    return stream;
}

namespace {

void Pump(std::istream& in, const std::string& source, std::ostream& out, const std::string& target) {
    std::vector<char> block(1 << 16);
    while (in) {
        if (Guard().Interrupted && Guard().Interrupted())
            throw std::runtime_error("Interrupted while reading " + source);
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (in.gcount() > 0 && !out.write(block.data(), in.gcount()))
            throw std::runtime_error("Error writing " + target);
    }
    if (in.bad())
        throw std::runtime_error("Error reading " + source);
}

void CopyInto(const std::string& source, const std::string& target, const std::string& written, bool compress) {
    if (compress) {
        std::ifstream in(source, std::ios::binary);
        std::error_code error;
        if (!in || std::filesystem::is_directory(source, error))
            throw std::runtime_error("Can not open file for reading: " + source);
        auto out = OpenOutputFile(written, true);
        out->SetName(target);
        try {
            Pump(in, source, *out, target);
            out->Close();
        } catch (const std::ios_base::failure&) {
            throw std::runtime_error("Error writing " + target);
        }
    } else {
        auto in = OpenInputFile(source);
        std::ofstream out(written, std::ios::binary | std::ios::trunc);
        if (!out)
            throw std::runtime_error("Can not open file for writing: " + target);
        Pump(*in, source, out, target);
        out.close();
        if (!out)
            throw std::runtime_error("Error writing " + target);
    }
}

} // namespace

void CopyThroughStream(const std::string& source, const std::string& target, bool compress) {
    // The copy goes to a temporary file renamed into place, so a failed copy leaves an
    // existing target intact and a target that is the source itself is not truncated first.
    WriteReplacing(target, [&](const std::string& temporary) { CopyInto(source, target, temporary, compress); });
}

} // namespace datafiles

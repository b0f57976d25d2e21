#include "datafiles/XRTCStream.h"

#include "common/TestUtil.h"
#include "materials/TestErrors.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

using datafiles::XRTCStream;

namespace {

// Compresses `text`, writing and flushing it in pieces of the given sizes (the
// rest in one piece).
std::string Compress(const std::string& text, const std::vector<std::size_t>& pieces = {}) {
    std::ostringstream sink;
    {
        XRTCStream out(nullptr, &sink);
        std::size_t pos = 0;
        for (std::size_t n : pieces) {
            n = std::min(n, text.size() - pos);
            out.write(text.data() + pos, static_cast<std::streamsize>(n)).flush();
            pos += n;
        }
        out.write(text.data() + pos, static_cast<std::streamsize>(text.size() - pos));
        out.Close();
    }
    return sink.str();
}

std::string Decompress(const std::string& data) {
    std::istringstream source(data);
    XRTCStream in(&source, nullptr);
    std::ostringstream text;
    char block[777];
    while (in.read(block, sizeof(block)) || in.gcount() > 0)
        text.write(block, in.gcount());
    return text.str();
}

// "XRTC" and the given bits ('0'/'1', blanks ignored), the last byte padded with 0 bits.
std::string Stream(const std::string& bits) {
    std::string out = "XRTC";
    int count = 0;
    unsigned acc = 0;
    for (char b : bits) {
        if (b == ' ')
            continue;
        acc = acc << 1 | (b == '1');
        if (++count == 8) {
            out.push_back(static_cast<char>(acc));
            acc = 0;
            count = 0;
        }
    }
    if (count > 0)
        out.push_back(static_cast<char>(acc << (8 - count)));
    return out;
}

const std::string kEnd = " 100111 00011010";

// What a round trip gives: every line end ("\r\n" and "\n\r" count as one) becomes
// "\n", and a last line without line end gets one.
std::string Normalized(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r') {
            out.push_back(c);
            continue;
        }
        out.push_back('\n');
        if (i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\r') && text[i + 1] != c)
            ++i;
    }
    if (!out.empty() && out.back() != '\n')
        out.push_back('\n');
    return out;
}

std::string ExpectError(const std::string& data) {
    return ErrorOf([&] { Decompress(data); });
}

std::string NumberTable(std::mt19937& rng, int rows, int columns) {
    std::uniform_real_distribution<double> value(-1000.0, 1000.0);
    std::ostringstream table;
    table.precision(6);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            table << (c == 0 ? "" : "\t") << std::scientific << value(rng) << (c + 1 == columns ? "\n" : "");
    return table.str();
}

// A source that hands out one byte per read and never announces more, like a
// terminal or a pipe: the decoder must not read past the end code.
class TrickleBuffer : public std::streambuf {
public:
    explicit TrickleBuffer(std::string data) : data_(std::move(data)) {}
    std::size_t Taken() const { return pos_; }

protected:
    int_type underflow() override {
        if (pos_ == data_.size())
            return traits_type::eof();
        one_ = data_[pos_++];
        setg(&one_, &one_, &one_ + 1);
        return traits_type::to_int_type(one_);
    }
    std::streamsize showmanyc() override { return 0; }

private:
    std::string data_;
    std::size_t pos_ = 0;
    char one_ = 0;
};

} // namespace

TEST(XRTCStream, EncodingsOfKnownTexts) {
    const struct {
        std::string text, bits;
    } cases[] = {
        // Each line is coded against the previous one: "1" "." "5" space "2" "." "5", SAME
        // ending the line, six SAME for the equal columns folded with the line end into
        // prefix 5 + SAME, "7", SAME.
        {"1.5 2.5\n1.5 2.7\n", "0001 100110111 0101 1001100 0010 100110111 0101 1010101 11 0111 11"},
        // Long runs take multiplicative prefixes.
        {std::string(1000, '0') + "\n", "1011111 1011111 1010001 0000" // 3 * 17 * 17 = 867
                                        " 1011111 1010101 0000"        // 7 * 17 = 119
                                        " 1011100 0000"                // 14
                                        " 11"},                        // end of line
        // Two SAME in a row cost 4 bits as two codes, less than prefix and code.
        {"a\nab\n", "100111 01100001 11 11 100111 01100010 11"},
        // A line shorter than the one above ends with the line feed code.
        {"12\n3\n", "0001 0010 11 0011 10010"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Compress(c.text), Stream(c.bits + kEnd)) << c.text;
        EXPECT_EQ(Decompress(Stream(c.bits + kEnd)), c.text) << c.text;
    }
    EXPECT_EQ(Compress(std::string(1000, '0')), Stream(cases[1].bits + kEnd)); // the last line end is implied
}

TEST(XRTCStream, LineEndsPairOnlyAsCrLfOrLfCr) {
    EXPECT_EQ(Compress("1\r\n2\n\r3"), Compress("1\n2\n3\n"));
    EXPECT_EQ(Decompress(Compress("1\r\r2\n\n3")), "1\n\n2\n\n3\n");
    // The partner of a line end may come with the next write.
    EXPECT_EQ(Compress("1\r\n2\r\n", {2, 1, 2}), Compress("1\n2\n"));
}

TEST(XRTCStream, RoundTripsRandomTextsAndNumberTables) {
    std::mt19937 rng(20240607);
    for (int round = 0; round < 200; ++round) {
        // Random bytes with many line ends and digits, all values but 26.
        std::uniform_int_distribution<int> length(0, round < 100 ? 40 : 5000);
        std::uniform_int_distribution<int> pick(0, 9);
        std::uniform_int_distribution<int> byte(0, 255);
        std::string text(static_cast<std::size_t>(length(rng)), ' ');
        for (char& c : text) {
            const int kind = pick(rng);
            int v = kind < 2 ? "\r\n"[kind] : kind < 7 ? '0' + pick(rng) : byte(rng);
            c = static_cast<char>(v == 26 ? 27 : v);
        }
        const std::string packed = Compress(text);
        ASSERT_EQ(Decompress(packed), Normalized(text)) << "round " << round;
        // Where the writes are split does not change the output.
        std::uniform_int_distribution<std::size_t> piece(0, 50);
        std::vector<std::size_t> pieces(20);
        for (auto& p : pieces)
            p = piece(rng);
        ASSERT_EQ(Compress(text, pieces), packed) << "round " << round;
    }
    for (int columns : {1, 3, 12}) {
        const std::string table = NumberTable(rng, 3000, columns);
        const std::string packed = Compress(table);
        EXPECT_LT(packed.size(), table.size() * 3 / 4);
        EXPECT_EQ(Decompress(packed), table);
    }
}

TEST(XRTCStream, LongLinesAndLongRunsCrossTheBufferAreas) {
    std::string text = std::string(5000, '7') + "\n" + std::string(5000, '7') + "\n\n\n\n\n" +
                       std::string(3000, 'x') + "1\n" + std::string(2999, 'x') + "\n";
    EXPECT_EQ(Decompress(Compress(text)), text);
}

TEST(XRTCStream, DecoderRulesForForeignStreams) {
    // Prefix 3 (factor 5) on a line feed gives five line ends.
    EXPECT_EQ(Decompress(Stream("0001 1010011 10010" + kEnd)), "1\n\n\n\n\n");
    // A literal 10 is a line feed; a literal for another byte is that byte.
    EXPECT_EQ(Decompress(Stream("0001 100111 00001010 100111 01000001 10010" + kEnd)), "1\nA\n");
    // SAME beyond the previous line ends the line; inside it copies the column.
    EXPECT_EQ(Decompress(Stream("0001 0010 11 1010001 11" + kEnd)), "12\n12\n");
    // A factor pending at the end code and an open last line are dropped;
    // anything after the end code is ignored.
    EXPECT_EQ(Decompress(Stream("0001 11 0010 1010011" + kEnd) + "garbage"), "1\n");
}

TEST(XRTCStream, TruncatedInputIsNotEnoughBits) {
    std::mt19937 rng(7);
    const std::string packed = Compress(NumberTable(rng, 20, 4));
    for (std::size_t size = 4; size < packed.size(); ++size)
        ASSERT_EQ(ExpectError(packed.substr(0, size)), "Not enough bits in input!") << size;
    // Also exactly between two codes.
    EXPECT_EQ(ExpectError(Stream("0001 0010 11")), "Not enough bits in input!");
}

TEST(XRTCStream, PlainDataPassesThroughBothWays) {
    for (const std::string plain : {"", "ab", "XRT", "plain\r\ntext\x1a without header"})
        EXPECT_EQ(Decompress(plain), plain);
    // Empty input gives empty output; a finished empty stream decodes to nothing.
    EXPECT_EQ(Compress(""), "");
    EXPECT_EQ(Decompress(Stream(kEnd)), "");
    // Data that already is compressed is not compressed twice.
    const std::string packed = Compress("1 2 3\n4 5 6\n");
    EXPECT_EQ(Compress(packed), packed);
    EXPECT_EQ(Compress(packed, {4, 2, 3}), packed);
    // Fewer than four bytes at the first flush are compressed.
    EXPECT_EQ(Decompress(Compress("XR")), "XR\n");
    EXPECT_EQ(Compress("XRTC 1 2\n"), "XRTC 1 2\n");
    EXPECT_EQ(Decompress(Compress("XRTC 1 2\n", {3})), "XRTC 1 2\n");
    // Pass-through writing copies the bytes.
    std::ostringstream sink;
    {
        XRTCStream out(nullptr, &sink, true);
        out << "1.5\r\n2.5";
    }
    EXPECT_EQ(sink.str(), "1.5\r\n2.5");
}

TEST(XRTCStream, ByteTwentySixCannotBeCompressed) {
    std::ostringstream sink;
    XRTCStream out(nullptr, &sink);
    EXPECT_EQ(ErrorOf([&] { out << "12\n3\x1a" << std::flush; }),
              "Input contains special value -- cannot be compressed!");
    EXPECT_TRUE(out.bad());
}

TEST(XRTCStream, DecoderReadsOnlyUpToTheEndCode) {
    const std::string packed = Compress("10 20\n10 21\n");
    TrickleBuffer trickle(packed + "Quit\n");
    std::istream source(&trickle);
    auto in = datafiles::OpenInputStream(source);
    std::string a, b, rest;
    std::getline(*in, a);
    std::getline(*in, b);
    EXPECT_EQ(a, "10 20");
    EXPECT_EQ(b, "10 21");
    EXPECT_FALSE(std::getline(*in, rest));
    EXPECT_EQ(trickle.Taken(), packed.size());
}

TEST(XRTCStream, FilesCompressDecompressAndOpenTransparently) {
    testutil::TempDir dir;
    std::mt19937 rng(11);
    const std::string table = NumberTable(rng, 500, 5);
    testutil::WriteFile(dir.File("t.txt"), table);

    datafiles::CompressFile(dir.File("t.txt"), dir.File("t.xrc"));
    const std::string packed = testutil::ReadFile(dir.File("t.xrc"));
    EXPECT_EQ(packed, Compress(table));
    datafiles::CompressFile(dir.File("t.xrc"), dir.File("t2.xrc"));
    EXPECT_EQ(testutil::ReadFile(dir.File("t2.xrc")), packed);
    datafiles::DecompressFile(dir.File("t.xrc"), dir.File("back.txt"));
    EXPECT_EQ(testutil::ReadFile(dir.File("back.txt")), table);
    datafiles::DecompressFile(dir.File("t.txt"), dir.File("plain.txt"));
    EXPECT_EQ(testutil::ReadFile(dir.File("plain.txt")), table);

    for (const char* name : {"t.txt", "t.xrc"}) {
        auto in = datafiles::OpenInputFile(dir.File(name));
        std::string first;
        std::getline(*in, first);
        EXPECT_EQ(first + "\n", table.substr(0, table.find('\n') + 1));
    }

    {
        auto out = datafiles::OpenOutputFile(dir.File("w.xrc"), true);
        *out << table;
        out->Close();
    }
    EXPECT_EQ(testutil::ReadFile(dir.File("w.xrc")), packed);
    {
        auto out = datafiles::OpenOutputFile(dir.File("w.txt"), false);
        *out << table;
    }
    EXPECT_EQ(testutil::ReadFile(dir.File("w.txt")), table);

    // Truncated file, missing file.
    testutil::WriteFile(dir.File("cut.xrc"), packed.substr(0, packed.size() / 2));
    EXPECT_EQ(ErrorOf([&] { datafiles::DecompressFile(dir.File("cut.xrc"), dir.File("cut.txt")); }),
              "Not enough bits in input! while reading " + dir.File("cut.xrc"));
    EXPECT_EQ(ErrorOf([&] { datafiles::OpenInputFile(dir.File("missing.txt")); }),
              "Can not open file for reading: " + dir.File("missing.txt"));
}

namespace {

std::string Prefixes(int count, const std::string& prefix = "101 1111") {
    std::string bits;
    for (int i = 0; i < count; ++i)
        bits += prefix + " ";
    return bits;
}

// Installs a guard for one test and removes it again.
struct GuardScope {
    explicit GuardScope(datafiles::DecodeGuard guard) { datafiles::SetDecodeGuard(std::move(guard)); }
    ~GuardScope() { datafiles::SetDecodeGuard({}); }
};

} // namespace

TEST(XRTCStream, HugeRepeatsAreBoundedAndInterruptible) {
    // 17^20 copies do not fit any count; 17^8 zeros (7 GB from 14 bytes) exceed the bound.
    EXPECT_EQ(ExpectError(Stream(Prefixes(20) + "0000" + kEnd)), "Repeat count too large");
    EXPECT_EQ(ExpectError(Stream(Prefixes(8) + "0000" + kEnd))
                  .rfind("Decompressed data would grow to more than ", 0),
              0u);

    // Beyond a small bound the guard is asked once per stream and may let it go on.
    datafiles::DecodeGuard guard;
    guard.Ratio = 1;
    guard.Slack = 100;
    {
        GuardScope scope(guard);
        // Repeated lines are refused as well: 17^8 copies of the line "12".
        EXPECT_EQ(ExpectError(Stream("0001 0010 11 " + Prefixes(8) + "11" + kEnd))
                      .rfind("Decompressed data would grow to more than 1", 0),
                  0u);
    }
    std::string lines;
    for (int i = 0; i < 5000; ++i)
        lines += i % 1000 == 999 ? "12 35\n" : "12 34\n";
    EXPECT_EQ(Decompress(Compress(lines)), lines);
    int questions = 0;
    guard.AllowExpansion = [&](const std::string&) { return ++questions, true; };
    {
        GuardScope scope(guard);
        // 17^3 = 4913 line feeds, then 17^2 = 289 sevens.
        EXPECT_EQ(Decompress(Stream(Prefixes(3) + "10010 " + Prefixes(2) + "0111 10010" + kEnd)),
                  std::string(4913, '\n') + std::string(289, '7') + "\n");
        EXPECT_EQ(questions, 1);
    }

    guard.AllowExpansion = nullptr;
    guard.Slack = std::uint64_t(1) << 30;
    guard.Interrupted = [] { return true; };
    GuardScope scope(guard);
    EXPECT_EQ(ExpectError(Compress("1 2\n")), "Interrupted");
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("a.xrc"), Compress("1 2\n"));
    testutil::WriteFile(dir.File("old.txt"), "old");
    EXPECT_THROW(datafiles::DecompressFile(dir.File("a.xrc"), dir.File("old.txt")), std::runtime_error);
    EXPECT_EQ(testutil::ReadFile(dir.File("old.txt")), "old");
}

// A failed copy reports the file and leaves the target as it was, without a temporary file.
TEST(XRTCStream, FailedCopiesNameTheFileAndKeepTheTarget) {
    testutil::TempDir dir;
    std::filesystem::create_directory(dir.File("sub"));
    std::mt19937 rng(5);
    const std::string table = NumberTable(rng, 2000, 8);
    testutil::WriteFile(dir.File("table.txt"), table);
    testutil::WriteFile(dir.File("cut.xrc"), Compress(table).substr(0, 100));
    auto copyError = [&](const std::string& source, bool compress) {
        testutil::WriteFile(dir.File("important"), "keep me");
        std::string error = "no error";
        try {
            datafiles::CopyThroughStream(dir.File(source), dir.File("important"), compress);
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        EXPECT_EQ(testutil::ReadFile(dir.File("important")), "keep me") << source;
        EXPECT_FALSE(std::filesystem::exists(dir.File("important.tmp"))) << source;
        return error;
    };
    for (bool compress : {true, false})
        EXPECT_EQ(copyError("sub", compress), "Can not open file for reading: " + dir.File("sub"));
    EXPECT_EQ(copyError("cut.xrc", false), "Not enough bits in input! while reading " + dir.File("cut.xrc"));
    // An unreadable file (permissions do not bind root, so only checked where they do).
    testutil::WriteFile(dir.File("secret"), "1 2\n");
    std::filesystem::permissions(dir.File("secret"), std::filesystem::perms::none);
    if (!std::ifstream(dir.File("secret"))) {
        for (bool compress : {true, false})
            EXPECT_EQ(copyError("secret", compress), "Can not open file for reading: " + dir.File("secret"));
    }

    // A full disk, as a file size limit: writing fails instead of ending the process.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 16 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string full = copyError("table.txt", true);
    const std::string fullPlain = copyError("table.txt", false);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(full, "Error writing " + dir.File("important"));
    EXPECT_EQ(fullPlain, "Error writing " + dir.File("important"));
}

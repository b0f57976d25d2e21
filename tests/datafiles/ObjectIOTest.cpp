#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "common/TestUtil.h"
#include "datafiles/ObjectIO.h"
#include "datafiles/StateFile.h"

namespace {

// A payload of text whose reader can be told to stop short.
class TextObject : public TIO_Object {
public:
    explicit TextObject(std::string text = std::string(), std::string name = "TextObject")
        : Text(std::move(text)), Name(std::move(name)) {}
    std::string IOClassName() const override { return Name; }
    void InternalWrite(std::ostream& stream) override { stream << Text; }
    void InternalRead(std::istream& stream, std::uint64_t size) override {
        Text.assign(size - Short, '\0');
        stream.read(Text.data(), std::streamsize(Text.size()));
    }

    std::string Text;
    std::string Name;
    std::uint64_t Short = 0;
};

// An output stream that can not seek, like a pipe.
class PipeBuffer : public std::stringbuf {
protected:
    pos_type seekoff(off_type, std::ios::seekdir, std::ios::openmode) override { return pos_type(-1); }
    pos_type seekpos(pos_type, std::ios::openmode) override { return pos_type(-1); }
};

std::string Entries(std::ostream& out, std::initializer_list<std::string> texts) {
    std::uint64_t total = 0;
    for (const std::string& text : texts) {
        TextObject object(text);
        total += WriteObject(out, object);
    }
    return std::to_string(total);
}

std::string ReadErrorOf(const std::string& bytes, TIO_Object& object) {
    std::istringstream in(bytes);
    try {
        ReadObject(in, object);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(ObjectIO, PipeAndFileGetTheSameBytesInTheEntryLayout) {
    testutil::TempDir dir;
    std::ofstream file(dir.File("entries"), std::ios::binary);
    const std::string fileTotal = Entries(file, {"abc", std::string(5000, 'x')});
    file.close();
    PipeBuffer pipe;
    std::ostream piped(&pipe);
    const std::string pipeTotal = Entries(piped, {"abc", std::string(5000, 'x')});
    const std::string bytes = testutil::ReadFile(dir.File("entries"));
    EXPECT_EQ(bytes, pipe.str());
    EXPECT_EQ(fileTotal, pipeTotal);
    EXPECT_EQ(std::to_string(bytes.size()), fileTotal);
    // Tag, u16 name length, name, u64 payload size (little-endian), payload.
    EXPECT_EQ(bytes.substr(0, 30), std::string("ObjDsc0\x0a\x00TextObject\x03\0\0\0\0\0\0\0abc", 30));

    std::istringstream in(bytes);
    TextObject first, second;
    EXPECT_EQ(ReadObject(in, first), 30u);
    ReadObject(in, second);
    EXPECT_EQ(first.Text, "abc");
    EXPECT_EQ(second.Text, std::string(5000, 'x'));
}

TEST(ObjectIO, ReadErrors) {
    std::ostringstream out;
    Entries(out, {"abcdef"});
    const std::string good = out.str();
    TextObject object, other("", "OtherObject");
    TextObject shortReader;
    shortReader.Short = 1;
    std::string huge = good;
    huge[19] = '\x40'; // payload size 2^62
    EXPECT_EQ(ReadErrorOf("  [ApplicationTask]\n", object), "EntryHeader not found: [Applic");
    EXPECT_EQ(ReadErrorOf(good, other), "Wrong object type in stream");
    EXPECT_EQ(ReadErrorOf(good, shortReader), "Object didn't read correct amount of data");
    EXPECT_NE(ReadErrorOf(huge, object).find("larger than the rest of the stream"), std::string::npos);
    EXPECT_NE(ReadErrorOf(good.substr(0, good.size() - 1), object).find("larger than the rest"),
              std::string::npos);
    EXPECT_EQ(ReadErrorOf(good.substr(0, 12), object), "Entry header cut short");
    TIO_Object base;
    std::ostringstream sink;
    EXPECT_THROW(WriteObject(sink, base), std::runtime_error);
}

namespace {

// Writes a state of two entries (payloads `a` and `b`) with the hook set to `exitAt`
// in a child process; the child's exit status.
int WriteInChild(const std::string& fileName, const std::string& a, const std::string& b,
                 const std::string& exitAt) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TARVO_STATE_EXIT", exitAt.c_str(), 1);
        datafiles::WriteStateFile(fileName, [&](std::ostream& out) { Entries(out, {a, b}); });
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WEXITSTATUS(status);
}

std::string ReadState(const std::string& fileName) {
    datafiles::TStateFileReader reader(fileName);
    TextObject a, b;
    ReadObject(reader.Stream(), a);
    ReadObject(reader.Stream(), b);
    reader.ExpectEnd();
    return a.Text + "|" + b.Text;
}

} // namespace

TEST(StateFile, ChecksumEntryMatchesZlibAndDamageIsDetected) {
    testutil::TempDir dir;
    const std::string name = dir.File("run.state");
    datafiles::WriteStateFile(name, [](std::ostream& out) { Entries(out, {"one", "two"}); });
    EXPECT_EQ(ReadState(name), "one|two");
    const auto check = testutil::RunPython("import sys, zlib, struct\n"
                                           "b = open(sys.argv[1], 'rb').read()\n"
                                           "body, tail = b[:-38], b[-38:]\n"
                                           "assert tail[:22] == b'ObjDsc0\\x0d\\x00StateChecksum', tail\n"
                                           "size, version, crc = struct.unpack('<QII', tail[22:])\n"
                                           "print(size, version, crc == zlib.crc32(body))\n",
                                           {name});
    EXPECT_EQ(check.out, "8 1 True\n") << check.err;
    EXPECT_FALSE(testutil::FileExists(name + ".bak"));

    const std::string bytes = testutil::ReadFile(name);
    const std::pair<std::string, std::string> damaged[] = {
        {bytes.substr(0, 30), "cut short"},
        {bytes.substr(0, bytes.size() - 1), "cut short"},
        {std::string(bytes).replace(27, 1, "T"), "checksum mismatch"},
        {"[ApplicationTask]\n", "EntryHeader not found: [Applic"},
    };
    for (const auto& [content, message] : damaged) {
        testutil::WriteFile(dir.File("bad.state"), content);
        try {
            ReadState(dir.File("bad.state"));
            ADD_FAILURE() << message;
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

TEST(StateFile, AKillAtAnyPointLeavesAStateAndABackupThatRead) {
    testutil::TempDir dir;
    const std::string name = dir.File("run.state");
    datafiles::WriteStateFile(name, [](std::ostream& out) { Entries(out, {"old", "state"}); });
    const std::string b(1200000, 'b'); // larger than the write buffer
    // Entry boundaries (18 + 3 = 21 bytes for the first), inside payloads, the checksum.
    for (const std::string exitAt : {"1", "21", "30", "1000000", "1200040", "1200077", "backup"}) {
        EXPECT_EQ(WriteInChild(name, "new", b, exitAt), 86) << exitAt;
        EXPECT_EQ(ReadState(name), "old|state") << exitAt;
        if (testutil::FileExists(name + ".bak")) {
            EXPECT_EQ(ReadState(name + ".bak"), "old|state") << exitAt;
        }
    }
    EXPECT_EQ(WriteInChild(name, "new", b, "rename"), 86);
    EXPECT_EQ(ReadState(name), "new|" + b);
    EXPECT_EQ(ReadState(name + ".bak"), "old|state");
    EXPECT_FALSE(testutil::FileExists(name + ".tmp"));

    // A failing writer leaves both files alone and no temporary behind.
    EXPECT_THROW(datafiles::WriteStateFile(name, [](std::ostream&) { throw std::runtime_error("full"); }),
                 std::runtime_error);
    EXPECT_EQ(ReadState(name), "new|" + b);
    EXPECT_EQ(ReadState(name + ".bak"), "old|state");
    EXPECT_FALSE(testutil::FileExists(name + ".tmp"));
    EXPECT_TRUE(datafiles::RemoveStateFiles(name));
    EXPECT_FALSE(testutil::FileExists(name) || testutil::FileExists(name + ".bak"));
}

#include "datafiles/StateFile.h"

#include "datafiles/ObjectIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace datafiles {

namespace {

constexpr int kTestExitCode = 86;
constexpr const char* kChecksumName = "StateChecksum";
// Tag, name length, "StateChecksum", size, version and CRC.
constexpr std::uint64_t kChecksumEntrySize = EntryHeader::FixedSize + 13 + 8;

std::string ErrorText(int error) {
    return std::strerror(error);
}

// Where the test hook ends the process: after so many bytes of the file, or at a step.
struct ExitHook {
    std::uint64_t AfterBytes = 0; // 0: not by bytes
    std::string AtStep;

    static ExitHook FromEnvironment() {
        ExitHook hook;
        const char* value = std::getenv("TARVO_STATE_EXIT");
        if (value == nullptr || *value == 0)
            return hook;
        char* end = nullptr;
        const unsigned long long bytes = std::strtoull(value, &end, 10);
        if (end != value && *end == 0)
            hook.AfterBytes = bytes;
        else
            hook.AtStep = value;
        return hook;
    }
    void At(const char* step) const {
        if (AtStep == step)
            _exit(kTestExitCode);
    }
};

// An output buffer over a file descriptor: unlike a file stream it reports the
// system's error, can be synced, and can seek back to patch entry sizes.
class TFileDescriptorBuffer : public std::streambuf {
public:
    TFileDescriptorBuffer(int fd, const ExitHook& hook) : Fd(fd), Hook(hook), Buffer(1 << 20) {
        setp(Buffer.data(), Buffer.data() + Buffer.size());
    }
    int Error() const { return LastError; }

protected:
    int_type overflow(int_type c) override {
        if (!FlushBuffer())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return FlushBuffer() ? 0 : -1; }
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        if (count <= epptr() - pptr()) {
            std::memcpy(pptr(), data, std::size_t(count));
            pbump(int(count));
            return count;
        }
        if (!FlushBuffer())
            return 0;
        // Large blocks (detector sums) go straight to the file.
        if (std::size_t(count) >= Buffer.size())
            return WriteAll(data, std::size_t(count)) ? count : 0;
        std::memcpy(pptr(), data, std::size_t(count));
        pbump(int(count));
        return count;
    }
    pos_type seekoff(off_type offset, std::ios::seekdir dir, std::ios::openmode which) override {
        if (!(which & std::ios::out) || !FlushBuffer())
            return pos_type(off_type(-1));
        const int whence = dir == std::ios::beg ? SEEK_SET : dir == std::ios::cur ? SEEK_CUR : SEEK_END;
        const off_t at = ::lseek(Fd, off_t(offset), whence);
        if (at < 0) {
            LastError = errno;
            return pos_type(off_type(-1));
        }
        Position = std::uint64_t(at);
        return pos_type(off_type(at));
    }
    pos_type seekpos(pos_type position, std::ios::openmode which) override {
        return seekoff(off_type(position), std::ios::beg, which);
    }

private:
    bool FlushBuffer() {
        const std::size_t count = std::size_t(pptr() - pbase());
        setp(Buffer.data(), Buffer.data() + Buffer.size());
        return WriteAll(Buffer.data(), count);
    }
    bool WriteAll(const char* data, std::size_t count) {
        const bool exitAfter =
            Hook.AfterBytes > 0 && Position < Hook.AfterBytes && Position + count >= Hook.AfterBytes;
        if (exitAfter)
            count = std::size_t(Hook.AfterBytes - Position);
        while (count > 0) {
            const ssize_t written = ::write(Fd, data, count);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                LastError = written < 0 ? errno : EIO;
                return false;
            }
            data += written;
            count -= std::size_t(written);
            Position += std::uint64_t(written);
        }
        if (exitAfter)
            _exit(kTestExitCode);
        return true;
    }

    int Fd;
    const ExitHook& Hook;
    std::vector<char> Buffer;
    std::uint64_t Position = 0;
    int LastError = 0;
};

class TStateChecksum : public TIO_Object {
public:
    TStateChecksum(std::uint32_t version, std::uint32_t crc) : Version(version), CRC(crc) {}
    std::string IOClassName() const override { return kChecksumName; }
    void InternalWrite(std::ostream& stream) override {
        WriteU32(stream, Version);
        WriteU32(stream, CRC);
    }

private:
    std::uint32_t Version;
    std::uint32_t CRC;
};

std::uint32_t DescriptorCRC32(int fd, std::uint64_t bytes) {
    std::vector<unsigned char> block(1 << 20);
    uLong crc = crc32(0L, Z_NULL, 0);
    for (std::uint64_t at = 0; at < bytes;) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(block.size(), bytes - at));
        const ssize_t got = ::pread(fd, block.data(), want, off_t(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw std::runtime_error("Can not read back the state (" + ErrorText(got < 0 ? errno : EIO) +
                                     ")");
        crc = crc32(crc, block.data(), uInt(got));
        at += std::uint64_t(got);
    }
    return std::uint32_t(crc);
}

void SyncDirectoryOf(const std::string& fileName) {
    const auto slash = fileName.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool Exists(const std::string& name) {
    struct stat status;
    return ::stat(name.c_str(), &status) == 0 || errno != ENOENT;
}

// Copies `from` to a new file `to`, synced; for file systems without hard links.
void CopyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw std::runtime_error("Can not read " + from + " (" + ErrorText(errno) + ")");
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = out >= 0;
    std::vector<char> block(1 << 20);
    for (ssize_t got = 1; ok && got > 0;) {
        got = ::read(in, block.data(), block.size());
        ok = got >= 0;
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t written = ::write(out, block.data() + done, std::size_t(got - done));
            ok = written > 0;
            done += written;
        }
    }
    const int error = errno;
    ok = ok && ::fsync(out) == 0;
    ::close(in);
    if (out >= 0)
        ok = ::close(out) == 0 && ok;
    if (!ok) {
        ::unlink(to.c_str());
        throw std::runtime_error("Can not copy " + from + " to " + to + " (" + ErrorText(error) + ")");
    }
}

// The previous state becomes the backup: a second link to it, renamed over the old
// backup, so there is a complete backup at every moment.
void KeepBackup(const std::string& fileName) {
    if (!Exists(fileName))
        return;
    const std::string backup = fileName + ".bak";
    const std::string temporary = backup + ".tmp";
    ::unlink(temporary.c_str());
    if (::link(fileName.c_str(), temporary.c_str()) != 0)
        CopyFile(fileName, temporary);
    if (::rename(temporary.c_str(), backup.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw std::runtime_error("Can not create " + backup + " (" + ErrorText(error) + ")");
    }
}

void WriteTemporary(int fd, const std::string& temporary, const ExitHook& hook,
                    const std::function<void(std::ostream&)>& writeEntries) {
    TFileDescriptorBuffer buffer(fd, hook);
    std::ostream out(&buffer);
    const auto check = [&] {
        out.flush();
        if (!out)
            throw std::runtime_error("Can not write " + temporary + " (" +
                                     ErrorText(buffer.Error() != 0 ? buffer.Error() : EIO) + ")");
    };
    writeEntries(out);
    check();
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0)
        throw std::runtime_error("Can not write " + temporary + " (" + ErrorText(errno) + ")");
    TStateChecksum checksum(kStateFormatVersion, DescriptorCRC32(fd, std::uint64_t(size)));
    WriteObject(out, checksum);
    check();
    if (::fsync(fd) != 0)
        throw std::runtime_error("Can not sync " + temporary + " (" + ErrorText(errno) + ")");
}

} // namespace

void WriteStateFile(const std::string& fileName, const std::function<void(std::ostream&)>& writeEntries) {
    const ExitHook hook = ExitHook::FromEnvironment();
    const std::string temporary = fileName + ".tmp";
    const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("Can not create " + temporary + " (" + ErrorText(errno) + ")");
    try {
        WriteTemporary(fd, temporary, hook, writeEntries);
        if (::close(fd) != 0)
            throw std::runtime_error("Can not write " + temporary + " (" + ErrorText(errno) + ")");
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    try {
        KeepBackup(fileName);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    hook.At("backup");
    if (::rename(temporary.c_str(), fileName.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw std::runtime_error("Can not rename " + temporary + " (" + ErrorText(error) + ")");
    }
    hook.At("rename");
    SyncDirectoryOf(fileName);
}

TStateFileReader::TStateFileReader(const std::string& fileName) {
    Input.open(fileName, std::ios::binary);
    if (!Input)
        throw std::runtime_error("Can not open file for reading");
    ReadEntryHeader(Input); // a file of another kind fails here, naming its first word
    Input.seekg(0, std::ios::end);
    const std::uint64_t size = std::uint64_t(Input.tellg());
    if (size < kChecksumEntrySize)
        throw std::runtime_error("State checksum missing: the file is cut short");
    EntriesEnd = size - kChecksumEntrySize;
    Input.seekg(std::streamoff(EntriesEnd));
    std::string tag(7, '\0');
    Input.read(tag.data(), 7);
    Input.seekg(std::streamoff(EntriesEnd));
    if (tag != "ObjDsc0")
        throw std::runtime_error("State checksum missing: the file is cut short");
    const EntryHeader header = ReadEntryHeader(Input);
    if (header.ClassName != kChecksumName || header.PayloadSize != 8)
        throw std::runtime_error("State checksum missing: the file is cut short");
    const std::uint32_t version = ReadU32(Input);
    const std::uint32_t crc = ReadU32(Input);
    if (!Input)
        throw std::runtime_error("Read error");
    if (version != kStateFormatVersion)
        throw std::runtime_error("State format version " + std::to_string(version) + " not supported");
    if (FileCRC32(fileName, EntriesEnd) != crc)
        throw std::runtime_error("State checksum mismatch: the file is damaged");
    Input.seekg(0);
}

void TStateFileReader::ExpectEnd() {
    if (!Input || std::uint64_t(Input.tellg()) != EntriesEnd)
        throw std::runtime_error("State entries do not end at the checksum");
}

bool IsStateFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    char tag[7] = {0};
    file.read(tag, 7);
    return file && std::memcmp(tag, "ObjDsc0", 7) == 0;
}

bool RemoveStateFiles(const std::string& fileName) {
    bool removed = true;
    // With the temporaries a killed save may have left.
    for (const std::string& name : {fileName, fileName + ".bak", fileName + ".tmp", fileName + ".bak.tmp"})
        if (::unlink(name.c_str()) != 0 && errno != ENOENT)
            removed = false;
    return removed;
}

std::uint32_t FileCRC32(const std::string& fileName, std::uint64_t bytes) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("Can not open file for reading");
    try {
        const std::uint32_t crc = DescriptorCRC32(fd, bytes);
        ::close(fd);
        return crc;
    } catch (...) {
        ::close(fd);
        throw;
    }
}

} // namespace datafiles

#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

// A stream buffer that writes everything both to the stream's previous buffer
// and to a file, so the console output is kept in a log.
class StreamCopy : public std::streambuf {
public:
    StreamCopy(std::ostream& stream, std::streambuf* file);
    ~StreamCopy() override;
    StreamCopy(const StreamCopy&) = delete;
    StreamCopy& operator=(const StreamCopy&) = delete;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    std::ostream& stream_;
    std::streambuf* previous_;
    std::streambuf* file_;
};

// Duplicates standard output, standard error and the standard log into a file
// for as long as it lives.
class TLogFile {
public:
    explicit TLogFile(const std::string& path);
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

private:
    std::ofstream file_;
    std::unique_ptr<StreamCopy> out_;
    std::unique_ptr<StreamCopy> err_;
    std::unique_ptr<StreamCopy> log_;
};

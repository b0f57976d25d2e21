#include "app/LogFile.h"

#include "app/SystemUtils.h"

#include <iostream>
#include <stdexcept>

StreamCopy::StreamCopy(std::ostream& stream, std::streambuf* file)
    : stream_(stream), previous_(stream.rdbuf()), file_(file) {
    stream_.rdbuf(this);
}

StreamCopy::~StreamCopy() {
    sync();
    stream_.rdbuf(previous_);
}

StreamCopy::int_type StreamCopy::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    const bool fileFailed = traits_type::eq_int_type(file_->sputc(ch), traits_type::eof());
    const bool streamFailed = traits_type::eq_int_type(previous_->sputc(ch), traits_type::eof());
    return fileFailed || streamFailed ? traits_type::eof() : c;
}

std::streamsize StreamCopy::xsputn(const char* text, std::streamsize count) {
    const std::streamsize toFile = file_->sputn(text, count);
    const std::streamsize toStream = previous_->sputn(text, count);
    return std::min(toFile, toStream);
}

int StreamCopy::sync() {
    const int fileResult = file_->pubsync();
    const int streamResult = previous_->pubsync();
    return fileResult == -1 || streamResult == -1 ? -1 : 0;
}

TLogFile::TLogFile(const std::string& path) {
    file_.open(path, std::ios::out | std::ios::trunc);
    if (!file_)
        throw std::runtime_error("Unable to open " + path);
    file_ << GetStartLine() << '\n' << VersionBanner() << '\n';
    file_.flush();
    out_ = std::make_unique<StreamCopy>(std::cout, file_.rdbuf());
    err_ = std::make_unique<StreamCopy>(std::cerr, file_.rdbuf());
    log_ = std::make_unique<StreamCopy>(std::clog, file_.rdbuf());
}

TLogFile::~TLogFile() {
    log_.reset();
    err_.reset();
    out_.reset();
    file_.close();
}

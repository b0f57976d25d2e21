#include "datafiles/TIFFTags.h"

#include "datafiles/TIFF.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <istream>
#include <stdexcept>

namespace TIFF {

namespace {

// Larger tag data than this is treated as a broken count.
constexpr std::uint64_t kMaxTagData = std::uint64_t(1) << 31;

} // namespace

bool MachineIsBigEndian() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

void AppendNative(std::vector<unsigned char>& out, std::uint64_t value, unsigned size) {
    unsigned char bytes[8];
    if (size == 1) {
        bytes[0] = static_cast<unsigned char>(value);
    } else if (size == 2) {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(bytes, &v, 2);
    } else if (size == 4) {
        const auto v = static_cast<std::uint32_t>(value);
        std::memcpy(bytes, &v, 4);
    } else {
        std::memcpy(bytes, &value, 8);
    }
    const std::size_t at = out.size();
    out.resize(at + size);
    std::memcpy(out.data() + at, bytes, size);
}

std::uint64_t FromFileOrder(const unsigned char* p, unsigned size, bool bigEndian) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i)
        value = (value << 8) | p[bigEndian ? i : size - 1 - i];
    return value;
}

unsigned FieldTypeSize(std::uint16_t type) {
    switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined:
        return 1;
    case kShort:
    case kSShort:
        return 2;
    case kLong:
    case kSLong:
    case kFloat:
    case kIfd:
        return 4;
    case kRational:
    case kSRational:
    case kDouble:
    case kLong8:
    case kSLong8:
    case kIfd8:
        return 8;
    default:
        return 0;
    }
}

std::pair<std::uint32_t, std::uint32_t> ResolutionToRational(double value) {
    const double M = 2147483647.0;
    if (!(value > 0.0) || !std::isfinite(value))
        return {0, 1};
    if (value >= 1.0) {
        const double d = std::trunc(M / value);
        return {static_cast<std::uint32_t>(std::trunc(d * value + 0.5)), static_cast<std::uint32_t>(d)};
    }
    const double n = std::trunc(M * value);
    return {static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(std::trunc(n / value + 0.5))};
}

std::string CurrentDateTime() {
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1))
        throw std::runtime_error("Couldn't determine current time");
    std::tm parts{};
    if (localtime_r(&now, &parts) == nullptr)
        throw std::runtime_error("Couldn't split time");
    char text[64];
    if (std::strftime(text, sizeof(text), "%Y:%m:%d %H:%M:%S", &parts) != 19)
        throw std::runtime_error("Error constructing DateTime string");
    return text;
}

// --- EntryReader -------------------------------------------------------------

EntryReader::EntryReader(std::istream& file, bool bigEndian, std::uint16_t number, std::uint16_t type,
                         std::uint64_t count, const unsigned char* valueField, unsigned valueFieldSize)
    : file_(file), bigEndian_(bigEndian), number_(number), type_(type), count_(count),
      valueField_(valueField, valueField + valueFieldSize) {}

std::uint64_t EntryReader::Number(const unsigned char* p, unsigned size) const {
    return FromFileOrder(p, size, bigEndian_);
}

std::vector<unsigned char> EntryReader::Bytes() const {
    const unsigned size = FieldTypeSize(type_);
    if (size == 0)
        throw std::runtime_error("Unknown field type");
    if (count_ == 0 || count_ > kMaxTagData / size)
        throw std::runtime_error("Invalid count for tag");
    const std::uint64_t total = count_ * size;
    if (total <= valueField_.size())
        return std::vector<unsigned char>(valueField_.begin(),
                                          valueField_.begin() + static_cast<long>(total));
    const std::uint64_t offset = Number(valueField_.data(), static_cast<unsigned>(valueField_.size()));
    file_.clear();
    file_.seekg(0, std::ios::end);
    const auto fileSize = static_cast<std::uint64_t>(file_.tellg());
    if (!file_ || offset > fileSize || total > fileSize - offset)
        throw std::runtime_error("Error reading tag data");
    std::vector<unsigned char> data(static_cast<std::size_t>(total));
    file_.seekg(static_cast<std::streamoff>(offset));
    if (!file_.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(total)))
        throw std::runtime_error("Error reading tag data");
    return data;
}

std::vector<std::uint64_t> EntryReader::Unsigned() const {
    const std::vector<unsigned char> data = Bytes();
    const unsigned size = FieldTypeSize(type_);
    std::vector<std::uint64_t> values(static_cast<std::size_t>(count_));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = Number(data.data() + i * size, size);
    return values;
}

// --- Tags -------------------------------------------------------------------

template <class O> void Tag<O>::ReadData(const EntryReader&) {
    throw std::runtime_error("No implementation to read data for tag " + std::to_string(number_));
}

template <class O> std::vector<unsigned char> NumericTag<O>::Data() const {
    std::vector<unsigned char> data;
    const unsigned size = FieldTypeSize(this->type_);
    data.reserve(values_.size() * size);
    for (std::uint64_t v : values_)
        AppendNative(data, v, size);
    return data;
}

template <class O> void NumericTag<O>::ReadData(const EntryReader& entry) {
    const std::uint16_t type = entry.Type();
    if (FieldTypeSize(type) == 0)
        throw std::runtime_error("Unknown field type");
    if (type != kByte && type != kShort && type != kLong && type != kLong8)
        throw std::runtime_error("Wrong type for this tag");
    if (fixedCount_ != 0 && entry.Count() != fixedCount_)
        throw std::runtime_error("Invalid count for tag");
    values_ = entry.Unsigned();
    this->type_ = type;
}

template <class O> std::vector<unsigned char> StringTag<O>::Data() const {
    std::vector<unsigned char> data(text_.begin(), text_.end());
    data.push_back(0);
    return data;
}

template <class O> void StringTag<O>::ReadData(const EntryReader& entry) {
    if (entry.Type() != kAscii)
        throw std::runtime_error("Wrong type for string tag");
    const std::vector<unsigned char> data = entry.Bytes();
    std::size_t length = 0;
    while (length < data.size() && data[length] != 0)
        ++length;
    text_.assign(data.begin(), data.begin() + static_cast<long>(length));
}

template <class O>
RationalTag<O>::RationalTag(std::uint16_t number, double value) : Tag<O>(number, kRational) {
    const auto rational = ResolutionToRational(value);
    numerator_ = rational.first;
    denominator_ = rational.second;
}

template <class O> std::vector<unsigned char> RationalTag<O>::Data() const {
    std::vector<unsigned char> data;
    AppendNative(data, numerator_, 4);
    AppendNative(data, denominator_, 4);
    return data;
}

template <class O> void RationalTag<O>::ReadData(const EntryReader& entry) {
    if (entry.Type() != kRational)
        throw std::runtime_error("Wrong type for this tag");
    if (entry.Count() != 1)
        throw std::runtime_error("Invalid count for tag");
    const std::vector<unsigned char> data = entry.Bytes();
    numerator_ = static_cast<std::uint32_t>(entry.Number(data.data(), 4));
    denominator_ = static_cast<std::uint32_t>(entry.Number(data.data() + 4, 4));
}

template <class O> std::vector<unsigned char> PageNumberTag<O>::Data() const {
    std::vector<unsigned char> data;
    AppendNative(data, page_, 2);
    AppendNative(data, pages_, 2);
    return data;
}

template <class O> void PageNumberTag<O>::ReadData(const EntryReader& entry) {
    if (entry.Type() != kShort)
        throw std::runtime_error("Wrong type for page number tag");
    if (entry.Count() != 2)
        throw std::runtime_error("Invalid count for tag");
    const std::vector<std::uint64_t> values = entry.Unsigned();
    page_ = static_cast<std::uint16_t>(values[0]);
    pages_ = static_cast<std::uint16_t>(values[1]);
}

template <class O> std::unique_ptr<Tag<O>> CreateTag(std::uint16_t number) {
    switch (number) {
    case 254:
        return std::make_unique<NewSubfileTypeTag<O>>();
    case 256:
        return std::make_unique<ImageWidthTag<O>>();
    case 257:
        return std::make_unique<ImageLengthTag<O>>();
    case 258:
        return std::make_unique<BitsPerSampleTag<O>>();
    case 259:
        return std::make_unique<CompressionTag<O>>();
    case 262:
        return std::make_unique<PhotometricInterpretationTag<O>>();
    case 269:
        return std::make_unique<DocumentNameTag<O>>();
    case 270:
        return std::make_unique<ImageDescriptionTag<O>>();
    case 273:
        return std::make_unique<StripOffsetsTag<O>>();
    case 274:
        return std::make_unique<OrientationTag<O>>();
    case 277:
        return std::make_unique<SamplesPerPixelTag<O>>();
    case 278:
        return std::make_unique<RowsPerStripTag<O>>();
    case 279:
        return std::make_unique<StripByteCountsTag<O>>();
    case 282:
        return std::make_unique<XResolutionTag<O>>();
    case 283:
        return std::make_unique<YResolutionTag<O>>();
    case 284:
        return std::make_unique<PlanarConfigTag<O>>();
    case 285:
        return std::make_unique<PageNameTag<O>>();
    case 286:
        return std::make_unique<XPositionTag<O>>();
    case 287:
        return std::make_unique<YPositionTag<O>>();
    case 296:
        return std::make_unique<ResolutionUnitTag<O>>();
    case 297:
        return std::make_unique<PageNumberTag<O>>();
    case 305:
        return std::make_unique<SoftwareTag<O>>();
    case 306:
        return std::make_unique<DateTimeTag<O>>();
    case 315:
        return std::make_unique<UserNameTag<O>>();
    case 316:
        return std::make_unique<HostComputerTag<O>>();
    case 317:
        return std::make_unique<PredictorTag<O>>();
    case 339:
        return std::make_unique<SampleFormatTag<O>>();
    case 33432:
        return std::make_unique<CopyrightTag<O>>();
    default:
        return nullptr;
    }
}

template <class O> void Directory<O>::Add(std::unique_ptr<Tag<O>> tag) {
    if (tags_.size() >= 65535)
        throw std::runtime_error("Too many TIFF tags");
    tags_.push_back(std::move(tag));
}

template <class O> const Tag<O>* Directory<O>::Find(std::uint16_t number) const {
    for (const auto& tag : tags_)
        if (tag->Number() == number)
            return tag.get();
    return nullptr;
}

#define TARVO_TIFF_INSTANTIATE(O)                                                                            \
    template class Tag<O>;                                                                                   \
    template class NumericTag<O>;                                                                            \
    template class StringTag<O>;                                                                             \
    template class RationalTag<O>;                                                                           \
    template class PageNumberTag<O>;                                                                         \
    template class Directory<O>;                                                                             \
    template std::unique_ptr<Tag<O>> CreateTag<O>(std::uint16_t);

TARVO_TIFF_INSTANTIATE(unsigned int)
TARVO_TIFF_INSTANTIATE(unsigned long long)

} // namespace TIFF

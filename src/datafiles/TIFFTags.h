#pragma once

// TIFF directory entries. Tag<O> is templated on the offset type: unsigned int
// for classic files (12-byte entries, 4-byte value field) and unsigned long
// long for BigTIFF (20-byte entries, 8-byte value field). Values that fit the
// value field are stored inline, others at an offset.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace TIFF {

enum FieldType : std::uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSByte = 6,
    kUndefined = 7,
    kSShort = 8,
    kSLong = 9,
    kSRational = 10,
    kFloat = 11,
    kDouble = 12,
    kIfd = 13,
    kLong8 = 16,
    kSLong8 = 17,
    kIfd8 = 18,
};

// Bytes per value of a field type; 0 for a type this implementation does not know.
unsigned FieldTypeSize(std::uint16_t type);

bool MachineIsBigEndian();
// Appends the low `size` (1, 2, 4 or 8) bytes of `value` in the machine's byte order.
void AppendNative(std::vector<unsigned char>& out, std::uint64_t value, unsigned size);
// A value of `size` bytes at `p` stored in the given byte order.
std::uint64_t FromFileOrder(const unsigned char* p, unsigned size, bool bigEndian);

// One directory entry as found in a file, with access to its value bytes.
class EntryReader {
public:
    EntryReader(std::istream& file, bool bigEndian, std::uint16_t number, std::uint16_t type,
                std::uint64_t count, const unsigned char* valueField, unsigned valueFieldSize);

    std::uint16_t Number() const { return number_; }
    std::uint16_t Type() const { return type_; }
    std::uint64_t Count() const { return count_; }
    // The value bytes in the file's byte order, from the value field or from
    // the offset it holds. "Unknown field type", "Invalid count for tag",
    // "Error reading tag data".
    std::vector<unsigned char> Bytes() const;
    // BYTE, SHORT, LONG or LONG8 values in the machine's order.
    std::vector<std::uint64_t> Unsigned() const;
    // A value of `size` bytes at `p`, converted from the file's byte order.
    std::uint64_t Number(const unsigned char* p, unsigned size) const;

private:
    std::istream& file_;
    bool bigEndian_;
    std::uint16_t number_;
    std::uint16_t type_;
    std::uint64_t count_;
    std::vector<unsigned char> valueField_;
};

template <class O> class Tag {
public:
    Tag(std::uint16_t number, std::uint16_t type) : number_(number), type_(type) {}
    virtual ~Tag() = default;
    Tag(const Tag&) = delete;
    Tag& operator=(const Tag&) = delete;

    std::uint16_t Number() const { return number_; }
    std::uint16_t Type() const { return type_; }
    virtual O Count() const = 0;
    // The Count() values in the machine's byte order.
    virtual std::vector<unsigned char> Data() const = 0;
    std::uint64_t DataSize() const { return std::uint64_t(FieldTypeSize(type_)) * Count(); }
    bool IsInline() const { return DataSize() <= sizeof(O); }
    // Takes the value(s) of a directory entry of this tag.
    virtual void ReadData(const EntryReader& entry);

protected:
    std::uint16_t number_;
    std::uint16_t type_;
};

// SHORT, LONG or LONG8 values. `fixedCount` 0 accepts any positive count on reading.
template <class O> class NumericTag : public Tag<O> {
public:
    NumericTag(std::uint16_t number, std::uint16_t type, std::vector<std::uint64_t> values, O fixedCount)
        : Tag<O>(number, type), values_(std::move(values)), fixedCount_(fixedCount) {}
    O Count() const override { return static_cast<O>(values_.size()); }
    std::vector<unsigned char> Data() const override;
    void ReadData(const EntryReader& entry) override;
    const std::vector<std::uint64_t>& Values() const { return values_; }
    void SetValues(std::vector<std::uint64_t> values) { values_ = std::move(values); }
    std::uint64_t Value() const { return values_.at(0); }

private:
    std::vector<std::uint64_t> values_;
    O fixedCount_;
};

template <class O, std::uint16_t N, std::uint16_t Type, bool PerSample = false>
class ValueTag : public NumericTag<O> {
public:
    explicit ValueTag(std::uint64_t value = 0) : NumericTag<O>(N, Type, {value}, PerSample ? 0 : 1) {}
};

template <class O> class StripOffsetsTag : public NumericTag<O> {
public:
    explicit StripOffsetsTag(std::vector<std::uint64_t> offsets = {})
        : NumericTag<O>(273, sizeof(O) == 8 ? kLong8 : kLong, std::move(offsets), 0) {}
};

template <class O> class StripByteCountsTag : public NumericTag<O> {
public:
    explicit StripByteCountsTag(std::vector<std::uint64_t> counts = {})
        : NumericTag<O>(279, sizeof(O) == 8 ? kLong8 : kLong, std::move(counts), 0) {}
};

// ASCII text, written with its terminating zero. "Wrong type for string tag".
template <class O> class StringTag : public Tag<O> {
public:
    StringTag(std::uint16_t number, std::string text) : Tag<O>(number, kAscii), text_(std::move(text)) {}
    O Count() const override { return static_cast<O>(text_.size() + 1); }
    std::vector<unsigned char> Data() const override;
    void ReadData(const EntryReader& entry) override;
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

template <class O, std::uint16_t N> class TextTag : public StringTag<O> {
public:
    explicit TextTag(std::string text = std::string()) : StringTag<O>(N, std::move(text)) {}
};

// One RATIONAL. "Wrong type for this tag".
template <class O> class RationalTag : public Tag<O> {
public:
    RationalTag(std::uint16_t number, double value);
    O Count() const override { return 1; }
    std::vector<unsigned char> Data() const override;
    void ReadData(const EntryReader& entry) override;
    std::uint32_t Numerator() const { return numerator_; }
    std::uint32_t Denominator() const { return denominator_; }
    double Value() const { return denominator_ == 0 ? 0.0 : double(numerator_) / denominator_; }

private:
    std::uint32_t numerator_ = 0;
    std::uint32_t denominator_ = 1;
};

template <class O, std::uint16_t N> class RationalValueTag : public RationalTag<O> {
public:
    explicit RationalValueTag(double value = 0.0) : RationalTag<O>(N, value) {}
};

// Two SHORTs: page number and page count. "Wrong type for page number tag".
template <class O> class PageNumberTag : public Tag<O> {
public:
    explicit PageNumberTag(std::uint16_t page = 0, std::uint16_t pages = 0)
        : Tag<O>(297, kShort), page_(page), pages_(pages) {}
    O Count() const override { return 2; }
    std::vector<unsigned char> Data() const override;
    void ReadData(const EntryReader& entry) override;

private:
    std::uint16_t page_;
    std::uint16_t pages_;
};

template <class O> using NewSubfileTypeTag = ValueTag<O, 254, kLong>;
template <class O> using ImageWidthTag = ValueTag<O, 256, kLong>;
template <class O> using ImageLengthTag = ValueTag<O, 257, kLong>;
template <class O> using BitsPerSampleTag = ValueTag<O, 258, kShort, true>;
template <class O> using CompressionTag = ValueTag<O, 259, kShort>;
template <class O> using PhotometricInterpretationTag = ValueTag<O, 262, kShort>;
template <class O> using DocumentNameTag = TextTag<O, 269>;
template <class O> using ImageDescriptionTag = TextTag<O, 270>;
template <class O> using OrientationTag = ValueTag<O, 274, kShort>;
template <class O> using SamplesPerPixelTag = ValueTag<O, 277, kShort>;
template <class O> using RowsPerStripTag = ValueTag<O, 278, kLong>;
template <class O> using XResolutionTag = RationalValueTag<O, 282>;
template <class O> using YResolutionTag = RationalValueTag<O, 283>;
template <class O> using PlanarConfigTag = ValueTag<O, 284, kShort>;
template <class O> using PageNameTag = TextTag<O, 285>;
template <class O> using XPositionTag = RationalValueTag<O, 286>;
template <class O> using YPositionTag = RationalValueTag<O, 287>;
template <class O> using ResolutionUnitTag = ValueTag<O, 296, kShort>;
template <class O> using SoftwareTag = TextTag<O, 305>;
template <class O> using DateTimeTag = TextTag<O, 306>;
template <class O> using UserNameTag = TextTag<O, 315>; // TIFF "Artist"
template <class O> using HostComputerTag = TextTag<O, 316>;
template <class O> using PredictorTag = ValueTag<O, 317, kShort>;
template <class O> using SampleFormatTag = ValueTag<O, 339, kShort, true>;
template <class O> using CopyrightTag = TextTag<O, 33432>;

// A fresh tag object for reading the tag `number`; null for tags this
// implementation does not use.
template <class O> std::unique_ptr<Tag<O>> CreateTag(std::uint16_t number);

// The current local time as TIFF DateTime text "YYYY:MM:DD HH:MM:SS".
std::string CurrentDateTime();

// The tags of one image file directory, in the order they were added.
template <class O> class Directory {
public:
    // "Too many TIFF tags" beyond 65535.
    void Add(std::unique_ptr<Tag<O>> tag);
    const Tag<O>* Find(std::uint16_t number) const;
    const std::vector<std::unique_ptr<Tag<O>>>& Tags() const { return tags_; }

private:
    std::vector<std::unique_ptr<Tag<O>>> tags_;
};

} // namespace TIFF

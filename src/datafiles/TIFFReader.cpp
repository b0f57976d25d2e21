#include "datafiles/TIFF.h"

#include "datafiles/TIFFTags.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <istream>

namespace TIFF {

namespace {

constexpr unsigned kNoCompression = 1;
constexpr unsigned kLZW = 5;
constexpr unsigned kPackBits = 32773;

[[noreturn]] void Fail(const char* text) {
    throw std::runtime_error(text);
}

// LZW as TIFF writes it: codes most significant bit first, 9 to 12 bits wide,
// the width growing one code early; 256 clears the table, 257 ends the data.
void DecodeLZW(const unsigned char* in, std::size_t inSize, unsigned char* out, std::size_t outSize) {
    struct Entry {
        std::uint16_t prefix;
        std::uint16_t length;
        unsigned char first;
        unsigned char last;
    };
    constexpr int kClear = 256, kEnd = 257, kFirstFree = 258, kMaxCodes = 4096;
    Entry table[kMaxCodes];
    for (int i = 0; i < 256; ++i)
        table[i] = {0, 1, static_cast<unsigned char>(i), static_cast<unsigned char>(i)};

    std::size_t inPos = 0, outPos = 0;
    std::uint32_t bitBuffer = 0;
    int bitCount = 0, width = 9, next = kFirstFree, previous = -1;
    auto emit = [&](int code) {
        const std::size_t length = table[code].length;
        if (length > outSize - outPos)
            Fail("End of output reached");
        std::size_t pos = outPos + length;
        for (int c = code; pos > outPos; c = table[c].prefix)
            out[--pos] = table[c].last;
        outPos += length;
    };
    for (;;) {
        while (bitCount < width && inPos < inSize) {
            bitBuffer = (bitBuffer << 8) | in[inPos++];
            bitCount += 8;
        }
        if (bitCount < width) {
            if (outPos == outSize)
                return; // some writers end without the end code
            Fail("End of input reached");
        }
        bitCount -= width;
        const int code = static_cast<int>((bitBuffer >> bitCount) & ((1u << width) - 1));
        if (code == kEnd)
            break;
        if (code == kClear) {
            width = 9;
            next = kFirstFree;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code > 255)
                Fail("Error decompressing");
            emit(code);
            previous = code;
            continue;
        }
        if (code > next)
            Fail("Error decompressing");
        const unsigned char first = code < next ? table[code].first : table[previous].first;
        if (next < kMaxCodes) {
            table[next] = {static_cast<std::uint16_t>(previous),
                           static_cast<std::uint16_t>(table[previous].length + 1), table[previous].first,
                           first};
            ++next;
        }
        emit(code);
        previous = code;
        if (next >= (1 << width) - 1 && width < 12)
            ++width;
    }
    if (outPos != outSize)
        Fail("Wrong amount of data");
}

void DecodePackBits(const unsigned char* in, std::size_t inSize, unsigned char* out, std::size_t outSize) {
    std::size_t inPos = 0, outPos = 0;
    while (outPos < outSize) {
        if (inPos >= inSize)
            Fail("End of input reached");
        const int header = static_cast<signed char>(in[inPos++]);
        if (header >= 0) {
            const std::size_t n = static_cast<std::size_t>(header) + 1;
            if (n > inSize - inPos)
                Fail("End of input reached");
            if (n > outSize - outPos)
                Fail("End of output reached");
            std::memcpy(out + outPos, in + inPos, n);
            inPos += n;
            outPos += n;
        } else if (header != -128) {
            const std::size_t n = static_cast<std::size_t>(1 - header);
            if (inPos >= inSize)
                Fail("End of input reached");
            if (n > outSize - outPos)
                Fail("End of output reached");
            std::memset(out + outPos, in[inPos++], n);
            outPos += n;
        }
    }
}

template <class U> void UndoPredictor(unsigned char* row, std::size_t width) {
    U previous;
    std::memcpy(&previous, row, sizeof(U));
    for (std::size_t i = 1; i < width; ++i) {
        U value;
        std::memcpy(&value, row + i * sizeof(U), sizeof(U));
        value = static_cast<U>(value + previous);
        std::memcpy(row + i * sizeof(U), &value, sizeof(U));
        previous = value;
    }
}

template <class S, class T> void Convert(const unsigned char* data, std::size_t count, T* out) {
    for (std::size_t i = 0; i < count; ++i) {
        S sample;
        std::memcpy(&sample, data + i * sizeof(S), sizeof(S));
        out[i] = static_cast<T>(sample);
    }
}

struct Layout {
    std::uint64_t width = 0, height = 0;
    unsigned bytesPerSample = 0, sampleFormat = 1, compression = 1, predictor = 1;
    std::uint64_t rowsPerStrip = 0;
    std::vector<std::uint64_t> offsets, byteCounts;
};

template <class O> const NumericTag<O>* FindNumeric(const Directory<O>& directory, std::uint16_t number) {
    return dynamic_cast<const NumericTag<O>*>(directory.Find(number));
}

template <class O> Layout ReadDirectory(std::istream& in, bool bigEndian, std::uint64_t offset) {
    constexpr unsigned countSize = sizeof(O) == 8 ? 8 : 2;
    constexpr unsigned entrySize = sizeof(O) == 8 ? 20 : 12;
    unsigned char buffer[entrySize];
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in || !in.read(reinterpret_cast<char*>(buffer), countSize))
        Fail("Error reading TIFF directory");
    const std::uint64_t count = FromFileOrder(buffer, countSize, bigEndian);
    std::vector<unsigned char> entries;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!in.read(reinterpret_cast<char*>(buffer), entrySize))
            Fail("Error reading tag");
        entries.insert(entries.end(), buffer, buffer + entrySize);
    }

    Directory<O> directory;
    for (std::uint64_t i = 0; i < count; ++i) {
        const unsigned char* e = entries.data() + i * entrySize;
        const auto number = static_cast<std::uint16_t>(FromFileOrder(e, 2, bigEndian));
        std::unique_ptr<Tag<O>> tag = CreateTag<O>(number);
        if (!tag)
            continue; // a tag this reader does not use
        const auto type = static_cast<std::uint16_t>(FromFileOrder(e + 2, 2, bigEndian));
        const std::uint64_t values = FromFileOrder(e + 4, sizeof(O), bigEndian);
        const EntryReader entry(in, bigEndian, number, type, values, e + 4 + sizeof(O), sizeof(O));
        try {
            tag->ReadData(entry);
        } catch (const std::exception& error) {
            throw std::runtime_error("Unable to read tag " + std::to_string(number) + ": " + error.what());
        }
        directory.Add(std::move(tag));
    }

    Layout layout;
    const auto* width = FindNumeric(directory, 256);
    const auto* height = FindNumeric(directory, 257);
    const auto* offsets = FindNumeric(directory, 273);
    const auto* byteCounts = FindNumeric(directory, 279);
    if (!width || !height || !offsets || !byteCounts)
        Fail("Couldn't find required tags");
    layout.width = width->Value();
    layout.height = height->Value();
    if (layout.width == 0 || layout.height == 0 || layout.width > 0xFFFFFFFFull ||
        layout.height > 0xFFFFFFFFull)
        Fail("Invalid image dimensions");
    auto value = [&](std::uint16_t number, std::uint64_t fallback) {
        const auto* tag = FindNumeric(directory, number);
        return tag ? tag->Value() : fallback;
    };
    if (value(277, 1) != 1)
        Fail("Only grayscale images supported");
    if (value(284, 1) != 1)
        Fail("Separate planes not supported");
    layout.compression = static_cast<unsigned>(value(259, kNoCompression));
    if (layout.compression != kNoCompression && layout.compression != kLZW && layout.compression != kPackBits)
        Fail("Unsupported compression method");
    layout.predictor = static_cast<unsigned>(value(317, 1));
    if (layout.predictor != 1 && layout.predictor != 2)
        Fail("Unsupported predictor");
    const std::uint64_t bits = value(258, 1);
    layout.sampleFormat = static_cast<unsigned>(value(339, 1));
    if (layout.sampleFormat == 1 || layout.sampleFormat == 2) {
        if (bits != 8 && bits != 16 && bits != 32 && bits != 64)
            Fail("Unsupported bit depth");
    } else if (layout.sampleFormat == 3) {
        if (bits != 32 && bits != 64)
            Fail("Unsupported bit depth");
    } else {
        Fail("Unsupported data type");
    }
    layout.bytesPerSample = static_cast<unsigned>(bits / 8);
    layout.rowsPerStrip = std::min(value(278, layout.height), layout.height);
    if (layout.rowsPerStrip == 0)
        Fail("Invalid number of rows per strip");
    layout.offsets = offsets->Values();
    layout.byteCounts = byteCounts->Values();
    const std::uint64_t strips = (layout.height + layout.rowsPerStrip - 1) / layout.rowsPerStrip;
    if (layout.offsets.size() != layout.byteCounts.size() || layout.offsets.size() != strips)
        Fail("Invalid strip configuration");
    return layout;
}

template <class T>
void ConvertSamples(const Layout& layout, const unsigned char* data, std::size_t count, T* out) {
    const unsigned bytes = layout.bytesPerSample;
    switch (layout.sampleFormat) {
    case 1:
        if (bytes == 1)
            Convert<std::uint8_t>(data, count, out);
        else if (bytes == 2)
            Convert<std::uint16_t>(data, count, out);
        else if (bytes == 4)
            Convert<std::uint32_t>(data, count, out);
        else
            Convert<std::uint64_t>(data, count, out);
        break;
    case 2:
        if (bytes == 1)
            Convert<std::int8_t>(data, count, out);
        else if (bytes == 2)
            Convert<std::int16_t>(data, count, out);
        else if (bytes == 4)
            Convert<std::int32_t>(data, count, out);
        else
            Convert<std::int64_t>(data, count, out);
        break;
    default:
        if (bytes == 4)
            Convert<float>(data, count, out);
        else
            Convert<double>(data, count, out);
        break;
    }
}

// The most bytes one stored byte can decode to: a PackBits run of two bytes repeats
// one 128 times; an LZW code of at least nine bits stands for at most a whole table
// of 4096 bytes.
std::uint64_t MaxExpansion(unsigned compression) {
    if (compression == kNoCompression)
        return 1;
    return compression == kPackBits ? 64 : 4096 * 8 / 9 + 1;
}

// Checks that every strip lies in the file and could hold its rows, before anything
// is allocated: the header's dimensions must not have us reserve memory (gigabytes,
// for a few corrupt bytes) that the file cannot fill.
void CheckStrips(const Layout& layout, std::uint64_t fileSize) {
    const std::uint64_t bytesPerRow = layout.width * layout.bytesPerSample;
    for (std::size_t s = 0; s < layout.offsets.size(); ++s) {
        const std::uint64_t rows = std::min(layout.rowsPerStrip, layout.height - s * layout.rowsPerStrip);
        const std::uint64_t offset = layout.offsets[s], size = layout.byteCounts[s];
        if (offset > fileSize || size > fileSize - offset)
            Fail("Error reading strip data");
        if (rows > size * MaxExpansion(layout.compression) / bytesPerRow)
            Fail("Not enough data");
    }
}

template <class T> Image<T> ReadStrips(std::istream& in, bool bigEndian, const Layout& layout) {
    in.clear();
    in.seekg(0, std::ios::end);
    const auto fileSize = static_cast<std::uint64_t>(in.tellg());
    CheckStrips(layout, fileSize);
    const std::uint64_t bytesPerRow = layout.width * layout.bytesPerSample;
    Image<T> image;
    image.width = static_cast<std::size_t>(layout.width);
    image.height = static_cast<std::size_t>(layout.height);
    image.pixels.resize(image.width * image.height);
    const bool swap = layout.bytesPerSample > 1 && bigEndian != MachineIsBigEndian();
    std::vector<unsigned char> stored, strip;
    for (std::size_t s = 0; s < layout.offsets.size(); ++s) {
        const std::uint64_t firstRow = s * layout.rowsPerStrip;
        const std::uint64_t rows = std::min(layout.rowsPerStrip, layout.height - firstRow);
        const std::uint64_t expected = rows * bytesPerRow;
        const std::uint64_t offset = layout.offsets[s], size = layout.byteCounts[s];
        stored.resize(static_cast<std::size_t>(size));
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(size)))
            Fail("Error reading strip data");
        strip.resize(static_cast<std::size_t>(expected));
        if (layout.compression == kNoCompression) {
            std::memcpy(strip.data(), stored.data(), strip.size());
        } else if (layout.compression == kLZW) {
            DecodeLZW(stored.data(), stored.size(), strip.data(), strip.size());
        } else {
            DecodePackBits(stored.data(), stored.size(), strip.data(), strip.size());
        }
        if (swap)
            for (std::size_t i = 0; i < strip.size(); i += layout.bytesPerSample)
                std::reverse(strip.begin() + static_cast<long>(i),
                             strip.begin() + static_cast<long>(i + layout.bytesPerSample));
        if (layout.predictor == 2) {
            for (std::uint64_t r = 0; r < rows; ++r) {
                unsigned char* row = strip.data() + r * bytesPerRow;
                const auto width = static_cast<std::size_t>(layout.width);
                switch (layout.bytesPerSample) {
                case 1:
                    UndoPredictor<std::uint8_t>(row, width);
                    break;
                case 2:
                    UndoPredictor<std::uint16_t>(row, width);
                    break;
                case 4:
                    UndoPredictor<std::uint32_t>(row, width);
                    break;
                default:
                    UndoPredictor<std::uint64_t>(row, width);
                    break;
                }
            }
        }
        ConvertSamples(layout, strip.data(), static_cast<std::size_t>(rows * layout.width),
                       image.pixels.data() + firstRow * layout.width);
    }
    return image;
}

} // namespace

template <class T> Image<T> ReadTIFF(std::istream& in) {
    unsigned char header[16];
    if (!in.read(reinterpret_cast<char*>(header), 2))
        Fail("Error checking file type");
    bool bigEndian;
    if (header[0] == 'I' && header[1] == 'I')
        bigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M')
        bigEndian = true;
    else
        Fail("Not a TIFF file");
    if (!in.read(reinterpret_cast<char*>(header + 2), 2))
        Fail("Error reading TIFF header");
    const std::uint64_t version = FromFileOrder(header + 2, 2, bigEndian);
    if (version == 42) {
        if (!in.read(reinterpret_cast<char*>(header + 4), 4))
            Fail("Error reading TIFF header");
        const Layout layout =
            ReadDirectory<unsigned int>(in, bigEndian, FromFileOrder(header + 4, 4, bigEndian));
        return ReadStrips<T>(in, bigEndian, layout);
    }
    if (version == 43) {
        if (!in.read(reinterpret_cast<char*>(header + 4), 12))
            Fail("Error reading TIFF header");
        if (FromFileOrder(header + 4, 2, bigEndian) != 8 || FromFileOrder(header + 6, 2, bigEndian) != 0)
            Fail("Unsupported TIFF file");
        const Layout layout =
            ReadDirectory<unsigned long long>(in, bigEndian, FromFileOrder(header + 8, 8, bigEndian));
        return ReadStrips<T>(in, bigEndian, layout);
    }
    Fail("Unsupported TIFF file");
}

template <class T> Image<T> ReadTIFF(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw std::runtime_error("Can not open file for reading: " + fileName);
    return ReadTIFF<T>(in);
}

template Image<double> ReadTIFF<double>(std::istream&);
template Image<float> ReadTIFF<float>(std::istream&);
template Image<double> ReadTIFF<double>(const std::string&);
template Image<float> ReadTIFF<float>(const std::string&);

} // namespace TIFF

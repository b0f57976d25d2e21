#include "datafiles/TIFF.h"

#include "datafiles/HostInfo.h"
#include "datafiles/TIFFTags.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <ostream>

namespace TIFF {

namespace {

template <class T> struct SampleTraits;
template <> struct SampleTraits<double> {
    static constexpr unsigned kFormat = 3; // IEEE float
};
template <> struct SampleTraits<float> { static constexpr unsigned kFormat = 3; };
template <> struct SampleTraits<std::uint16_t> {
    static constexpr unsigned kFormat = 1; // unsigned integer
};

// What goes into every file besides the pixels; gathered once so the classic
// attempt and the BigTIFF fallback write the same directory.
struct FileInfo {
    const Description* description;
    std::string dateTime;
    std::string userName;
    std::string hostName;
};

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Writes header, directory, tag data and pixels with offsets of type O
// (unsigned int: classic TIFF, unsigned long long: BigTIFF).
template <class O>
void WriteFile(const char* pixels, std::uint64_t width, std::uint64_t height, unsigned bytesPerSample,
               unsigned sampleFormat, std::ostream& out, const FileInfo& info, std::uint64_t classicLimit) {
    constexpr bool kBig = sizeof(O) == 8;
    const std::uint64_t bytesPerRow = width * bytesPerSample;
    const std::uint64_t total = bytesPerRow * height;
    if (!kBig && (width > 0xFFFFFFFFull || height > 0xFFFFFFFFull || total > classicLimit))
        throw FileSizeException();
    const std::uint64_t rowsPerStrip = std::max<std::uint64_t>(1, std::min(height, 8000 / bytesPerRow));
    const std::uint64_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
    const std::uint64_t stripBytes = rowsPerStrip * bytesPerRow;
    std::vector<std::uint64_t> counts(static_cast<std::size_t>(strips), stripBytes);
    counts.back() = total - (strips - 1) * stripBytes;

    const Description& d = *info.description;
    Directory<O> directory;
    auto offsetsTag = std::make_unique<StripOffsetsTag<O>>(std::vector<std::uint64_t>(counts.size(), 0));
    StripOffsetsTag<O>* offsets = offsetsTag.get();
    directory.Add(std::make_unique<ImageWidthTag<O>>(width));
    directory.Add(std::make_unique<ImageLengthTag<O>>(height));
    directory.Add(std::make_unique<BitsPerSampleTag<O>>(bytesPerSample * 8));
    directory.Add(std::make_unique<CompressionTag<O>>(1));
    directory.Add(std::make_unique<PhotometricInterpretationTag<O>>(1));
    if (!d.documentName.empty())
        directory.Add(std::make_unique<DocumentNameTag<O>>(d.documentName));
    if (!d.imageDescription.empty())
        directory.Add(std::make_unique<ImageDescriptionTag<O>>(d.imageDescription));
    directory.Add(std::move(offsetsTag));
    directory.Add(std::make_unique<OrientationTag<O>>(1));
    directory.Add(std::make_unique<SamplesPerPixelTag<O>>(1));
    directory.Add(std::make_unique<RowsPerStripTag<O>>(rowsPerStrip));
    directory.Add(std::make_unique<StripByteCountsTag<O>>(counts));
    directory.Add(std::make_unique<XResolutionTag<O>>(d.xResolution));
    directory.Add(std::make_unique<YResolutionTag<O>>(d.yResolution));
    directory.Add(std::make_unique<PlanarConfigTag<O>>(1));
    directory.Add(std::make_unique<ResolutionUnitTag<O>>(3));
    if (!d.software.empty())
        directory.Add(std::make_unique<SoftwareTag<O>>(d.software));
    directory.Add(std::make_unique<DateTimeTag<O>>(info.dateTime));
    if (!info.userName.empty())
        directory.Add(std::make_unique<UserNameTag<O>>(info.userName));
    if (!info.hostName.empty())
        directory.Add(std::make_unique<HostComputerTag<O>>(info.hostName));
    directory.Add(std::make_unique<SampleFormatTag<O>>(sampleFormat));

    // Layout: header, directory, out-of-line tag data (word aligned), zeros up
    // to a multiple of 8, then the strips one after another.
    const auto& tags = directory.Tags();
    const unsigned headerSize = kBig ? 16 : 8;
    const unsigned countSize = kBig ? 8 : 2;
    const unsigned entrySize = kBig ? 20 : 12;
    std::uint64_t position = headerSize + countSize + tags.size() * entrySize + sizeof(O);
    std::vector<std::uint64_t> dataOffsets(tags.size(), 0);
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (tags[i]->IsInline())
            continue;
        position = AlignUp(position, 2);
        dataOffsets[i] = position;
        position += tags[i]->DataSize();
    }
    const std::uint64_t pixelStart = AlignUp(position, 8);
    if (!kBig && pixelStart + total > classicLimit)
        throw FileSizeException();
    std::vector<std::uint64_t> stripOffsets(counts.size());
    for (std::size_t i = 0; i < stripOffsets.size(); ++i)
        stripOffsets[i] = pixelStart + i * stripBytes;
    offsets->SetValues(std::move(stripOffsets));

    std::vector<unsigned char> head;
    head.reserve(static_cast<std::size_t>(pixelStart));
    const char* order = MachineIsBigEndian() ? "MM" : "II";
    head.insert(head.end(), order, order + 2);
    AppendNative(head, kBig ? 43 : 42, 2);
    if (kBig) {
        AppendNative(head, 8, 2);
        AppendNative(head, 0, 2);
    }
    AppendNative(head, headerSize, sizeof(O));
    AppendNative(head, tags.size(), countSize);
    std::vector<std::vector<unsigned char>> outOfLine(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const Tag<O>& tag = *tags[i];
        AppendNative(head, tag.Number(), 2);
        AppendNative(head, tag.Type(), 2);
        AppendNative(head, tag.Count(), sizeof(O));
        std::vector<unsigned char> data = tag.Data();
        if (tag.IsInline()) {
            data.resize(sizeof(O), 0); // values are left-justified in the field
            head.insert(head.end(), data.begin(), data.end());
        } else {
            AppendNative(head, dataOffsets[i], sizeof(O));
            outOfLine[i] = std::move(data);
        }
    }
    AppendNative(head, 0, sizeof(O)); // no next directory
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (outOfLine[i].empty())
            continue;
        head.resize(static_cast<std::size_t>(dataOffsets[i]), 0);
        head.insert(head.end(), outOfLine[i].begin(), outOfLine[i].end());
    }
    head.resize(static_cast<std::size_t>(pixelStart), 0);

    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    out.write(pixels, static_cast<std::streamsize>(total));
    if (!out)
        throw std::runtime_error("Error writing image");
}

} // namespace

template <class T>
void WriteTIFF(const T* pixels, std::size_t width, std::size_t height, std::ostream& out,
               const Description& description, std::uint64_t classicLimit) {
    const bool big = MachineIsBigEndian();
    if ((description.byteOrder == ByteOrder::LittleEndian && big) ||
        (description.byteOrder == ByteOrder::BigEndian && !big))
        throw std::runtime_error("Unsupported byte order");
    if (width == 0 || height == 0)
        throw std::runtime_error("Empty image");
    FileInfo info{&description, CurrentDateTime(), std::string(), std::string()};
    // A name the system cannot tell leaves its tag out rather than losing the image.
    try {
        info.userName = QueryUserName();
    } catch (const std::exception&) {
    }
    try {
        info.hostName = QueryHostName();
    } catch (const std::exception&) {
    }
    const char* bytes = reinterpret_cast<const char*>(pixels);
    try {
        WriteFile<unsigned int>(bytes, width, height, sizeof(T), SampleTraits<T>::kFormat, out, info,
                                classicLimit);
    } catch (const FileSizeException&) {
        WriteFile<unsigned long long>(bytes, width, height, sizeof(T), SampleTraits<T>::kFormat, out, info,
                                      classicLimit);
    }
}

template <class T>
void WriteTIFF(const Image<T>& image, const std::string& fileName, const Description& description,
               std::uint64_t classicLimit) {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Can not open file for writing: " + fileName);
    WriteTIFF(image, out, description, classicLimit);
    out.close();
    if (!out)
        throw std::runtime_error("Error writing image");
}

#define TARVO_TIFF_WRITE(T)                                                                                  \
    template void WriteTIFF<T>(const T*, std::size_t, std::size_t, std::ostream&, const Description&,        \
                               std::uint64_t);                                                               \
    template void WriteTIFF<T>(const Image<T>&, const std::string&, const Description&, std::uint64_t);

TARVO_TIFF_WRITE(double)
TARVO_TIFF_WRITE(float)
TARVO_TIFF_WRITE(std::uint16_t)

} // namespace TIFF

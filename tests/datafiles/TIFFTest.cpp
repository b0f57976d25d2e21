#include "datafiles/TIFF.h"

#include "app/SystemUtils.h"
#include "common/TestUtil.h"
#include "materials/TestErrors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

template <class T>
TIFF::Image<T> MakeImage(std::size_t width, std::size_t height, T (*value)(std::size_t, std::size_t)) {
    TIFF::Image<T> image;
    image.width = width;
    image.height = height;
    image.pixels.resize(width * height);
    for (std::size_t r = 0; r < height; ++r)
        for (std::size_t c = 0; c < width; ++c)
            image(r, c) = value(r, c);
    return image;
}

template <class T> void WriteRaw(const TIFF::Image<T>& image, const std::string& path) {
    testutil::WriteFile(path, std::string(reinterpret_cast<const char*>(image.pixels.data()),
                                          image.pixels.size() * sizeof(T)));
}

std::vector<double> ReadDoubles(const std::string& path) {
    const std::string bytes = testutil::ReadFile(path);
    std::vector<double> values(bytes.size() / sizeof(double));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
    return values;
}

std::string ReadError(const std::string& path) {
    return ErrorOf([&] { TIFF::ReadTIFF<double>(path); });
}

TIFF::Description TestDescription() {
    TIFF::Description description;
    description.software = "Tarvo test";
    description.documentName = "document";
    description.imageDescription = "an image";
    description.xResolution = 10.0;
    description.yResolution = 10.0;
    return description;
}

// Prints, for each (tiff, raw, dtype) triple, what tifffile sees in the file.
const char* kInspectScript = R"(
import sys, re, numpy as np, tifffile
a = sys.argv[1:]
for tif, raw, dt in zip(a[0::3], a[1::3], a[2::3]):
    with tifffile.TiffFile(tif) as t:
        p = t.pages[0]
        g = lambda name: p.tags[name].value
        pix = p.asarray()
        ref = np.fromfile(raw, dtype=dt).reshape(pix.shape)
        print(tif.split('/')[-1], 'big' if t.is_bigtiff else 'classic', pix.dtype, p.imagewidth, p.imagelength,
              p.bitspersample, int(p.sampleformat), int(p.compression), int(p.photometric), p.samplesperpixel,
              int(g('Orientation')), int(g('PlanarConfiguration')), p.rowsperstrip, len(p.dataoffsets),
              p.databytecounts[0], p.databytecounts[-1], g('XResolution'), g('YResolution'),
              int(g('ResolutionUnit')), bool(np.array_equal(pix, ref)),
              '|'.join([g('Software'), g('DocumentName'), g('ImageDescription'), g('Artist'), g('HostComputer')]),
              bool(re.fullmatch(r'\d{4}:\d\d:\d\d \d\d:\d\d:\d\d', g('DateTime'))))
)";

} // namespace

TEST(TIFF, WrittenImagesOpenInTifffileWithTheirLayout) {
    testutil::TempDir dir;
    const auto d =
        MakeImage<double>(1000, 1000, [](std::size_t r, std::size_t c) { return r * 1000.0 + c + 0.25; });
    const auto f = MakeImage<float>(1, 1, [](std::size_t, std::size_t) { return 3.5f; });
    const auto s = MakeImage<std::uint16_t>(
        100, 100, [](std::size_t r, std::size_t c) { return static_cast<std::uint16_t>((r * 100 + c) * 6); });
    const auto odd =
        MakeImage<float>(37, 23, [](std::size_t r, std::size_t c) { return float(r) - 0.5f * c; });
    TIFF::WriteTIFF(d, dir.File("d.tif"), TestDescription());
    TIFF::WriteTIFF(f, dir.File("f.tif"), TestDescription());
    TIFF::WriteTIFF(s, dir.File("s.tif"), TestDescription());
    TIFF::WriteTIFF(odd, dir.File("odd.tif"), TestDescription());
    WriteRaw(d, dir.File("d.bin"));
    WriteRaw(f, dir.File("f.bin"));
    WriteRaw(s, dir.File("s.bin"));
    WriteRaw(odd, dir.File("odd.bin"));

    const auto result =
        testutil::RunPython(kInspectScript, {dir.File("d.tif"), dir.File("d.bin"), "<f8", dir.File("f.tif"),
                                             dir.File("f.bin"), "<f4", dir.File("s.tif"), dir.File("s.bin"),
                                             "<u2", dir.File("odd.tif"), dir.File("odd.bin"), "<f4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string names =
        "True Tarvo test|document|an image|" + QueryUserName() + "|" + QueryHostName() + " True\n";
    const std::string res = " (2147483640, 214748364) (2147483640, 214748364) 3 ";
    // name, format, dtype, width, height, bits, sample format, compression, photometric, samples,
    // orientation, planar, rows per strip, strips, first and last strip bytes, resolutions, unit, pixels.
    EXPECT_EQ(result.out, "d.tif classic float64 1000 1000 64 3 1 1 1 1 1 1 1000 8000 8000" + res + names +
                              "f.tif classic float32 1 1 32 3 1 1 1 1 1 1 1 4 4" + res + names +
                              "s.tif classic uint16 100 100 16 1 1 1 1 1 1 40 3 8000 4000" + res + names +
                              "odd.tif classic float32 37 23 32 3 1 1 1 1 1 23 1 3404 3404" + res + names);

    // Our reader gives the same pixels back.
    EXPECT_EQ(TIFF::ReadTIFF<double>(dir.File("d.tif")).pixels, d.pixels);
    EXPECT_EQ(TIFF::ReadTIFF<float>(dir.File("odd.tif")).pixels, odd.pixels);
    const auto back = TIFF::ReadTIFF<double>(dir.File("s.tif"));
    ASSERT_EQ(back.width, 100u);
    ASSERT_EQ(back.height, 100u);
    for (std::size_t i = 0; i < s.pixels.size(); ++i)
        ASSERT_EQ(back.pixels[i], s.pixels[i]);
}

TEST(TIFF, ResolutionIsTheNearestRationalWithinThirtyOneBits) {
    EXPECT_EQ(TIFF::ResolutionToRational(10.0), std::make_pair(2147483640u, 214748364u));
    EXPECT_EQ(TIFF::ResolutionToRational(1.0), std::make_pair(2147483647u, 2147483647u));
    EXPECT_EQ(TIFF::ResolutionToRational(0.5), std::make_pair(1073741823u, 2147483646u));
}

TEST(TIFF, BigTiffWhenTheClassicFormatCannotHoldTheFile) {
    testutil::TempDir dir;
    const auto s = MakeImage<std::uint16_t>(
        100, 100, [](std::size_t r, std::size_t c) { return static_cast<std::uint16_t>(r * 613 + c * 7); });
    WriteRaw(s, dir.File("s.bin"));
    // 20000 bytes of pixels: classic within a limit of 21000 bytes, BigTIFF within 20000.
    TIFF::WriteTIFF(s, dir.File("classic.tif"), TestDescription(), 21000);
    TIFF::WriteTIFF(s, dir.File("big.tif"), TestDescription(), 20000);
    EXPECT_EQ(testutil::ReadFile(dir.File("classic.tif")).substr(0, 4), std::string("II*\0", 4));
    const std::string big = testutil::ReadFile(dir.File("big.tif"));
    EXPECT_EQ(big.substr(0, 16), std::string("II+\0\x08\0\0\0\x10\0\0\0\0\0\0\0", 16));

    const auto result = testutil::RunPython(kInspectScript, {dir.File("big.tif"), dir.File("s.bin"), "<u2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, result.out.find(" (")),
              "big.tif big uint16 100 100 16 1 1 1 1 1 1 40 3 8000 4000");
    EXPECT_NE(result.out.find(" 3 True "), std::string::npos) << result.out;

    const auto back = TIFF::ReadTIFF<double>(dir.File("big.tif"));
    for (std::size_t i = 0; i < s.pixels.size(); ++i)
        ASSERT_EQ(back.pixels[i], s.pixels[i]);
}

TEST(TIFF, WriterErrors) {
    std::ostringstream out;
    TIFF::Image<float> empty;
    EXPECT_EQ(ErrorOf([&] { TIFF::WriteTIFF(empty, out); }), "Empty image");
    const auto one = MakeImage<float>(1, 1, [](std::size_t, std::size_t) { return 1.0f; });
    TIFF::Description foreign;
    foreign.byteOrder = TIFF::ByteOrder::BigEndian;
    EXPECT_EQ(ErrorOf([&] { TIFF::WriteTIFF(one, out, foreign); }), "Unsupported byte order");
    std::ofstream closed;
    EXPECT_EQ(ErrorOf([&] { TIFF::WriteTIFF(one, closed); }), "Error writing image");
    EXPECT_STREQ(TIFF::FileSizeException().what(), "Image too large");
}

TEST(TIFF, ReadsUncompressedImagesWrittenByTifffile) {
    testutil::TempDir dir;
    const auto made = testutil::RunPython(R"(
import sys, numpy as np, tifffile
rng = np.random.default_rng(5)
for dt in ['u1', 'u2', 'u4', 'i1', 'i2', 'i4', 'f4', 'f8']:
    info = np.iinfo(dt) if dt[0] != 'f' else None
    if info is None:
        a = (rng.standard_normal((23, 37)) * 1e3).astype(dt)
    else:
        a = rng.integers(info.min, info.max, size=(23, 37), endpoint=True).astype(dt)
    for order in '<>':
        name = sys.argv[1] + '/' + dt + ('le' if order == '<' else 'be')
        tifffile.imwrite(name + '.tif', a, byteorder=order, rowsperstrip=5, photometric='minisblack')
        a.astype('<f8').tofile(name + '.bin')
tifffile.imwrite(sys.argv[1] + '/rgb.tif', np.zeros((4, 5, 3), 'u1'), photometric='rgb')
tifffile.imwrite(sys.argv[1] + '/zlib.tif', np.zeros((4, 5), 'u2'), compression='zlib')
)",
                                          {dir.Path()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (const char* type : {"u1", "u2", "u4", "i1", "i2", "i4", "f4", "f8"}) {
        for (const char* order : {"le", "be"}) {
            const std::string name = dir.File(std::string(type) + order);
            SCOPED_TRACE(name);
            const auto image = TIFF::ReadTIFF<double>(name + ".tif");
            EXPECT_EQ(image.width, 37u);
            EXPECT_EQ(image.height, 23u);
            EXPECT_EQ(image.pixels, ReadDoubles(name + ".bin"));
        }
    }
    EXPECT_EQ(ReadError(dir.File("rgb.tif")), "Only grayscale images supported");
    EXPECT_EQ(ReadError(dir.File("zlib.tif")), "Unsupported compression method");
}

TEST(TIFF, ReadsCompressedImagesWrittenByImageMagick) {
    testutil::TempDir dir;
    // A 16-bit PGM of multiples of 257, so that every depth holds the values exactly.
    const std::size_t width = 301, height = 67;
    std::vector<unsigned> levels(width * height);
    std::ostringstream pgm;
    pgm << "P2\n" << width << " " << height << "\n65535\n";
    for (std::size_t i = 0; i < levels.size(); ++i) {
        levels[i] = static_cast<unsigned>(((i * 2654435761u) >> 13) % 256);
        if ((i / width) % 3 == 0)
            levels[i] = static_cast<unsigned>(i % width % 256); // compressible rows too
        pgm << levels[i] * 257 << ((i + 1) % width == 0 ? "\n" : " ");
    }
    testutil::WriteFile(dir.File("in.pgm"), pgm.str());

    struct Variant {
        std::string name;
        std::vector<std::string> options;
    };
    const std::vector<Variant> compressions = {
        {"none", {"-compress", "None"}},
        {"lzw", {"-compress", "LZW", "-define", "tiff:predictor=1"}},
        {"lzwpred", {"-compress", "LZW", "-define", "tiff:predictor=2"}},
        {"packbits", {"-compress", "RLE"}},
    };
    const std::vector<Variant> depths = {
        {"u8", {"-depth", "8"}},
        {"u16", {"-depth", "16"}},
        {"u32", {"-depth", "32"}},
        {"f32", {"-define", "quantum:format=floating-point", "-depth", "32"}},
    };
    std::vector<std::string> files;
    for (const auto& depth : depths)
        for (const auto& compression : compressions)
            for (const char* endian : {"lsb", "msb"}) {
                const std::string file =
                    dir.File(depth.name + "_" + compression.name + "_" + endian + ".tif");
                std::vector<std::string> args{dir.File("in.pgm")};
                args.insert(args.end(), depth.options.begin(), depth.options.end());
                args.insert(args.end(), compression.options.begin(), compression.options.end());
                args.insert(args.end(), {"-define", std::string("tiff:endian=") + endian, "-define",
                                         "tiff:rows-per-strip=16", file});
                const auto made = testutil::Run("/usr/local/bin/convert", args);
                // For float samples without LZW libtiff refuses the predictor tag
                // ImageMagick sets, complains and writes the file without it.
                const bool predictorComplaint = made.exitCode == 1 &&
                                                made.err.find("Unknown tag 317") != std::string::npos &&
                                                testutil::FileExists(file);
                ASSERT_TRUE(made.exitCode == 0 || predictorComplaint) << made.err;
                files.push_back(file);
            }

    // The files are what their names say.
    const auto described = testutil::RunPython(R"(
import sys, tifffile
for f in sys.argv[1:]:
    with tifffile.TiffFile(f) as t:
        p = t.pages[0]
        print(f.split('/')[-1], p.bitspersample, int(p.sampleformat), int(p.compression), int(p.predictor),
              t.byteorder, p.samplesperpixel, len(p.dataoffsets) > 1)
)",
                                               files);
    ASSERT_EQ(described.exitCode, 0) << described.err;
    std::istringstream lines(described.out);
    std::string name;
    int bits, format, compression, predictor, samples;
    std::string order, manyStrips;
    while (lines >> name >> bits >> format >> compression >> predictor >> order >> samples >> manyStrips) {
        SCOPED_TRACE(name);
        EXPECT_EQ(bits, name[0] == 'f' ? 32 : std::stoi(name.substr(1, name.find('_') - 1)));
        EXPECT_EQ(format, name[0] == 'f' ? 3 : 1);
        EXPECT_EQ(compression, name.find("lzw") != std::string::npos        ? 5
                               : name.find("packbits") != std::string::npos ? 32773
                                                                            : 1);
        EXPECT_EQ(predictor, name.find("lzwpred") != std::string::npos ? 2 : 1);
        EXPECT_EQ(order, name.find("msb") != std::string::npos ? ">" : "<");
        EXPECT_EQ(samples, 1);
        EXPECT_EQ(manyStrips, "True");
    }

    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string base = file.substr(file.rfind('/') + 1);
        const auto image = TIFF::ReadTIFF<double>(file);
        ASSERT_EQ(image.width, width);
        ASSERT_EQ(image.height, height);
        for (std::size_t i = 0; i < levels.size(); ++i) {
            const double k = levels[i];
            if (base[0] == 'f')
                ASSERT_NEAR(image.pixels[i], k / 255.0, 1e-6) << i;
            else
                ASSERT_EQ(image.pixels[i], base[1] == '8'   ? k
                                           : base[1] == '1' ? k * 257
                                                            : k * 257 * 65537.0)
                    << i;
        }
    }

    // The floating-point predictor is refused (colour images: ReadsUncompressedImagesWrittenByTifffile).
    ASSERT_EQ(testutil::Run("/usr/local/bin/convert",
                            {dir.File("in.pgm"), "-define", "quantum:format=floating-point", "-depth", "32",
                             "-compress", "LZW", "-define", "tiff:predictor=3", dir.File("fpred.tif")})
                  .exitCode,
              0);
    EXPECT_EQ(ReadError(dir.File("fpred.tif")), "Unsupported predictor");
}

TEST(TIFF, ReaderErrors) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("empty.tif"), "");
    EXPECT_EQ(ReadError(dir.File("empty.tif")), "Error checking file type");
    testutil::WriteFile(dir.File("text.tif"), "P2\n1 1\n255\n0\n");
    EXPECT_EQ(ReadError(dir.File("text.tif")), "Not a TIFF file");
    testutil::WriteFile(dir.File("short.tif"), "II*");
    EXPECT_EQ(ReadError(dir.File("short.tif")), "Error reading TIFF header");
    testutil::WriteFile(dir.File("v44.tif"), std::string("II,\0\x08\0\0\0", 8));
    EXPECT_EQ(ReadError(dir.File("v44.tif")), "Unsupported TIFF file");
    EXPECT_EQ(ReadError(dir.File("missing.tif")),
              "Can not open file for reading: " + dir.File("missing.tif"));

    // Damaged copies of a file we wrote: entries are 12 bytes from offset 10.
    const auto image = MakeImage<float>(5, 3, [](std::size_t r, std::size_t c) { return float(r + c); });
    std::ostringstream written;
    TIFF::WriteTIFF(image, written, TestDescription());
    const std::string good = written.str();
    auto damaged = [&](std::uint16_t tag, std::size_t field, std::uint16_t value) {
        std::string copy = good;
        std::uint16_t count;
        std::memcpy(&count, copy.data() + 8, 2);
        for (std::size_t i = 0; i < count; ++i) {
            char* entry = copy.data() + 10 + 12 * i;
            std::uint16_t number;
            std::memcpy(&number, entry, 2);
            if (number == tag)
                std::memcpy(entry + field, &value, 2);
        }
        testutil::WriteFile(dir.File("damaged.tif"), copy);
        return ReadError(dir.File("damaged.tif"));
    };
    EXPECT_EQ(damaged(0, 0, 0), "no error");
    EXPECT_EQ(damaged(305, 2, 7), "Unable to read tag 305: Wrong type for string tag");
    EXPECT_EQ(damaged(282, 2, 4), "Unable to read tag 282: Wrong type for this tag");
    EXPECT_EQ(damaged(256, 2, 99), "Unable to read tag 256: Unknown field type");
    EXPECT_EQ(damaged(256, 4, 2), "Unable to read tag 256: Invalid count for tag");
    EXPECT_EQ(damaged(273, 0, 65000), "Couldn't find required tags");
    EXPECT_EQ(damaged(277, 8, 3), "Only grayscale images supported");
    EXPECT_EQ(damaged(284, 8, 2), "Separate planes not supported");
    EXPECT_EQ(damaged(258, 8, 12), "Unsupported bit depth");
    EXPECT_EQ(damaged(339, 8, 5), "Unsupported data type");
    EXPECT_EQ(damaged(278, 8, 0), "Invalid number of rows per strip");
    EXPECT_EQ(damaged(278, 8, 1), "Invalid strip configuration");
    EXPECT_EQ(damaged(256, 8, 0), "Invalid image dimensions");
    // Four billion columns over 60 bytes of pixels: refused before memory is reserved for them.
    EXPECT_EQ(damaged(256, 10, 0xFFFF), "Not enough data");
    EXPECT_EQ(damaged(259, 8, 5), "Error decompressing");
    EXPECT_EQ(damaged(259, 8, 32773), "End of input reached");

    testutil::WriteFile(dir.File("cut.tif"), good.substr(0, good.size() - 1));
    EXPECT_EQ(ReadError(dir.File("cut.tif")), "Error reading strip data");
}

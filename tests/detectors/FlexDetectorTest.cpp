#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>


#include "DetectorScene.h"
#include "common/TestUtil.h"
#include "detectors/FlexPlaneDetector.h"
#include "materials/TestErrors.h"

namespace {

std::string Flex(const std::string& keys) {
    return "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (3, 0, 0)\nSide2 = (0, 2, 0)\n"
           "PixelColumns = 3\nPixelRows = 2\n" +
           keys + "[EndObject]\n";
}

std::string LoadError(const std::string& keys) {
    return ErrorOf([&] { DetectorScene scene(Flex(keys)); });
}

} // namespace

TEST(FlexDetector, CellDefinitionsTakeMissingFieldsFromTheKeys) {
    EnergyBinning defaults;
    defaults.MinEnergy = 10;
    defaults.MaxEnergy = 20;
    const auto cells = ParseCellDefinitions(
        " (Basic) ,(Spectrometer)(TSpectrometerUncertaintyCell, 0)\n( shared  spectrometer , 5, 15, 4 )",
        defaults);
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].ToString(), "(Basic)");
    EXPECT_EQ(cells[1].ToString(), "(Spectrometer, 10, 20, 10)");
    EXPECT_EQ(cells[2].ToString(), "(SpectrometerUncertainty, 0, 20, 20)");
    EXPECT_EQ(cells[3].ToString(), "(Spectrometer Shared, 5, 15, 4)");

    const std::string prefix = "Object section 1: TFlexPlaneDetector: ";
    const std::string cells_ = prefix + "Error creating detector cells: ";
    const struct {
        const char* keys;
        std::string message;
    } cases[] = {
        {"Cells = (Basic\n", cells_ + "Closing brace missing."},
        {"Cells = (Basic) x\n", cells_ + "Opening brace missing."},
        {"Cells = (Histogram)\n", cells_ + "Unknown cell type: Histogram"},
        {"Cells = ()\n", cells_ + "Malformed cell definition."},
        {"Cells = (Basic, 1)\n", cells_ + "Too many fields in cell definition!"},
        {"Cells = (Spectrometer, 0, 10, 10, 1)\n", cells_ + "Too many fields in cell definition!"},
        {"Cells = (Spectrometer, 0, ten)\n", cells_ + "Error parsing cell definition: ten"},
        // the defaults give an empty range
        {"Cells = (Spectrometer)\n",
         cells_ + "MaxEnergy must be above MinEnergy (MinEnergy = 0.000000, MaxEnergy = 0.000000)"},
        {"Cells = (Spectrometer, 0, 10, 0)\n", cells_ + "EnergyBins must be at least 1"},
        {"Cells = (Spectrometer, 0, 10) (Spectrometer, 0, 20)\n",
         prefix + "Cells must have identical configuration for Tarvo file format"},
        {"Cells = (Basic)\nSpectrumType = Excel\n", prefix + "Unknown spectrum file type!"},
        {"Cells = (Spectrometer, 0, 10)\nStopCondition = max error 0.1\n",
         "Object section 1: MatrixDetector: Invalid stop condition(s):\nMax Total Error <= 0.1\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadError(c.keys), c.message) << c.keys;
    // Different spectra are fine in files of their own.
    EXPECT_EQ(LoadError("Cells = (Spectrometer, 0, 10) (Spectrometer, 0, 20)\nSpectrumType = singlexrs\n"),
              "no error");
}

// Thread copies (shared or not) register random particles in batches: the per-pixel
// spectra, the whole-detector spectrum, the basic cells and the registrator agree on
// the totals, and both modes give the same cells.
TEST(FlexDetector, CellsAndRegistratorAgree) {
    std::vector<double> cells[2];
    for (const bool shared : {false, true}) {
        DetectorScene scene(
            Flex(std::string("Shared = ") + (shared ? "true" : "false") +
                 "\nOutputNumberOfInteractions = 1\nMaxEnergy = 100\n"
                 "Cells = (Basic) (SpectrometerUncertainty) (Spectrometer Shared, 0, 100, 10)\n"
                 "StopCondition = min count 1\n[Registrator]\nMaxEnergy = 100\n[EndRegistrator]\n"));
        auto& master = dynamic_cast<TFlexPlaneDetector&>(scene.Plane());
        scene.RunBatches(8, 2, [](TPlaneDetector& d, int batch) {
            std::mt19937 random{unsigned(batch)};
            for (int k = 0; k < 1200; ++k) {
                TParticle p = Photon(double(random() % 1100) / 10, 1 + double(random() % 3), random() % 3);
                p.History = std::uint64_t(batch * 1200 + k / 2);
                p.Position =
                    geometry::TCoord<double>(double(random() % 300) / 100, double(random() % 200) / 100, 0);
                p.SetDirectionVector(geometry::TCoord<double>(0, 0, -1));
                d.Detect(p);
            }
        });
        const FlexCellDefinition &basic = master.Definitions()[0], &spectrum = master.Definitions()[1],
                                 &whole = master.Definitions()[2];
        double basicSum = 0, spectrumSum = 0, wholeSum = 0;
        for (std::size_t plane = 0; plane < 2; ++plane) {
            for (std::uint64_t pixel = 0; pixel < 6; ++pixel) {
                basicSum += master.PixelCell(plane, pixel, basic)[0];
                for (std::uint64_t bin = 0; bin < 100; ++bin) {
                    spectrumSum += master.PixelCell(plane, pixel, spectrum)[2 * bin];
                    cells[shared].push_back(master.PixelCell(plane, pixel, spectrum)[2 * bin + 1]);
                }
            }
            for (std::uint64_t bin = 0; bin < 10; ++bin)
                wholeSum += master.SharedCell(plane, whole)[bin];
        }
        const double registrator = dynamic_cast<Spectrometer&>(*master.GetRegistrator()).Total();
        EXPECT_EQ(basicSum, master.PrimaryCount() + master.ScatteredCount(0));
        EXPECT_GT(basicSum, spectrumSum); // energies above 100 keV have no bin
        EXPECT_EQ(spectrumSum, registrator);
        EXPECT_EQ(wholeSum, registrator);
        EXPECT_TRUE(master.StopConditionsMet());
    }
    EXPECT_EQ(cells[0], cells[1]);
}

// Coincidence cells bin what a history left in a pixel once: 30 + 40 keV in one pixel
// give one count at 70 keV there (and in the whole-detector cell), across thread
// copies, shared or not.
TEST(FlexDetector, CoincidenceCellsSumAHistoryPerPixel) {
    for (const char* shared : {"true", "false"}) {
        DetectorScene scene(Flex(std::string("Shared = ") + shared +
                                 "\nTotalOnly = true\nCoincidence = true\nMaxEnergy = 100\n"
                                 "Cells = (SpectrometerUncertainty) (Spectrometer Shared)\n"));
        auto& master = dynamic_cast<TFlexPlaneDetector&>(scene.Plane());
        scene.RunBatches(10, 2, [](TPlaneDetector& d, int batch) {
            for (std::uint64_t h = 0; h < 700; ++h) {
                // pixel 4 gets 30 + 40 keV, pixel 0 a lone 20 keV
                for (const double energy : {30.0, 40.0, 20.0}) {
                    TParticle p = Photon(energy);
                    p.History = std::uint64_t(batch) * 700 + h;
                    p.Position = energy < 25 ? geometry::TCoord<double>(0.5, 0.5, 0)
                                             : geometry::TCoord<double>(1.5, 1.5, 0);
                    p.SetDirectionVector(geometry::TCoord<double>(0, 0, -1));
                    d.Detect(p);
                }
            }
        });
        const FlexCellDefinition &pixels = master.Definitions()[0], &whole = master.Definitions()[1];
        EXPECT_EQ(master.PixelCell(0, 4, pixels)[2 * 69], 7000) << shared;
        EXPECT_EQ(master.PixelCell(0, 4, pixels)[2 * 69 + 1], 7000) << shared;
        EXPECT_EQ(master.PixelCell(0, 0, pixels)[2 * 19], 7000) << shared;
        EXPECT_EQ(master.SharedCell(0, whole)[89], 7000) << shared; // 90 keV per history
        double total = 0;
        for (std::uint64_t pixel = 0; pixel < 6; ++pixel)
            for (std::uint64_t bin = 0; bin < 100; ++bin)
                total += master.PixelCell(0, pixel, pixels)[2 * bin];
        EXPECT_EQ(total, 14000) << shared;
    }
}

TEST(FlexDetector, SpectrumFileTypes) {
    testutil::TempDir dir;
    ImageWriterOptions options;
    options.Type = ImageType::None;
    for (const char* type : {"Tarvo", "MultipleXRS", "SingleXRS"}) {
        DetectorScene scene(Flex(std::string("SpectrumType = ") + type +
                                 "\nOutputNumberOfInteractions = 1\nCells = (Spectrometer, 0, 10, 2)\n"));
        TParticle p = Photon(3);
        scene.Plane().RegisterPixel(1, 2, p, 1);
        scene.Plane().WriteResults(dir.File(type), options);
    }
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected;
    for (const char* c : {"01", "primary", "scattered", "total"}) {
        expected.push_back(std::string("MultipleXRS_") + c + "_spectra_0.xrs");
        expected.push_back(std::string("MultipleXRS_") + c + "_spectra_1.xrs");
        for (int pixel = 0; pixel < 6; ++pixel)
            expected.push_back(std::string("SingleXRS_") + c + "_spectra_" + std::to_string(pixel) + ".xrs");
        expected.push_back(std::string("Tarvo_") + c + "_spectra.xrs");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    const std::string tarvo = testutil::ReadFile(dir.File("Tarvo_primary_spectra.xrs"));
    EXPECT_EQ(tarvo.rfind("# Tarvo spectra: 2 x 3 pixels\n# 0\n# Bin: true\n# Scale: ", 0), 0u);
    EXPECT_NE(tarvo.find("# 5\n# Bin: true\n# Scale: 1.000000e+00\n# Fields: energy [keV], count\n"
                         "2.500000e+00\t1.000000e+00\n7.500000e+00\t0.000000e+00\n#EOF\n\n"),
              std::string::npos);
    EXPECT_EQ(testutil::ReadFile(dir.File("SingleXRS_primary_spectra_5.xrs")).substr(0, 13),
              "# Bin: true\n#");
    EXPECT_EQ(testutil::CountOf(testutil::ReadFile(dir.File("MultipleXRS_total_spectra_1.xrs")), "#EOF"), 3);
}

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "DetectorScene.h"
#include "common/TestUtil.h"
#include "detectors/ImageWriter.h"
#include "detectors/ParticleRegistrator.h"

namespace {

// Keeps the energies it was given, in order, and where it was written.
class ListRegistrator : public ParticleRegistrator {
public:
    explicit ListRegistrator(Stage stage) : When(stage) {}
    std::unique_ptr<ParticleRegistrator> Clone() const override {
        return std::make_unique<ListRegistrator>(When);
    }
    Stage Takes() const override { return When; }
    void RegisterParticle(const TParticle& particle, double weight) override {
        Energies.push_back(particle.Energy);
        Weights.push_back(weight);
    }
    void Merge(const ParticleRegistrator& other) override {
        const auto& o = dynamic_cast<const ListRegistrator&>(other);
        Energies.insert(Energies.end(), o.Energies.begin(), o.Energies.end());
        Weights.insert(Weights.end(), o.Weights.begin(), o.Weights.end());
    }
    void WriteSpectrum(const std::string& name, const ImageWriterOptions&) const override {
        Written.push_back(name);
    }
    void Reset() override {
        Energies.clear();
        Weights.clear();
    }
    void PrintSummary(std::ostream& os) const override { os << "   List Registrator\n"; }

    Stage When;
    std::vector<double> Energies, Weights;
    mutable std::vector<std::string> Written;
};

void RegisterListTypes() {
    RegisterRegistratorType("ListArriving", [](const inifiles::TIniFileSection&, IScene&) {
        return std::make_unique<ListRegistrator>(ParticleRegistrator::Stage::Arriving);
    });
    RegisterRegistratorType("ListDetected", [](const inifiles::TIniFileSection&, IScene&) {
        return std::make_unique<ListRegistrator>(ParticleRegistrator::Stage::Detected);
    });
}

std::string RegistratorPlane(const std::string& type, const std::string& extra = "") {
    return "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (4, 0, 0)\nSide2 = (0, 4, 0)\n"
           "PixelColumns = 4\nPixelRows = 4\n" +
           extra + "[Registrator]\nType = " + type + "\n[EndRegistrator]\n[EndObject]\n";
}

ListRegistrator& ListOf(const TPlaneDetector& plane) {
    return dynamic_cast<ListRegistrator&>(*plane.GetRegistrator());
}

} // namespace

// Unknown types are named among the plane's load errors.
TEST(Registrator, TypesAreLookedUpWithoutCase) {
    RegisterListTypes();
    DetectorScene scene(RegistratorPlane("listARRIVING"));
    EXPECT_NE(dynamic_cast<ListRegistrator*>(scene.Plane().GetRegistrator()), nullptr);
}

// A registrator that asks for detected particles sees the model's energy and weight;
// one that asks for arriving ones the particle as it came and the collimation weight.
TEST(Registrator, StageDecidesWhetherTheModelHasActed) {
    RegisterListTypes();
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("det.txt"), "#Tarvo\t0\tDet\tSimpleDetSpline\t3\n10 0.5 9\n100 0.5 90\n");
    const std::string model = "[Detectors]\n[Half]\nDataFile = det.txt\n[EndHalf]\n[EndDetectors]\n";
    for (const bool detected : {false, true}) {
        const std::string section =
            RegistratorPlane(detected ? "ListDetected" : "ListArriving", "DetectorModel = Half\nCosHalfCone = 0\n");
        DetectorScene scene(section, model, dir.Path());
        TParticle p = Photon(60, 2);
        ASSERT_EQ(scene.Shoot({1, 1, -5}, {2, 1, 0}, p), TPlaneDetector::Detection);
        const ListRegistrator& list = ListOf(scene.Plane());
        ASSERT_EQ(list.Energies.size(), 1u);
        const double cosine = 5 / std::sqrt(26.0);
        EXPECT_DOUBLE_EQ(list.Energies[0], detected ? 54 : 60);
        EXPECT_DOUBLE_EQ(list.Weights[0], detected ? 1 : cosine);
    }
}

// Thread copies hand their particles over per batch; the master merges them in batch
// order whatever thread ran a batch, shared detector or not. The summary comes after
// the plane's lines and the file is named after the detector.
TEST(Registrator, CopiesHandOverInBatchOrder) {
    RegisterListTypes();
    for (const char* shared : {"true", "false"}) {
        DetectorScene scene(RegistratorPlane("ListArriving", std::string("Shared = ") + shared + "\n"));
        TPlaneDetector& master = scene.Plane();
        const int batches = 30;
        scene.RunBatches(batches, 3, [](TPlaneDetector& d, int b) {
            std::mt19937 random{unsigned(b)};
            for (int k = 0; k < 1500 + b; ++k) {
                TParticle p = Photon(1000.0 * b + k);
                p.Position = geometry::TCoord<double>(0.5 + 3 * double(random() % 1000) / 1000.0, 1.5, 0);
                p.SetDirectionVector(geometry::TCoord<double>(0, 0, -1));
                d.Detect(p);
            }
        });
        const ListRegistrator& list = ListOf(master);
        std::vector<double> expected;
        for (int b = 0; b < batches; ++b)
            for (int k = 0; k < 1500 + b; ++k)
                expected.push_back(1000.0 * b + k);
        EXPECT_EQ(list.Energies, expected) << "Shared = " << shared;
        EXPECT_EQ(master.PrimaryCount(), double(expected.size()));

        std::ostringstream summary;
        master.PrintSummary(summary);
        EXPECT_NE(summary.str().find("   Back Side: 0\n   List Registrator\n"), std::string::npos)
            << summary.str();
        ImageWriterOptions options;
        options.Type = ImageType::None;
        master.WriteResults("out/det", options);
        EXPECT_EQ(list.Written, std::vector<std::string>{"out/det_Registrator0"});
    }
}

namespace {

const int Batches = 40;
// More than a block, so that batches are handed over in several parts.
const int PerBatch = 2300;

// Every cell value and every total of a run in which `threads` tracers take the
// batches in whatever order they get them, with random delays. Some weights are zero
// and some cancel, so that cells of a non-shared copy return to zero within a batch.
std::vector<double> RunBatches(bool shared, int threads) {
    DetectorScene scene(
        std::string("[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (4, 0, 0)\n"
                    "Side2 = (0, 4, 0)\nPixelColumns = 16\nPixelRows = 16\nSplitRegistration = true\n"
                    "OutputNumberOfInteractions = 2\nShared = ") +
        (shared ? "true" : "false") + "\n[EndObject]\n");
    scene.RunBatches(Batches, threads, [](TPlaneDetector& d, int b) {
        std::mt19937_64 random(std::uint64_t(b) + 1);
        std::uniform_real_distribution<double> u(0, 1);
        for (int k = 0; k < PerBatch; ++k) {
            const double weight = k % 7 == 0 ? 0 : 0.1 + u(random);
            TParticle p = Photon(10 + 90 * u(random), weight, std::uint32_t(random() % 4));
            const double row = 16 * u(random), column = 16 * u(random);
            d.Register(row, column, p, 1);
            if (k % 11 == 0) {
                p.Weight = -weight;
                d.Register(row, column, p, 1);
            }
            if (random() % 200 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        }
    });
    const TPlaneDetector& master = scene.Plane();
    std::vector<double> values;
    for (std::size_t plane = 0; plane < master.PlaneCount(); ++plane)
        for (std::uint64_t pixel = 0; pixel < master.GetPixelCount(); ++pixel)
            for (int f = 0; f < 3; ++f)
                values.push_back(master.Cell(plane, pixel)[f]);
    values.push_back(master.PrimaryCount());
    values.push_back(master.PrimaryEnergy());
    values.push_back(master.PrimarySquareCount());
    for (std::uint32_t k = 0; k <= 2; ++k) {
        values.push_back(master.ScatteredCount(k));
        values.push_back(master.ScatteredEnergy(k));
        values.push_back(master.ScatteredSquareCount(k));
    }
    return values;
}

} // namespace

TEST(DetectorThreads, ResultsDoNotDependOnThreadsOrTimingAndBothModesAgree) {
    std::vector<double> reference[2];
    for (const bool shared : {true, false}) {
        reference[shared] = RunBatches(shared, 1);
        for (const int threads : {2, 4}) {
            const std::vector<double> values = RunBatches(shared, threads);
            ASSERT_EQ(values.size(), reference[shared].size());
            for (std::size_t i = 0; i < values.size(); ++i)
                ASSERT_EQ(values[i], reference[shared][i])
                    << "value " << i << ", shared " << shared << ", " << threads << " threads";
        }
    }
    double total = 0;
    for (std::size_t i = 0; i < reference[0].size(); ++i) {
        EXPECT_NEAR(reference[0][i], reference[1][i], 1e-12 * std::fabs(reference[1][i]) + 1e-300)
            << "value " << i;
        total += reference[0][i];
    }
    EXPECT_GT(total, 0);
}

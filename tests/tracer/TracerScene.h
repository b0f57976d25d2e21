#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/MonteCarloRun.h"
#include "app/TarvoApplication.h"
#include "common/TestUtil.h"
#include "detectors/BasicDetector.h"
#include "interactions/MaterialAccess.h"
#include "interactions/Part.h"
#include "random/RandomNumbersGenerator.h"
#include "tracer/PhotonTracer.h"

// A user interface that shows nothing and answers no.
class QuietInterface : public ui::TUserInterface {
public:
    void DisplayText(const std::string& text, bool, bool isError) override {
        if (isError)
            errors += text + "\n";
    }
    int AskQuestion(int, const std::string&) override { return ui::TDialogMessage::kNo; }
    void Start() override {}
    std::string GetString(const std::string&, const std::string& d) override { return d; }
    void FlushInput() override {}

    std::string errors;
};

// A scene loaded the way the program loads it, from [Objects] text and optional
// application and physics keys, with the shipped materials.
class TracerScene {
public:
    // `sections` holds further whole sections of the configuration.
    explicit TracerScene(const std::string& objects, const std::string& task = "", const std::string& physics = "",
                         const std::string& sections = "") {
        const std::string data = std::string(TARVO_TEST_DATA) + "/../../data";
        testutil::WriteFile(dir.File("run.ini"),
                            "[ApplicationTask]\nNumberOfParticles = 1000\nRandomSeed = 1\nResultDir = " +
                                dir.File("out") + "\n" + task + "[EndApplicationTask]\n[DataSources]\n" +
                                "MaterialsFileName = " + data + "/materials/materials.ini\n[EndDataSources]\n" +
                                "[Physics]\n" + physics + "[EndPhysics]\n[Objects]\n" + objects +
                                "[EndObjects]\n" + sections);
        app.Initialize(dir.File("run.ini"), false);
    }

    const IScene& Scene() const { return *app.Scene(); }
    const TSimulationParameters& Parameters() const { return app.Parameters(); }
    TBasicDetector& Detector(std::size_t i = 0) const { return AsDetector(Scene().GetDetector(i)); }
    double Mu(std::size_t part, double energy) const {
        return interactions::MaterialCoefficients(AsPart(Scene().GetPart(part)).GetMaterial(), energy).Total;
    }

    // Traces histories [0, n) as one batch on one tracer with that seed and commits
    // the detectors; returns the tracer's counters.
    TTracerCounters Trace(std::uint64_t n, std::uint32_t seed, const TTracerSettings& settings) const {
        for (std::size_t i = 0; i < Scene().DetectorCount(); ++i) Detector(i).BeginRun(0);
        auto prototype = CreateGenerator(PRNG_Type::MT19937_64);
        TTracerCounters counters;
        {
            TPhotonTracer tracer(Scene(), settings, *prototype);
            tracer.StartBatch(0, 0, n, seed);
            while (tracer.TraceSome(1000)) {
            }
            tracer.FlushDetectors();
            counters = tracer.Counters();
        }
        for (std::size_t i = 0; i < Scene().DetectorCount(); ++i) Detector(i).Flush();
        return counters;
    }
    TTracerCounters Trace(std::uint64_t n, std::uint32_t seed = 1) const {
        return Trace(n, seed, MakeTracerSettings(Parameters()));
    }

    testutil::TempDir dir;
    QuietInterface ui;
    TTarvoApplication app{ui};
};

using testutil::Object;

// A pencil beam along +z from z = -10, a box of material from z = 0 to z = t, and
// a one-pixel panel at z = 5.
inline std::string SlabScene(const std::string& material, double t, double energy) {
    return Object("ObjectType = Source\nEnergy = " + std::to_string(energy) + "\nBaseCenter = (0, 0, -10)\n") +
           Object("ObjectType = Part\nMaterialName = " + material +
                  "\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\nSide2 = (0, 10, 0)\nSide3 = (0, 0, " +
                  std::to_string(t) + ")\n") +
           Object("ObjectType = PlaneDetector\nBaseCenter = (0, 0, 5)\nSide1 = (40, 0, 0)\nSide2 = (0, 40, 0)\n"
                  "PixelColumns = 1\nPixelRows = 1\n");
}

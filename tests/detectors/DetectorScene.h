#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <omp.h>

#include "app/ObjectTypes.h"
#include "detectors/DetectorModel.h"
#include "detectors/ImageDetectors.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "interactions/Particle.h"
#include "random/RandomNumbersGenerator.h"

// A scene read from INI text (objects, optional detector models), with the models loaded.
struct DetectorScene {
    std::shared_ptr<geometry::BVHManager<double>> Manager;
    std::unique_ptr<TScene<double>> Scene;
    std::unique_ptr<TRandomNumbersGenerator> Rng = CreateGenerator(PRNG_Type::MT19937);

    explicit DetectorScene(const std::string& objects, const std::string& models = "",
                           const std::string& basePath = "") {
        RegisterSceneObjectTypes();
        auto quiet = [](const std::string&, bool) {};
        Manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64, quiet);
        Scene = std::make_unique<TScene<double>>(Manager, quiet);
        inifiles::TIniFileStructure ini;
        if (!basePath.empty())
            ini.SetBasePath(basePath);
        std::istringstream in("[Objects]\n" + objects + "[EndObjects]\n" + models);
        ini.ReadFrom(in, "test");
        Scene->ReadScene(ini);
        LoadDetectorModels(*Scene, ini);
        Manager->Prepare();
    }

    TPlaneDetector& Plane(std::size_t i = 0) const {
        return dynamic_cast<TPlaneDetector&>(Scene->GetDetector(i));
    }

    // Runs fill(copy, batch) for batches 0 .. batches - 1 on `threads` threads, each
    // on its own copy of the scene as tracers do, then commits everything in the master.
    template <class Fill> void RunBatches(int batches, int threads, Fill fill) const {
        Plane().BeginRun(0);
        std::vector<std::unique_ptr<IScene>> copies;
        for (int t = 0; t < threads; ++t)
            copies.push_back(Scene->Clone());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
        for (int batch = 0; batch < batches; ++batch) {
            auto& d =
                dynamic_cast<TPlaneDetector&>(copies[std::size_t(omp_get_thread_num())]->GetDetector(0));
            d.BeginBatch(std::uint64_t(batch));
            fill(d, batch);
            d.EndBatch();
        }
        for (auto& copy : copies)
            AsDetector(copy->GetDetector(0)).Flush();
        Plane().Flush();
    }

    // Sends a photon from `from` towards `to` and lets the first detector segment
    // on its way register it; the event code, or -2 when no segment was met.
    int Shoot(const geometry::TCoord<double>& from, const geometry::TCoord<double>& to,
              TParticle& particle) const {
        particle.Position = from;
        particle.SetDirectionVector(to - from);
        geometry::Ray ray{particle.Position, particle.Direction};
        if (!Scene->ComputeSegments(ray))
            return -2;
        for (const geometry::Segment& s : Scene->GetSegments()) {
            auto* object = const_cast<TTraceableObject*>(s.Object);
            if (!object->IsDetector())
                continue;
            std::deque<std::unique_ptr<TParticle>> queue;
            return object->Transport(particle, s, 0, *Rng, queue);
        }
        return -2;
    }
};

inline TParticle Photon(double energy = 50, double weight = 1, std::uint32_t interactions = 0) {
    TParticle p;
    p.Energy = energy;
    p.Weight = weight;
    p.InteractionCount = interactions;
    return p;
}

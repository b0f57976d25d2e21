#pragma once

#include <memory>
#include <string>

#include "detectors/MeshScorer.h"
#include "detectors/TraceDetector.h"
#include "geometry/SceneObjects.h"
#include "interactions/Part.h"

// Registers the trace detectors with the scene's factory: "MeshDetector",
// "VolumetricDetector", "ContributionDetector", "MeshDetectorPart",
// "VolumetricDetectorPart" and "TraceDump" ("Single" picks float samples).
void RegisterTraceDetectorTypes();

// A volumetric detector: a box of cells in which the accepted events add up. The
// scene object holds the name and the trace filter; the grid and sums are its scorer's.
class MeshDetector : public TBasicGeometricalObject, public TTraceDetector {
public:
    unsigned Kinds() const override { return KindTraceDetector; }

    void StartRun(const std::string& baseName) override;
    void BeginRun(std::uint64_t firstBatch) override { Grid.BeginRun(firstBatch); }
    void BeginBatch(std::uint64_t index) override { Grid.BeginBatch(index); }
    void EndBatch() override { Grid.EndBatch(); }
    void Flush() override { Grid.Flush(); }
    void PrintResults(std::ostream& os, double particles) const override;
    std::string IOClassName() const override { return "MeshDetector"; }
    void InternalWrite(std::ostream& stream) override { Grid.WriteState(stream); }
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override {
        Grid.ReadState(stream, payloadSize);
    }

protected:
    MeshDetector() = default;
    MeshDetector(const MeshDetector&) = default;

    MeshScorer Grid;
};

// A mesh detector whose results are written with samples of type T; an event falls
// in the cell of the position after it.
template <typename T> class FlexMeshDetector : public MeshDetector {
public:
    // Reads the filter, detector and grid keys.
    static std::unique_ptr<FlexMeshDetector> Create(const inifiles::TIniFileSection& section);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    void WriteResults(const std::string& baseName, const TraceResultScales& scales) const override;
    void PrintSummary(std::ostream& os) const override;

protected:
    FlexMeshDetector() = default;
    FlexMeshDetector(const FlexMeshDetector&) = default;
    void ReadKeys(const inifiles::TIniFileSection& section, const std::vector<int>& defaultCodes);
    void Score(const TParticle& before, const TParticle& after, int code) override;
    virtual const char* TypeName() const { return "FlexMeshDetector"; }
};

// Where detected radiation comes from: by default it scores detections, each in the
// cell where the detected flight started (the radiation's last interaction or its
// emission).
template <typename T> class ContributionDetector : public FlexMeshDetector<T> {
public:
    static std::unique_ptr<ContributionDetector> Create(const inifiles::TIniFileSection& section);
    std::unique_ptr<TBasicGeometricalObject> Clone() const override;

protected:
    ContributionDetector() = default;
    ContributionDetector(const ContributionDetector&) = default;
    void Score(const TParticle& before, const TParticle& after, int code) override;
    const char* TypeName() const override { return "ContributionDetector"; }
};

// A part of its material that also scores the events inside itself (those whose
// object is this part) on a grid over its bounding box. It is transported as an
// ordinary part: it attenuates and interacts, it does not register crossings.
class MeshDetectorPart : public TPart, public TTraceDetector {
public:
    static std::unique_ptr<MeshDetectorPart> Create(const inifiles::TIniFileSection& section, IScene& scene);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    unsigned Kinds() const override { return KindPart | KindTraceDetector; }
    void PrintSummary(std::ostream& os) const override;

    void StartRun(const std::string& baseName) override;
    void BeginRun(std::uint64_t firstBatch) override { Grid.BeginRun(firstBatch); }
    void BeginBatch(std::uint64_t index) override { Grid.BeginBatch(index); }
    void EndBatch() override { Grid.EndBatch(); }
    void Flush() override { Grid.Flush(); }
    void WriteResults(const std::string& baseName, const TraceResultScales& scales) const override;
    void PrintResults(std::ostream& os, double particles) const override;
    std::string IOClassName() const override { return "MeshDetectorPart"; }
    void InternalWrite(std::ostream& stream) override { Grid.WriteState(stream); }
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override {
        Grid.ReadState(stream, payloadSize);
    }

protected:
    void Score(const TParticle& before, const TParticle& after, int code) override;

private:
    MeshDetectorPart() = default;
    MeshDetectorPart(const MeshDetectorPart&) = default;

    MeshScorer Grid;
    bool DoubleSamples = true;
};

extern template class FlexMeshDetector<float>;
extern template class FlexMeshDetector<double>;
extern template class ContributionDetector<float>;
extern template class ContributionDetector<double>;

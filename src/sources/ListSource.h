#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "geometry/PhaseSpaceFile.h"
#include "sources/BasicSource.h"

// Replays the particles of a phase-space file or a text particle list: the source's
// history n (the tracer's history number; with several sources taking turns, the
// number of this source's turn) emits particle n mod M, so a run's particles do not
// depend on how its histories are spread over threads and batches. Each particle keeps its type, interaction
// count, energy and weight; "Direction", the placement keys and "BaseCenter" move and
// turn the whole list, and a given "ConeAngle" and window reject listed directions
// outside them. T is the precision the list is held in; the clones share it.
template <typename T> class TListSource : public TBasicSource {
public:
    using Record = geometry::PhaseSpaceRecord<T>;

    // Reads the keys and loads "ParticleList" (resolved against the configuration's
    // directory); `report` receives the "ListSource: " line. Errors start with
    // "TListSource: " and name the file and the line or record.
    TListSource(const inifiles::TIniFileSection& section,
                const std::function<void(const std::string&)>& report);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    const char* GetTypeName() const override { return "ListSource"; }
    // The listed energies' range, or the "Energy" that replaces them.
    std::pair<double, double> GetEnergyRange() const override { return EnergyRange; }
    // Without a history number the clone's own sequence continues.
    TParticle* Emit(TRandomNumbersGenerator& rng) override { return EmitHistory(Next++, rng); }
    TParticle* EmitHistory(std::uint64_t history, TRandomNumbersGenerator& rng) override;
    // The list is not an emitting region: there is no window to fit to the scene.
    void PrepareInScene(const IScene& scene, bool autoWindow) override;
    void PrintSummary(std::ostream& os) const override;

    const std::string& FileName() const { return ListName; }
    std::size_t Size() const { return List->size(); }
    double TotalWeight() const { return Weight; }

private:
    TListSource(const TListSource&) = default;
    void Load();
    bool Passes(const geometry::TCoord<double>& localDirection) const;

    std::string ListName;
    std::shared_ptr<const std::vector<Record>> List;
    bool ConeGiven = false;
    // The placement turns directions (it does not only move the list).
    bool Turned = false;
    bool EnergyGiven = false;
    double Energy = 0;
    double Weight = 0;
    std::pair<double, double> EnergyRange{0, 0};
    std::uint64_t Next = 0;
};

extern template class TListSource<float>;
extern template class TListSource<double>;

// Parses a text particle list: empty lines and lines starting with '#' or ';' are
// skipped; every other line holds type, interaction count, x y z (cm), polar angle and
// azimuth (rad), energy (keV) and weight. Errors: "Unable to parse: " + line, naming
// the file and line.
template <typename T> std::vector<geometry::PhaseSpaceRecord<T>> ReadParticleList(const std::string& name);

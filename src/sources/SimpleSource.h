#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sources/BasicSource.h"
#include "sources/IntensityMap.h"
#include "sources/SourceSpectrum.h"

enum SourceShape : std::int32_t { Cuboid = 0, Cylinder = 1, Ellipsoid = 2, SemiEllipsoid = 3 };

// A source with an emitting shape, an optional intensity map and an energy model.
// Every emission draws the same numbers whatever happens to the particle: NextPoint
// once, then the position (0, 2 or 3 numbers), the direction (0 or 2) and the energy
// (0 or 1), so that accepted and rejected particles keep quasi-random dimensions
// and pseudo-random streams aligned.
class TSimpleSource : public TBasicSource, public ISpectralSource {
public:
    const char* GetTypeName() const override { return "SimpleSource"; }
    void PrintSummary(std::ostream& os) const override;
    // A flat ellipsoid is an elliptical disc, emitted by the cylinder rule.
    void Prepare() override;
    // Emission needs the source prepared (the scene prepares its sources).
    TParticle* Emit(TRandomNumbersGenerator& rng) override;
    // Emits from a sampled point straight toward a world point; rejected (Status 1)
    // outside the cone or window, or with weight 0.
    TParticle* EmitToward(const geometry::TCoord<double>& point, TRandomNumbersGenerator& rng) final;

    SourceShape GetShape() const { return Shape; }
    const IntensityMap* GetIntensityMap() const { return Map.get(); }

protected:
    // Reads the keys of TBasicSource, then "Shape" (or "Elliptical") and "IntensityMap";
    // a map's warnings go to `warn`.
    TSimpleSource(const inifiles::TIniFileSection& section,
                  const std::function<void(const std::string&)>& warn);
    TSimpleSource(const TSimpleSource&) = default;

private:
    void ResetParticle();
    void SetParticlePosition(TRandomNumbersGenerator& rng);
    bool SetParticleDirection(TRandomNumbersGenerator& rng);
    // Energy drawn in every case; the particle is kept only if accepted with weight > 0.
    void FinishParticle(bool accepted, TRandomNumbersGenerator& rng);

    std::shared_ptr<const IntensityMap> Map;
    SourceShape Shape = Cuboid;
    // The frame's origin and the sides in world coordinates, set by Prepare.
    geometry::TCoord<double> WorldCenter;
    geometry::TCoord<double> WorldSides[3];
};

class TMonochromaticSource : public TSimpleSource {
public:
    // Reads "Energy" (keV, > 0) after the common keys.
    TMonochromaticSource(const inifiles::TIniFileSection& section,
                         const std::function<void(const std::string&)>& warn);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    const char* GetTypeName() const override { return "MonochromaticSource"; }
    std::pair<double, double> GetEnergyRange() const override { return {Energy, Energy}; }
    std::uint64_t GetLineCount() const override { return 1; }
    double SampleEnergy(TRandomNumbersGenerator&) const override { return Energy; }
    void SetLineEnergy(std::uint64_t, TParticle& particle) const override { particle.Energy = Energy; }

private:
    double Energy = 0;
};

class TPolychromaticSource : public TSimpleSource {
public:
    // The spectrum is shared with every source of the scene that has an equal one.
    TPolychromaticSource(const inifiles::TIniFileSection& section,
                         std::shared_ptr<const SourceSpectrum> spectrum,
                         const std::function<void(const std::string&)>& warn);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    const char* GetTypeName() const override { return "PolychromaticSource"; }
    std::pair<double, double> GetEnergyRange() const override {
        return {Spectrum->MinEnergy, Spectrum->MaxEnergy};
    }
    std::uint64_t GetLineCount() const override { return Spectrum->LineCount; }
    double SampleEnergy(TRandomNumbersGenerator& rng) const override;
    void SetLineEnergy(std::uint64_t index, TParticle& particle) const override;

    const std::shared_ptr<const SourceSpectrum>& GetSpectrum() const { return Spectrum; }

private:
    std::shared_ptr<const SourceSpectrum> Spectrum;
};

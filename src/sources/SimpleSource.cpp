#include "sources/SimpleSource.h"

#include <cmath>
#include <stdexcept>

#include "inifiles/IniValues.h"
#include "random/RandomNumbersGenerator.h"

namespace {

const double kPi = 4.0 * std::atan(1.0);

SourceShape ParseShape(const std::string& word) {
    std::string lower;
    for (unsigned char c : word)
        lower += static_cast<char>(std::tolower(c));
    if (lower == "cuboid")
        return Cuboid;
    if (lower == "cylinder")
        return Cylinder;
    if (lower == "ellipsoid")
        return Ellipsoid;
    if (lower == "semiellipsoid")
        return SemiEllipsoid;
    throw std::runtime_error("Unknown shape specification: " + word);
}

} // namespace

TSimpleSource::TSimpleSource(const inifiles::TIniFileSection& section,
                             const std::function<void(const std::string&)>& warn)
    : TBasicSource(section) {
    std::string shape;
    if (inifiles::ReadOptional(section, "Shape", shape)) {
        Shape = ParseShape(shape);
    } else {
        bool elliptical = false;
        inifiles::ReadOptional(section, "Elliptical", elliptical);
        Shape = elliptical ? Cylinder : Cuboid;
    }
    if (const inifiles::TIniFileVariable* map = section.TryFindVariable("IntensityMap"))
        Map = std::make_shared<const IntensityMap>(
            ReadIntensityMap(inifiles::MakePath(*map, map->GetValue()), warn));
}

void TSimpleSource::Prepare() {
    TBasicSource::Prepare();
    if (Flat && (Shape == Ellipsoid || Shape == SemiEllipsoid))
        Shape = Cylinder;
    WorldCenter = ToWorld.Apply(LocalOrigin);
    for (int i = 0; i < 3; ++i)
        WorldSides[i] = ToWorld.ApplyToVector(Sides[i]);
}

void TSimpleSource::ResetParticle() {
    // Position and direction are always set again by the emission.
    Particle.Energy = 0;
    Particle.Weight = 1;
    Particle.Status = StatusAlive;
    Particle.CurrentObject = nullptr;
    Particle.InteractionCount = 0;
}

void TSimpleSource::SetParticlePosition(TRandomNumbersGenerator& rng) {
    if (PointSource) {
        Particle.Position = WorldCenter;
        return;
    }
    double u[3] = {0, 0, 0};
    rng.Generate(u, Flat ? 2 : 3);
    geometry::TCoord<double> p;
    switch (Shape) {
    case Cuboid:
        p = geometry::TCoord<double>(u[0] - 0.5, u[1] - 0.5, Flat ? 0.0 : u[2] - 0.5);
        break;
    case Cylinder: {
        const double r = 0.5 * std::sqrt(u[0]);
        const double phi = 2 * kPi * u[1];
        p = geometry::TCoord<double>(r * std::cos(phi), r * std::sin(phi), Flat ? 0.0 : u[2] - 0.5);
        break;
    }
    case Ellipsoid:
    case SemiEllipsoid: {
        const double r = 0.5 * std::cbrt(u[0]);
        const double phi = 2 * kPi * u[1];
        const double c = Shape == Ellipsoid ? 2 * u[2] - 1 : u[2];
        const double s = std::sqrt(std::max(0.0, 1 - c * c));
        p = geometry::TCoord<double>(r * s * std::cos(phi), r * s * std::sin(phi), r * c);
        break;
    }
    default:
        throw std::runtime_error("Unknown shape");
    }
    if (Map)
        Particle.Weight *= Map->At(p.x, p.y);
    Particle.Position = WorldCenter + p.x * WorldSides[0] + p.y * WorldSides[1] + p.z * WorldSides[2];
}

bool TSimpleSource::SetParticleDirection(TRandomNumbersGenerator& rng) {
    geometry::TCoord<double> d = LocalAxis;
    bool accepted = true;
    if (CosHalfConeAngle < 1) {
        double u[2];
        rng.Generate(u, 2);
        const double cosTheta = CosHalfConeAngle + (1 - CosHalfConeAngle) * u[0];
        if (!(cosTheta >= -1 && cosTheta <= 1))
            throw std::runtime_error(
                "TSimpleSource::SetParticleDirection: UniformRnd: Invalid value for CosLatitude!");
        const double sinTheta = std::sqrt(1 - cosTheta * cosTheta);
        const double phi = 2 * kPi * u[1];
        d = geometry::TCoord<double>(sinTheta * std::cos(phi), sinTheta * std::sin(phi), cosTheta);
        accepted = InsideWindow(d);
    }
    // Rejected particles keep their direction too, so that a preview shows them.
    Particle.SetDirectionVector(ToWorld.ApplyToVector(d));
    return accepted;
}

void TSimpleSource::FinishParticle(bool accepted, TRandomNumbersGenerator& rng) {
    Particle.Energy = SampleEnergy(rng);
    if (!accepted || !(Particle.Weight > 0))
        Particle.Status = StatusAbsorbed;
}

TParticle* TSimpleSource::Emit(TRandomNumbersGenerator& rng) {
    ResetParticle();
    rng.NextPoint();
    SetParticlePosition(rng);
    FinishParticle(SetParticleDirection(rng), rng);
    return &Particle;
}

TParticle* TSimpleSource::EmitToward(const geometry::TCoord<double>& point, TRandomNumbersGenerator& rng) {
    ResetParticle();
    rng.NextPoint();
    SetParticlePosition(rng);
    const geometry::TCoord<double> world = point - Particle.Position;
    const geometry::TCoord<double> l = ToSource.ApplyToVector(world);
    const double length = geometry::Norm(l);
    // A target on the emission point itself has no direction: the axis, rejected.
    const bool accepted = length > 0 && l.z / length >= CosHalfConeAngle && InsideWindow(l);
    Particle.SetDirectionVector(length > 0 ? world : ToWorld.ApplyToVector(LocalAxis));
    FinishParticle(accepted, rng);
    return &Particle;
}

void TSimpleSource::PrintSummary(std::ostream& os) const {
    TBasicSource::PrintSummary(os);
    if (!PointSource) {
        static const char* const names[4] = {"Cuboid", "Cylinder", "Ellipsoid", "SemiEllipsoid"};
        os << "   Shape: ";
        if (Shape >= 0 && Shape < 4)
            os << names[Shape];
        else
            os << static_cast<int>(Shape);
        os << "\n";
    }
    if (Map)
        os << "   Intensity Map: " << Map->Rows << "x" << Map->Columns << "\n";
}

TMonochromaticSource::TMonochromaticSource(const inifiles::TIniFileSection& section,
                                           const std::function<void(const std::string&)>& warn)
    : TSimpleSource(section, warn) {
    inifiles::GetValue(section, "Energy", Energy);
    if (!(Energy > 0) || !std::isfinite(Energy))
        throw std::runtime_error("Energy must be a positive number of keV: " +
                                 section.FindVariable("Energy").GetValue());
}

std::unique_ptr<TBasicGeometricalObject> TMonochromaticSource::Clone() const {
    return std::make_unique<TMonochromaticSource>(*this);
}

TPolychromaticSource::TPolychromaticSource(const inifiles::TIniFileSection& section,
                                           std::shared_ptr<const SourceSpectrum> spectrum,
                                           const std::function<void(const std::string&)>& warn)
    : TSimpleSource(section, warn), Spectrum(std::move(spectrum)) {}

std::unique_ptr<TBasicGeometricalObject> TPolychromaticSource::Clone() const {
    return std::make_unique<TPolychromaticSource>(*this);
}

double TPolychromaticSource::SampleEnergy(TRandomNumbersGenerator& rng) const {
    if (Spectrum->LineCount == 1)
        return Spectrum->Lines.front().Energy;
    double u;
    rng.Generate(&u, 1);
    return Spectrum->Sample(u);
}

void TPolychromaticSource::SetLineEnergy(std::uint64_t index, TParticle& particle) const {
    const SpectrumLine& line = Spectrum->Lines.at(index);
    particle.Energy = line.Energy;
    particle.Weight *= line.Probability;
}

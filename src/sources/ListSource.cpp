#include "sources/ListSource.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "datafiles/XRTCStream.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"
#include "random/RandomNumbersGenerator.h"

namespace {

// What is wrong with a listed particle, whichever file it came from, or null; no text
// is built for the particles that pass, as lists run to millions of them.
template <typename T> const char* Problem(const geometry::PhaseSpaceRecord<T>& r) {
    if (r.Type > ParticlePositron)
        return "Invalid particle type";
    const T values[7] = {r.X, r.Y, r.Z, r.Latitude, r.Longitude, r.Energy, r.Weight};
    for (T v : values)
        if (!std::isfinite(double(v)))
            return "Number that is not finite";
    if (!(r.Energy >= 0) || !(r.Weight >= 0))
        return "Negative energy or weight";
    return nullptr;
}

// Errors name the record or line: unit "record" or "line" and its 1-based number.
template <typename T>
void CheckRecord(const geometry::PhaseSpaceRecord<T>& r, const char* unit, std::uint64_t number,
                 const std::string& name) {
    const char* problem = Problem(r);
    if (problem == nullptr)
        return;
    std::string text = problem;
    if (r.Type > ParticlePositron)
        text += " " + std::to_string(r.Type);
    throw std::runtime_error(text + " in " + unit + " " + std::to_string(number) + " of " + name);
}

bool IsRotationIdentity(const geometry::TAffineTransform& t) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (t.M[i][j] != (i == j ? 1.0 : 0.0))
                return false;
    return true;
}

} // namespace

template <typename T> std::vector<geometry::PhaseSpaceRecord<T>> ReadParticleList(const std::string& name) {
    const auto stream = datafiles::OpenInputFile(name);
    std::vector<geometry::PhaseSpaceRecord<T>> records;
    std::string line;
    for (std::uint64_t number = 1; std::getline(*stream, line); ++number) {
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#' || line[first] == ';')
            continue;
        std::istringstream in(line);
        geometry::PhaseSpaceRecord<T> r;
        double v[7];
        in >> r.Type >> r.InteractionCount;
        for (double& x : v)
            in >> x;
        std::string rest;
        if (in.fail() || (in >> rest))
            throw std::runtime_error("Unable to parse: " + line + " (line " + std::to_string(number) +
                                     " of " + name + ")");
        T* values = &r.X;
        for (int i = 0; i < 7; ++i)
            values[i] = T(v[i]);
        CheckRecord(r, "line", number, name);
        records.push_back(r);
    }
    return records;
}

template <typename T>
TListSource<T>::TListSource(const inifiles::TIniFileSection& section,
                            const std::function<void(const std::string&)>& report)
    : TBasicSource(section) {
    try {
        ConeGiven = HalfConeAngle >= 0;
        Turned = !IsRotationIdentity(ToWorld);
        EnergyGiven = inifiles::ReadOptional(section, "Energy", Energy);
        if (EnergyGiven && !(Energy > 0 && std::isfinite(Energy)))
            throw std::runtime_error("Energy must be a positive number of keV: " +
                                     section.FindVariable("Energy").GetValue());
        const inifiles::TIniFileVariable& list = section.FindVariable("ParticleList");
        ListName = inifiles::MakePath(list, list.GetValue());
        Load();
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TListSource: ") + e.what());
    }
    std::ostringstream line;
    line << "ListSource: " << List->size() << " particles, weight " << Weight;
    report(line.str());
}

template <typename T> void TListSource<T>::Load() {
    auto records = std::make_shared<std::vector<Record>>();
    if (geometry::ReadPhaseSpaceFile(ListName, *records)) {
        for (std::size_t k = 0; k < records->size(); ++k)
            CheckRecord((*records)[k], "record", k + 1, ListName);
    } else {
        *records = ReadParticleList<T>(ListName);
    }
    if (records->empty())
        throw std::runtime_error(ListName + " lists no particles");
    double low = std::numeric_limits<double>::infinity(), high = 0;
    bool passes = false;
    for (const Record& r : *records) {
        Weight += double(r.Weight);
        low = std::min(low, double(r.Energy));
        high = std::max(high, double(r.Energy));
        if (!passes) {
            const double s = std::sin(double(r.Latitude));
            passes = Passes(geometry::TCoord<double>(s * std::cos(double(r.Longitude)),
                                                     s * std::sin(double(r.Longitude)),
                                                     std::cos(double(r.Latitude))));
        }
    }
    if (!passes)
        throw std::runtime_error("Determined source window leaves no opening");
    EnergyRange = EnergyGiven ? std::make_pair(Energy, Energy) : std::make_pair(low, high);
    List = std::move(records);
}

template <typename T> bool TListSource<T>::Passes(const geometry::TCoord<double>& d) const {
    return (!ConeGiven || d.z >= CosHalfConeAngle) && InsideWindow(d);
}

template <typename T> std::unique_ptr<TBasicGeometricalObject> TListSource<T>::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new TListSource<T>(*this));
}

template <typename T> void TListSource<T>::PrepareInScene(const IScene&, bool) {
    Prepare();
}

template <typename T>
TParticle* TListSource<T>::EmitHistory(std::uint64_t history, TRandomNumbersGenerator& rng) {
    rng.NextPoint();
    const Record& r = (*List)[history % List->size()];
    Particle.Type = r.Type;
    Particle.Status = StatusAlive;
    Particle.CurrentObject = nullptr;
    Particle.InteractionCount = r.InteractionCount;
    Particle.Energy = EnergyGiven ? Energy : double(r.Energy);
    Particle.Weight = double(r.Weight);
    Particle.Position = ToWorld.Apply(geometry::TCoord<double>(double(r.X), double(r.Y), double(r.Z)));
    Particle.Direction = geometry::TSphericalAngle(double(r.Latitude), double(r.Longitude));
    // Only a turned list or a cone or window needs the direction as a vector.
    if (Turned || ConeGiven || Window) {
        const geometry::TCoord<double> d = Particle.DirectionVector();
        if (!Passes(d))
            Particle.Status = StatusAbsorbed;
        if (Turned)
            Particle.SetDirectionVector(ToWorld.ApplyToVector(d));
    }
    if (!(Particle.Weight > 0))
        Particle.Status = StatusAbsorbed;
    return &Particle;
}

template <typename T> void TListSource<T>::PrintSummary(std::ostream& os) const {
    TBasicSource::PrintSummary(os);
    os << "   Particle List: " << ListName << ", " << List->size() << " particles ("
       << (sizeof(T) == 4 ? "single" : "double") << " precision)\n";
}

template class TListSource<float>;
template class TListSource<double>;
template std::vector<geometry::PhaseSpaceRecord<float>> ReadParticleList<float>(const std::string&);
template std::vector<geometry::PhaseSpaceRecord<double>> ReadParticleList<double>(const std::string&);

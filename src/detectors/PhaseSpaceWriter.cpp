#include "detectors/PhaseSpaceWriter.h"

#include <cmath>
#include <iostream>
#include <limits>
#include <stdexcept>

#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"
#include "interactions/Particle.h"
#include "random/RandomNumbersGenerator.h"

namespace {

// A bare name goes with the results; one with a directory part is the user's path.
std::string OutputName(const inifiles::TIniFileSection& section, const std::string& prefix) {
    const inifiles::TIniFileVariable* key = section.TryFindVariable("Filename");
    const std::string name = key != nullptr ? key->GetValue() : std::string("phsp.bin");
    if (name.empty())
        return name;
    if (name.find('/') != std::string::npos)
        return inifiles::MakePath(*key, name);
    return prefix.empty() ? name : prefix + "_" + name;
}

} // namespace

template <typename T>
PhaseSpaceWriter<T>::PhaseSpaceWriter(const inifiles::TIniFileSection& section,
                                      const std::string& resultPrefix) {
    inifiles::ReadOptional(section, "Threshold", Threshold);
    if (!(Threshold >= 0) || !std::isfinite(Threshold))
        throw std::runtime_error("Threshold must be a weight of 0 or more: " +
                                 section.FindVariable("Threshold").GetValue());
    inifiles::ReadOptional(section, "Append", Append);
    Output = std::make_shared<PhaseSpaceOutput>(OutputName(section, resultPrefix), Append,
                                                geometry::PhaseSpaceFormat::Native(sizeof(T) == 8));
}

template <typename T>
PhaseSpaceWriter<T>::PhaseSpaceWriter(const PhaseSpaceWriter& other)
    : ParticleRegistrator(other), Output(other.Output), Threshold(other.Threshold), Append(other.Append) {}

template <typename T> PhaseSpaceWriter<T>::~PhaseSpaceWriter() {
    try {
        Flush();
    } catch (const std::exception& e) {
        std::cerr << "PhaseSpaceWriter: " << e.what() << std::endl;
    }
}

template <typename T> std::unique_ptr<ParticleRegistrator> PhaseSpaceWriter<T>::Clone() const {
    return std::unique_ptr<ParticleRegistrator>(new PhaseSpaceWriter<T>(*this));
}

template <typename T> void PhaseSpaceWriter<T>::Queue(const TParticle& particle, double weight) {
    if (Queued.capacity() == 0)
        Queued.reserve(kFlushAbove + 1);
    Record r;
    r.Type = particle.Type;
    r.InteractionCount = particle.InteractionCount;
    r.X = T(particle.Position.x);
    r.Y = T(particle.Position.y);
    r.Z = T(particle.Position.z);
    r.Latitude = T(particle.Direction.Theta.GetAngle());
    r.Longitude = T(particle.Direction.Phi.GetAngle());
    r.Energy = T(particle.Energy);
    r.Weight = T(weight);
    Queued.push_back(r);
    if (Queued.size() > kFlushAbove)
        Flush();
}

template <typename T> void PhaseSpaceWriter<T>::RegisterParticle(const TParticle& particle, double) {
    if (Threshold > particle.Weight)
        throw std::logic_error("PhaseSpaceWriter: Russian roulette needs the tracer's generator");
    Queue(particle, particle.Weight);
}

template <typename T>
void PhaseSpaceWriter<T>::RegisterParticleWith(const TParticle& particle, double,
                                               TRandomNumbersGenerator& rng) {
    const double w = particle.Weight;
    if (Threshold > w) {
        double u = 0;
        rng.Generate(&u, 1);
        if (u > w / Threshold)
            return;
        Queue(particle, Threshold);
        return;
    }
    Queue(particle, w);
}

template <typename T> void PhaseSpaceWriter<T>::Flush() {
    if (Queued.empty())
        return;
    if (Queued.size() > std::numeric_limits<std::size_t>::max() / sizeof(Record))
        throw std::runtime_error("Too many particles queued");
    if (!Output->IsOpen())
        Output->Open(false);
    Output->Write(Queued.data(), Queued.size() * sizeof(Record));
    Queued.clear();
}

template <typename T> void PhaseSpaceWriter<T>::Merge(const ParticleRegistrator& other) {
    const auto& o = dynamic_cast<const PhaseSpaceWriter<T>&>(other);
    if (!o.Queued.empty())
        Output->Write(o.Queued.data(), o.Queued.size() * sizeof(Record));
}

template <typename T> void PhaseSpaceWriter<T>::HandOver(std::unique_ptr<ParticleRegistrator>& part) {
    Flush();
    if (!part)
        part = Clone();
}

template <typename T> void PhaseSpaceWriter<T>::BeginRun(bool fresh) {
    Flush();
    Output->Open(fresh);
}

template <typename T> void PhaseSpaceWriter<T>::PrintSummary(std::ostream& os) const {
    os << "   Registrator: PhaseSpace (" << (sizeof(T) == 4 ? "single" : "double") << " precision)\n";
    os << "   Phase Space File: " << Output->Label() << (Append ? ", appended" : "") << "\n";
    os << "   Roulette Threshold: " << Threshold << "\n";
}

template <typename T> void PhaseSpaceWriter<T>::InternalWrite(std::ostream& stream) {
    Flush();
    stream << "PhaseSpace " + std::to_string(Output->Length()) + " ";
}

template <typename T> void PhaseSpaceWriter<T>::InternalRead(std::istream& stream, std::uint64_t) {
    std::string word;
    std::uint64_t length = 0;
    stream >> word >> length;
    stream.get();
    if (!stream || word != "PhaseSpace")
        throw std::runtime_error("Invalid phase-space writer state for " + Output->Label());
    Output->ContinueFrom(length);
}

template class PhaseSpaceWriter<float>;
template class PhaseSpaceWriter<double>;

namespace {

template <typename T>
std::unique_ptr<ParticleRegistrator> MakeWriter(const inifiles::TIniFileSection& section, IScene& scene) {
    // The plane joins the scene's detectors after its registrator: this is its index.
    const std::string prefix = scene.ResultPrefix.empty()
                                   ? std::string()
                                   : scene.ResultPrefix + "_Detector" + std::to_string(scene.DetectorCount());
    auto writer = std::make_unique<PhaseSpaceWriter<T>>(section, prefix);
    const std::string& file = writer->FileName();
    scene.ClaimFile(file.empty() ? std::string("standard output") : file, "the file of a phase-space writer",
                    true);
    return writer;
}

} // namespace

void RegisterPhaseSpaceType() {
    RegisterRegistratorType("PhaseSpace", [](const inifiles::TIniFileSection& section, IScene& scene) {
        bool single = true;
        inifiles::ReadOptional(section, "Single", single);
        return single ? MakeWriter<float>(section, scene) : MakeWriter<double>(section, scene);
    });
}

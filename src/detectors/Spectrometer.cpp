#include "detectors/Spectrometer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "datafiles/ObjectIO.h"
#include "datafiles/ResultFile.h"
#include "datafiles/XRTCStream.h"
#include "detectors/BasicDetector.h"
#include "detectors/ImageWriter.h"
#include "geometry/TextParsing.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"
#include "interactions/Particle.h"

namespace {

std::string Number(double value, int digits) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*e", digits, value);
    return text;
}

} // namespace

EnergyBinning EnergyBinning::Read(const inifiles::TIniFileSection& section, const EnergyBinning& defaults) {
    EnergyBinning b = defaults;
    inifiles::ReadOptional(section, "MinEnergy", b.MinEnergy);
    inifiles::ReadOptional(section, "MaxEnergy", b.MaxEnergy);
    SizeType bins = defaults.Bins;
    if (inifiles::ReadOptional(section, "EnergyBins", bins) && bins == 0)
        throw std::runtime_error("EnergyBins must be at least 1");
    b.Bins = bins;
    b.Complete();
    return b;
}

void EnergyBinning::Complete() {
    if (!(MaxEnergy > MinEnergy) || !std::isfinite(MaxEnergy - MinEnergy))
        throw std::runtime_error(
            "MaxEnergy must be above MinEnergy (MinEnergy = " + std::to_string(MinEnergy) +
            ", MaxEnergy = " + std::to_string(MaxEnergy) + ")");
    // Without EnergyBins: bins of 1 keV.
    if (Bins == 0) {
        const double keV = std::floor(MaxEnergy - MinEnergy);
        if (!(keV < 1e15))
            throw std::runtime_error("MaxEnergy - MinEnergy is too wide for bins of 1 keV; set EnergyBins");
        Bins = std::uint64_t(keV);
    }
    if (Bins == 0)
        throw std::runtime_error("EnergyBins must be at least 1");
    Width = (MaxEnergy - MinEnergy) / double(Bins);
}

void WriteSpectrumText(std::ostream& os, const SpectrumView& s, const std::string& name, double scale,
                       int digits) {
    if (!name.empty())
        os << "# Name: " << name << "\n";
    os << "# Bin: true\n# Scale: " << Number(scale, digits) << "\n# Fields: energy [keV], count";
    if (s.Uncertainty)
        os << ", absolute uncertainty (1 sigma)";
    os << "\n";
    const EnergyBinning& b = *s.Binning;
    std::string line;
    for (std::uint64_t i = 0; i < b.Bins; ++i) {
        line = Number(b.MinEnergy + (double(i) + 0.5) * b.Width, digits);
        line += '\t';
        line += Number(s.Count(i) * scale, digits);
        if (s.Uncertainty) {
            line += '\t';
            line += Number(std::sqrt(s.Squares(i)) * scale, digits);
        }
        line += '\n';
        os << line;
    }
    os << "#EOF\n\n";
}

int SpectrumDigits(const ImageWriterOptions& options) {
    return options.Pixels == PixelType::Double ? 12 : 6;
}

std::string SpectrumFileName(const std::string& name, const ImageWriterOptions& options) {
    return name + (options.Compress ? ".xrc" : ".xrs");
}

void WriteSpectrumFile(const std::string& fileName, const ImageWriterOptions& options,
                       const std::function<void(std::ostream&)>& write) {
    datafiles::WriteReplacing(fileName, [&](const std::string& temporary) {
        try {
            auto out = datafiles::OpenOutputFile(temporary, options.Compress);
            write(*out);
            out->Close();
        } catch (const std::exception& e) {
            throw std::runtime_error("Error writing " + fileName + ": " + e.what());
        }
    });
}

Spectrometer::Spectrometer(const EnergyBinning& binning, bool registerUncertainty)
    : Range(binning), RegisterUncertainty(registerUncertainty) {
    // Every tracer thread sums into a copy of its own (a mistyped range: 1e9 keV in bins
    // of 1 keV).
    if (Range.Bins > DoublesPerCopy(true) / Stride())
        throw std::runtime_error(std::to_string(Range.Bins) +
                                 " energy bins need more memory than this machine has (each tracer thread "
                                 "keeps a copy)");
    Bins.assign(Range.Bins * Stride(), 0.0);
}

std::unique_ptr<ParticleRegistrator> Spectrometer::Create(const inifiles::TIniFileSection& section, IScene&) {
    try {
        std::string type;
        inifiles::ReadOptional(section, "Type", type);
        bool coincidence = false, uncertainty = false, single = false;
        inifiles::ReadOptional(section, "Coincidence", coincidence);
        inifiles::ReadOptional(section, "RegisterUncertainty", uncertainty);
        inifiles::ReadOptional(section, "Single", single);
        const EnergyBinning binning = EnergyBinning::Read(section, EnergyBinning());
        if (coincidence || geometry::text::EqualsNoCase(type, "CoincidenceSpectrometer"))
            return std::make_unique<CoincidenceSpectrometer>(binning, uncertainty);
        return std::make_unique<Spectrometer>(binning, uncertainty);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("Spectrometer: ") + e.what());
    }
}

std::unique_ptr<ParticleRegistrator> Spectrometer::Clone() const {
    return std::make_unique<Spectrometer>(Range, RegisterUncertainty);
}

void Spectrometer::Bin(double energy, double weight, std::uint64_t history) {
    const std::int64_t bin = Range.BinOf(energy);
    if (bin < 0)
        return;
    if (!RegisterUncertainty) {
        Bins[std::size_t(bin)] += weight;
        return;
    }
    Bins[2 * std::size_t(bin)] += weight;
    Squares.Add(history, &Bins[2 * std::size_t(bin) + 1], weight);
}

void Spectrometer::RegisterParticle(const TParticle& particle, double weight) {
    Bin(particle.Energy, weight, particle.History);
}

void Spectrometer::Merge(const ParticleRegistrator& other) {
    const auto* o = dynamic_cast<const Spectrometer*>(&other);
    if (o == nullptr || !(o->Range == Range) || o->RegisterUncertainty != RegisterUncertainty)
        throw std::runtime_error("Spectrometer configurations differ");
    for (std::size_t i = 0; i < Bins.size(); ++i)
        Bins[i] += o->Bins[i];
}

void Spectrometer::HandOver(std::unique_ptr<ParticleRegistrator>& part) {
    EndOfRun();
    Squares.Close();
    if (!part)
        part = Clone();
    // The part comes back merged: its bins are reused as this batch's.
    Bins.swap(static_cast<Spectrometer&>(*part).Bins);
    std::fill(Bins.begin(), Bins.end(), 0.0);
}

void Spectrometer::InternalWrite(std::ostream& stream) {
    WriteU64(stream, Bins.size());
    WriteDoubles(stream, Bins.data(), Bins.size());
}

void Spectrometer::InternalRead(std::istream& stream, std::uint64_t payloadSize) {
    const std::uint64_t own = 8 + 8 * std::uint64_t(Bins.size());
    if (payloadSize < own || ReadU64(stream) != Bins.size())
        throw std::runtime_error(std::string(Kind()) + ": saved state has other bins");
    ReadDoubles(stream, Bins.data(), Bins.size());
}

void Spectrometer::Reset() {
    Squares.Close();
    std::fill(Bins.begin(), Bins.end(), 0.0);
}

double Spectrometer::Total() const {
    double sum = 0;
    for (std::uint64_t i = 0; i < Range.Bins; ++i)
        sum += Count(i);
    return sum;
}

void Spectrometer::WriteSpectrum(const std::string& name, const ImageWriterOptions& options) const {
    SpectrumView view;
    view.Binning = &Range;
    view.Uncertainty = RegisterUncertainty;
    view.Count = [this](std::uint64_t i) { return Count(i); };
    view.Squares = [this](std::uint64_t i) { return SquareCount(i); };
    const int digits = SpectrumDigits(options);
    WriteSpectrumFile(SpectrumFileName(name, options), options,
                      [&](std::ostream& os) { WriteSpectrumText(os, view, "", options.CountScale, digits); });
}

void Spectrometer::PrintSummary(std::ostream& os) const {
    os << "   Registrator: " << Kind() << "\n";
    os << "   Energy Range: " << Range.MinEnergy << " - " << Range.MaxEnergy << " keV, " << Range.Bins
       << " Bins\n";
    os << "   Register Uncertainty: " << int(RegisterUncertainty) << "\n";
}

std::unique_ptr<ParticleRegistrator> CoincidenceSpectrometer::Clone() const {
    return std::make_unique<CoincidenceSpectrometer>(Range, RegisterUncertainty);
}

void CoincidenceSpectrometer::RegisterParticle(const TParticle& particle, double weight) {
    if (std::int64_t(particle.History) != PendingHistory) {
        EndOfRun();
        PendingHistory = std::int64_t(particle.History);
        PendingEnergy = particle.Energy;
        PendingWeight = weight;
        return;
    }
    if (PendingWeight > 0)
        PendingEnergy += weight * particle.Energy / PendingWeight;
}

void CoincidenceSpectrometer::EndOfRun() {
    // One count per history: nothing to sum before squaring.
    if (PendingWeight > 0)
        Bin(PendingEnergy, PendingWeight, HistorySquares::NoHistory);
    PendingEnergy = 0;
    PendingWeight = 0;
    PendingHistory = -1;
}

void CoincidenceSpectrometer::InternalWrite(std::ostream& stream) {
    Spectrometer::InternalWrite(stream);
    WriteDouble(stream, PendingEnergy);
    WriteDouble(stream, PendingWeight);
    WriteU64(stream, std::uint64_t(PendingHistory));
}

void CoincidenceSpectrometer::InternalRead(std::istream& stream, std::uint64_t payloadSize) {
    if (payloadSize != 8 + 8 * std::uint64_t(Bins.size()) + 24)
        throw std::runtime_error("CoincidenceSpectrometer: saved state has other bins");
    Spectrometer::InternalRead(stream, payloadSize);
    PendingEnergy = ReadDouble(stream);
    PendingWeight = ReadDouble(stream);
    PendingHistory = std::int64_t(ReadU64(stream));
}

void CoincidenceSpectrometer::Reset() {
    Spectrometer::Reset();
    PendingEnergy = 0;
    PendingWeight = 0;
    PendingHistory = -1;
}

void RegisterSpectrometerTypes() {
    RegisterRegistratorType("Spectrometer", Spectrometer::Create);
    RegisterRegistratorType("CoincidenceSpectrometer", Spectrometer::Create);
}

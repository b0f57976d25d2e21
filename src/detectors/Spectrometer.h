#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "detectors/HistorySquares.h"
#include "detectors/ParticleRegistrator.h"

struct ImageWriterOptions;

// Equal bins from MinEnergy to MaxEnergy; a bin's upper edge belongs to it, so
// MaxEnergy lands in the last bin.
struct EnergyBinning {
    double MinEnergy = 0;
    double MaxEnergy = 0;
    std::uint64_t Bins = 0;
    double Width = 0;

    // Reads MinEnergy, MaxEnergy and EnergyBins (default: bins of 1 keV) over the given
    // defaults; an empty range is an error naming the key.
    static EnergyBinning Read(const inifiles::TIniFileSection& section, const EnergyBinning& defaults);
    // Checks the range and sets the width; errors name MaxEnergy or EnergyBins.
    void Complete();
    // The bin of an energy, or -1 outside [MinEnergy, MaxEnergy].
    std::int64_t BinOf(double energy) const {
        if (!(energy >= MinEnergy && energy <= MaxEnergy))
            return -1;
        const double x = (energy - MinEnergy) / Width;
        auto bin = std::int64_t(x);
        if (bin > 0 && double(bin) == x)
            --bin;
        return bin < std::int64_t(Bins) ? bin : std::int64_t(Bins) - 1;
    }
    bool operator==(const EnergyBinning& o) const {
        return MinEnergy == o.MinEnergy && MaxEnergy == o.MaxEnergy && Bins == o.Bins;
    }
};

// One spectrum as the ".xrs" text shows it: bin i's count and, with uncertainty, its
// sum of squared weights.
struct SpectrumView {
    const EnergyBinning* Binning = nullptr;
    bool Uncertainty = false;
    std::function<double(std::uint64_t bin)> Count;
    std::function<double(std::uint64_t bin)> Squares;
};

// Writes one spectrum: "# Name: " (when named), "# Bin: true", "# Scale: ", "# Fields: ",
// one line per bin (centre, count x scale[, sqrt(squares) x scale]), then "#EOF" and a
// blank line. `digits` after the decimal point in scientific notation.
void WriteSpectrumText(std::ostream& os, const SpectrumView& spectrum, const std::string& name, double scale,
                       int digits);
// 12 digits when the results are written as doubles, else 6.
int SpectrumDigits(const ImageWriterOptions& options);
// name + ".xrs", or ".xrc" when results are compressed; written through a temporary
// file renamed into place ("Error writing " + file name).
std::string SpectrumFileName(const std::string& name, const ImageWriterOptions& options);
void WriteSpectrumFile(const std::string& fileName, const ImageWriterOptions& options,
                       const std::function<void(std::ostream&)>& write);

// The energy spectrum of the particles a detector registers, binned by their detected
// energy with their weight. Bins are summed in double (float sums stall at 2^24);
// `Single` is accepted for compatibility and changes nothing.
class Spectrometer : public ParticleRegistrator {
public:
    Spectrometer(const EnergyBinning& binning, bool registerUncertainty);
    // Keys of a `Registrator` sub-section; errors get "Spectrometer: " in front.
    static std::unique_ptr<ParticleRegistrator> Create(const inifiles::TIniFileSection& section,
                                                       IScene& scene);

    std::unique_ptr<ParticleRegistrator> Clone() const override;
    void RegisterParticle(const TParticle& particle, double weight) override;
    // "Spectrometer configurations differ" unless bins, range and uncertainty agree.
    void Merge(const ParticleRegistrator& other) override;
    void WriteSpectrum(const std::string& name, const ImageWriterOptions& options) const override;
    void Reset() override;
    void PrintSummary(std::ostream& os) const override;
    void HandOver(std::unique_ptr<ParticleRegistrator>& part) override;
    bool PartTravels() const override { return true; }
    // Squares the open history's sums.
    void EndOfRun() override { Squares.Close(); }
    // The bins: their number (u64), then the sums (doubles).
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;
    std::string IOClassName() const override { return Kind(); }

    void Bin(double energy, double weight, std::uint64_t history);
    double Count(std::uint64_t bin) const { return Bins[bin * Stride()]; }
    double SquareCount(std::uint64_t bin) const { return RegisterUncertainty ? Bins[bin * 2 + 1] : 0; }
    double Total() const;
    const EnergyBinning& Binning() const { return Range; }

    // State: plain members, so that the state file can hold them.
    std::vector<double> Bins; // per bin Σ weight (and Σ weight² with uncertainty)
    EnergyBinning Range;
    bool RegisterUncertainty = false;

protected:
    std::size_t Stride() const { return RegisterUncertainty ? 2 : 1; }
    virtual const char* Kind() const { return "Spectrometer"; }

    HistorySquares Squares;
};

// A pulse-height spectrum: what one history deposits in the detector, summed and
// binned once, at the history's total energy with the weight of its first particle.
// Needs analog histories: split photons would each add their share.
class CoincidenceSpectrometer : public Spectrometer {
public:
    using Spectrometer::Spectrometer;

    std::unique_ptr<ParticleRegistrator> Clone() const override;
    void RegisterParticle(const TParticle& particle, double weight) override;
    void Reset() override;
    void EndOfRun() override;
    bool NeedsAnalogHistories() const override { return true; }
    // The bins, then the open history: energy, weight (doubles) and number (u64).
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;

    // The open history: its energy, reference weight (0: none) and number (-1: none).
    double PendingEnergy = 0;
    double PendingWeight = 0;
    std::int64_t PendingHistory = -1;

protected:
    const char* Kind() const override { return "CoincidenceSpectrometer"; }
};

// Registers "Spectrometer" and "CoincidenceSpectrometer" (and Coincidence = true).
void RegisterSpectrometerTypes();

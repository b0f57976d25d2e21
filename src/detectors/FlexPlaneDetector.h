#pragma once

#include <memory>
#include <string>
#include <vector>

#include "detectors/ImageDetectors.h"
#include "detectors/Spectrometer.h"

// One definition of the `Cells` key: "(Kind[, MinEnergy, MaxEnergy, EnergyBins])", the
// kind "Basic" (count, square count, energy), "Spectrometer" (a spectrum) or
// "SpectrometerUncertainty" (a spectrum with square counts), and "Shared" beside the
// kind for one cell of the whole detector instead of one per pixel.
struct FlexCellDefinition {
    enum KindType { Basic, Spectrum, SpectrumUncertainty };
    KindType Kind = Basic;
    bool Shared = false;
    EnergyBinning Binning;
    std::size_t Offset = 0; // in the pixel's cell, or in the detector's shared cell
    std::size_t Size = 0;   // doubles

    bool IsSpectrum() const { return Kind != Basic; }
    bool HasUncertainty() const { return Kind == SpectrumUncertainty; }
    std::string ToString() const;
};

// Parses the definitions; fields not given come from `defaults` (the section's
// MinEnergy, MaxEnergy, EnergyBins). Offsets are not set.
std::vector<FlexCellDefinition> ParseCellDefinitions(const std::string& text, const EnergyBinning& defaults);

// Where per-pixel spectra go: one file per class (Tarvo), per row (MultipleXRS) or per
// pixel (SingleXRS).
enum class SpectrumFileType { Tarvo, MultipleXRS, SingleXRS };
SpectrumFileType ParseSpectrumFileType(const std::string& word);
const char* SpectrumFileTypeName(SpectrumFileType type);

// A plane detector whose pixels hold the cells of its `Cells` key: per-pixel spectra,
// basic cells (written as images like a simple detector's) and whole-detector cells;
// by class like a simple detector: primary (or total), scattered, scattered k times.
class TFlexPlaneDetector : public TPlaneDetector {
public:
    // Errors get "TFlexPlaneDetector: " in front.
    static std::unique_ptr<TFlexPlaneDetector> Create(const inifiles::TIniFileSection& section,
                                                      IScene& scene);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    std::string IOClassName() const override { return "TFlexPlaneDetector"; }
    void RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                       double weight) override;
    void WriteResults(const std::string& baseName, const ImageWriterOptions& options) const override;
    void PrintSummary(std::ostream& os) const override;

    const std::vector<FlexCellDefinition>& Definitions() const { return Cells; }
    // A pixel's cell of a class plane, at the definition's offset.
    const double* PixelCell(std::size_t plane, std::uint64_t pixel, const FlexCellDefinition& d) const {
        return Cell(plane, pixel) + d.Offset;
    }
    // The whole-detector cell of a shared definition.
    const double* SharedCell(std::size_t plane, const FlexCellDefinition& d) const;

    SpectrumFileType FileType = SpectrumFileType::Tarvo;
    // Spectrum cells bin each history once, at the energy it left in the pixel.
    bool Coincidence = false;

protected:
    TFlexPlaneDetector() = default;
    TFlexPlaneDetector(const TFlexPlaneDetector& other); // own zeroed shared cells for a copy

    void CommitRecords(const PendingRegistration* records, std::size_t count,
                       DetectorTotals& totals) override {
        CommitInOrder(*this, records, count, totals);
    }
    bool GetStopValueSource(const StopCondition& condition, StopValueSource& source) const override;
    bool HandOverExtra(std::vector<double>& into) override;
    std::vector<double>* ExtraCells() override { return &SharedCells; }
    void CloseHistory() override;
    bool NeedsAnalogHistories() const override {
        return Coincidence || TPlaneDetector::NeedsAnalogHistories();
    }
    void CommitExtra(const std::vector<double>& part) override;

private:
    friend class MatrixDetector;

    void Configure(const std::string& cells);
    // What committing a block needs of the detector: all of it, as cells are defined
    // at run time.
    struct BlockWriter {
        TFlexPlaneDetector& Detector;
        void Prefetch(std::uint64_t pixel, std::uint32_t interactions) const {
            Detector.PrefetchCell(interactions == 0 || Detector.TotalOnly ? 0 : 1, pixel);
        }
        void Add(std::uint64_t pixel, const PendingRegistration& r, double weight) const {
            Detector.AddToPixel(pixel, r, weight);
        }
        bool Hold() { return true; }
        template <class Shares> bool Primary(const PendingRegistration& r, Shares shares) {
            shares([&](std::uint64_t pixel, double weight) { Add(pixel, r, weight); });
            return true;
        }
        void Release() {}
    };
    BlockWriter Writer() { return {*this}; }
    void AddToPixel(std::uint64_t pixel, const PendingRegistration& r, double weight);
    void AddToCells(double* cell, double* shared, const PendingRegistration& r, double weight);
    void WriteSpectra(const std::string& className, std::size_t plane, int plusPlane,
                      const ImageWriterOptions& options) const;

    // Coincidence: a history's pulse per spectrum cell, binned when the history ends.
    struct Pulse {
        double* Spectrum;
        const FlexCellDefinition* Definition;
        bool Shared;
        double Energy;
        double Weight; // of the history's first registration there
    };
    void AddPulse(std::uint64_t history, double* spectrum, const FlexCellDefinition& d, double energy,
                  double weight);

    std::vector<FlexCellDefinition> Cells;
    std::string CellsText;
    std::vector<Pulse> Pulses;
    std::uint64_t PulseHistory = HistorySquares::NoHistory;
    // Per class plane, the shared definitions' cells.
    std::vector<double> SharedCells;
    std::size_t SharedSize = 0;
    // The first Basic cell per pixel (images, stop conditions), -1 for none.
    int BasicIndex = -1;
};

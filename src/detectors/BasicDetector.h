#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/ObjectIO.h"
#include "detectors/HistorySquares.h"
#include "geometry/Coord.h"
#include "interactions/BatchScorer.h"

class DetectorModel;
class TBasicGeometricalObject;
class TRandomNumbersGenerator;
struct ImageWriterOptions;

namespace inifiles {
class TIniFileSection;
}

// Sums over a whole detector, one registration at a time, per class: 0 the particles
// that did not interact (all of them with TotalOnly), 1 the scattered and secondary
// ones, 1 + k those that interacted exactly k times (k = 1 .. OutputNumberOfInteractions).
struct DetectorTotals {
    std::vector<double> Values; // per class: count, energy, square count

    void Resize(std::size_t classes) { Values.assign(3 * classes, 0.0); }
    void Add(std::size_t cls, double energy, double weight) {
        double* v = &Values[3 * cls];
        v[0] += weight;
        v[1] += energy * weight;
        v[2] += weight * weight;
    }
    // The same with the square count taken per history.
    void Add(std::size_t cls, double energy, double weight, HistorySquares& squares, std::uint64_t history) {
        double* v = &Values[3 * cls];
        v[0] += weight;
        v[1] += energy * weight;
        squares.Add(history, &v[2], weight);
    }
    void Merge(const DetectorTotals& other);
    void Clear();
    double Get(std::size_t cls, std::size_t field) const { return Values[3 * cls + field]; }
};

// How many doubles one copy of a detector's data may hold: the machine's memory
// divided among the master and, when `perThread`, a copy for each tracer thread
// (unlimited when the memory cannot be told). A mistyped size must fail at load, not
// at the out-of-memory killer once the copies are zeroed mid-run.
std::uint64_t DoublesPerCopy(bool perThread);

// Base of every detector: the keys all detectors share, their model, the totals and
// the summary and result lines built from them. A detector's state (what the master
// has summed) is saved with the run.
class TBasicDetector : public TIO_Object, public IPixelDetector {
public:
    virtual bool StopConditionsMet() const { return false; }
    virtual bool HasStopConditions() const { return false; }
    // The conditions, their values and whether they are met, for the run's status line
    // after "Detector: " and the detector's number.
    virtual std::string StopConditionStatus() const { return std::string(); }
    // Whether its results need histories traced without photon splitting.
    virtual bool NeedsAnalogHistories() const { return false; }
    std::uint64_t GetPixelCount() const override { return 1; }
    geometry::TCoord<double> GetPixelPosition(std::uint64_t index,
                                              TRandomNumbersGenerator& rng) const override;

    // Results do not depend on how batches are spread over threads: a tracer marks
    // the batch it works on in its copies, the master learns where a run starts, and
    // commits what the copies hand over strictly in batch order. Flush hands over
    // (copies) or commits everything that waits (master).
    virtual void BeginRun(std::uint64_t /*firstBatch*/) {}
    void BeginBatch(std::uint64_t /*index*/) override {}
    void EndBatch() override {}
    void Flush() override {}

    // Cluster runs: the master of a worker process does not commit; it forwards each
    // hand-over its copies make, as bytes, to the application's process, whose master
    // takes it into its ordered commit as if a copy of its own had handed it over.
    // Detectors that can not travel so say false.
    using HandoverSink = std::function<void(std::string& bytes)>;
    virtual bool CanForwardHandovers() const { return false; }
    virtual void ForwardHandovers(HandoverSink /*sink*/) {}
    virtual void TakeForwarded(std::string_view /*bytes*/) {}

    double PrimaryCount() const { return Totals().Get(0, 0); }
    double PrimaryEnergy() const { return Totals().Get(0, 1); }
    double PrimarySquareCount() const { return Totals().Get(0, 2); }
    // k = 0: scattered any number of times; k = 1 .. OutputNumberOfInteractions: exactly k times.
    double ScatteredCount(std::uint32_t k) const { return Totals().Get(1 + k, 0); }
    double ScatteredEnergy(std::uint32_t k) const { return Totals().Get(1 + k, 1); }
    double ScatteredSquareCount(std::uint32_t k) const { return Totals().Get(1 + k, 2); }

    // Writes the result files named baseName + suffixes.
    virtual void WriteResults(const std::string& /*baseName*/, const ImageWriterOptions& /*options*/) const {}
    // The factor that turns sums into values per emitted particle.
    double GetNormalisation(double particles) const { return particles > 0 ? 1 / particles : 1; }
    // Detector lines of the summary.
    virtual void PrintDetectorSummary(std::ostream& os) const;
    // Result lines for the results file, n = emitted particles.
    virtual void PrintResults(std::ostream& os, double particles) const;

    bool Transparent = true;
    bool ScatterOnly = false;
    bool TotalOnly = false;
    bool WriteSquareCount = false;
    std::uint32_t OutputNumberOfInteractions = 0;
    std::shared_ptr<DetectorModel> Model;

protected:
    TBasicDetector() = default;
    TBasicDetector(const TBasicDetector&) = default;
    TBasicDetector& operator=(const TBasicDetector&) = delete;

    // Reads the keys of every detector; errors get "TBasicDetector: " in front.
    void ReadDetectorKeys(const inifiles::TIniFileSection& section);
    std::size_t TotalsClasses() const { return std::size_t(2) + OutputNumberOfInteractions; }
    // Adds one registration to the classes it belongs to.
    void AddToTotals(DetectorTotals& totals, std::uint32_t interactions, double energy, double weight) const {
        if (TotalOnly || interactions == 0) {
            totals.Add(0, energy, weight);
            return;
        }
        totals.Add(1, energy, weight);
        if (interactions <= OutputNumberOfInteractions)
            totals.Add(1 + interactions, energy, weight);
    }
    // Every committed registration comes here: one inlined Add for the common case.
    void AddToTotals(DetectorTotals& totals, HistorySquares& squares, std::uint64_t history,
                     std::uint32_t interactions, double energy, double weight) const {
        const bool primary = TotalOnly || interactions == 0;
        totals.Add(primary ? 0 : 1, energy, weight, squares, history);
        if (!primary && interactions <= OutputNumberOfInteractions)
            totals.Add(1 + interactions, energy, weight, squares, history);
    }
    // The totals of the whole detector (the master's for a thread's copy).
    virtual const DetectorTotals& Totals() const = 0;
};

// A result line of a count: label, count, " +- " its uncertainty (from the sum of
// squared weights), " (sqrt(N): ", and " [rel.: " per emitted particle.
void PrintCountLine(std::ostream& os, const std::string& label, double count, double square,
                    double particles);
// A result line of an energy: label, energy " keV", " (avg.: " per count, " [rel.: " per particle.
void PrintEnergyLine(std::ostream& os, const std::string& label, double energy, double count,
                     double particles);

// The detector behind a scene's detector entry.
TBasicDetector& AsDetector(TBasicGeometricalObject& object);

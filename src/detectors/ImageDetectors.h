#pragma once

#include <memory>
#include <string>

#include "detectors/ImageWriter.h"
#include "detectors/PlaneDetector.h"

// Registers "PlaneDetector" with the scene's object factory: a section with "Cells"
// asks for a flex detector (per-pixel spectra), one with "Dose" or "Energy" an image
// detector, any other a simple detector; and the spectrometer registrators.
void RegisterDetectorTypes();

// One field of a detector's cells as a matrix of numbers, optionally of the sum of
// two planes (primary + scattered = total). Fields: 0 count, 1 square count,
// 2 energy, 3 relative error sqrt(square count) / count (0 where the count is 0),
// formed from the summed cell.
class Extractor : public PixelAccessor {
public:
    enum Field { Count = 0, SquareCount = 1, Energy = 2, Error = 3 };
    // plusPlane < 0: one plane only. The fields start `offset` doubles into the cell.
    Extractor(const MatrixDetector& detector, std::size_t plane, int plusPlane, int field,
              std::size_t fieldCount, std::size_t offset = 0);
    std::uint64_t Rows() const override { return Detector.Rows; }
    std::uint64_t Columns() const override { return Detector.Columns; }
    double Value(std::uint64_t row, std::uint64_t column) const override;

private:
    const MatrixDetector& Detector;
    std::size_t Plane;
    int PlusPlane;
    int FieldCode;
    std::size_t FieldCount;
    std::size_t Offset;
};

// The images of one class of count, square count and energy cells (fields at `offset`
// in the cell): className + "_count", "_error", "_energy" and, with WriteSquareCount,
// "_squarecount". Total classes add plusPlane cell by cell.
void WriteCellImages(const TPlaneDetector& detector, const std::string& className, std::size_t plane,
                     int plusPlane, std::size_t offset, const ImageWriterOptions& options);

// One image of counts (sums of weights) or, with "Dose" or "Energy", of energies
// (sums of energy x weight, keV): primary radiation, everything with TotalOnly, or
// with ScatterOnly the scattered particles (those with exactly k interactions when
// OutputNumberOfInteractions is k > 0). Sums are doubles whatever the scene's precision.
class TImagePlaneDetector : public TPlaneDetector {
public:
    // Errors get "TImagePlaneDetector: " in front.
    static std::unique_ptr<TImagePlaneDetector> Create(const inifiles::TIniFileSection& section,
                                                       IScene& scene);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    std::string IOClassName() const override { return "TImagePlaneDetector"; }
    void RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                       double weight) override;
    void WriteResults(const std::string& baseName, const ImageWriterOptions& options) const override;
    void PrintSummary(std::ostream& os) const override;

    bool EnergyImage = false;

protected:
    TImagePlaneDetector() = default;
    TImagePlaneDetector(const TImagePlaneDetector&) = default;

    void CommitRecords(const PendingRegistration* records, std::size_t count,
                       DetectorTotals& totals) override {
        CommitInOrder(*this, records, count, totals);
    }

private:
    friend class MatrixDetector;

    // What committing a block needs of the detector (see CellWriter).
    struct BlockWriter {
        CellWriter<1> Cells;
        bool TotalOnly;
        bool ScatterOnly;
        bool EnergyImage;
        std::uint32_t ScatterOrder;

        // Whether a particle with that many interactions belongs to the image.
        bool Counts(std::uint32_t interactions) const {
            if (TotalOnly)
                return true;
            if (!ScatterOnly)
                return interactions == 0;
            return interactions > 0 && (ScatterOrder == 0 || interactions == ScatterOrder);
        }
        void Prefetch(std::uint64_t pixel, std::uint32_t) const { Cells.Prefetch(0, pixel); }
        void Add(std::uint64_t pixel, const PendingRegistration& r, double weight) const {
            if (Counts(r.InteractionCount))
                *Cells.ForUpdate(0, pixel) += EnergyImage ? r.Energy * weight : weight;
        }
        bool Hold() { return true; }
        // A particle that did not interact (any with TotalOnly), in the pixels `shares`
        // gives (see the simple detector's).
        template <class Shares> bool Primary(const PendingRegistration& r, Shares shares) {
            if (TotalOnly || !ScatterOnly)
                shares([&](std::uint64_t pixel, double weight) {
                    *Cells.ForUpdate(0, pixel) += EnergyImage ? r.Energy * weight : weight;
                });
            return true;
        }
        void Release() {}
    };
    BlockWriter Writer() {
        return {CellsFor<1>(), TotalOnly, ScatterOnly, EnergyImage, OutputNumberOfInteractions};
    }
    bool GetStopValueSource(const StopCondition& condition, StopValueSource& source) const override;
};

// Count, square count and energy per pixel, for the primary (or total) radiation and
// per scatter class: plane 1 all scattered and secondary particles, plane 1 + k those
// with exactly k interactions. Writes count, error, energy (and square count) images.
class TSimplePlaneDetector : public TPlaneDetector {
public:
    // Errors get "TSimplePlaneDetector: " in front.
    static std::unique_ptr<TSimplePlaneDetector> Create(const inifiles::TIniFileSection& section,
                                                        IScene& scene);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    std::string IOClassName() const override { return "TSimplePlaneDetector"; }
    void RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                       double weight) override;
    void WriteResults(const std::string& baseName, const ImageWriterOptions& options) const override;
    void PrintSummary(std::ostream& os) const override;

protected:
    TSimplePlaneDetector() = default;
    TSimplePlaneDetector(const TSimplePlaneDetector&) = default;

    void CommitRecords(const PendingRegistration* records, std::size_t count,
                       DetectorTotals& totals) override {
        CommitInOrder(*this, records, count, totals);
    }

private:
    friend class MatrixDetector;

    // What committing a block needs of the detector (see CellWriter). Plane 0 takes the
    // primary particles (all with TotalOnly), plane 1 the scattered ones and plane
    // 1 + k those with exactly k interactions.
    struct BlockWriter {
        CellWriter<3> Cells;
        HistorySquares& Squares;
        bool TotalOnly;
        bool ScatterOnly;
        std::uint32_t ScatterOrder;

        void Prefetch(std::uint64_t pixel, std::uint32_t interactions) const {
            if (TotalOnly || interactions == 0) {
                Cells.Prefetch(0, pixel);
                return;
            }
            Cells.Prefetch(1, pixel);
            if (interactions <= ScatterOrder)
                Cells.Prefetch(1 + interactions, pixel);
        }
        void Add(std::uint64_t pixel, const PendingRegistration& r, double weight) const {
            const double energySum = r.Energy * weight;
            ForEachClassPlane(TotalOnly, ScatterOnly, ScatterOrder, r.InteractionCount,
                              [&](std::size_t plane) {
                                  double* cell = Cells.ForUpdate(plane, pixel);
                                  cell[0] += weight;
                                  Squares.Add(r.History, &cell[1], weight);
                                  cell[2] += energySum;
                              });
        }

        // Runs of histories that each register once keep the square counts' open history
        // here, in registers, instead of in Squares (whose fields every store into a cell
        // might change, to the compiler's knowledge): its pixels (up to four, split) and sums.
        std::uint64_t OpenHistory = HistorySquares::NoHistory;
        std::size_t Held = 0;
        double* HeldSquare[4] = {};
        double HeldSum[4] = {};
        // Takes the open history from Squares; false when it has scored too many pixels.
        bool Hold() {
            OpenHistory = Squares.OpenHistory();
            return Squares.OpenSlots(HeldSquare, HeldSum, Held);
        }
        // A particle that did not interact (any with TotalOnly), as Add would take each
        // share(pixel, weight) that `shares` gives; false, with nothing added, when its
        // history is the open one (Squares merges a history's registrations).
        template <class Shares> bool Primary(const PendingRegistration& r, Shares shares) {
            if (ScatterOnly)
                return true;
            if (r.History == OpenHistory)
                return false;
            // The open history is complete: its pixels are distinct, each squares its sum.
            for (std::size_t i = 0; i < Held; ++i)
                *HeldSquare[i] += HeldSum[i] * HeldSum[i];
            OpenHistory = r.History;
            Held = 0;
            shares([&](std::uint64_t pixel, double weight) {
                double* cell = Cells.ForUpdate(0, pixel);
                cell[0] += weight;
                HeldSquare[Held] = cell + 1;
                HeldSum[Held++] = weight;
                cell[2] += r.Energy * weight;
            });
            return true;
        }
        // Hands the open history back to Squares, as its Add calls would have left it.
        void Release() { Squares.SetOpenSlots(OpenHistory, HeldSquare, HeldSum, Held); }
    };
    BlockWriter Writer() {
        return {CellsFor<3>(), Squares, TotalOnly, ScatterOnly, OutputNumberOfInteractions};
    }
    bool GetStopValueSource(const StopCondition& condition, StopValueSource& source) const override;
};

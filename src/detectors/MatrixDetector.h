#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "detectors/BasicDetector.h"
#include "tracer/Particle.h"

// One registration as a shared detector's thread copy queues it for the master.
struct PendingRegistration {
    double Row = 0;    // row coordinate, pixel units
    double Column = 0; // column coordinate, pixel units
    double Energy = 0; // detected energy and weight (the model applied)
    double Weight = 0;
    double Collimation = 0;
    std::uint32_t InteractionCount = 0;
    std::uint32_t Type = 0;
};

// A detector of rows x columns pixels. Its data are planes of cells (each cell a few
// doubles) that the derived classes fill in RegisterPixel.
//
// Threads: every tracer works on its own copy, which gathers registrations in blocks
// of 1000. A shared copy hands the blocks to the master; a copy of a non-shared
// detector sums them into its own planes and at the end of a batch hands over the
// cells the batch touched. The master commits under its lock strictly in batch order,
// so sums do not depend on the number of threads or their timing; later batches wait
// (moved, not copied). Handed-over buffers are recycled, so steady registration
// allocates nothing.
class MatrixDetector : public TBasicDetector {
public:
    static constexpr std::size_t BlockSize = 1000;
    // Coordinates this far outside the plane (rounding at the far edges) are clamped in.
    static constexpr double EdgeTolerance = 1e-9;

    std::uint64_t GetPixelCount() const override { return Rows * Columns; }

    // Applies the model and registers into pixels (row and column coordinates in
    // pixel units); a detector that is not transparent stops the particle.
    void Register(double row, double column, TParticle& particle, double collimation);
    // Adds a particle's weight to one pixel. Concurrent calls for distinct pixels are
    // safe (ray casting); errors for indices outside the matrix.
    virtual void RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                               double weight) = 0;

    void BeginRun(std::uint64_t firstBatch) override;
    void BeginBatch(std::uint64_t index) override;
    void EndBatch() override;
    void Flush() override;

    void PrintDetectorSummary(std::ostream& os) const override;
    // Empties the master's planes and totals, so a new calculation on this detector
    // starts from nothing.
    void ClearData();

    // A cell of the master's data, for results.
    const double* Cell(std::size_t plane, std::uint64_t pixel) const {
        const MatrixDetector& m = MasterDetector();
        return m.Cells.data() + (plane * Rows * Columns + pixel) * Fields;
    }
    std::size_t PlaneCount() const { return Planes; }

    std::uint64_t Rows = 1;
    std::uint64_t Columns = 1;
    bool SplitRegistration = false;
    bool Shared = true;

protected:
    MatrixDetector();
    // A tracer thread's copy: the configuration, and own planes when not shared.
    MatrixDetector(const MatrixDetector& other);

    // "PixelColumns" ("PixelDimensionAB"), "PixelRows" ("PixelDimensionAC"),
    // "SplitRegistration", "Shared"; errors get "MatrixDetector: " in front.
    void ReadMatrixKeys(const inifiles::TIniFileSection& section);
    // The data of the master: `planes` matrices of cells of `fields` doubles.
    void AllocateCells(std::size_t planes, std::size_t fields);
    // The cell a registration adds to (marked as touched in a non-shared copy).
    double* CellForUpdate(std::size_t plane, std::uint64_t pixel) {
        const std::uint64_t index = plane * Rows * Columns + pixel;
        if (TrackTouched && !Touched[index]) {
            Touched[index] = 1;
            TouchedList.push_back(index);
        }
        return Cells.data() + index * Fields;
    }
    bool IsSharedCopy() const { return Master != nullptr && Shared; }
    const MatrixDetector& MasterDetector() const { return Master != nullptr ? *Master : *this; }
    const DetectorTotals& Totals() const override { return MasterDetector().OwnTotals; }

    std::size_t Planes = 0;
    std::size_t Fields = 0;

private:
    static constexpr std::uint64_t NoBatch = std::numeric_limits<std::uint64_t>::max();

    // What a copy hands to the master at once.
    struct Handover {
        std::uint64_t Batch = NoBatch;
        bool Last = false; // the batch ends with this one
        std::vector<PendingRegistration> Records;
        std::vector<std::uint64_t> CellIndices;
        std::vector<double> CellValues;
        DetectorTotals Totals;
    };
    struct CommitState {
        std::mutex Lock;
        std::uint64_t NextBatch = 0;
        std::map<std::uint64_t, std::vector<Handover>> Waiting;
        std::vector<Handover> Pool;
    };

    void Commit(const PendingRegistration& record, DetectorTotals& totals);
    void CommitRecords(const std::vector<PendingRegistration>& records, DetectorTotals& totals);
    void Prefetch(const PendingRegistration& record) const;
    void CommitOwnRecords();
    void SplitIntoPixels(double row, double column, const TParticle& particle);
    void Deliver(bool last);
    // Master side, under the lock: takes `part` and leaves a recycled buffer in it.
    void Accept(Handover& part);
    void CommitHandover(Handover& part);
    void CommitWaiting(bool all);
    void Recycle(Handover&& part);

    MatrixDetector* Master = nullptr;
    std::shared_ptr<CommitState> State;
    std::vector<double> Cells;
    DetectorTotals OwnTotals;
    // A copy's open handover and batch.
    Handover Current;
    bool InBatch = false;
    std::uint64_t Batch = 0;
    bool TrackTouched = false;
    std::vector<std::uint8_t> Touched;
    std::vector<std::uint64_t> TouchedList;
    TParticle Scratch;
};

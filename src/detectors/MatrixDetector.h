#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "detectors/BasicDetector.h"
#include "detectors/DetectorModel.h"
#include "detectors/ParticleRegistrator.h"
#include "detectors/StopCondition.h"
#include "interactions/Particle.h"

// Asks for the cache line of a cell about to be written. GCC 12's dead-code
// elimination drops __builtin_prefetch from several of the commit loops, which then
// wait for memory on every registration; an asm statement stays.
inline void RequestCell(const double* cell) {
#if defined(__GNUC__) && defined(__x86_64__)
    asm volatile("prefetcht0 %0" : : "m"(*cell));
#else
    __builtin_prefetch(cell, 1);
#endif
}

// One registration as a thread's copy queues it for committing.
struct PendingRegistration {
    // The pixel it adds to (with SplitRegistration the upper left of the four it is
    // shared among), worked out by the registering thread, not the committing one.
    std::uint64_t Pixel = 0;
    double Row = 0;    // row coordinate, pixel units (SplitRegistration shares by them)
    double Column = 0; // column coordinate, pixel units
    double Energy = 0; // detected energy and weight (the model applied)
    double Weight = 0;
    // Square counts sum a history's registrations first (HistorySquares).
    std::uint64_t History = HistorySquares::NoHistory;
    std::uint32_t InteractionCount = 0;
};

// A detector of rows x columns pixels. Its data are planes of cells (each cell a few
// doubles) that the derived classes fill in RegisterPixel.
//
// Threads: every tracer works on its own copy, which gathers registrations in blocks
// of 1000. A shared copy hands the blocks to the master; a copy of a non-shared
// detector sums them into its own planes and at the end of a batch hands over the
// cells the batch touched. The master queues them under its lock strictly in batch
// order, so sums do not depend on the number of threads or their timing; later batches
// wait (moved, not copied). One thread at a time commits the queue, outside the lock.
// Handed-over buffers are recycled, so steady registration allocates nothing.
class MatrixDetector : public TBasicDetector {
public:
    static constexpr std::size_t BlockSize = 1000;
    // Cells wider than this are handed over field by field, without their zeros.
    static constexpr std::size_t DenseFields = 8;
    // Coordinates this far outside the plane (rounding at the far edges) are clamped in.
    static constexpr double EdgeTolerance = 1e-9;

    std::uint64_t GetPixelCount() const override { return Rows * Columns; }

    // Applies the model and registers into pixels (row and column coordinates in
    // pixel units); a detector that is not transparent stops the particle.
    // Inline: the tracer calls it for every particle that reaches a detector.
    void Register(double row, double column, TParticle& particle, double collimation);
    // Register without the model: the detected energy and weight are given.
    void Queue(double row, double column, TParticle& particle, double energy, double weight);
    // Adds a particle's weight to one pixel. Concurrent calls for distinct pixels are
    // safe (ray casting); errors for indices outside the matrix.
    virtual void RegisterPixel(std::uint64_t row, std::uint64_t column, const TParticle& particle,
                               double weight) = 0;

    void BeginRun(std::uint64_t firstBatch) override;
    void BeginBatch(std::uint64_t index) override;
    void EndBatch() override;
    void Flush() override;
    bool CanForwardHandovers() const override { return true; }
    void ForwardHandovers(HandoverSink sink) override;
    void TakeForwarded(std::string_view bytes) override;

    void PrintDetectorSummary(std::ostream& os) const override;
    // The master's sums: rows, columns, planes, fields per cell, totals count and
    // extra count (u64), then the cells, the totals and the extra cells (doubles).
    // Reading requires the same dimensions.
    void InternalWrite(std::ostream& stream) override;
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;
    // The bytes InternalWrite writes.
    std::uint64_t MatrixStateSize();

    // Stop conditions, judged on the master's committed data.
    bool HasStopConditions() const override { return !StopConditions.empty(); }
    bool StopConditionsMet() const override;
    std::string StopConditionStatus() const override;
    bool IsStopConditionApplicable(const StopCondition& condition) const;
    bool IsStopConditionMet(const StopCondition& condition) const;
    // The condition's statistic over its pixels; NaN when it has none (or SNR one).
    double StopConditionValue(const StopCondition& condition) const;
    std::vector<StopCondition> StopConditions;

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
    // Where a stop condition's values are: the plane (plus a second one, for Total),
    // and the fields of count, square count and energy in a cell (-1: not kept).
    struct StopValueSource {
        int Plane = -1;
        int PlusPlane = -1;
        int CountField = -1;
        int SquareField = -1;
        int EnergyField = -1;
    };
    // False when the detector keeps no data for the condition's class.
    virtual bool GetStopValueSource(const StopCondition& /*condition*/, StopValueSource& /*source*/) const {
        return false;
    }
    // Calls add(plane) for each plane of cells a registration belongs to, where plane
    // 0 holds the primary particles (all with TotalOnly; none with ScatterOnly), 1 the
    // scattered ones and 1 + k those scattered k times.
    template <class Add> void ForEachClassPlane(std::uint32_t interactions, Add add) const {
        ForEachClassPlane(TotalOnly, ScatterOnly, OutputNumberOfInteractions, interactions, add);
    }
    // The same with the keys given (copies kept in registers).
    template <class Add>
    static void ForEachClassPlane(bool totalOnly, bool scatterOnly, std::uint32_t scatterOrders,
                                  std::uint32_t interactions, Add add) {
        if (totalOnly || interactions == 0) {
            if (!scatterOnly)
                add(std::size_t(0));
            return;
        }
        add(std::size_t(1));
        if (interactions <= scatterOrders)
            add(std::size_t(1 + interactions));
    }
    // The planes holding a condition's class (laid out as for ForEachClassPlane); Total
    // is primary plus scattered. False when the class is not kept.
    bool ClassPlanes(const StopCondition& condition, int& plane, int& plusPlane) const;
    // Once the configuration is complete: "MatrixDetector: Invalid stop condition(s):\n"
    // and the conditions that are not applicable, one per line.
    void CheckStopConditions() const;

    // Derived classes commit blocks through CommitInOrder, which inlines the
    // `Prefetch(pixel, interactions)` and `Add(pixel, record, weight)` of their
    // `Writer()`: one virtual call per block instead of one per pixel.
    virtual void CommitRecords(const PendingRegistration* records, std::size_t count,
                               DetectorTotals& totals) = 0;
    template <class Detector>
    static void CommitInOrder(Detector& detector, const PendingRegistration* records, std::size_t count,
                              DetectorTotals& totals);
    template <bool split, class Detector>
    static void CommitBlock(Detector& detector, const PendingRegistration* records, std::size_t count,
                            DetectorTotals& totals);
    // How many records ahead the commit requests their cells.
    static constexpr std::size_t CommitAhead = 64;

    // The cells of `fields` doubles a block is committed to, copied into a writer's
    // locals: were they read from the detector, every store into a cell (and the
    // touched list's growth) would have them read again.
    template <std::size_t fields> struct CellWriter {
        MatrixDetector* Owner;
        double* Cells;
        std::uint64_t PlanePixels;
        std::size_t PrefetchSpan;
        bool Track;

        // The cell a registration adds to. A non-shared copy lists the cells its batch
        // touched: a cell whose count is still zero may be new to the list (a repeat in
        // the list only hands over zeros), which spares a separate map of touched cells.
        double* ForUpdate(std::size_t plane, std::uint64_t pixel) const {
            const std::uint64_t index = plane * PlanePixels + pixel;
            double* cell = Cells + index * fields;
            if (Track && cell[0] == 0)
                Owner->TouchedList.push_back(index);
            return cell;
        }
        // Requests a cell, with SplitRegistration also its right neighbour: both ends, as
        // they may straddle two cache lines.
        void Prefetch(std::size_t plane, std::uint64_t pixel) const {
            const double* first = Cells + (plane * PlanePixels + pixel) * fields;
            RequestCell(first);
            if (PrefetchSpan > 1)
                RequestCell(first + PrefetchSpan - 1);
        }
    };
    template <std::size_t fields> CellWriter<fields> CellsFor() {
        return {this, Cells.data(), PlanePixels, PrefetchSpan, TrackTouched};
    }
    // The cell a registration adds to, for cells whose size is known only at run time
    // (see CellWriter::ForUpdate). Wide cells (spectra) list the fields a registration
    // changes instead (FieldForUpdate), as handing whole cells over would cost more
    // than registering.
    double* CellForUpdate(std::size_t plane, std::uint64_t pixel) {
        const std::uint64_t index = plane * PlanePixels + pixel;
        double* cell = Cells.data() + index * Fields;
        if (TrackTouched && Fields <= DenseFields && cell[0] == 0)
            TouchedList.push_back(index);
        return cell;
    }
    double* FieldForUpdate(double* field) {
        if (TrackTouched && Fields > DenseFields && *field == 0)
            TouchedFields.push_back(std::uint64_t(field - Cells.data()));
        return field;
    }
    void PrefetchCell(std::size_t plane, std::uint64_t pixel) const {
        RequestCell(Cells.data() + (plane * PlanePixels + pixel) * Fields);
    }
    bool IsSharedCopy() const { return Master != nullptr && Shared; }
    bool IsCopy() const { return Master != nullptr; }
    const MatrixDetector& MasterDetector() const { return Master != nullptr ? *Master : *this; }
    const DetectorTotals& Totals() const override { return MasterDetector().OwnTotals; }

    // A copy hands what its registrator gathered with the last part of each batch (and
    // at a Flush); false when there is nothing to hand over. The master merges the
    // parts in batch order.
    virtual bool HandOverRegistrations(std::unique_ptr<ParticleRegistrator>& /*part*/) { return false; }
    virtual void CommitRegistrations(const ParticleRegistrator& /*part*/) {}
    // Reads a forwarded part into `part` (an empty clone of the registrator when null).
    virtual void ReadRegistrations(std::istream& /*stream*/, std::uint64_t /*size*/,
                                   std::unique_ptr<ParticleRegistrator>& /*part*/) {}
    // Data a non-shared copy keeps outside its pixels (whole-detector cells): handed
    // over with the last part of each batch, added by the master.
    virtual bool HandOverExtra(std::vector<double>& /*into*/) { return false; }
    // The master's sums beside the pixels' (whole-detector cells), saved with them.
    virtual std::vector<double>* ExtraCells() { return nullptr; }
    virtual void CommitExtra(const std::vector<double>& /*part*/) {}

    // Per-history square counts of the registrations this object commits: of the
    // pixels' cells, and apart from them (a history scores one slot of each, mostly) of
    // the totals.
    HistorySquares Squares;
    HistorySquares TotalSquares;
    // Completes the open history: its registrations are all committed.
    virtual void CloseHistory() {
        Squares.Close();
        TotalSquares.Close();
    }
    std::size_t Planes = 0;
    std::size_t Fields = 0;
    // Rows and Columns as doubles, for the coordinates of every registration.
    double RowLimit = 0;
    double ColumnLimit = 0;

private:
    static constexpr std::uint64_t NoBatch = std::numeric_limits<std::uint64_t>::max();

    // What a copy hands to the master at once.
    struct Handover {
        std::uint64_t Batch = NoBatch;
        bool Last = false;                        // the batch ends with this one
        std::vector<PendingRegistration> Records; // BlockSize slots (the master's: one)
        std::size_t Count = 0;                    // of them filled
        // Touched cells and their fields; for wide cells the fields that are not zero
        // (CellIndices then indexes doubles, one value each).
        std::vector<std::uint64_t> CellIndices;
        std::vector<double> CellValues;
        DetectorTotals Totals;
        // Kept when the buffer is recycled: the next hand-over reuses it.
        std::unique_ptr<ParticleRegistrator> Registrations;
        bool HasRegistrations = false;
        std::vector<double> Extra;
        bool HasExtra = false;
    };
    struct CommitState {
        std::mutex Lock;
        std::uint64_t NextBatch = 0;
        std::map<std::uint64_t, std::vector<Handover>> Waiting;
        // What can be committed, in order; a committing thread works on InCommit.
        std::vector<Handover> Ready;
        std::vector<Handover> InCommit;
        bool Committing = false;
        // A cluster worker's master forwards the hand-overs instead.
        HandoverSink Forward;
        std::condition_variable Idle;
        std::vector<Handover> Pool;
    };

    // The integer part of a checked coordinate; the far edge belongs to the last pixel.
    static std::uint64_t PixelIndex(double x, std::uint64_t count) {
        const auto index = std::uint64_t(std::int64_t(x));
        return index < count ? index : count - 1;
    }
    // Out of the way of Register: a coordinate outside [0, limit] and a full block.
    static double ClampCoordinate(double x, double limit);
    void BlockFull();
    // The pixel a registration adds to, with SplitRegistration the upper left of the
    // four it is shared among (see SplitIntoPixels).
    template <bool split> std::uint64_t FirstPixel(double row, double column) const {
        std::uint64_t ri = PixelIndex(row, Rows), ci = PixelIndex(column, Columns);
        if (split) {
            ri -= std::uint64_t(ri > 0) & std::uint64_t(row - double(ri) < 0.5);
            ci -= std::uint64_t(ci > 0) & std::uint64_t(column - double(ci) < 0.5);
        }
        return ri * Columns + ci;
    }
    // Queue for coordinates on or just outside an edge (clamped in; farther out an error).
    [[gnu::noinline]] void QueueAtEdge(double row, double column, TParticle& particle, double energy,
                                       double weight);
    // Fills the next record; the last one of a block hands the block on.
    void Record(std::uint64_t pixel, double row, double column, TParticle& particle, double energy,
                double weight);
    // Shares a weight bilinearly among the (up to) four pixels whose centres surround
    // the hit: add(pixel, share) for each share that is not zero.
    template <class Add> void SplitIntoPixels(double row, double column, double weight, Add add) const;
    void CommitOwnRecords();
    void Deliver(bool last);
    // Master side, under the lock: takes `part` and leaves a recycled buffer in it.
    void Accept(Handover& part);
    void QueueWaiting(bool all);
    void CommitReady(std::unique_lock<std::mutex>& guard);
    void CommitHandover(Handover& part);
    void Recycle(Handover&& part);
    // A worker's copy sends its open buffer on and empties it for reuse.
    void ForwardCurrent();
    void ReadHandover(std::string_view bytes, Handover& part);

    MatrixDetector* Master = nullptr;
    std::shared_ptr<CommitState> State;
    std::vector<double> Cells;
    DetectorTotals OwnTotals;
    // A copy's open handover and batch.
    Handover Current;
    bool InBatch = false;
    std::uint64_t Batch = 0;
    // Registrations per block: the master commits each at once.
    std::size_t BlockLimit = 1;
    bool TrackTouched = false;
    std::vector<std::uint64_t> TouchedList;
    std::vector<std::uint64_t> TouchedFields;
    std::uint64_t PlanePixels = 0;
    std::size_t PrefetchSpan = 1; // doubles
};

inline void MatrixDetector::Register(double row, double column, TParticle& particle, double collimation) {
    // The model acts on what is registered, not on the particle, which goes on
    // unchanged through a transparent detector.
    double energy = particle.Energy, weight = particle.Weight;
    if (!Model->IsIdeal())
        Model->Apply(particle.Type, energy, weight, collimation);
    Queue(row, column, particle, energy, weight);
}

inline void MatrixDetector::Queue(double row, double column, TParticle& particle, double energy,
                                  double weight) {
    // By value: coordinates whose addresses were taken would go through memory on every
    // registration, only to be read back at once. Hits at the edges go out of line, so
    // that the common case calls nothing before its block is full.
    if (!(row >= 0 && row < RowLimit && column >= 0 && column < ColumnLimit)) {
        QueueAtEdge(row, column, particle, energy, weight);
        return;
    }
    const std::uint64_t pixel =
        SplitRegistration ? FirstPixel<true>(row, column)
                          : std::uint64_t(std::int64_t(row)) * Columns + std::uint64_t(std::int64_t(column));
    Record(pixel, row, column, particle, energy, weight);
}

inline void MatrixDetector::Record(std::uint64_t pixel, double row, double column, TParticle& particle,
                                   double energy, double weight) {
    PendingRegistration& record = Current.Records[Current.Count];
    record.Pixel = pixel;
    record.Row = row;
    record.Column = column;
    record.Energy = energy;
    record.Weight = weight;
    record.History = particle.History;
    record.InteractionCount = particle.InteractionCount;
    if (!Transparent)
        particle.Status = StatusRegistered;
    // Copies gather blocks: a shared copy hands them over, a non-shared one sums them
    // into its own planes; either way they are committed a block at a time. The
    // master's blocks hold one registration.
    if (++Current.Count == BlockLimit)
        BlockFull();
}

template <class Add>
void MatrixDetector::SplitIntoPixels(double row, double column, double weight, Add add) const {
    // Which side of its pixel's centre a hit lies on is random: lookups and flags, not
    // branches that would be mispredicted every other time.
    static constexpr double Shift[2] = {0.5, -0.5};
    const std::uint64_t ri = PixelIndex(row, Rows), ci = PixelIndex(column, Columns);
    const double rf = row - double(ri), cf = column - double(ci);
    // A hit exactly at a centre (fraction 0.5) belongs wholly to that pixel.
    const bool below = rf >= 0.5, right = cf >= 0.5;
    const std::uint64_t i = ri + below, j = ci + right;
    // The share of pixel i: (fraction + 0.5) mod 1; at the outer edges the nearest
    // pixels keep it all.
    double fr = rf + Shift[below], fc = cf + Shift[right];
    if (i == 0 || i == Rows)
        fr = i == 0 ? 1 : 0;
    if (j == 0 || j == Columns)
        fc = j == 0 ? 1 : 0;
    if (i > 0) {
        const double wa = (1 - fr) * weight;
        if (j > 0 && wa * (1 - fc) != 0)
            add((i - 1) * Columns + j - 1, (1 - fc) * wa);
        if (j < Columns && wa * fc != 0)
            add((i - 1) * Columns + j, fc * wa);
    }
    if (i < Rows) {
        const double wb = fr * weight;
        if (j > 0 && wb * (1 - fc) != 0)
            add(i * Columns + j - 1, (1 - fc) * wb);
        if (j < Columns && wb * fc != 0)
            add(i * Columns + j, fc * wb);
    }
}

// Random pixels miss the cache: the cells of later records are requested while the
// current one is added, so that the misses overlap. Totals take the whole weight.
template <class Detector>
void MatrixDetector::CommitInOrder(Detector& detector, const PendingRegistration* records, std::size_t count,
                                   DetectorTotals& totals) {
    if (detector.SplitRegistration)
        CommitBlock<true>(detector, records, count, totals);
    else
        CommitBlock<false>(detector, records, count, totals);
}

template <bool split, class Detector>
void MatrixDetector::CommitBlock(Detector& detector, const PendingRegistration* records, std::size_t count,
                                 DetectorTotals& totals) {
    const std::uint64_t columns = detector.Columns, lastRow = detector.PlanePixels - columns;
    auto writer = detector.Writer();
    const auto request = [&](std::size_t k) {
        const PendingRegistration& r = records[k];
        writer.Prefetch(r.Pixel, r.InteractionCount);
        if (split && r.Pixel < lastRow)
            writer.Prefetch(r.Pixel + columns, r.InteractionCount);
    };
    // Calls add(pixel, weight) for each share of a registration.
    const auto forEachShare = [&](const PendingRegistration& r, auto add) {
        if (split)
            detector.SplitIntoPixels(r.Row, r.Column, r.Weight, add);
        else
            add(r.Pixel, r.Weight);
    };
    for (std::size_t k = 0; k < CommitAhead && k < count; ++k)
        request(k);
    const bool totalOnly = detector.TotalOnly;
    double* primary = totals.Values.data();
    HistorySquares& squares = detector.TotalSquares;
    std::size_t k = 0;
    while (k < count) {
        // Most records are of particles that did not interact (all with TotalOnly), one
        // history each: their totals are summed in registers, as AddToTotals would.
        // The writer holds its own bookkeeping of histories in registers too.
        if (squares.OnlyAt(primary + 2) && writer.Hold()) {
            double sumCount = primary[0], sumEnergy = primary[1], sumSquare = primary[2];
            std::uint64_t open = squares.OpenHistory();
            double openSum = squares.OpenSum();
            for (; k < count; ++k) {
                const PendingRegistration& r = records[k];
                if (!(totalOnly || r.InteractionCount == 0) || r.History == HistorySquares::NoHistory)
                    break;
                if (!writer.Primary(r, [&](auto add) { forEachShare(r, add); }))
                    break;
                if (k + CommitAhead < count)
                    request(k + CommitAhead);
                sumCount += r.Weight;
                sumEnergy += r.Energy * r.Weight;
                if (r.History != open) {
                    if (open != HistorySquares::NoHistory)
                        sumSquare += openSum * openSum;
                    open = r.History;
                    openSum = r.Weight;
                } else {
                    openSum += r.Weight;
                }
            }
            primary[0] = sumCount;
            primary[1] = sumEnergy;
            primary[2] = sumSquare;
            squares.Resume(open, primary + 2, openSum);
            writer.Release();
            if (k == count)
                return;
        }
        if (k + CommitAhead < count)
            request(k + CommitAhead);
        const PendingRegistration& r = records[k];
        detector.AddToTotals(totals, squares, r.History, r.InteractionCount, r.Energy, r.Weight);
        forEachShare(r, [&](std::uint64_t pixel, double weight) { writer.Add(pixel, r, weight); });
        ++k;
    }
}

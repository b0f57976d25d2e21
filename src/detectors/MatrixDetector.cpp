#include "detectors/MatrixDetector.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "detectors/DetectorModel.h"
#include "inifiles/IniValues.h"

namespace {

// Clamps rounding at the edges into [0, count]; farther outside is an error.
double CheckedCoordinate(double x, std::uint64_t count) {
    const double n = double(count);
    if (x >= 0 && x <= n)
        return x;
    if (x < 0 && x >= -MatrixDetector::EdgeTolerance)
        return 0;
    if (x > n && x <= n + MatrixDetector::EdgeTolerance)
        return n;
    throw std::runtime_error("Invalid array index!");
}

// Integer part (the far edge belongs to the last pixel) and fraction in [0, 1].
std::uint64_t PixelIndex(double x, std::uint64_t count) {
    const auto index = std::uint64_t(x);
    return index < count ? index : count - 1;
}

} // namespace

MatrixDetector::MatrixDetector() : State(std::make_shared<CommitState>()) {}

MatrixDetector::MatrixDetector(const MatrixDetector& other)
    : TBasicDetector(other), Rows(other.Rows), Columns(other.Columns),
      SplitRegistration(other.SplitRegistration), Shared(other.Shared), Planes(other.Planes),
      Fields(other.Fields),
      Master(other.Master != nullptr ? other.Master : const_cast<MatrixDetector*>(&other)),
      State(other.State) {
    Current.Totals.Resize(TotalsClasses());
    Current.Records.reserve(BlockSize);
    if (Shared)
        return;
    AllocateCells(Planes, Fields);
    TrackTouched = true;
    Touched.assign(Planes * Rows * Columns, 0);
}

void MatrixDetector::ReadMatrixKeys(const inifiles::TIniFileSection& section) {
    try {
        // Of each pair the later key in the section wins.
        for (std::size_t i = 0; i < section.VariableCount(); ++i) {
            const inifiles::TIniFileVariable& v = section.Variable(i);
            if (v.NameEquals("PixelDimensionAB") || v.NameEquals("PixelColumns"))
                inifiles::GetValue(v, Columns);
            if (v.NameEquals("PixelDimensionAC") || v.NameEquals("PixelRows"))
                inifiles::GetValue(v, Rows);
        }
        inifiles::ReadOptional(section, "SplitRegistration", SplitRegistration);
        inifiles::ReadOptional(section, "Shared", Shared);
        if (section.HasVariable("StopCondition"))
            throw std::runtime_error("StopCondition not supported by this version");
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("MatrixDetector: ") + e.what());
    }
}

void MatrixDetector::AllocateCells(std::size_t planes, std::size_t fields) {
    Planes = planes;
    Fields = fields;
    Cells.assign(planes * Rows * Columns * fields, 0.0);
    OwnTotals.Resize(TotalsClasses());
}

void MatrixDetector::ClearData() {
    std::fill(Cells.begin(), Cells.end(), 0.0);
    OwnTotals.Clear();
}

void MatrixDetector::Register(double row, double column, TParticle& particle, double collimation) {
    PendingRegistration record;
    record.Row = CheckedCoordinate(row, Rows);
    record.Column = CheckedCoordinate(column, Columns);
    // The model acts on what is registered, not on the particle, which goes on
    // unchanged through a transparent detector.
    record.Energy = particle.Energy;
    record.Weight = particle.Weight;
    if (!Model->IsIdeal())
        Model->Apply(particle.Type, record.Energy, record.Weight, collimation);
    record.Collimation = collimation;
    record.InteractionCount = particle.InteractionCount;
    record.Type = particle.Type;
    if (Master == nullptr) {
        Commit(record, OwnTotals);
    } else {
        // Copies gather blocks: a shared copy hands them over, a non-shared one sums
        // them into its own planes; either way they are committed a block at a time.
        Current.Records.push_back(record);
        if (Current.Records.size() >= BlockSize) {
            if (Shared)
                Deliver(false);
            else
                CommitOwnRecords();
        }
    }
    if (!Transparent)
        particle.Status = StatusRegistered;
}

void MatrixDetector::Commit(const PendingRegistration& record, DetectorTotals& totals) {
    AddToTotals(totals, record.InteractionCount, record.Energy, record.Weight);
    Scratch.Type = record.Type;
    Scratch.Energy = record.Energy;
    Scratch.Weight = record.Weight;
    Scratch.InteractionCount = record.InteractionCount;
    if (SplitRegistration)
        SplitIntoPixels(record.Row, record.Column, Scratch);
    else
        RegisterPixel(PixelIndex(record.Row, Rows), PixelIndex(record.Column, Columns), Scratch,
                      record.Weight);
}

// Random pixels miss the cache: the cells of later records are requested while the
// current one is added, so the misses overlap.
void MatrixDetector::CommitRecords(const std::vector<PendingRegistration>& records, DetectorTotals& totals) {
    const std::size_t ahead = 32, n = records.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (k + ahead < n)
            Prefetch(records[k + ahead]);
        Commit(records[k], totals);
    }
}

void MatrixDetector::Prefetch(const PendingRegistration& record) const {
    const std::uint64_t pixels = Rows * Columns;
    const std::uint64_t pixel = PixelIndex(record.Row, Rows) * Columns + PixelIndex(record.Column, Columns);
    const double* cells = Cells.data();
    __builtin_prefetch(cells + pixel * Fields, 1);
    const std::uint32_t k = record.InteractionCount;
    if (k > 0 && Planes > 1) {
        __builtin_prefetch(cells + (pixels + pixel) * Fields, 1);
        if (1 + k < Planes)
            __builtin_prefetch(cells + ((1 + k) * pixels + pixel) * Fields, 1);
    }
    if (TrackTouched)
        __builtin_prefetch(Touched.data() + pixel, 1);
}

void MatrixDetector::CommitOwnRecords() {
    CommitRecords(Current.Records, Current.Totals);
    Current.Records.clear();
}

// Shares the weight bilinearly among the (up to) four pixels whose centres surround
// the hit; at the outer edges the nearest pixels keep it all.
void MatrixDetector::SplitIntoPixels(double row, double column, const TParticle& particle) {
    const std::uint64_t ri = PixelIndex(row, Rows), ci = PixelIndex(column, Columns);
    const double rf = row - double(ri), cf = column - double(ci);
    // A hit exactly at a centre (fraction 0.5) belongs wholly to that pixel.
    const std::uint64_t i = ri + (rf >= 0.5 ? 1 : 0), j = ci + (cf >= 0.5 ? 1 : 0);
    // The share of pixel i: (fraction + 0.5) mod 1.
    const double fr = i == 0 ? 1 : i < Rows ? (rf >= 0.5 ? rf - 0.5 : rf + 0.5) : 0;
    const double fc = j == 0 ? 1 : j < Columns ? (cf >= 0.5 ? cf - 0.5 : cf + 0.5) : 0;
    const double w = particle.Weight;
    if (i > 0) {
        const double wa = (1 - fr) * w;
        if (j > 0 && wa * (1 - fc) != 0)
            RegisterPixel(i - 1, j - 1, particle, (1 - fc) * wa);
        if (j < Columns && wa * fc != 0)
            RegisterPixel(i - 1, j, particle, fc * wa);
    }
    if (i < Rows) {
        const double wb = fr * w;
        if (j > 0 && wb * (1 - fc) != 0)
            RegisterPixel(i, j - 1, particle, (1 - fc) * wb);
        if (j < Columns && wb * fc != 0)
            RegisterPixel(i, j, particle, fc * wb);
    }
}

void MatrixDetector::BeginRun(std::uint64_t firstBatch) {
    if (Master != nullptr)
        return;
    std::lock_guard<std::mutex> guard(State->Lock);
    State->NextBatch = firstBatch;
}

void MatrixDetector::BeginBatch(std::uint64_t index) {
    if (Master == nullptr)
        return;
    if (InBatch)
        Deliver(true);
    InBatch = true;
    Batch = index;
}

void MatrixDetector::EndBatch() {
    if (Master == nullptr || !InBatch)
        return;
    Deliver(true);
    InBatch = false;
}

void MatrixDetector::Flush() {
    if (Master != nullptr) {
        Deliver(InBatch);
        InBatch = false;
        return;
    }
    std::lock_guard<std::mutex> guard(State->Lock);
    CommitWaiting(true);
}

// A copy hands its open buffer over and continues with a recycled one.
void MatrixDetector::Deliver(bool last) {
    if (!Shared) {
        CommitOwnRecords();
        Current.CellIndices.clear();
        Current.CellValues.clear();
        for (const std::uint64_t index : TouchedList) {
            double* cell = Cells.data() + index * Fields;
            Current.CellIndices.push_back(index);
            for (std::size_t f = 0; f < Fields; ++f) {
                Current.CellValues.push_back(cell[f]);
                cell[f] = 0;
            }
            Touched[index] = 0;
        }
        TouchedList.clear();
    }
    Current.Batch = InBatch ? Batch : NoBatch;
    Current.Last = last;
    {
        std::lock_guard<std::mutex> guard(State->Lock);
        Master->Accept(Current);
    }
    Current.Totals.Resize(TotalsClasses());
    Current.Records.reserve(BlockSize);
}

void MatrixDetector::Accept(Handover& part) {
    Handover incoming = std::move(part);
    part = Handover();
    if (!State->Pool.empty()) {
        part = std::move(State->Pool.back());
        State->Pool.pop_back();
    }
    CommitState& s = *State;
    // Unordered hand-overs (no batch marked) and stragglers of batches already
    // closed by a Flush are committed at once.
    if (incoming.Batch == NoBatch || incoming.Batch < s.NextBatch) {
        CommitHandover(incoming);
        return;
    }
    if (incoming.Batch > s.NextBatch) {
        s.Waiting[incoming.Batch].push_back(std::move(incoming));
        return;
    }
    const bool last = incoming.Last;
    CommitHandover(incoming);
    if (!last)
        return;
    ++s.NextBatch;
    CommitWaiting(false);
}

// Commits waiting batches in order: those that can go next (all: everything).
void MatrixDetector::CommitWaiting(bool all) {
    CommitState& s = *State;
    while (!s.Waiting.empty()) {
        auto first = s.Waiting.begin();
        if (!all && first->first != s.NextBatch)
            return;
        bool ended = false;
        for (Handover& part : first->second) {
            ended = ended || part.Last;
            CommitHandover(part);
        }
        const std::uint64_t batch = first->first;
        s.Waiting.erase(first);
        if (!ended && !all)
            return;
        s.NextBatch = batch + 1;
    }
}

void MatrixDetector::CommitHandover(Handover& part) {
    CommitRecords(part.Records, OwnTotals);
    const std::size_t cells = part.CellIndices.size();
    for (std::size_t k = 0; k < cells; ++k) {
        if (k + 32 < cells)
            __builtin_prefetch(Cells.data() + part.CellIndices[k + 32] * Fields, 1);
        double* cell = Cells.data() + part.CellIndices[k] * Fields;
        const double* values = part.CellValues.data() + k * Fields;
        for (std::size_t f = 0; f < Fields; ++f)
            cell[f] += values[f];
    }
    OwnTotals.Merge(part.Totals);
    Recycle(std::move(part));
}

void MatrixDetector::Recycle(Handover&& part) {
    part.Records.clear();
    part.CellIndices.clear();
    part.CellValues.clear();
    part.Totals.Clear();
    State->Pool.push_back(std::move(part));
}

void MatrixDetector::PrintDetectorSummary(std::ostream& os) const {
    TBasicDetector::PrintDetectorSummary(os);
    os << "   Shared: " << int(Shared) << "\n";
    os << "   SplitRegistration: " << int(SplitRegistration) << "\n";
    if (IsSharedCopy())
        os << "   Shared Detector\n";
}

#include "detectors/MatrixDetector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "datafiles/ObjectIO.h"
#include "detectors/DetectorModel.h"
#include "inifiles/IniValues.h"

MatrixDetector::MatrixDetector() : State(std::make_shared<CommitState>()) {
    // The master commits each registration at once, from a block of one.
    Current.Records.resize(1);
}

MatrixDetector::MatrixDetector(const MatrixDetector& other)
    : TBasicDetector(other), Rows(other.Rows), Columns(other.Columns),
      SplitRegistration(other.SplitRegistration), Shared(other.Shared), Planes(other.Planes),
      Fields(other.Fields),
      Master(other.Master != nullptr ? other.Master : const_cast<MatrixDetector*>(&other)),
      State(other.State) {
    Current.Totals.Resize(TotalsClasses());
    Current.Records.resize(BlockSize);
    BlockLimit = BlockSize;
    if (Shared) {
        PlanePixels = other.PlanePixels;
        PrefetchSpan = other.PrefetchSpan;
        RowLimit = other.RowLimit;
        ColumnLimit = other.ColumnLimit;
        return;
    }
    AllocateCells(Planes, Fields);
    TrackTouched = true;
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
        for (std::size_t i = 0; i < section.VariableCount(); ++i)
            if (section.Variable(i).NameEquals("StopCondition"))
                StopConditions.push_back(StopCondition::Parse(section.Variable(i).GetValue()));
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("MatrixDetector: ") + e.what());
    }
}

void MatrixDetector::AllocateCells(std::size_t planes, std::size_t fields) {
    Planes = planes;
    Fields = fields;
    PlanePixels = Rows * Columns;
    PrefetchSpan = (SplitRegistration ? 2 : 1) * fields;
    RowLimit = double(Rows);
    ColumnLimit = double(Columns);
    // A mistyped pitch or pixel count asks for more than the machine has: say so in the
    // user's terms rather than as an allocation failure or a size wrapped around.
    // Copies of a detector that is not shared keep cells of their own.
    const std::uint64_t perPixel = planes * fields;
    const std::uint64_t limit = std::min<std::uint64_t>(Cells.max_size(), DoublesPerCopy(!Shared));
    const auto tooLarge = [&] {
        return std::runtime_error("MatrixDetector: Not enough memory for " + std::to_string(Rows) + " rows x " +
                                  std::to_string(Columns) + " columns of " + std::to_string(8 * perPixel) +
                                  "-byte pixels" + (Shared ? "" : " (each tracer thread keeps a copy)"));
    };
    if (Rows > Cells.max_size() / Columns || PlanePixels > (limit - fields) / perPixel)
        throw tooLarge();
    try {
        // A cell of slack: prefetching the right neighbour of the last pixel stays inside.
        Cells.assign(PlanePixels * perPixel + fields, 0.0);
    } catch (const std::bad_alloc&) {
        throw tooLarge();
    }
    OwnTotals.Resize(TotalsClasses());
}

void MatrixDetector::ClearData() {
    std::fill(Cells.begin(), Cells.end(), 0.0);
    OwnTotals.Clear();
}

void MatrixDetector::InternalWrite(std::ostream& stream) {
    // Only the master holds the sums; a run saves between batches, when every copy has
    // handed over.
    if (Master != nullptr)
        throw std::runtime_error("MatrixDetector: a tracer's copy has no state to save");
    std::vector<double>* extra = ExtraCells();
    for (const std::uint64_t n : {Rows, Columns, std::uint64_t(Planes), std::uint64_t(Fields),
                                  std::uint64_t(OwnTotals.Values.size()),
                                  std::uint64_t(extra ? extra->size() : 0)})
        WriteU64(stream, n);
    WriteDoubles(stream, Cells.data(), Planes * PlanePixels * Fields);
    WriteDoubles(stream, OwnTotals.Values.data(), OwnTotals.Values.size());
    if (extra)
        WriteDoubles(stream, extra->data(), extra->size());
}

std::uint64_t MatrixDetector::MatrixStateSize() {
    const std::vector<double>* extra = ExtraCells();
    const std::uint64_t doubles =
        Planes * PlanePixels * Fields + OwnTotals.Values.size() + (extra ? extra->size() : 0);
    return 6 * 8 + 8 * doubles;
}

void MatrixDetector::InternalRead(std::istream& stream, std::uint64_t payloadSize) {
    std::vector<double>* extra = ExtraCells();
    const std::uint64_t expected[] = {Rows, Columns, std::uint64_t(Planes), std::uint64_t(Fields),
                                      std::uint64_t(OwnTotals.Values.size()),
                                      std::uint64_t(extra ? extra->size() : 0)};
    if (Master != nullptr || payloadSize < sizeof expected)
        throw std::runtime_error("MatrixDetector: saved state does not fit");
    for (const std::uint64_t n : expected)
        if (ReadU64(stream) != n)
            throw std::runtime_error("MatrixDetector: saved state has other dimensions");
    const std::uint64_t cells = Planes * PlanePixels * Fields;
    // Sizes checked before anything is read into the planes; what follows belongs to
    // the derived class.
    if (payloadSize < MatrixStateSize())
        throw std::runtime_error("MatrixDetector: saved state has the wrong size");
    ReadDoubles(stream, Cells.data(), cells);
    ReadDoubles(stream, OwnTotals.Values.data(), OwnTotals.Values.size());
    if (extra)
        ReadDoubles(stream, extra->data(), extra->size());
}

bool MatrixDetector::ClassPlanes(const StopCondition& condition, int& plane, int& plusPlane) const {
    plusPlane = -1;
    if (TotalOnly) {
        plane = 0;
        return condition.Class == StopCondition::Total;
    }
    switch (condition.Class) {
    case StopCondition::Total:
        plane = 0;
        plusPlane = 1;
        return !ScatterOnly;
    case StopCondition::Primary:
        plane = 0;
        return !ScatterOnly;
    case StopCondition::Scatter:
        plane = condition.ScatterOrder == 0 ? 1 : 1 + int(condition.ScatterOrder);
        return condition.ScatterOrder <= OutputNumberOfInteractions;
    }
    return false;
}

bool MatrixDetector::IsStopConditionApplicable(const StopCondition& c) const {
    if (c.FirstRow >= Rows || c.FirstColumn >= Columns || c.ScatterOrder > OutputNumberOfInteractions)
        return false;
    if ((ScatterOnly && c.Class != StopCondition::Scatter) || (TotalOnly && c.Class != StopCondition::Total))
        return false;
    StopValueSource source;
    if (!GetStopValueSource(c, source))
        return false;
    switch (c.Field) {
    case StopCondition::Error:
        return source.CountField >= 0 && source.SquareField >= 0;
    case StopCondition::Count:
        return source.CountField >= 0;
    case StopCondition::Energy:
        return source.EnergyField >= 0;
    }
    return false;
}

void MatrixDetector::CheckStopConditions() const {
    std::string invalid;
    for (const StopCondition& c : StopConditions)
        if (!IsStopConditionApplicable(c))
            invalid += c.ToString() + "\n";
    if (!invalid.empty())
        throw std::runtime_error("MatrixDetector: Invalid stop condition(s):\n" + invalid);
}

double MatrixDetector::StopConditionValue(const StopCondition& c) const {
    StopValueSource source;
    if (!IsStopConditionApplicable(c) || !GetStopValueSource(c, source))
        return std::numeric_limits<double>::quiet_NaN();
    const std::uint64_t lastRow = std::min(c.LastRow, Rows - 1),
                        lastColumn = std::min(c.LastColumn, Columns - 1);
    std::vector<double> values;
    values.reserve((lastRow - c.FirstRow + 1) * (lastColumn - c.FirstColumn + 1));
    for (std::uint64_t row = c.FirstRow; row <= lastRow; ++row) {
        for (std::uint64_t column = c.FirstColumn; column <= lastColumn; ++column) {
            const std::uint64_t pixel = row * Columns + column;
            const double* a = Cell(std::size_t(source.Plane), pixel);
            const double* b = source.PlusPlane >= 0 ? Cell(std::size_t(source.PlusPlane), pixel) : nullptr;
            const auto field = [&](int f) { return a[f] + (b != nullptr ? b[f] : 0.0); };
            if (c.Field == StopCondition::Count) {
                values.push_back(field(source.CountField));
            } else if (c.Field == StopCondition::Energy) {
                values.push_back(field(source.EnergyField));
            } else {
                // An empty pixel has no error to speak of: as 0 it would meet the goal.
                const double count = field(source.CountField);
                if (count > 0)
                    values.push_back(std::sqrt(field(source.SquareField)) / count);
            }
        }
    }
    return StopStatistic(c.Statistic, values);
}

bool MatrixDetector::IsStopConditionMet(const StopCondition& c) const {
    const double value = StopConditionValue(c);
    return !std::isnan(value) && c.IsMetBy(value);
}

bool MatrixDetector::StopConditionsMet() const {
    if (StopConditions.empty())
        return false;
    for (const StopCondition& c : StopConditions)
        if (!IsStopConditionMet(c))
            return false;
    return true;
}

std::string MatrixDetector::StopConditionStatus() const {
    std::ostringstream os;
    for (const StopCondition& c : StopConditions) {
        const double value = StopConditionValue(c);
        os << (&c == &StopConditions.front() ? ": " : "; ") << c.ToString() << ": ";
        if (std::isnan(value))
            os << "no value";
        else
            os << value;
        os << (!std::isnan(value) && c.IsMetBy(value) ? " (met)" : " (not met)");
    }
    return os.str();
}

// Clamps rounding at the edges into [0, limit]; farther outside is an error.
double MatrixDetector::ClampCoordinate(double x, double limit) {
    if (x >= 0 && x <= limit)
        return x;
    if (x < 0 && x >= -EdgeTolerance)
        return 0;
    if (x > limit && x <= limit + EdgeTolerance)
        return limit;
    throw std::runtime_error("Invalid array index!");
}

void MatrixDetector::QueueAtEdge(double row, double column, TParticle& particle, double energy,
                                 double weight) {
    row = ClampCoordinate(row, RowLimit);
    column = ClampCoordinate(column, ColumnLimit);
    Record(SplitRegistration ? FirstPixel<true>(row, column) : FirstPixel<false>(row, column), row, column,
           particle, energy, weight);
}

void MatrixDetector::BlockFull() {
    if (Master == nullptr) {
        // Outside the tracers' batches (tools, tests), where registrations do not come
        // history by history.
        Current.Records[0].History = HistorySquares::NoHistory;
        CommitRecords(Current.Records.data(), 1, OwnTotals);
    } else if (Shared)
        Deliver(false);
    else
        CommitOwnRecords();
    Current.Count = 0;
}

void MatrixDetector::CommitOwnRecords() {
    CommitRecords(Current.Records.data(), Current.Count, Current.Totals);
    Current.Count = 0;
}

void MatrixDetector::BeginRun(std::uint64_t firstBatch) {
    if (Master != nullptr)
        return;
    std::lock_guard<std::mutex> guard(State->Lock);
    State->Order.Start(firstBatch);
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
    std::unique_lock<std::mutex> guard(State->Lock);
    State->Idle.wait(guard, [this] { return !State->Committing; });
    CommitState& s = *State;
    s.Order.ReleaseAll([&s](Handover& ready) { s.Ready.push_back(std::move(ready)); });
    CommitReady(guard);
    CloseHistory();
}

// A copy hands its open buffer over and continues with a recycled one.
void MatrixDetector::Deliver(bool last) {
    if (!Shared) {
        CommitOwnRecords();
        // Histories end with their batch; an open one must be squared while its
        // cells are still here.
        if (last || !InBatch)
            CloseHistory();
        Current.CellIndices.clear();
        Current.CellValues.clear();
        // Wide cells: the fields this batch changed, without their zeros.
        for (const std::uint64_t field : TouchedFields) {
            if (Cells[field] == 0)
                continue;
            Current.CellIndices.push_back(field);
            Current.CellValues.push_back(Cells[field]);
            Cells[field] = 0;
        }
        TouchedFields.clear();
        for (const std::uint64_t index : TouchedList) {
            double* cell = Cells.data() + index * Fields;
            Current.CellIndices.push_back(index);
            for (std::size_t f = 0; f < Fields; ++f) {
                Current.CellValues.push_back(cell[f]);
                cell[f] = 0;
            }
        }
        TouchedList.clear();
    }
    Current.Batch = InBatch ? Batch : NoBatch;
    Current.Last = last;
    Current.HasRegistrations = (last || !InBatch) && HandOverRegistrations(Current.Registrations);
    Current.HasExtra = !Shared && (last || !InBatch) && HandOverExtra(Current.Extra);
    if (State->Forward) {
        ForwardCurrent();
    } else {
        std::unique_lock<std::mutex> guard(State->Lock);
        Master->Accept(Current);
        Master->CommitReady(guard);
    }
    Current.Totals.Resize(TotalsClasses());
    Current.Records.resize(BlockSize);
}

void MatrixDetector::Accept(Handover& part) {
    CommitState& s = *State;
    Handover incoming = std::move(part);
    part = Handover();
    if (!s.Pool.empty()) {
        part = std::move(s.Pool.back());
        s.Pool.pop_back();
    }
    s.Order.Accept(incoming, [&s](Handover& ready) { s.Ready.push_back(std::move(ready)); });
}

// One thread at a time commits the ready queue, in its order, without holding the
// lock, so that the others can hand over meanwhile; it goes on while more arrives.
void MatrixDetector::CommitReady(std::unique_lock<std::mutex>& guard) {
    CommitState& s = *State;
    if (s.Committing)
        return;
    s.Committing = true;
    while (!s.Ready.empty()) {
        std::swap(s.Ready, s.InCommit);
        guard.unlock();
        for (Handover& part : s.InCommit)
            CommitHandover(part);
        guard.lock();
        for (Handover& part : s.InCommit)
            Recycle(std::move(part));
        s.InCommit.clear();
    }
    s.Committing = false;
    s.Idle.notify_all();
}

void MatrixDetector::CommitHandover(Handover& part) {
    CommitRecords(part.Records.data(), part.Count, OwnTotals);
    // A history ends with its batch; records outside batches belong to none.
    if (part.Last || part.Batch == NoBatch)
        CloseHistory();
    std::size_t cells = part.CellIndices.size();
    if (Fields > DenseFields) {
        for (std::size_t k = 0; k < cells; ++k)
            Cells[part.CellIndices[k]] += part.CellValues[k];
        cells = 0;
    }
    for (std::size_t k = 0; k < cells; ++k) {
        if (k + 32 < cells)
            RequestCell(Cells.data() + part.CellIndices[k + 32] * Fields);
        double* cell = Cells.data() + part.CellIndices[k] * Fields;
        const double* values = part.CellValues.data() + k * Fields;
        for (std::size_t f = 0; f < Fields; ++f)
            cell[f] += values[f];
    }
    OwnTotals.Merge(part.Totals);
    if (part.HasRegistrations)
        CommitRegistrations(*part.Registrations);
    if (part.HasExtra)
        CommitExtra(part.Extra);
}

void MatrixDetector::Recycle(Handover&& part) {
    part.Count = 0;
    part.CellIndices.clear();
    part.CellValues.clear();
    part.Totals.Clear();
    part.HasRegistrations = false;
    part.HasExtra = false;
    State->Pool.push_back(std::move(part));
}

void MatrixDetector::ForwardHandovers(HandoverSink sink) {
    std::lock_guard<std::mutex> guard(State->Lock);
    State->Forward = std::move(sink);
}

namespace {

template <class T> void PutArray(std::string& out, const T* data, std::size_t count) {
    const std::uint64_t n = count;
    out.append(reinterpret_cast<const char*>(&n), sizeof n);
    if (count > 0)
        out.append(reinterpret_cast<const char*>(data), count * sizeof(T));
}

// Reads what PutArray wrote into `into`, resized; the bounds checked against the message.
template <class T> void GetArray(std::string_view in, std::size_t& at, std::vector<T>& into) {
    std::uint64_t n = 0;
    if (in.size() - at < sizeof n)
        throw std::runtime_error("MatrixDetector: forwarded hand-over is truncated");
    std::memcpy(&n, in.data() + at, sizeof n);
    at += sizeof n;
    if (n > (in.size() - at) / sizeof(T))
        throw std::runtime_error("MatrixDetector: forwarded hand-over is truncated");
    into.resize(std::size_t(n));
    if (n > 0)
        std::memcpy(static_cast<void*>(into.data()), in.data() + at, std::size_t(n) * sizeof(T));
    at += std::size_t(n) * sizeof(T);
}

} // namespace

// Processes of one cluster run share the machine type, so records travel as they are
// in memory.
void MatrixDetector::ForwardCurrent() {
    std::string bytes;
    const std::uint64_t head[] = {Current.Batch, std::uint64_t(Current.Last), std::uint64_t(Current.HasExtra),
                                  std::uint64_t(Current.HasRegistrations)};
    PutArray(bytes, head, 4);
    PutArray(bytes, Current.Records.data(), Current.Count);
    PutArray(bytes, Current.CellIndices.data(), Current.CellIndices.size());
    PutArray(bytes, Current.CellValues.data(), Current.CellValues.size());
    PutArray(bytes, Current.Totals.Values.data(), Current.Totals.Values.size());
    PutArray(bytes, Current.Extra.data(), Current.HasExtra ? Current.Extra.size() : 0);
    std::string registrations;
    if (Current.HasRegistrations) {
        std::ostringstream stream;
        Current.Registrations->InternalWrite(stream);
        registrations = stream.str();
    }
    PutArray(bytes, registrations.data(), registrations.size());
    State->Forward(bytes);
    Current.Count = 0;
    Current.CellIndices.clear();
    Current.CellValues.clear();
    Current.Totals.Clear();
    Current.HasRegistrations = false;
    Current.HasExtra = false;
}

void MatrixDetector::ReadHandover(std::string_view bytes, Handover& part) {
    std::size_t at = 0;
    std::vector<std::uint64_t> head;
    GetArray(bytes, at, head);
    if (head.size() != 4)
        throw std::runtime_error("MatrixDetector: forwarded hand-over is damaged");
    part.Batch = head[0];
    part.Last = head[1] != 0;
    part.HasExtra = head[2] != 0;
    part.HasRegistrations = head[3] != 0;
    GetArray(bytes, at, part.Records);
    part.Count = part.Records.size();
    GetArray(bytes, at, part.CellIndices);
    GetArray(bytes, at, part.CellValues);
    GetArray(bytes, at, part.Totals.Values);
    GetArray(bytes, at, part.Extra);
    std::vector<char> registrations;
    GetArray(bytes, at, registrations);
    const std::size_t width = Fields > DenseFields ? 1 : Fields;
    const std::uint64_t cells = (std::uint64_t(Cells.size()) - Fields) / width;
    bool fits = part.Totals.Values.size() == OwnTotals.Values.size() &&
                part.CellValues.size() == part.CellIndices.size() * width;
    for (const std::uint64_t index : part.CellIndices)
        fits = fits && index < cells;
    if (!fits)
        throw std::runtime_error("MatrixDetector: forwarded hand-over does not fit the detector");
    if (part.HasRegistrations) {
        std::istringstream stream(std::string(registrations.begin(), registrations.end()));
        ReadRegistrations(stream, registrations.size(), part.Registrations);
    }
}

void MatrixDetector::TakeForwarded(std::string_view bytes) {
    // Into a recycled buffer, and the one Accept gives back goes back to the pool:
    // fresh buffers for every hand-over would have the allocator hand memory to the
    // system and fault it in again each time.
    Handover part;
    {
        std::lock_guard<std::mutex> guard(State->Lock);
        if (!State->Pool.empty()) {
            part = std::move(State->Pool.back());
            State->Pool.pop_back();
        }
    }
    ReadHandover(bytes, part);
    std::unique_lock<std::mutex> guard(State->Lock);
    Accept(part);
    Recycle(std::move(part));
    CommitReady(guard);
}

void MatrixDetector::PrintDetectorSummary(std::ostream& os) const {
    TBasicDetector::PrintDetectorSummary(os);
    os << "   Shared: " << int(Shared) << "\n";
    os << "   SplitRegistration: " << int(SplitRegistration) << "\n";
    for (const StopCondition& c : StopConditions)
        os << "   StopCondition: " << c.ToString() << "\n";
    if (IsSharedCopy())
        os << "   Shared Detector\n";
}

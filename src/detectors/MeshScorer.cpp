#include "detectors/MeshScorer.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "datafiles/LegacyVTK.h"
#include "datafiles/ObjectIO.h"
#include "datafiles/ResultFile.h"
#include "datafiles/Text.h"
#include "detectors/BasicDetector.h"
#include "geometry/CoordValues.h"
#include "geometry/GeometryReader.h"
#include "geometry/Placement.h"
#include "inifiles/IniValues.h"
#include "interactions/InteractionTypes.h"

using geometry::TCoord;

namespace {

const int kAllCodes[] = {0, 1, 2, 3, 4, 5, 6, 100, 101, 102, 1000, 1001};

// A word of "Interactions": a name of the interaction table (any case) or a code.
int ParseInteraction(const std::string& word) {
    for (const int code : kAllCodes)
        if (ToLower(interactions::InteractionTypeName(code)) == ToLower(word))
            return code;
    for (const int code : kAllCodes)
        if (std::to_string(code) == word)
            return code;
    throw std::runtime_error("Unknown interaction in Interactions: " + word);
}

} // namespace

MeshScorer::MeshScorer() : State(std::make_shared<CommitState>()) {
    ScoredCodes.fill(true);
}

MeshScorer::MeshScorer(const MeshScorer& other)
    : Shared(other.Shared), SaveGeometry(other.SaveGeometry), Quantities(other.Quantities),
      ScoredCodes(other.ScoredCodes), Origin(other.Origin), Bins(other.Bins), BinMin(other.BinMin),
      BinWidth(other.BinWidth), SquareField(other.SquareField), InteractionField(other.InteractionField),
      EnergyField(other.EnergyField), LossField(other.LossField), Fields(other.Fields),
      Master(other.Master != nullptr ? other.Master : const_cast<MeshScorer*>(&other)), State(other.State) {
    for (int k = 0; k < 3; ++k) {
        Edges[k] = other.Edges[k];
        Dual[k] = other.Dual[k];
        N[k] = other.N[k];
        Scale[k] = other.Scale[k];
    }
    Queue.reserve(BlockSize);
    if (!Shared)
        Sums.assign(N[0] * N[1] * N[2] * Bins * Fields, 0.0);
}

void MeshScorer::ReadDetectorKeys(const inifiles::TIniFileSection& section,
                                  const std::vector<int>& defaultCodes) {
    try {
        inifiles::ReadOptional(section, "Shared", Shared);
        inifiles::ReadOptional(section, "SaveGeometry", SaveGeometry);
        std::vector<int> codes = defaultCodes;
        if (const inifiles::TIniFileVariable* list = section.TryFindVariable("Interactions")) {
            codes.clear();
            for (const std::string& word : inifiles::Split(list->GetValue(), ",; \t", false))
                codes.push_back(ParseInteraction(word));
        }
        ScoredCodes.fill(false);
        for (const int code : codes)
            ScoredCodes[std::size_t(CodeSlot(code))] = true;
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("MeshDetector: ") + e.what());
    }
}

void MeshScorer::ReadGridKeys(const inifiles::TIniFileSection& section, const TTraceDetector& filter,
                              const geometry::TBoundingBox<double>* box) {
    try {
        TCoord<double> origin, edges[3];
        if (box != nullptr) {
            origin = box->Min;
            const TCoord<double> size = box->Max - box->Min;
            edges[0] = TCoord<double>(size.x, 0, 0);
            edges[1] = TCoord<double>(0, size.y, 0);
            edges[2] = TCoord<double>(0, 0, size.z);
        } else {
            TCoord<double> a, side1, side2, side3;
            geometry::ReadParallelogram(section, a, side1, side2);
            inifiles::GetValue(section, "Side3", side3);
            // The grid follows the placement of its corner and edges.
            const geometry::TAffineTransform placement = geometry::BuildPlacement(section, false);
            origin = placement.Apply(a);
            edges[0] = placement.Apply(a + side1) - origin;
            edges[1] = placement.Apply(a + side2) - origin;
            edges[2] = placement.Apply(a + side3) - origin;
        }
        std::uint64_t cells[3] = {1, 1, 1};
        if (const inifiles::TIniFileVariable* dimensions = section.TryFindVariable("Dimensions")) {
            std::vector<SizeType> n;
            inifiles::GetValue(*dimensions, n);
            if (n.size() != 3 || n[0] == 0 || n[1] == 0 || n[2] == 0)
                throw std::runtime_error("Dimensions must be three numbers of at least 1 (nx,ny,nz): " +
                                         dimensions->GetValue());
            std::copy(n.begin(), n.end(), cells);
        } else if (const inifiles::TIniFileVariable* pitchKey = section.TryFindVariable("Pitch")) {
            double pitch = 0;
            inifiles::GetValue(*pitchKey, pitch);
            pitch =
                inifiles::ConvertLength(pitch, pitchKey->GetLengthUnit(), inifiles::LengthUnit::Centimetre);
            if (!(pitch > 0))
                throw std::runtime_error("Pitch must be positive");
            for (int k = 0; k < 3; ++k) {
                cells[k] = std::uint64_t(std::floor(Norm(edges[k]) / pitch + 0.5));
                if (cells[k] == 0)
                    throw std::runtime_error("Pitch is larger than the box");
            }
        }
        SizeType bins = 1;
        inifiles::ReadOptional(section, "EnergyBins", bins);
        if (bins == 0)
            throw std::runtime_error("EnergyBins must be at least 1");
        if (bins > 1 && !(filter.MaxEnergy < std::numeric_limits<double>::max()))
            throw std::runtime_error("EnergyBins above 1 need a finite MaxEnergy");
        const std::pair<const char*, Quantity> switches[] = {{"Count", Count},
                                                             {"Uncertainty", Uncertainty},
                                                             {"AverageInteractions", AverageInteractions},
                                                             {"AverageEnergy", AverageEnergy},
                                                             {"EnergyLoss", EnergyLoss}};
        for (const auto& [key, quantity] : switches) {
            bool on = (Quantities & quantity) != 0;
            inifiles::ReadOptional(section, key, on);
            Quantities = on ? Quantities | quantity : Quantities & ~unsigned(quantity);
        }
        SetGrid(origin, edges, cells, bins, filter.MinEnergy, filter.MaxEnergy);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("FlexMeshDetector: ") + e.what());
    }
}

void MeshScorer::SetGrid(const TCoord<double>& origin, const TCoord<double> edges[3],
                         const std::uint64_t cells[3], std::uint64_t bins, double minEnergy,
                         double maxEnergy) {
    const double volume = Dot(edges[0], Cross(edges[1], edges[2]));
    if (!(std::fabs(volume) > 1e-12 * Norm(edges[0]) * Norm(edges[1]) * Norm(edges[2])))
        throw std::runtime_error("The box (Side1, Side2, Side3) is flat: it has no volume");
    const double limit = double(std::numeric_limits<std::uint32_t>::max());
    double total = double(bins);
    for (int k = 0; k < 3; ++k)
        total *= double(cells[k]);
    if (!(total * 5 * sizeof(double) < 1e12) || double(cells[0]) > limit || double(cells[1]) > limit ||
        double(cells[2]) > limit)
        throw std::runtime_error("The grid is too large: " + std::to_string(cells[0]) + " x " +
                                 std::to_string(cells[1]) + " x " + std::to_string(cells[2]) + " cells, " +
                                 std::to_string(bins) + " bins");
    Origin = origin;
    for (int k = 0; k < 3; ++k) {
        Edges[k] = edges[k];
        N[k] = cells[k];
        Scale[k] = double(cells[k]);
        // The dual vector of an edge gives the fraction of that edge from the corner.
        const TCoord<double> normal = Cross(edges[(k + 1) % 3], edges[(k + 2) % 3]);
        Dual[k] = normal * (1 / Dot(edges[k], normal));
    }
    Bins = bins;
    BinMin = minEnergy;
    BinWidth = bins > 1 ? (maxEnergy - minEnergy) / double(bins) : 0;
    int next = 1;
    SquareField = (Quantities & Uncertainty) ? next++ : -1;
    InteractionField = (Quantities & AverageInteractions) ? next++ : -1;
    EnergyField = (Quantities & AverageEnergy) ? next++ : -1;
    LossField = (Quantities & EnergyLoss) ? next++ : -1;
    Fields = std::size_t(next);
    Allocate();
}

void MeshScorer::Allocate() {
    Sums.assign(N[0] * N[1] * N[2] * Bins * Fields, 0.0);
}

void MeshScorer::Score(const TParticle& before, const TParticle& after, int code,
                       const TCoord<double>& where) {
    const TCoord<double> q = where - Origin;
    const double u = Dot(q, Dual[0]), v = Dot(q, Dual[1]), w = Dot(q, Dual[2]);
    if (!(u >= 0 && u < 1 && v >= 0 && v < 1 && w >= 0 && w < 1))
        return;
    // Rounding may put a point just below an edge's end into the next cell.
    const std::uint64_t i = std::min(std::uint64_t(u * Scale[0]), N[0] - 1);
    const std::uint64_t j = std::min(std::uint64_t(v * Scale[1]), N[1] - 1);
    const std::uint64_t k = std::min(std::uint64_t(w * Scale[2]), N[2] - 1);
    std::uint64_t bin = 0;
    if (Bins > 1) {
        // A bin's upper edge belongs to it, so MaxEnergy lands in the last bin.
        const double x = (before.Energy - BinMin) / BinWidth;
        const double whole = std::floor(x);
        bin = std::uint64_t(std::max(0.0, whole));
        if (bin > 0 && whole == x)
            --bin;
        bin = std::min(bin, Bins - 1);
    }
    MeshRecord r;
    r.Slot = ((k * N[1] + j) * N[0] + i) * Bins + bin;
    if (code == interactions::EventDetection) {
        r.Weight = after.Weight;
    } else {
        r.Weight = before.Weight;
        if (code == interactions::EventCreation)
            // A secondary takes its energy from where it is born; a primary brings its own.
            r.Loss = after.Sequence > 0 ? -after.Weight * after.Energy : 0.0;
        else
            r.Loss = before.Weight * before.Energy - (after.IsAlive() ? after.Weight * after.Energy : 0.0);
    }
    r.Interactions = double(after.InteractionCount);
    r.Energy = before.Energy;
    if (Master == nullptr || !Shared) {
        Add(r);
        return;
    }
    Queue.push_back(r);
    if (Queue.size() == BlockSize)
        Deliver(false);
}

void MeshScorer::Add(const MeshRecord& r) {
    double* cell = Sums.data() + r.Slot * Fields;
    cell[0] += r.Weight;
    if (SquareField >= 0)
        cell[SquareField] += r.Weight * r.Weight;
    if (InteractionField >= 0)
        cell[InteractionField] += r.Weight * r.Interactions;
    if (EnergyField >= 0)
        cell[EnergyField] += r.Weight * r.Energy;
    if (LossField >= 0)
        cell[LossField] += r.Loss;
}

// Cells are spread over a large grid: the cells of later records are requested while
// the current one is added, so that the cache misses overlap.
void MeshScorer::AddAll(const std::vector<MeshRecord>& records) {
    constexpr std::size_t ahead = 16;
    const std::size_t n = records.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (k + ahead < n)
            __builtin_prefetch(Sums.data() + records[k + ahead].Slot * Fields, 1);
        Add(records[k]);
    }
}

void MeshScorer::StartRun() {
    std::lock_guard<std::mutex> guard(State->Lock);
    std::fill(Sums.begin(), Sums.end(), 0.0);
}

void MeshScorer::BeginRun(std::uint64_t firstBatch) {
    std::lock_guard<std::mutex> guard(State->Lock);
    State->NextBatch = firstBatch;
}

void MeshScorer::BeginBatch(std::uint64_t index) {
    if (InBatch)
        Deliver(true);
    InBatch = true;
    Batch = index;
}

void MeshScorer::EndBatch() {
    if (!InBatch)
        return;
    Deliver(true);
    InBatch = false;
}

void MeshScorer::Flush() {
    if (Master == nullptr) {
        std::lock_guard<std::mutex> guard(State->Lock);
        CommitWaiting(true);
        return;
    }
    if (Shared) {
        Deliver(InBatch);
        InBatch = false;
        return;
    }
    std::lock_guard<std::mutex> guard(State->Lock);
    for (std::size_t i = 0; i < Sums.size(); ++i)
        Master->Sums[i] += Sums[i];
    std::fill(Sums.begin(), Sums.end(), 0.0);
}

void MeshScorer::WriteState(std::ostream& stream) {
    Flush();
    WriteU64(stream, Sums.size());
    WriteDoubles(stream, Sums.data(), Sums.size());
}

void MeshScorer::ReadState(std::istream& stream, std::uint64_t payloadSize) {
    if (Master != nullptr || payloadSize != 8 * (1 + std::uint64_t(Sums.size())) ||
        ReadU64(stream) != Sums.size())
        throw std::runtime_error("MeshDetector: saved state has another grid");
    ReadDoubles(stream, Sums.data(), Sums.size());
}

// A copy hands its queue over and goes on with a recycled one.
void MeshScorer::Deliver(bool last) {
    if (!Shared || Master == nullptr)
        return;
    Block block;
    block.Batch = InBatch ? Batch : NoBatch;
    block.Last = last;
    std::lock_guard<std::mutex> guard(State->Lock);
    block.Records.swap(Queue);
    if (!State->Pool.empty()) {
        Queue.swap(State->Pool.back());
        State->Pool.pop_back();
    }
    Master->Accept(block);
    if (Queue.capacity() < BlockSize)
        Queue.reserve(BlockSize);
}

void MeshScorer::Accept(Block& block) {
    CommitState& s = *State;
    auto commit = [&](Block& b) {
        AddAll(b.Records);
        b.Records.clear();
        s.Pool.push_back(std::move(b.Records));
    };
    // Unordered blocks, and stragglers of batches a Flush has closed, go at once.
    if (block.Batch == NoBatch || block.Batch < s.NextBatch) {
        commit(block);
        return;
    }
    if (block.Batch > s.NextBatch) {
        s.Waiting[block.Batch].push_back(std::move(block));
        return;
    }
    commit(block);
    if (!block.Last)
        return;
    ++s.NextBatch;
    CommitWaiting(false);
}

// Commits waiting batches in order: those that can go next (all: everything).
void MeshScorer::CommitWaiting(bool all) {
    CommitState& s = *State;
    while (!s.Waiting.empty()) {
        auto first = s.Waiting.begin();
        if (!all && first->first != s.NextBatch)
            return;
        bool ended = false;
        for (Block& b : first->second) {
            ended = ended || b.Last;
            AddAll(b.Records);
            b.Records.clear();
            s.Pool.push_back(std::move(b.Records));
        }
        const std::uint64_t batch = first->first;
        s.Waiting.erase(first);
        if (!ended && !all)
            return;
        s.NextBatch = batch + 1;
    }
}

bool MeshScorer::IsAxisAligned() const {
    return Edges[0].x > 0 && Edges[0].y == 0 && Edges[0].z == 0 && Edges[1].x == 0 && Edges[1].y > 0 &&
           Edges[1].z == 0 && Edges[2].x == 0 && Edges[2].y == 0 && Edges[2].z > 0;
}

void MeshScorer::WriteResults(const std::string& baseName, const TraceResultScales& scales,
                              bool doubleSamples) const {
    datafiles::VTKGrid grid;
    for (int k = 0; k < 3; ++k)
        grid.Dimensions[k] = N[k] + 1;
    if (IsAxisAligned() && !SaveGeometry) {
        const double corner[3] = {Origin.x, Origin.y, Origin.z};
        const double step[3] = {Edges[0].x / Scale[0], Edges[1].y / Scale[1], Edges[2].z / Scale[2]};
        std::copy(corner, corner + 3, grid.Origin);
        std::copy(step, step + 3, grid.Spacing);
    } else {
        grid.DoublePoints = doubleSamples;
        grid.Points.reserve(3 * (N[0] + 1) * (N[1] + 1) * (N[2] + 1));
        for (std::uint64_t k = 0; k <= N[2]; ++k)
            for (std::uint64_t j = 0; j <= N[1]; ++j)
                for (std::uint64_t i = 0; i <= N[0]; ++i) {
                    const TCoord<double> p = Origin + Edges[0] * (double(i) / Scale[0]) +
                                             Edges[1] * (double(j) / Scale[1]) +
                                             Edges[2] * (double(k) / Scale[2]);
                    grid.Points.insert(grid.Points.end(), {p.x, p.y, p.z});
                }
    }
    const MeshScorer& m = Master != nullptr ? *Master : *this;
    const std::size_t values = m.Sums.size() / Fields;
    std::vector<double> out(values);
    // Averages and uncertainties are relative to the count, and 0 where nothing was scored.
    auto ratio = [&](int field, bool root) {
        for (std::size_t v = 0; v < values; ++v) {
            const double* cell = m.Sums.data() + v * Fields;
            out[v] = cell[0] != 0 ? (root ? std::sqrt(cell[field]) : cell[field]) / cell[0] : 0.0;
        }
    };
    auto scaled = [&](int field, double factor) {
        for (std::size_t v = 0; v < values; ++v)
            out[v] = m.Sums[v * Fields + std::size_t(field)] * factor;
    };
    auto write = [&](const char* suffix, const char* title, const char* scalar) {
        const std::string name = baseName + suffix + ".vtk";
        datafiles::WriteReplacing(name, [&](const std::string& temporary) {
            std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
            if (!file.is_open())
                throw std::runtime_error("Couldn't open \"" + name + "\" for writing");
            datafiles::LegacyVTKWriter writer(file, title, grid,
                                              datafiles::LegacyVTKWriter::Attachment::Cells);
            writer.WriteValues(scalar, out.data(), Bins, doubleSamples);
            file.flush();
            if (!file)
                throw std::runtime_error("Error writing " + name);
        });
    };
    if (Quantities & Count) {
        scaled(0, scales.Count);
        write("_count", "Interaction Counts", "Count");
    }
    if (Quantities & Uncertainty) {
        ratio(SquareField, true);
        write("_error", "Count Uncertainty", "Uncertainty");
    }
    if (Quantities & AverageInteractions) {
        ratio(InteractionField, false);
        write("_interactions", "Average Interaction Count", "InteractionCount");
    }
    if (Quantities & AverageEnergy) {
        ratio(EnergyField, false);
        write("_meanenergy", "Average Energy", "Energy");
    }
    if (Quantities & EnergyLoss) {
        scaled(LossField, scales.Energy);
        write("_energy", "Energy Loss", "EnergyLoss");
    }
}

void MeshScorer::PrintSummary(std::ostream& os, bool doubleSamples) const {
    os << "   Shared: " << int(Shared) << "\n";
    os << "   Data Type: " << (doubleSamples ? 64 : 32) << "bit floating point\n";
    os << "   Register:" << ((Quantities & Count) ? " Count" : "")
       << ((Quantities & Uncertainty) ? " Uncertainty" : "")
       << ((Quantities & AverageInteractions) ? " AverageInteractions" : "")
       << ((Quantities & AverageEnergy) ? " AverageEnergy" : "")
       << ((Quantities & EnergyLoss) ? " EnergyLoss" : "") << " (" << Bins << " bins)\n";
    os << "   Grid: " << N[0] << " x " << N[1] << " x " << N[2] << " cells, corner " << Origin
       << " cm, edges " << Edges[0] << ", " << Edges[1] << ", " << Edges[2] << " cm\n";
    os << "   Interactions:";
    for (const int code : kAllCodes)
        if (Scores(code))
            os << " " << interactions::InteractionTypeName(code);
    os << "\n";
}

void MeshScorer::PrintResults(std::ostream& os, double particles) const {
    const MeshScorer& m = Master != nullptr ? *Master : *this;
    double count = 0, squares = 0, loss = 0;
    for (std::size_t v = 0; v < m.Sums.size(); v += Fields) {
        count += m.Sums[v];
        if (SquareField >= 0)
            squares += m.Sums[v + std::size_t(SquareField)];
        if (LossField >= 0)
            loss += m.Sums[v + std::size_t(LossField)];
    }
    PrintCountLine(os, "   Number Of Particles: ", count, squares, particles);
    if (LossField >= 0)
        PrintEnergyLine(os, "   Energy Loss: ", loss, count, particles);
}

#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "detectors/BatchOrder.h"
#include "detectors/TraceDetector.h"
#include "geometry/Coord.h"
#include "geometry/Facet.h"

namespace inifiles {
class TIniFileSection;
}

// One scored event as a tracer's copy queues it: the cell and energy bin, and what
// the event adds there.
struct MeshRecord {
    std::uint64_t Slot = 0; // cell * bins + bin
    double Weight = 0;
    double Loss = 0;
    double Interactions = 0; // interaction count after the event
    double Energy = 0;       // energy before the event
};

// The grid of a volumetric detector and its sums: a box (corner and three edges)
// cut into nx x ny x nz cells, each with `Bins` energy bins. An event falls in the
// cell of its position (outside the box: nowhere). Per cell and bin the sums are
// kept in double (a float sum stops growing at 2^24 counts); the sample type only
// decides how results are written.
//
// Threads: a copy of a shared scorer queues records and hands them to the master in
// blocks; the master commits the blocks strictly in batch order (later batches wait),
// so sums do not depend on the number of threads. A copy of a scorer that is not
// shared sums into its own grid and adds it to the master's at Flush: no lock while
// tracing, but the last digits of the sums may vary with the number of threads.
class MeshScorer {
public:
    enum Quantity : unsigned {
        Count = 1,
        Uncertainty = 2,
        AverageInteractions = 4,
        AverageEnergy = 8,
        EnergyLoss = 16
    };
    static constexpr std::size_t BlockSize = 4096;
    static constexpr std::size_t CodeSlots = 12;

    MeshScorer();
    // A tracer's copy: the configuration, and its own grid when not shared.
    MeshScorer(const MeshScorer& other);
    MeshScorer& operator=(const MeshScorer&) = delete;

    // "Interactions" (names or codes; `defaultCodes` when missing), "Shared",
    // "SaveGeometry"; errors get "MeshDetector: " in front.
    void ReadDetectorKeys(const inifiles::TIniFileSection& section, const std::vector<int>& defaultCodes);
    // The box ("VertexA" or "BaseCenter" with "Side1" .. "Side3", placement keys),
    // unless `box` is given; "Dimensions" or "Pitch"; "EnergyBins" over the filter's
    // [minEnergy, maxEnergy]; the quantity switches. Errors get "FlexMeshDetector: ".
    void ReadGridKeys(const inifiles::TIniFileSection& section, const TTraceDetector& filter,
                      const geometry::TBoundingBox<double>* box);
    // Sets the grid directly (tests, benchmarks) and allocates the master's sums.
    void SetGrid(const geometry::TCoord<double>& origin, const geometry::TCoord<double> edges[3],
                 const std::uint64_t cells[3], std::uint64_t bins, double minEnergy, double maxEnergy);

    bool Scores(int code) const {
        const int slot = CodeSlot(code);
        return slot >= 0 && ScoredCodes[std::size_t(slot)];
    }
    // Adds one event at `where`, with the weight before the event (a detection: the
    // weight registered).
    void Score(const TParticle& before, const TParticle& after, int code,
               const geometry::TCoord<double>& where);

    void StartRun();
    void BeginRun(std::uint64_t firstBatch);
    void BeginBatch(std::uint64_t index);
    void EndBatch();
    void Flush();
    // The master's sums (committed first): their count, then the values. A state of
    // another grid is refused.
    void WriteState(std::ostream& stream);
    void ReadState(std::istream& stream, std::uint64_t payloadSize);

    // One legacy VTK file per enabled quantity: baseName + "_count.vtk" etc.
    void WriteResults(const std::string& baseName, const TraceResultScales& scales, bool doubleSamples) const;
    // "   Shared: ", "   Data Type: ", "   Register: ", the grid and the scored interactions.
    void PrintSummary(std::ostream& os, bool doubleSamples) const;
    // "   Number Of Particles: " and "   Energy Loss: " lines.
    void PrintResults(std::ostream& os, double particles) const;

    bool Shared = true;
    bool SaveGeometry = false;
    unsigned Quantities = Count | Uncertainty | EnergyLoss;

private:
    struct Block {
        std::uint64_t Batch = NoBatch;
        bool Last = false;
        std::vector<MeshRecord> Records;
    };
    struct CommitState {
        std::mutex Lock;
        BatchOrder<Block> Order;
        std::vector<std::vector<MeshRecord>> Pool;
    };

    static int CodeSlot(int code) {
        if (code >= 0 && code <= 6)
            return code;
        if (code >= 100 && code <= 102)
            return code - 93;
        if (code == 1000 || code == 1001)
            return code - 990;
        return -1;
    }
    void Allocate();
    void Add(const MeshRecord& record);
    void AddAll(const std::vector<MeshRecord>& records);
    void Deliver(bool last);
    // Master side, under the lock.
    void Accept(Block& block);
    void CommitBlock(Block& block);
    bool IsAxisAligned() const;

    std::array<bool, CodeSlots> ScoredCodes{};
    geometry::TCoord<double> Origin;
    geometry::TCoord<double> Edges[3];
    geometry::TCoord<double> Dual[3]; // position - Origin to edge fractions
    std::uint64_t N[3] = {1, 1, 1};
    double Scale[3] = {1, 1, 1}; // N as doubles
    std::uint64_t Bins = 1;
    double BinMin = 0, BinWidth = 0;
    // Offsets of the optional fields of a cell-bin's sums (-1: not kept).
    int SquareField = -1, InteractionField = -1, EnergyField = -1, LossField = -1;
    std::size_t Fields = 1;

    MeshScorer* Master = nullptr;
    std::shared_ptr<CommitState> State;
    std::vector<double> Sums;
    std::vector<MeshRecord> Queue;
    bool InBatch = false;
    std::uint64_t Batch = 0;
};

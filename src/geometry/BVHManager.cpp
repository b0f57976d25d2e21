#include "geometry/BVHManager.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>
#include <tuple>

#include <omp.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "datafiles/Formatting.h"

namespace geometry {

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();
// Below this many facets the three axes of a binned node are evaluated on the
// calling thread: starting a team costs more than the evaluation.
constexpr std::uint32_t ParallelBinningThreshold = 8192;
// Relative widening of the boxes in the ray's slab test.
constexpr double SlabPadFactor = 1e-9;
// The single-precision slab test widens each slab by this fraction of the largest
// coordinate involved: its rounding error stays below 2e-7 of that coordinate, so a
// box the exact ray comes near always passes.
constexpr double WideMarginFactor = 1e-6;
constexpr double WideMarginFloor = 1e-30;
// Beyond these the single-precision test could overflow or lose a direction
// component; such rays take the binary walk.
constexpr double WideCoordinateLimit = 1e30;
constexpr double WideMinDirection = 1e-30;

template <typename T>
void Grow(TBoundingBox<T>& box, const TBoundingBox<T>& other) {
    box.Min.x = std::min(box.Min.x, other.Min.x);
    box.Min.y = std::min(box.Min.y, other.Min.y);
    box.Min.z = std::min(box.Min.z, other.Min.z);
    box.Max.x = std::max(box.Max.x, other.Max.x);
    box.Max.y = std::max(box.Max.y, other.Max.y);
    box.Max.z = std::max(box.Max.z, other.Max.z);
}

template <typename T>
double SurfaceArea(const TBoundingBox<T>& box) {
    const double dx = static_cast<double>(box.Max.x) - static_cast<double>(box.Min.x);
    const double dy = static_cast<double>(box.Max.y) - static_cast<double>(box.Min.y);
    const double dz = static_cast<double>(box.Max.z) - static_cast<double>(box.Min.z);
    if (!(dx > 0 && dy > 0 && dz > 0)) return 0;
    return 2 * (dx * dy + dy * dz + dz * dx);
}

template <typename T>
T Component(const TCoord<T>& c, int axis) {
    return axis == 0 ? c.x : (axis == 1 ? c.y : c.z);
}

template <typename T>
double SquaredDistanceToBox(const TBoundingBox<T>& box, const TCoord<double>& p) {
    double d2 = 0;
    const double lo[3] = {double(box.Min.x), double(box.Min.y), double(box.Min.z)};
    const double hi[3] = {double(box.Max.x), double(box.Max.y), double(box.Max.z)};
    const double q[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
        const double d = std::max({lo[a] - q[a], 0.0, q[a] - hi[a]});
        d2 += d * d;
    }
    return d2;
}

std::uint32_t ToIndex(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error("Conversion failed");
    return static_cast<std::uint32_t>(n);
}

// Floats at or below (RoundDown) and at or above (RoundUp) x. Rounding to nearest
// moves by at most half an ulp, 2^-24 relative, so shifting x by 2^-22 relative (and
// by more than half the smallest subnormal) first leaves the result on the wanted
// side; the slack of an ulp or two is harmless and the build avoids a branch per value.
constexpr double OutwardShift = 1.0 / (1 << 22);
constexpr double SubnormalShift = 1e-44;

float RoundDown(double x) {
    return static_cast<float>(x - std::fabs(x) * OutwardShift - SubnormalShift);
}

float RoundUp(double x) {
    return static_cast<float>(x + std::fabs(x) * OutwardShift + SubnormalShift);
}

struct SplitChoice {
    std::uint32_t Split = 0; // relative to the range start: left holds 0..Split
    double Cost = Infinity;
};

// Exact SAH sweep over a range sorted along one axis. boxOf(i) is the box of the
// i-th facet of the range; left is scratch of at least the range's length.
template <typename T, typename BoxOf>
SplitChoice Minimize(std::uint32_t n, BoxOf&& boxOf, std::vector<double>& left) {
    if (n < 2) throw std::runtime_error("BVH::minimize: Need at least two facets");
    TBoundingBox<T> box;
    for (std::uint32_t i = 0; i < n; ++i) {
        Grow(box, boxOf(i));
        left[i] = SurfaceArea(box);
    }
    TBoundingBox<T> right = boxOf(n - 1);
    SplitChoice best;
    best.Split = n - 2;
    best.Cost = double(n - 1) * left[n - 2] + SurfaceArea(right);
    for (std::int64_t k = std::int64_t(n) - 3; k >= 0; --k) {
        Grow(right, boxOf(std::uint32_t(k + 1)));
        const double cost = double(std::int64_t(n) - 1 - k) * SurfaceArea(right) + double(k + 1) * left[k];
        if (cost < best.Cost) {
            best.Cost = cost;
            best.Split = std::uint32_t(k);
        }
    }
    return best;
}

} // namespace

template <typename T>
class BVHManager<T>::Builder {
public:
    explicit Builder(BVHManager& manager) : Manager(manager) {}
    virtual ~Builder() = default;
    virtual void Build() = 0;

protected:
    static constexpr std::uint32_t NoParent = std::numeric_limits<std::uint32_t>::max();

    struct Task {
        std::uint32_t First = 0;
        std::uint32_t Last = 0;
        std::uint64_t Budget = 0;
        int Axis = 0;          // the axis the range is currently sorted by
        bool Binned = false;   // still in the binned top part of the tree
        std::uint32_t Parent = NoParent; // the node whose right child this is
    };

    struct Decision {
        bool Leaf = true;
        TBoundingBox<T> Box;    // leaves only
        std::uint32_t Split = 0; // last facet position of the left child
        int Axis = 0;
        bool Binned = false;
    };

    virtual Decision Decide(const Task& task) = 0;

    // Depth-first, left-first construction with an explicit stack of pending right
    // children, so that degenerate input cannot exhaust the call stack.
    void Run(const Task& root) {
        auto& nodes = Manager.Nodes;
        nodes.resize(1);
        nodes[0].A = root.First;
        nodes[0].B = root.Last;
        std::vector<Task> pending;
        Task current = root;
        for (;;) {
            const std::size_t index = nodes.size() - 1;
            const Decision decision = Decide(current);
            if (decision.Leaf) {
                nodes[index].Box = decision.Box;
                nodes[index].A = current.First;
                nodes[index].B = current.Last;
                if (pending.empty()) break;
                current = pending.back();
                pending.pop_back();
                nodes[current.Parent].A = ToIndex(nodes.size());
                AppendNode(current.First, current.Last);
                continue;
            }
            nodes[index].B = 0;
            Task right{decision.Split + 1, current.Last, current.Budget - 1, decision.Axis, decision.Binned,
                       std::uint32_t(index)};
            pending.push_back(right);
            current = Task{current.First, decision.Split, current.Budget - 1, decision.Axis, decision.Binned,
                           NoParent};
            AppendNode(current.First, current.Last);
        }
        for (std::size_t i = nodes.size(); i-- > 0;) {
            if (nodes[i].IsLeaf()) continue;
            nodes[i].Box = nodes[i + 1].Box;
            Grow(nodes[i].Box, nodes[nodes[i].A].Box);
        }
    }

    Task RootTask(bool binned) const {
        Task root;
        root.Last = ToIndex(Manager.Facets.size() - 1);
        root.Budget = Manager.MaxBVHDepth;
        root.Binned = binned;
        return root;
    }

    bool IsLeafRange(const Task& task) const {
        return task.Budget == 0 || std::uint64_t(task.Last - task.First) + 1 <= Manager.MaxLeafCount;
    }

    static Decision LeafDecision(const TBoundingBox<T>& box) {
        Decision d;
        d.Box = box;
        return d;
    }

    // Tries the current sort axis and then the other two, re-sorting the range
    // each time; a later axis wins only at strictly lower cost.
    template <typename BoxAt, typename SortRange>
    Decision Sweep(const Task& task, BoxAt&& boxAt, SortRange&& sortRange) {
        const std::uint32_t n = task.Last - task.First + 1;
        auto boxOf = [&](std::uint32_t i) { return boxAt(task.First + i); };
        const int second = task.Axis == 1 ? 0 : 1;
        const int third = task.Axis == 2 ? 0 : 2;
        SplitChoice best = Minimize<T>(n, boxOf, Left);
        int bestAxis = task.Axis;
        for (int axis : {second, third}) {
            sortRange(task.First, task.Last, axis);
            const SplitChoice c = Minimize<T>(n, boxOf, Left);
            if (c.Cost < best.Cost) {
                best = c;
                bestAxis = axis;
            }
        }
        if (bestAxis != third) sortRange(task.First, task.Last, bestAxis);
        const std::uint64_t s = std::uint64_t(task.First) + best.Split;
        if (!(s >= task.First && s < task.Last))
            throw std::runtime_error("BVH::subdivide: Minimize found invalid index " + std::to_string(s));
        Decision d;
        d.Leaf = false;
        d.Split = std::uint32_t(s);
        d.Axis = bestAxis;
        return d;
    }

    void AppendNode(std::uint32_t first, std::uint32_t last) {
        ToIndex(Manager.Nodes.size() + 1);
        Node node;
        node.A = first;
        node.B = last;
        Manager.Nodes.push_back(node);
    }

    BVHManager& Manager;
    std::vector<double> Left; // sweep scratch, one entry per facet
};

template <typename T>
class BVHManager<T>::CachedBuilder : public BVHManager<T>::Builder {
    using Base = typename BVHManager<T>::Builder;
    using Task = typename Base::Task;
    using Decision = typename Base::Decision;

public:
    using Base::Base;

    void Build() override {
        auto& m = this->Manager;
        const std::size_t n = m.Facets.size();
        Items.resize(n);
        this->Left.resize(n);
        const bool binned = m.SAHBins > 1;
        if (binned)
            for (auto& bins : Bins) bins.Allocate(m.SAHBins);
        ComputeItems();
        if (!binned) {
            RunSweepFromRoot();
        } else {
            try {
                this->Run(this->RootTask(true));
            } catch (const std::bad_alloc&) {
                throw;
            } catch (const std::length_error&) {
                throw;
            } catch (const std::exception& e) {
                m.Messages(std::string(e.what()) + "\n", true);
                ComputeItems();
                RunSweepFromRoot();
            }
        }
        std::vector<Facet> ordered(n);
        for (std::size_t i = 0; i < n; ++i) ordered[i] = m.Facets[Items[i].Index];
        m.Facets.swap(ordered);
    }

private:
    // The cached box and keys of one facet, kept in facet-position order so that
    // binning, partitioning and sorting read memory in sequence.
    struct Item {
        TBoundingBox<T> Box;
        T Key[3];
        std::uint32_t Index;
    };

    struct BinSet {
        std::vector<TBoundingBox<T>> Boxes;
        std::vector<std::uint64_t> Counts;
        std::vector<double> LeftCosts;
        void Allocate(std::uint64_t k) {
            Boxes.resize(k);
            Counts.resize(k);
            LeftCosts.resize(k);
        }
    };

    struct AxisChoice {
        double Cost = Infinity;
        T SplitValue = 0;
    };

    void ComputeItems() {
        const auto& m = this->Manager;
        const std::int64_t n = std::int64_t(m.Facets.size());
#pragma omp parallel for schedule(dynamic, 4096)
        for (std::int64_t i = 0; i < n; ++i) {
            const Facet& f = m.Facets[std::size_t(i)];
            Item& item = Items[std::size_t(i)];
            item.Box = m.GetFacetBounds(f);
            const Coord& a = m.Vertices[f.V0];
            const Coord& b = m.Vertices[f.V1];
            const Coord& c = m.Vertices[f.V2];
            item.Key[0] = a.x + b.x + c.x;
            item.Key[1] = a.y + b.y + c.y;
            item.Key[2] = a.z + b.z + c.z;
            item.Index = std::uint32_t(i);
        }
    }

    void RunSweepFromRoot() {
        SortRange(0, std::uint32_t(Items.size() - 1), 0);
        this->Run(this->RootTask(false));
    }

    // Equal keys are ordered by facet position so that the tree is the same on every run.
    void SortRange(std::uint32_t first, std::uint32_t last, int axis) {
        std::sort(Items.begin() + first, Items.begin() + last + 1, [axis](const Item& a, const Item& b) {
            return a.Key[axis] < b.Key[axis] || (!(b.Key[axis] < a.Key[axis]) && a.Index < b.Index);
        });
    }

    Decision Decide(const Task& task) override {
        if (this->IsLeafRange(task)) return this->LeafDecision(RangeBox(task.First, task.Last));
        const std::uint64_t count = std::uint64_t(task.Last - task.First) + 1;
        Task sweep = task;
        if (task.Binned) {
            if (count >= 2 * this->Manager.SAHBins) {
                Decision d;
                if (TryBinnedSplit(task, d)) return d;
            }
            SortRange(task.First, task.Last, 0);
            sweep.Axis = 0;
            sweep.Binned = false;
        }
        auto boxAt = [this](std::uint32_t pos) -> const TBoundingBox<T>& { return Items[pos].Box; };
        auto sortRange = [this](std::uint32_t first, std::uint32_t last, int axis) { SortRange(first, last, axis); };
        return this->Sweep(sweep, boxAt, sortRange);
    }

    bool TryBinnedSplit(const Task& task, Decision& decision) {
        AxisChoice choice[3];
        if (task.Last - task.First + 1 >= ParallelBinningThreshold) {
#pragma omp parallel sections num_threads(3)
            {
#pragma omp section
                choice[0] = EvaluateAxis(0, task.First, task.Last);
#pragma omp section
                choice[1] = EvaluateAxis(1, task.First, task.Last);
#pragma omp section
                choice[2] = EvaluateAxis(2, task.First, task.Last);
            }
        } else {
            for (int axis = 0; axis < 3; ++axis) choice[axis] = EvaluateAxis(axis, task.First, task.Last);
        }
        int best = 0;
        for (int axis = 1; axis < 3; ++axis)
            if (choice[axis].Cost < choice[best].Cost) best = axis;
        if (!(choice[best].Cost < Infinity)) return false;
        const std::uint32_t middle = Partition(task.First, task.Last, best, choice[best].SplitValue);
        if (middle == task.First || middle > task.Last) return false;
        decision.Leaf = false;
        decision.Split = middle - 1;
        decision.Axis = 0;
        decision.Binned = true;
        return true;
    }

    // Allocates nothing, so it can run inside the parallel sections.
    AxisChoice EvaluateAxis(int axis, std::uint32_t first, std::uint32_t last) {
        AxisChoice result;
        if (last <= first) return result;
        T kmin = Items[first].Key[axis];
        T kmax = kmin;
        for (std::uint32_t p = first; p <= last; ++p) {
            kmin = std::min(kmin, Items[p].Key[axis]);
            kmax = std::max(kmax, Items[p].Key[axis]);
        }
        const std::uint64_t k = this->Manager.SAHBins;
        const double scale = double(k) * 0.999999 / (double(kmax) - double(kmin));
        if (!std::isfinite(scale)) return result;
        BinSet& bins = Bins[axis];
        std::fill(bins.Boxes.begin(), bins.Boxes.end(), TBoundingBox<T>());
        std::fill(bins.Counts.begin(), bins.Counts.end(), 0);
        for (std::uint32_t p = first; p <= last; ++p) {
            const Item& item = Items[p];
            const double position = (double(item.Key[axis]) - double(kmin)) * scale;
            const std::uint64_t b = std::min<std::uint64_t>(std::uint64_t(position), k - 1);
            Grow(bins.Boxes[b], item.Box);
            ++bins.Counts[b];
        }
        TBoundingBox<T> box;
        std::uint64_t count = 0;
        for (std::uint64_t i = 0; i < k; ++i) {
            Grow(box, bins.Boxes[i]);
            count += bins.Counts[i];
            bins.LeftCosts[i] = double(count) * SurfaceArea(box);
        }
        TBoundingBox<T> right = bins.Boxes[k - 1];
        std::uint64_t rightCount = bins.Counts[k - 1];
        double best = double(rightCount) * SurfaceArea(right) + bins.LeftCosts[k - 2];
        std::uint64_t split = k - 2;
        for (std::int64_t i = std::int64_t(k) - 3; i >= 0; --i) {
            Grow(right, bins.Boxes[std::size_t(i + 1)]);
            rightCount += bins.Counts[std::size_t(i + 1)];
            const double cost = double(rightCount) * SurfaceArea(right) + bins.LeftCosts[std::size_t(i)];
            if (cost < best) {
                best = cost;
                split = std::uint64_t(i);
            }
        }
        result.Cost = best;
        result.SplitValue = static_cast<T>(double(split + 1) / scale + double(kmin));
        return result;
    }

    // Facets with a key below the split value move to the front; returns the
    // position of the first one that stays behind.
    std::uint32_t Partition(std::uint32_t first, std::uint32_t last, int axis, T splitValue) {
        std::int64_t i = first;
        std::int64_t j = last;
        while (i <= j) {
            if (Items[std::size_t(i)].Key[axis] < splitValue) {
                ++i;
            } else {
                std::swap(Items[std::size_t(i)], Items[std::size_t(j)]);
                --j;
            }
        }
        return std::uint32_t(i);
    }

    TBoundingBox<T> RangeBox(std::uint32_t first, std::uint32_t last) const {
        TBoundingBox<T> box;
        for (std::uint32_t p = first; p <= last; ++p) Grow(box, Items[p].Box);
        return box;
    }

    std::vector<Item> Items;
    BinSet Bins[3];
};

template <typename T>
class BVHManager<T>::InPlaceBuilder : public BVHManager<T>::Builder {
    using Base = typename BVHManager<T>::Builder;
    using Task = typename Base::Task;
    using Decision = typename Base::Decision;

public:
    using Base::Base;

    void Build() override {
        auto& m = this->Manager;
        this->Left.resize(m.Facets.size());
        SortRange(0, ToIndex(m.Facets.size() - 1), 0);
        this->Run(this->RootTask(false));
    }

private:
    T Key(const Facet& f, int axis) const {
        const auto& v = this->Manager.Vertices;
        return Component(v[f.V0], axis) + Component(v[f.V1], axis) + Component(v[f.V2], axis);
    }

    void SortRange(std::uint32_t first, std::uint32_t last, int axis) {
        auto& facets = this->Manager.Facets;
        std::sort(facets.begin() + first, facets.begin() + last + 1, [this, axis](const Facet& a, const Facet& b) {
            const T ka = Key(a, axis);
            const T kb = Key(b, axis);
            if (ka < kb) return true;
            if (kb < ka) return false;
            return std::tie(a.V0, a.V1, a.V2, a.ObjectID) < std::tie(b.V0, b.V1, b.V2, b.ObjectID);
        });
    }

    Decision Decide(const Task& task) override {
        const auto& m = this->Manager;
        if (this->IsLeafRange(task)) {
            TBoundingBox<T> box;
            for (std::uint32_t p = task.First; p <= task.Last; ++p) Grow(box, m.GetFacetBounds(m.Facets[p]));
            return this->LeafDecision(box);
        }
        auto boxAt = [&m](std::uint32_t pos) { return m.GetFacetBounds(m.Facets[pos]); };
        auto sortRange = [this](std::uint32_t first, std::uint32_t last, int axis) { SortRange(first, last, axis); };
        return this->Sweep(task, boxAt, sortRange);
    }
};

template <typename T>
BVHManager<T>::BVHManager(std::uint64_t sahBins, std::uint64_t maxLeafCount, std::uint64_t maxBVHDepth,
                          MessageSink messages)
    : FacetManager<T>(std::move(messages)), SAHBins(sahBins), MaxLeafCount(maxLeafCount), MaxBVHDepth(maxBVHDepth) {
    if (MaxLeafCount == 0) throw std::runtime_error("MaxLeafCount has to be at least 1");
}

template <typename T>
void BVHManager<T>::StartBuild() {
    Nodes.clear();
    Stacks.clear();
    Wide.clear();
    WideFacets.clear();
    this->DropVertexIndex();
}

template <typename T>
void BVHManager<T>::Prepare() {
    StartBuild();
    if (this->Vertices.empty() || this->Facets.empty()) return;
    Nodes.reserve(this->Facets.size() / MaxLeafCount);
    // A request beyond what a vector can hold (absurd SAHBins) is short memory too.
    try {
        CachedBuilder(*this).Build();
    } catch (const std::bad_alloc&) {
        BuildInPlaceAfterCachedFailed();
    } catch (const std::length_error&) {
        BuildInPlaceAfterCachedFailed();
    }
    FinishBuild();
}

template <typename T>
void BVHManager<T>::BuildInPlaceAfterCachedFailed() {
    this->Messages("BVH: Not enough memory for cached building. Attempting in-place build.\n", false);
    InPlaceBuilder(*this).Build();
}

template <typename T>
void BVHManager<T>::PrepareInPlace() {
    StartBuild();
    if (this->Vertices.empty() || this->Facets.empty()) return;
    InPlaceBuilder(*this).Build();
    FinishBuild();
}

template <typename T>
void BVHManager<T>::FinishBuild() {
    this->Compact();
    const TBoundingBox<T>& root = Nodes[0].Box;
    const double extent = std::max({std::fabs(double(root.Min.x)), std::fabs(double(root.Min.y)),
                                    std::fabs(double(root.Min.z)), std::fabs(double(root.Max.x)),
                                    std::fabs(double(root.Max.y)), std::fabs(double(root.Max.z))});
    SlabPad = SlabPadFactor * extent + std::numeric_limits<double>::min();
    const std::size_t wideDepth = BuildWide();
    // A depth-first walk that pushes both children holds at most depth + 1 entries;
    // the wide walk pushes at most three (first, last) pairs per node on its path.
    const std::size_t entries = std::max(GetStatistics().MaxDepth + 2, 6 * (wideDepth + 1));
    Stacks.assign(std::size_t(std::max(1, omp_get_max_threads())), std::vector<std::uint32_t>(entries));
}

// Collapses the binary tree: each wide node starts from one binary inner node and
// repeatedly replaces its largest inner child by that child's two children, in
// place, until it has four children or only leaves. A leaf of several facets
// becomes a wide node over its facets' own boxes, so that a ray entering the leaf
// runs the costly facet test only on the facets whose boxes it enters.
template <typename T>
std::size_t BVHManager<T>::BuildWide() {
    Wide.clear();
    WideFacets.clear();
    WideExtent = 0;
    // A leaf ending at the last possible facet would read as an inner child.
    if (this->Facets.size() >= std::size_t(InnerChild)) return 0;
    WideFacets.reserve(this->Facets.size());
    for (const Facet& f : this->Facets) {
        const bool swapped = f.V2 < f.V1;
        WideFacets.push_back({this->Vertices[f.V0], this->Vertices[swapped ? f.V1 : f.V2],
                              this->Vertices[swapped ? f.V2 : f.V1], f.ObjectID, swapped ? 1u : 0u});
    }
    // A wide node still to make: over binary inner node Binary, or, if Binary is
    // InnerChild, over the facets First..Last.
    struct Pending {
        std::uint32_t Binary;
        std::uint32_t First;
        std::uint32_t Last;
        std::size_t Parent;
        int Slot;
        std::size_t Depth;
    };
    struct Child {
        TBoundingBox<T> Box;
        std::uint32_t Binary; // InnerChild for a facet range
        std::uint32_t First;
        std::uint32_t Last;
    };
    auto binaryChild = [this](std::uint32_t index) {
        const Node& node = Nodes[index];
        return Child{node.Box, node.IsLeaf() ? InnerChild : index, node.A, node.B};
    };
    std::vector<Pending> pending{{0, 0, 0, 0, -1, 0}};
    // About three wide nodes per four binary nodes: inner nodes collapse, leaves split.
    Wide.reserve(Nodes.size() / 4 * 3 + 1);
    std::size_t depth = 0;
    while (!pending.empty()) {
        const Pending task = pending.back();
        pending.pop_back();
        depth = std::max(depth, task.Depth);
        const std::uint32_t self = ToIndex(Wide.size());
        if (task.Slot >= 0) Wide[task.Parent].First[task.Slot] = self;
        Child children[4];
        int count = 0;
        if (task.Binary != InnerChild) {
            children[count++] = binaryChild(task.Binary);
            while (count < 4) {
                int widest = -1;
                double widestArea = -1;
                for (int i = 0; i < count; ++i) {
                    if (children[i].Binary == InnerChild) continue;
                    const double area = SurfaceArea(children[i].Box);
                    if (area > widestArea) {
                        widest = i;
                        widestArea = area;
                    }
                }
                if (widest < 0) break;
                const std::uint32_t split = children[widest].Binary;
                for (int i = count; i > widest + 1; --i) children[i] = children[i - 1];
                children[widest] = binaryChild(split + 1);
                children[widest + 1] = binaryChild(Nodes[split].A);
                ++count;
            }
            // Slots still free take a leaf's facets directly, saving a level.
            for (int i = 0; i < count; ++i) {
                const Child leaf = children[i];
                const int facets = int(leaf.Last - leaf.First) + 1;
                if (leaf.Binary != InnerChild || facets < 2 || count + facets - 1 > 4) continue;
                for (int j = count - 1; j > i; --j) children[j + facets - 1] = children[j];
                for (int f = 0; f < facets; ++f)
                    children[i + f] = Child{this->GetFacetBounds(this->Facets[leaf.First + std::uint32_t(f)]),
                                            InnerChild, leaf.First + std::uint32_t(f), leaf.First + std::uint32_t(f)};
                count += facets - 1;
                i += facets - 1;
            }
        } else {
            // Consecutive groups, as even as possible, keep the facets in order.
            const std::uint32_t facets = task.Last - task.First + 1;
            const std::uint32_t groups = std::min<std::uint32_t>(4, facets);
            std::uint32_t begin = task.First;
            for (std::uint32_t g = 0; g < groups; ++g) {
                const std::uint32_t size = facets / groups + (g < facets % groups ? 1 : 0);
                Child& child = children[count++];
                child = Child{TBoundingBox<T>(), InnerChild, begin, begin + size - 1};
                for (std::uint32_t f = begin; f < begin + size; ++f)
                    Grow(child.Box, this->GetFacetBounds(this->Facets[f]));
                begin += size;
            }
        }
        WideNode wide;
        // Unused slots: an empty box that no ray enters, and an empty facet range.
        for (int k = 0; k < 4; ++k) {
            for (int a = 0; a < 3; ++a) {
                wide.Bounds[a][k] = std::numeric_limits<float>::infinity();
                wide.Bounds[a + 3][k] = -std::numeric_limits<float>::infinity();
            }
            wide.First[k] = 1;
            wide.Last[k] = 0;
        }
        for (int k = 0; k < count; ++k) {
            const Child& child = children[k];
            for (int a = 0; a < 3; ++a) {
                wide.Bounds[a][k] = RoundDown(double(Component(child.Box.Min, a)) - SlabPad);
                wide.Bounds[a + 3][k] = RoundUp(double(Component(child.Box.Max, a)) + SlabPad);
                WideExtent = std::max({WideExtent, std::fabs(double(wide.Bounds[a][k])),
                                       std::fabs(double(wide.Bounds[a + 3][k]))});
            }
            const bool leaf = child.Binary == InnerChild && child.First == child.Last;
            wide.First[k] = leaf ? child.First : 0;
            wide.Last[k] = leaf ? child.Last : InnerChild;
        }
        Wide.push_back(wide);
        // Pushed in reverse so that the wide nodes, too, lie in depth-first order.
        for (int k = count - 1; k >= 0; --k)
            if (wide.Last[k] == InnerChild)
                pending.push_back({children[k].Binary, children[k].First, children[k].Last, self, k, task.Depth + 1});
    }
    return depth;
}

template <typename T>
void BVHManager<T>::Clear() {
    FacetManager<T>::Clear();
    Nodes.clear();
    Stacks.clear();
    Wide.clear();
    WideFacets.clear();
}

template <typename T>
std::uint32_t* BVHManager<T>::ThreadStack() const {
    const int thread = omp_get_thread_num();
    if (thread < 0 || std::size_t(thread) >= Stacks.size()) throw std::out_of_range("invalid vector<T> subscript");
    return Stacks[std::size_t(thread)].data();
}

template <typename T>
void BVHManager<T>::Intersect(const Ray& ray, std::vector<Hit>& hits, double reach) const {
    if (Nodes.empty()) return;
    if (!(reach > 0) && IntersectWide(ray, hits)) return;
    IntersectBinary(ray, hits, reach);
}

namespace {

// A ray set up for the wide walk's slab tests. Planes, origins and inverse components
// are per axis; the near and far origins are the ray origin moved by the margin so
// that each slab widens.
struct WideRay {
    int NearPlane[3];
    int FarPlane[3];
    float NearOrigin[3];
    float FarOrigin[3];
    float Inverse[3];
};

inline void Prefetch(const void* address) {
#if defined(__SSE2__)
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
    (void)address;
#endif
}

inline int LowestBit(int mask) {
#if defined(__GNUC__)
    return __builtin_ctz(unsigned(mask));
#else
    int bit = 0;
    while (!(mask >> bit & 1)) ++bit;
    return bit;
#endif
}

// Which of a node's four children the ray enters, one bit each. The ray's values are
// copied into locals once per ray, so that they stay in registers over the walk. The
// maxima and minima take the candidate first: a NaN (0 times an infinite inverse, a
// ray lying in a box plane) then drops out instead of rejecting.
class ChildTest {
public:
    explicit ChildTest(const WideRay& r) {
        for (int a = 0; a < 3; ++a) {
            Near[a] = r.NearPlane[a];
            Far[a] = r.FarPlane[a];
#if defined(__SSE2__)
            NearOrigin[a] = _mm_set1_ps(r.NearOrigin[a]);
            FarOrigin[a] = _mm_set1_ps(r.FarOrigin[a]);
            Inverse[a] = _mm_set1_ps(r.Inverse[a]);
#else
            NearOrigin[a] = r.NearOrigin[a];
            FarOrigin[a] = r.FarOrigin[a];
            Inverse[a] = r.Inverse[a];
#endif
        }
    }

#if defined(__SSE2__)
    int operator()(const float (&bounds)[6][4]) const {
        __m128 tnear = _mm_setzero_ps();
        __m128 tfar = _mm_set1_ps(std::numeric_limits<float>::infinity());
        for (int a = 2; a >= 0; --a) {
            const __m128 n = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(bounds[Near[a]]), NearOrigin[a]), Inverse[a]);
            const __m128 f = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(bounds[Far[a]]), FarOrigin[a]), Inverse[a]);
            tnear = _mm_max_ps(n, tnear);
            tfar = _mm_min_ps(f, tfar);
        }
        return _mm_movemask_ps(_mm_cmple_ps(tnear, tfar));
    }
#else
    int operator()(const float (&bounds)[6][4]) const {
        int mask = 0;
        for (int k = 0; k < 4; ++k) {
            float tnear = 0;
            float tfar = std::numeric_limits<float>::infinity();
            for (int a = 2; a >= 0; --a) {
                const float n = (bounds[Near[a]][k] - NearOrigin[a]) * Inverse[a];
                const float f = (bounds[Far[a]][k] - FarOrigin[a]) * Inverse[a];
                tnear = n > tnear ? n : tnear;
                tfar = f < tfar ? f : tfar;
            }
            if (tnear <= tfar) mask |= 1 << k;
        }
        return mask;
    }
#endif

private:
    std::size_t Near[3];
    std::size_t Far[3];
#if defined(__SSE2__)
    __m128 NearOrigin[3];
    __m128 FarOrigin[3];
    __m128 Inverse[3];
#else
    float NearOrigin[3];
    float FarOrigin[3];
    float Inverse[3];
#endif
};

} // namespace

template <typename T>
bool BVHManager<T>::IntersectWide(const Ray& ray, std::vector<Hit>& hits) const {
    if (Wide.empty() || !(WideExtent <= WideCoordinateLimit)) return false;
    const TCoord<double> d = DirectionVector(ray.Direction);
    const TCoord<double>& o = ray.Position;
    WideRay r;
    for (int a = 0; a < 3; ++a) {
        const double da = Component(d, a);
        const double oa = Component(o, a);
        if (!(std::fabs(oa) <= WideCoordinateLimit)) return false;
        if (da != 0 && !(std::fabs(da) >= WideMinDirection)) return false;
        const double inverse = 1.0 / da;
        const bool negative = inverse < 0;
        const double margin = WideMarginFactor * (WideExtent + std::fabs(oa)) + WideMarginFloor;
        r.Inverse[a] = static_cast<float>(inverse);
        r.NearPlane[a] = negative ? a + 3 : a;
        r.FarPlane[a] = negative ? a : a + 3;
        r.NearOrigin[a] = negative ? RoundDown(oa - margin) : RoundUp(oa + margin);
        r.FarOrigin[a] = negative ? RoundUp(oa + margin) : RoundDown(oa - margin);
    }
    const ChildTest entersChildren(r);
    const WideNode* wide = Wide.data();
    const WideFacet* corners = WideFacets.data();
    std::uint32_t* stack = ThreadStack();
    std::size_t top = 0;
    std::uint32_t first = 0;
    std::uint32_t last = InnerChild;
    Hit hit;
    for (;;) {
        if (last != InnerChild) {
            for (std::uint32_t f = first; f <= last; ++f) {
                const WideFacet& c = corners[f];
                if (IntersectRayCorners(o, d, TCoord<double>(c.P0), TCoord<double>(c.PA), TCoord<double>(c.PB),
                                        c.Swapped != 0, c.ObjectID, hit))
                    hits.push_back(hit);
            }
        } else {
            const WideNode& node = wide[first];
            // The walk is bound by its cache misses: the inner children's memory is
            // requested before the test (it overlaps the test, and most nodes pass),
            // the entered leaves' corners right after it.
            for (int k = 0; k < 4; ++k) {
                if (node.Last[k] != InnerChild) continue;
                Prefetch(&wide[node.First[k]].Bounds[0][0]);
                Prefetch(&wide[node.First[k]].Bounds[4][0]);
            }
            const int entered = entersChildren(node.Bounds);
            if (entered != 0) {
                // The first entered child is walked at once, the others wait in order.
                const int next = LowestBit(entered);
                for (int k = 3; k >= next; --k) {
                    if (!(entered >> k & 1)) continue;
                    if (node.Last[k] != InnerChild) {
                        Prefetch(&corners[node.First[k]]);
                        Prefetch(&corners[node.Last[k]].ObjectID);
                    }
                    if (k == next) break;
                    stack[top++] = node.First[k];
                    stack[top++] = node.Last[k];
                }
                first = node.First[next];
                last = node.Last[next];
                continue;
            }
        }
        if (top == 0) break;
        last = stack[--top];
        first = stack[--top];
    }
    return true;
}

template <typename T>
void BVHManager<T>::IntersectBinary(const Ray& ray, std::vector<Hit>& hits, double reach) const {
    const TCoord<double> d = DirectionVector(ray.Direction);
    const TCoord<double>& o = ray.Position;
    const double origin[3] = {o.x, o.y, o.z};
    const double inverse[3] = {1.0 / d.x, 1.0 / d.y, 1.0 / d.z};
    const bool negative[3] = {inverse[0] < 0, inverse[1] < 0, inverse[2] < 0};
    const double reach2 = reach > 0 ? reach * reach : -1;
    const Node* nodes = Nodes.data();
    const Coord* vertices = this->Vertices.data();
    const Facet* facets = this->Facets.data();
    // The rejections are combined without short-circuiting: which one applies is
    // unpredictable, and every operand is already at hand.
    auto enters = [&](const Node& node) {
        const double lo[3] = {double(node.Box.Min.x) - SlabPad, double(node.Box.Min.y) - SlabPad,
                              double(node.Box.Min.z) - SlabPad};
        const double hi[3] = {double(node.Box.Max.x) + SlabPad, double(node.Box.Max.y) + SlabPad,
                              double(node.Box.Max.z) + SlabPad};
        double tnear[3];
        double tfar[3];
        for (int a = 0; a < 3; ++a) {
            tnear[a] = ((negative[a] ? hi[a] : lo[a]) - origin[a]) * inverse[a];
            tfar[a] = ((negative[a] ? lo[a] : hi[a]) - origin[a]) * inverse[a];
        }
        const bool rejected = (tfar[0] <= 0) | (tnear[1] > tfar[0]) | (tfar[1] <= 0) | (tnear[0] > tfar[1]) |
                              (tfar[2] <= 0) | (std::max(tnear[0], tnear[1]) > tfar[2]) |
                              (tnear[2] > std::min(tfar[0], tfar[1]));
        if (rejected) return false;
        if (reach2 > 0) {
            double d2 = 0;
            for (int a = 0; a < 3; ++a) {
                const double gap = std::max({lo[a] - origin[a], 0.0, origin[a] - hi[a]});
                d2 += gap * gap;
            }
            if (d2 > reach2) return false;
        }
        return true;
    };
    std::uint32_t* stack = ThreadStack();
    if (!enters(nodes[0])) return;
    // Children are tested before they are pushed, so both boxes load at once and only
    // nodes the ray enters reach the stack; the left subtree is still walked first.
    std::size_t top = 0;
    stack[top++] = 0;
    Hit hit;
    while (top > 0) {
        std::uint32_t index = stack[--top];
        for (;;) {
            const Node& node = nodes[index];
            if (node.IsLeaf()) {
                for (std::uint32_t f = node.A; f <= node.B; ++f)
                    if (IntersectRayTriangle(o, d, vertices, facets[f], hit)) hits.push_back(hit);
                break;
            }
            const std::uint32_t left = index + 1;
            const std::uint32_t right = node.A;
            const bool enterLeft = enters(nodes[left]);
            const bool enterRight = enters(nodes[right]);
            if (enterLeft && enterRight) stack[top++] = right;
            if (enterLeft) index = left;
            else if (enterRight) index = right;
            else break;
        }
    }
}

template <typename T>
template <typename Visit>
bool BVHManager<T>::WalkNear(const TCoord<double>& point, double radius, Visit&& visit) const {
    if (Nodes.empty()) return false;
    const double r2 = radius * radius;
    std::uint32_t* stack = ThreadStack();
    std::size_t top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const std::uint32_t index = stack[--top];
        const Node& node = Nodes[index];
        if (!(SquaredDistanceToBox(node.Box, point) <= r2)) continue;
        if (node.IsLeaf()) {
            for (std::uint32_t f = node.A; f <= node.B; ++f) {
                const Facet& facet = this->Facets[f];
                if (this->FacetNear(facet, point, r2) && visit(facet)) return true;
            }
        } else {
            stack[top++] = node.A;
            stack[top++] = index + 1;
        }
    }
    return false;
}

template <typename T>
bool BVHManager<T>::IsNear(const TCoord<double>& point, double radius) const {
    return WalkNear(point, radius, [](const Facet&) { return true; });
}

template <typename T>
void BVHManager<T>::CollectNear(FacetManager<T>& target, const TCoord<double>& point, double radius) const {
    WalkNear(point, radius, [&](const Facet& f) {
        const GeometryIndex a = target.AddVertex(this->Vertices[f.V0]);
        const GeometryIndex b = target.AddVertex(this->Vertices[f.V1]);
        const GeometryIndex c = target.AddVertex(this->Vertices[f.V2]);
        target.AddFacet(f.ObjectID, a, b, c);
        return false;
    });
}

template <typename T>
std::shared_ptr<IntersectionManager> BVHManager<T>::ExtractNear(const TCoord<double>& point, double radius) const {
    auto result = std::make_shared<BVHManager<T>>(SAHBins, MaxLeafCount, MaxBVHDepth, this->Messages);
    CollectNear(*result, point, radius);
    result->Prepare();
    result->Finish();
    return result;
}

template <typename T>
typename BVHManager<T>::Statistics BVHManager<T>::GetStatistics() const {
    Statistics s;
    if (Nodes.empty()) return s;
    std::vector<std::size_t> depth(Nodes.size(), 0);
    std::size_t depthSum = 0;
    s.NodeCount = Nodes.size();
    s.MinDepth = std::numeric_limits<std::size_t>::max();
    s.MinLeafFacets = std::numeric_limits<std::size_t>::max();
    for (std::size_t i = 0; i < Nodes.size(); ++i) {
        const Node& node = Nodes[i];
        if (!node.IsLeaf()) {
            depth[i + 1] = depth[node.A] = depth[i] + 1;
            continue;
        }
        const std::size_t facets = std::size_t(node.B - node.A) + 1;
        ++s.LeafCount;
        depthSum += depth[i];
        s.MinDepth = std::min(s.MinDepth, depth[i]);
        s.MaxDepth = std::max(s.MaxDepth, depth[i]);
        s.MinLeafFacets = std::min(s.MinLeafFacets, facets);
        s.MaxLeafFacets = std::max(s.MaxLeafFacets, facets);
    }
    s.AvgDepth = double(depthSum) / double(s.LeafCount);
    s.AvgLeafFacets = double(this->Facets.size()) / double(s.LeafCount);
    return s;
}

template <typename T>
void BVHManager<T>::PrintMemoryUsage(std::ostream& os) const {
    FacetManager<T>::PrintMemoryUsage(os);
    os << "BVH: max depth " << MaxBVHDepth << ", max leaf count " << MaxLeafCount << ", SAH bins " << SAHBins
       << "\n";
    os << "BVH: ";
    FormatMemory(os, sizeof(Node), Nodes.size());
    os << "\n";
    if (Nodes.empty()) return;
    const Statistics s = GetStatistics();
    os << "BVH: " << s.NodeCount << " nodes, " << s.LeafCount << " leaf nodes\n";
    os << "BVH: depth min " << s.MinDepth << " avg " << s.AvgDepth << " max " << s.MaxDepth << "\n";
    os << "BVH: facet min " << s.MinLeafFacets << " avg " << s.AvgLeafFacets << " max " << s.MaxLeafFacets << "\n";
    os << "BVH: " << Nodes[0].Box.Min << "-" << Nodes[0].Box.Max << "\n";
    if (Wide.empty()) return;
    os << "BVH: 4-wide nodes ";
    FormatMemory(os, sizeof(WideNode), Wide.size());
    os << ", facet corners ";
    FormatMemory(os, sizeof(WideFacet), WideFacets.size());
    os << "\n";
}

template class BVHManager<float>;
template class BVHManager<double>;

} // namespace geometry

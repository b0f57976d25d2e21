#include "geometry/IntersectionList.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "geometry/SceneObjects.h"

namespace geometry {

namespace {

bool ByFromThenTo(const Segment& a, const Segment& b) {
    return a.From < b.From || (a.From == b.From && a.To < b.To);
}

void SortSegments(std::vector<Segment>& segments) {
    std::sort(segments.begin(), segments.end(), ByFromThenTo);
}

} // namespace

void IntersectionList::Clear() {
    Hits.clear();
    Segments.clear();
}

bool IntersectionList::BuildSegments(const std::vector<TTraceableObject*>& objects, bool checkOverlap) {
    Segments.clear();
    if (Hits.empty()) return false;
    std::sort(Hits.begin(), Hits.end(), [](const Hit& a, const Hit& b) {
        if (a.ObjectID != b.ObjectID) return a.ObjectID < b.ObjectID;
        if (a.Entering != b.Entering) return a.Entering;
        return a.Distance < b.Distance;
    });
    for (std::size_t first = 0; first < Hits.size();) {
        const std::uint32_t id = Hits[first].ObjectID;
        std::size_t last = first;
        while (last < Hits.size() && Hits[last].ObjectID == id) ++last;
        if (id >= objects.size()) throw std::runtime_error("No object with ID " + std::to_string(id));
        PairObjectHits(objects[id], id, first, last);
        first = last;
    }
    if (checkOverlap) {
        const bool ambiguous = ResolveOverlaps(Segments, Scratch);
        if (ambiguous && OverlapWarningArmed) {
            OverlapWarningArmed = false;
            throw std::runtime_error("Partially overlapping objects yield ambiguous intersections");
        }
    } else {
        SortSegments(Segments);
    }
    return !Segments.empty();
}

// Works from the far end so that the exit closing each stretch is paired with the
// nearest entry before it; near-equal hits of adjacent facets count once.
void IntersectionList::PairObjectHits(const TTraceableObject* object, std::uint32_t id, std::size_t first,
                                      std::size_t last) {
    std::size_t entries = 0;
    while (first + entries < last && Hits[first + entries].Entering) ++entries;
    const Hit* entry = Hits.data() + first;
    const Hit* exit = entry + entries;
    const std::ptrdiff_t exits = std::ptrdiff_t(last - first - entries);
    if (exits == 0) throw HitPairingError("Wrong number of intersections for object ID " + std::to_string(id), id);
    std::ptrdiff_t i = std::ptrdiff_t(entries) - 1;
    std::ptrdiff_t j = exits - 1;
    while (j >= 0) {
        const double x = exit[j--].Distance;
        if (i < 0) {
            Segments.push_back(Segment{object, 0, x});
        } else {
            const double e = entry[i--].Distance;
            if (e - x > MergeTolerance)
                throw HitPairingError("Wrong order of intersections for object ID " + std::to_string(id), id);
            Segments.push_back(Segment{object, std::min(e, x), x});
            while (i >= 0 && e - entry[i].Distance < MergeTolerance) --i;
        }
        while (j >= 0 && x - exit[j].Distance < MergeTolerance) --j;
    }
    if (i >= 0) throw HitPairingError("Wrong number of intersections for object ID " + std::to_string(id), id);
}

bool IntersectionList::ResolveOverlaps(std::vector<Segment>& segments, std::vector<Segment>& scratch) {
    if (segments.size() < 2) return false;
    SortSegments(segments);
    scratch.clear();
    bool ambiguous = false;
    bool resort = false;
    for (std::size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        double f = s.From;
        const double t = s.To;
        if (f > t) continue;
        const std::int32_t p = s.Object->Priority;
        int count = 0;
        for (std::size_t n = k + 1; n < segments.size(); ++n) {
            Segment& u = segments[n];
            if (!(u.From <= u.To && f < u.To && u.From < t)) continue;
            const std::int32_t pu = u.Object->Priority;
            if (p < pu) {
                if (u.From >= f) {
                    scratch.push_back(Segment{s.Object, f, u.From});
                    ++count;
                }
                f = u.To;
            } else {
                u.From = t;
                if (p == pu && u.Object != s.Object) ambiguous = true;
            }
        }
        if (t >= f) {
            scratch.push_back(Segment{s.Object, f, t});
            ++count;
        }
        if (count >= 2) resort = true;
    }
    segments.swap(scratch);
    if (resort) SortSegments(segments);
    return ambiguous;
}

} // namespace geometry

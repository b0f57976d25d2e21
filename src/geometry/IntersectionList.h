#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "geometry/Facet.h"

class TTraceableObject;

namespace geometry {

// One stretch of a ray inside one object, as distances along the unit direction.
struct Segment {
    const TTraceableObject* Object = nullptr;
    double From = 0;
    double To = 0;
};

// The hits of one object along a ray do not pair up: its surface is open or not
// consistently oriented there.
class HitPairingError : public std::runtime_error {
public:
    HitPairingError(const std::string& text, std::uint32_t objectID) : std::runtime_error(text), ObjectID(objectID) {}
    std::uint32_t ObjectID;
};

// Turns the unordered hits of a ray into its ordered segments. One per scene copy:
// the arrays are cleared, never freed, so steady-state tracing allocates nothing.
class IntersectionList {
public:
    // Hits closer than this on the same object and side are one crossing (shared edges).
    static constexpr double MergeTolerance = 1e-10;

    // Filled by the intersection managers before BuildSegments.
    std::vector<Hit>& GetHits() { return Hits; }
    const std::vector<Segment>& GetSegments() const { return Segments; }
    void Clear();

    // Pairs each object's entries and exits into segments (objects[ObjectID] owns
    // the hits) and resolves overlaps by priority when checkOverlap is set. Errors:
    // unpaired or misordered hits, and once per list an ambiguous overlap.
    bool BuildSegments(const std::vector<TTraceableObject*>& objects, bool checkOverlap);

    bool IsOverlapWarningArmed() const { return OverlapWarningArmed; }

    // Higher priority owns a shared stretch; on equal priority the segment that starts
    // first keeps it. Leaves the result in segments (sorted by From, then To);
    // returns whether objects of equal priority overlapped.
    static bool ResolveOverlaps(std::vector<Segment>& segments, std::vector<Segment>& scratch);

private:
    void PairObjectHits(const TTraceableObject* object, std::uint32_t id, std::size_t first, std::size_t last);

    std::vector<Hit> Hits;
    std::vector<Segment> Segments;
    std::vector<Segment> Scratch;
    bool OverlapWarningArmed = true;
};

} // namespace geometry

#pragma once

#include <memory>
#include <ostream>
#include <vector>

#include "geometry/Facet.h"

namespace geometry {

// Anything a ray can be intersected with. Queries are const and keep no state,
// so all tracer threads may use one manager at once, each with its own hits array.
class IntersectionManager {
public:
    virtual ~IntersectionManager() = default;
    // A new manager of the same kind holding only the facets within radius of point.
    virtual std::shared_ptr<IntersectionManager> ExtractNear(const TCoord<double>& point, double radius) const;
    // Called once after the last facet was added.
    virtual void Prepare() {}
    // Second finishing hook, called right after Prepare.
    virtual void Finish() {}
    virtual bool IsEmpty() const { return true; }
    // Appends a hit for every facet met at a distance >= 0; reach > 0 lets a
    // hierarchy skip what lies farther than reach, brute force ignores it.
    virtual void Intersect(const Ray& ray, std::vector<Hit>& hits, double reach = 0) const;
    virtual bool IsNear(const TCoord<double>& point, double radius) const;
    // The box around what an object that is its own manager (a plane detector) adds
    // to the scene, so sources can fit their window to it; false for the hierarchy,
    // whose vertices are queried directly.
    virtual bool GetObjectBox(TBoundingBox<double>& /*box*/) const { return false; }
    virtual void PrintMemoryUsage(std::ostream& os) const;
};

} // namespace geometry

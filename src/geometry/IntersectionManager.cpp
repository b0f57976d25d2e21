#include "geometry/IntersectionManager.h"

#include "geometry/MemorySize.h"

namespace geometry {

std::shared_ptr<IntersectionManager> IntersectionManager::ExtractNear(const TCoord<double>&, double) const {
    return std::make_shared<IntersectionManager>();
}

void IntersectionManager::Intersect(const Ray&, std::vector<Hit>&, double) const {}

bool IntersectionManager::IsNear(const TCoord<double>&, double) const { return false; }

void IntersectionManager::PrintMemoryUsage(std::ostream& os) const {
    os << "Hit:    " << FormatMemorySize(sizeof(Hit), 1) << "\n";
}

} // namespace geometry

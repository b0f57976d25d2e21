#include "geometry/IntersectionManager.h"

#include "datafiles/Formatting.h"

namespace geometry {

std::shared_ptr<IntersectionManager> IntersectionManager::ExtractNear(const TCoord<double>&, double) const {
    return std::make_shared<IntersectionManager>();
}

void IntersectionManager::Intersect(const Ray&, std::vector<Hit>&, double) const {}

bool IntersectionManager::IsNear(const TCoord<double>&, double) const { return false; }

void IntersectionManager::PrintMemoryUsage(std::ostream& os) const {
    os << "Hit:    ";
    FormatMemory(os, sizeof(Hit), 1);
    os << "\n";
}

} // namespace geometry

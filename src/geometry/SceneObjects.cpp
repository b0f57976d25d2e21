#include "geometry/SceneObjects.h"

#include "geometry/IntersectionList.h"
#include "inifiles/IniValues.h"

void TBasicGeometricalObject::ReadName(const inifiles::TIniFileSection& section) {
    inifiles::ReadOptional(section, "Name", Name);
}

double TTraceableObject::SegmentLength(const geometry::Segment& segment) const {
    return segment.To - segment.From;
}

int TTraceableObject::Transport(TParticle&, const geometry::Segment&, double, TRandomNumbersGenerator&,
                                std::deque<std::unique_ptr<TParticle>>&) {
    return -1;
}

void TTraceableObject::PrintSummary(std::ostream& os) const {
    if (!Name.empty()) os << "   Name: " << Name << "\n";
    os << "   Object ID: " << ObjectID << "\n";
    os << "   Priority: " << Priority << "\n";
}

void TTraceableObject::ReadTraceableKeys(const inifiles::TIniFileSection& section) {
    ReadName(section);
    inifiles::ReadOptional(section, "Priority", Priority);
}

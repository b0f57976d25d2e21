#include "geometry/SceneObjects.h"

#include "geometry/IntersectionList.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"

void TBasicGeometricalObject::ReadName(const inifiles::TIniFileSection& section) {
    inifiles::ReadOptional(section, "Name", Name);
}

std::string ObjectLabel(const inifiles::TIniFileSection& section, std::size_t position) {
    const inifiles::TIniFileVariable* name = section.TryFindVariable("Name");
    if (name != nullptr && !name->GetValue().empty()) return "Object " + name->GetValue() + ": ";
    return "Object section " + std::to_string(position) + ": ";
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

#include "detectors/MeshDetector.h"

#include <stdexcept>

#include "detectors/TraceDump.h"
#include "geometry/ObjectFactory.h"
#include "geometry/Scene.h"
#include "inifiles/IniValues.h"
#include "interactions/InteractionTypes.h"

namespace {

const std::vector<int> kEveryCode = {0, 1, 2, 3, 4, 5, 6, 100, 101, 102, 1000, 1001};
const std::vector<int> kDetections = {interactions::EventDetection};

bool SingleKey(const inifiles::TIniFileSection& section) {
    bool single = false;
    inifiles::ReadOptional(section, "Single", single);
    return single;
}

} // namespace

void MeshDetector::StartRun(const std::string&) {
    Grid.StartRun();
}

void MeshDetector::PrintResults(std::ostream& os, double particles) const {
    if (!Name.empty())
        os << "   Name: " << Name << "\n";
    Grid.PrintResults(os, particles);
}

template <typename T>
void FlexMeshDetector<T>::ReadKeys(const inifiles::TIniFileSection& section,
                                   const std::vector<int>& defaultCodes) {
    this->ReadName(section);
    this->ReadFilterKeys(section);
    this->Grid.ReadDetectorKeys(section, defaultCodes);
    this->Grid.ReadGridKeys(section, *this, nullptr);
}

template <typename T>
std::unique_ptr<FlexMeshDetector<T>> FlexMeshDetector<T>::Create(const inifiles::TIniFileSection& section) {
    std::unique_ptr<FlexMeshDetector<T>> detector(new FlexMeshDetector<T>());
    detector->ReadKeys(section, kEveryCode);
    return detector;
}

template <typename T> std::unique_ptr<TBasicGeometricalObject> FlexMeshDetector<T>::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new FlexMeshDetector<T>(*this));
}

template <typename T>
void FlexMeshDetector<T>::Score(const TParticle& before, const TParticle& after, int code) {
    if (this->Grid.Scores(code))
        this->Grid.Score(before, after, code, after.Position);
}

template <typename T>
void FlexMeshDetector<T>::WriteResults(const std::string& baseName, const TraceResultScales& scales) const {
    this->Grid.WriteResults(baseName, scales, sizeof(T) == sizeof(double));
}

template <typename T> void FlexMeshDetector<T>::PrintSummary(std::ostream& os) const {
    os << "   Type: " << TypeName() << "\n";
    if (!this->Name.empty())
        os << "   Name: " << this->Name << "\n";
    this->Grid.PrintSummary(os, sizeof(T) == sizeof(double));
    this->PrintFilterSummary(os);
}

template <typename T>
std::unique_ptr<ContributionDetector<T>>
ContributionDetector<T>::Create(const inifiles::TIniFileSection& section) {
    std::unique_ptr<ContributionDetector<T>> detector(new ContributionDetector<T>());
    detector->ReadKeys(section, kDetections);
    return detector;
}

template <typename T> std::unique_ptr<TBasicGeometricalObject> ContributionDetector<T>::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new ContributionDetector<T>(*this));
}

template <typename T>
void ContributionDetector<T>::Score(const TParticle& before, const TParticle& after, int code) {
    if (this->Grid.Scores(code))
        this->Grid.Score(before, after, code, before.Position);
}

std::unique_ptr<MeshDetectorPart> MeshDetectorPart::Create(const inifiles::TIniFileSection& section,
                                                           IScene& scene) {
    std::unique_ptr<MeshDetectorPart> part(new MeshDetectorPart());
    part->ReadPart(section, scene);
    part->ReadFilterKeys(section);
    part->Grid.ReadDetectorKeys(section, kEveryCode);
    const geometry::TBoundingBox<double> box = scene.GetObjectBounds(part->ObjectID);
    part->Grid.ReadGridKeys(section, *part, &box);
    part->DoubleSamples = !SingleKey(section);
    return part;
}

std::unique_ptr<TBasicGeometricalObject> MeshDetectorPart::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new MeshDetectorPart(*this));
}

void MeshDetectorPart::Score(const TParticle& before, const TParticle& after, int code) {
    // Each tracer has its own copy of the part; the ID is what they share.
    if (after.CurrentObject != nullptr && after.CurrentObject->ObjectID == ObjectID && Grid.Scores(code))
        Grid.Score(before, after, code, after.Position);
}

void MeshDetectorPart::StartRun(const std::string&) {
    Grid.StartRun();
}

void MeshDetectorPart::WriteResults(const std::string& baseName, const TraceResultScales& scales) const {
    Grid.WriteResults(baseName, scales, DoubleSamples);
}

void MeshDetectorPart::PrintSummary(std::ostream& os) const {
    TPart::PrintSummary(os);
    os << "   Type: MeshDetectorPart\n";
    Grid.PrintSummary(os, DoubleSamples);
    PrintFilterSummary(os);
}

void MeshDetectorPart::PrintResults(std::ostream& os, double particles) const {
    if (!Name.empty())
        os << "   Name: " << Name << "\n";
    Grid.PrintResults(os, particles);
}

namespace {

// The result name of the trace detector about to join the scene, as the run derives it.
std::string TraceDetectorBase(const IScene& scene) {
    return scene.ResultPrefix + "_TraceDetector" + std::to_string(scene.TraceDetectorCount());
}

// A dump knows its file from loading on (a restored run continues it), and claims it:
// two writers of one file would destroy each other's data.
template <typename T>
std::unique_ptr<TBasicGeometricalObject> MakeDump(const inifiles::TIniFileSection& section, IScene& scene) {
    auto dump = TraceDump<T>::Create(section);
    const std::string base = TraceDetectorBase(scene);
    dump->UseName(base);
    scene.ClaimFile(dump->FileName(base), "the file of a trace dump", true);
    return dump;
}

} // namespace

void RegisterTraceDetectorTypes() {
    const auto mesh = [](const inifiles::TIniFileSection& section, IScene&) {
        if (SingleKey(section))
            return std::unique_ptr<TBasicGeometricalObject>(FlexMeshDetector<float>::Create(section));
        return std::unique_ptr<TBasicGeometricalObject>(FlexMeshDetector<double>::Create(section));
    };
    geometry::RegisterObjectType("MeshDetector", mesh);
    geometry::RegisterObjectType("VolumetricDetector", mesh);
    geometry::RegisterObjectType(
        "ContributionDetector", [](const inifiles::TIniFileSection& section, IScene&) {
            if (SingleKey(section))
                return std::unique_ptr<TBasicGeometricalObject>(ContributionDetector<float>::Create(section));
            return std::unique_ptr<TBasicGeometricalObject>(ContributionDetector<double>::Create(section));
        });
    const auto part = [](const inifiles::TIniFileSection& section, IScene& scene) {
        return std::unique_ptr<TBasicGeometricalObject>(MeshDetectorPart::Create(section, scene));
    };
    geometry::RegisterObjectType("MeshDetectorPart", part);
    geometry::RegisterObjectType("VolumetricDetectorPart", part);
    geometry::RegisterObjectType("TraceDump", [](const inifiles::TIniFileSection& section, IScene& scene) {
        try {
            return SingleKey(section) ? MakeDump<float>(section, scene) : MakeDump<double>(section, scene);
        } catch (const std::exception& e) {
            throw std::runtime_error(std::string("TraceDump: ") + e.what());
        }
    });
}

template class FlexMeshDetector<float>;
template class FlexMeshDetector<double>;
template class ContributionDetector<float>;
template class ContributionDetector<double>;

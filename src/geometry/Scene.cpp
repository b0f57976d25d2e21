#include "geometry/Scene.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include "datafiles/ResultFile.h"
#include "geometry/ClosedSurface.h"
#include "geometry/GeometryReader.h"
#include "geometry/MeshWriters.h"
#include "geometry/ObjectFactory.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"

IScene::IScene(geometry::MessageSink messages) : Messages(std::move(messages)) {
    omp_init_lock(&ObjectLock);
}

IScene::~IScene() {
    omp_destroy_lock(&ObjectLock);
}

void IScene::ClaimFile(const std::string& path, const std::string& use, bool writes) {
    std::error_code error;
    std::string absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(path), error).string();
    if (error)
        absolute = path;
    for (const FileClaim& claim : ClaimedFiles)
        if (claim.Path == absolute && (writes || claim.Writes))
            throw std::runtime_error(path + " is both " + use + " and " + claim.Use);
    ClaimedFiles.push_back({absolute, use, writes});
}

namespace {

std::uint32_t CheckedObjectID(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error("Conversion failed");
    return static_cast<std::uint32_t>(n);
}

template <typename T>
geometry::TBoundingBox<double> ToDouble(const geometry::TBoundingBox<T>& box) {
    geometry::TBoundingBox<double> out;
    out.Min = geometry::TCoord<double>(box.Min);
    out.Max = geometry::TCoord<double>(box.Max);
    return out;
}

} // namespace

namespace {

TIO_Object& Saved(TBasicGeometricalObject& object) {
    auto* saved = dynamic_cast<TIO_Object*>(&object);
    if (saved == nullptr)
        throw std::runtime_error("this kind of object can not be saved");
    return *saved;
}

// The detectors, then the trace detectors, each with its label for errors.
template <class Visit> void ForEachSaved(const IScene& scene, Visit visit) {
    for (std::size_t i = 0; i < scene.DetectorCount(); ++i)
        visit(scene.GetDetector(i), "Detector " + std::to_string(i));
    for (std::size_t i = 0; i < scene.TraceDetectorCount(); ++i)
        visit(scene.GetTraceDetector(i), "Trace detector " + std::to_string(i));
}

} // namespace

void IScene::InternalWrite(std::ostream& stream) {
    ForEachSaved(*this, [&](TBasicGeometricalObject& object, const std::string& label) {
        try {
            WriteObject(stream, Saved(object));
        } catch (const std::exception& e) {
            throw std::runtime_error(label + ": " + e.what());
        }
    });
}

void IScene::InternalRead(std::istream& stream, std::uint64_t payloadSize) {
    std::uint64_t consumed = 0;
    ForEachSaved(*this, [&](TBasicGeometricalObject& object, const std::string& label) {
        if (consumed + EntryHeader::FixedSize > payloadSize)
            throw std::runtime_error(label + ": not in the saved state, which was saved with another scene");
        try {
            consumed += ReadObject(stream, Saved(object));
        } catch (const std::exception& e) {
            throw std::runtime_error(label + ": " + e.what());
        }
    });
    if (consumed != payloadSize)
        throw std::runtime_error("The saved state holds more detectors than the scene");
}

template <typename T>
std::string TScene<T>::IOClassName() const {
    return sizeof(T) == sizeof(float) ? "TScene<float>" : "TScene<double>";
}

template <typename T>
TScene<T>::TScene(std::shared_ptr<geometry::BVHManager<T>> manager, geometry::MessageSink messages)
    : IScene(std::move(messages)), Manager(std::move(manager)) {}

template <typename T>
TScene<T>::~TScene() = default;

template <typename T>
std::unique_ptr<IScene> TScene<T>::Clone() const {
    auto copy = std::make_unique<TScene<T>>(Manager, Messages);
    copy->Materials = Materials;
    copy->CheckOverlap = CheckOverlap;
    copy->LocalManager = LocalManager;
    copy->ElectronTransport = ElectronTransport;
    copy->ResultPrefix = ResultPrefix;
    copy->DetectorModels = DetectorModels;
    for (const auto& object : Objects) copy->AddObject(object->Clone());
    return copy;
}

template <typename T>
void TScene<T>::AddObject(std::unique_ptr<TBasicGeometricalObject> object) {
    TBasicGeometricalObject* raw = object.get();
    Objects.push_back(std::move(object));
    if (auto* manager = dynamic_cast<const geometry::IntersectionManager*>(raw)) ObjectManagers.push_back(manager);
    if (auto* traceable = dynamic_cast<TTraceableObject*>(raw)) {
        traceable->Scene = this;
        Traceable.push_back(traceable);
    }
    const unsigned kinds = raw->Kinds();
    if (kinds & TBasicGeometricalObject::KindSource) Sources.push_back(raw);
    if (kinds & TBasicGeometricalObject::KindDetector) Detectors.push_back(raw);
    if (kinds & TBasicGeometricalObject::KindTraceDetector) TraceDetectors.push_back(raw);
    if (kinds & TBasicGeometricalObject::KindPart) {
        auto* part = dynamic_cast<TTraceableObject*>(raw);
        if (part == nullptr) throw std::logic_error("A part must be traceable");
        Parts.push_back(part);
    }
    raw->AddedTo(*this);
}

template <typename T>
bool TScene<T>::ReadScene(const inifiles::TIniFileStructure& ini) {
    const inifiles::TIniFileSection& objects = ini.FindSection("Objects");
    inifiles::ReadOptional(objects, "CheckOverlap", CheckOverlap);
    inifiles::ReadOptional(objects, "LocalManager", LocalManager);
    bool complete = true;
    std::size_t position = 0;
    for (std::size_t i = 0; i < objects.SubsectionCount(); ++i) {
        const inifiles::TIniFileSection& section = objects.Subsection(i);
        if (section.NameEquals("Object")) {
            ++position;
            std::unique_ptr<TBasicGeometricalObject> object;
            try {
                object = geometry::CreateObject(section, *this);
            } catch (const std::exception& e) {
                throw std::runtime_error(ObjectLabel(section, position) + e.what());
            }
            if (object)
                AddObject(std::move(object));
            else
                complete = false;
        } else if (section.NameEquals("Attractor")) {
            Messages("Attractors not supported\n", false);
        }
    }
    bool autoWindow = false;
    inifiles::ReadOptional(objects, "AutoWindow", autoWindow);
    for (TBasicGeometricalObject* source : Sources) source->PrepareInScene(*this, autoWindow);
    return complete;
}

template <typename T>
std::uint32_t TScene<T>::LoadPartGeometry(const inifiles::TIniFileSection& section) {
    bool checkClosed = true;
    inifiles::ReadOptional(section, "CheckClosed", checkClosed);
    const std::uint32_t id = CheckedObjectID(Traceable.size());
    geometry::ReadGeometry(section, geometry::TAffineTransform(), id, *Manager, false);
    const bool dumps = section.HasVariable("DumpOFF") || section.HasVariable("DumpPLY") ||
                       section.HasVariable("DumpStL");
    if (checkClosed || dumps) {
        std::vector<geometry::Facet> facets = Manager->GetObjectFacets(id);
        // The dumps show the surface the run uses, with the facets of a repair.
        if (checkClosed && geometry::CheckClosed(*Manager, id, facets).AddedFacets != 0)
            facets = Manager->GetObjectFacets(id);
        if (dumps && WritesFiles) WriteDumps(section, id, facets);
    }
    return id;
}

template <typename T>
void TScene<T>::WriteDumps(const inifiles::TIniFileSection& section, std::uint32_t id,
                           const std::vector<geometry::Facet>& facets) const {
    auto dump = [&](const char* key, bool binary, auto write) {
        const inifiles::TIniFileVariable* variable = section.TryFindVariable(key);
        if (variable == nullptr) return;
        const std::string name = inifiles::MakePath(*variable, variable->GetValue());
        datafiles::WriteReplacing(name, [&](const std::string& temporary) {
            std::ofstream file(temporary, binary ? std::ios::out | std::ios::binary : std::ios::out);
            if (file) write(file);
            file.close();
            if (!file) throw std::runtime_error("Error writing mesh dump " + name);
        });
    };
    dump("DumpOFF", false, [&](std::ostream& os) { geometry::WriteOFF(os, *Manager, facets); });
    dump("DumpPLY", true, [&](std::ostream& os) { geometry::WritePLY(os, *Manager, facets); });
    bool binaryStL = false;
    inifiles::ReadOptional(section, "BinaryStL", binaryStL);
    dump("DumpStL", binaryStL, [&](std::ostream& os) {
        geometry::WriteStL(os, *Manager, facets, "Part" + std::to_string(id), binaryStL);
    });
}

template <typename T>
geometry::TCoord<double> TScene<T>::GetVertex(std::size_t index) const {
    return geometry::TCoord<double>(Manager->GetVertices().at(index));
}

template <typename T>
std::vector<geometry::TBoundingBox<double>> TScene<T>::GetObjectBoxes() const {
    std::vector<geometry::TBoundingBox<double>> boxes;
    geometry::TBoundingBox<double> box;
    for (const geometry::IntersectionManager* manager : ObjectManagers)
        if (manager->GetObjectBox(box)) boxes.push_back(box);
    return boxes;
}

template <typename T>
void TScene<T>::Clear() {
    Parts.clear();
    Sources.clear();
    Detectors.clear();
    TraceDetectors.clear();
    Traceable.clear();
    ObjectManagers.clear();
    Objects.clear();
    DetectorModels.clear();
    Intersections.Clear();
    Manager->Clear();
}

template <typename T>
geometry::TBoundingBox<double> TScene<T>::GetObjectBounds(std::uint32_t objectID) const {
    return ToDouble(Manager->GetObjectBounds(objectID));
}

template <typename T>
bool TScene<T>::ComputeSegments(const geometry::Ray& ray) {
    Intersections.Clear();
    std::vector<geometry::Hit>& hits = Intersections.GetHits();
    Manager->Intersect(ray, hits, 0);
    for (const geometry::IntersectionManager* manager : ObjectManagers) manager->Intersect(ray, hits, 0);
    return Intersections.BuildSegments(Traceable, CheckOverlap);
}

template <typename T>
void TScene<T>::PrintSummary(std::ostream& os) const {
    Manager->PrintMemoryUsage(os);
    os << "Scene Summary:\n";
    os << "  Number of Parts: " << Parts.size() << "\n";
    os << "  Number of Sources: " << SourceCount() << "\n";
    os << "  Number of Detectors: " << DetectorCount() << "\n";
    os << "  Number of Trace Detectors: " << TraceDetectorCount() << "\n";
    os << "  Check Intersection Overlap: " << int(CheckOverlap) << "\n";
    os << "  Use Local Intersection Manager: " << int(LocalManager) << "\n";
    PrintObjectSummaries(os, "Sources Summary:", "Source", Sources);
    PrintObjectSummaries(os, "Detectors Summary:", "Detector", Detectors);
    PrintObjectSummaries(os, "Trace Detectors Summary:", "Trace Detector", TraceDetectors);
    if (!Parts.empty()) {
        os << "Parts Summary:\n";
        for (std::size_t i = 0; i < Parts.size(); ++i) PrintPartSummary(os, i);
    }
}

template <typename T>
void TScene<T>::PrintObjectSummaries(std::ostream& os, const char* heading, const char* label,
                                     const std::vector<TBasicGeometricalObject*>& objects) const {
    if (objects.empty()) return;
    os << heading << "\n";
    for (std::size_t i = 0; i < objects.size(); ++i) {
        os << "  " << label << " " << i << "\n";
        objects[i]->PrintSummary(os);
    }
}

template <typename T>
void TScene<T>::PrintPartSummary(std::ostream& os, std::size_t index) const {
    const TTraceableObject& part = *Parts[index];
    os << "  Part " << index << "\n";
    part.PrintSummary(os);
    const std::vector<geometry::Facet> facets = Manager->GetObjectFacets(part.ObjectID);
    std::vector<geometry::GeometryIndex> vertices;
    vertices.reserve(3 * facets.size());
    for (const geometry::Facet& f : facets) vertices.insert(vertices.end(), {f.V0, f.V1, f.V2});
    std::sort(vertices.begin(), vertices.end());
    const auto distinct = std::unique(vertices.begin(), vertices.end()) - vertices.begin();
    const geometry::TBoundingBox<T> box = Manager->GetObjectBounds(part.ObjectID);
    os << "   Number Of Vertices: " << distinct << "\n";
    os << "   Number Of Facets: " << facets.size() << "\n";
    os << "   Bounding Box: " << box.Min << "-" << box.Max << " cm\n";
}

template class TScene<float>;
template class TScene<double>;

#include "geometry/ObjectFactory.h"

#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "datafiles/Text.h"
#include "inifiles/IniValues.h"

namespace geometry {
namespace {

struct FactoryEntry {
    const char* Type;
    ObjectCreator Create;
};

// Looked up in this order; a null creator is a type this build does not have.
struct Factory {
    std::mutex Lock;
    std::vector<FactoryEntry> Entries{
        {"MonochromaticSource", nullptr}, {"PolychromaticSource", nullptr}, {"Source", nullptr},
        {"Part", nullptr},                {"CountingPart", nullptr},        {"MeshDetectorPart", nullptr},
        {"VolumetricDetectorPart", nullptr}, {"PlaneDetector", nullptr},    {"GridPlaneDetector", nullptr},
        {"MeshDetector", nullptr},        {"VolumetricDetector", nullptr},  {"ContributionDetector", nullptr},
        {"TraceDump", nullptr},
    };
};

Factory& TheFactory() {
    static Factory factory;
    return factory;
}

} // namespace

void RegisterObjectType(const std::string& type, ObjectCreator create) {
    Factory& factory = TheFactory();
    std::lock_guard<std::mutex> guard(factory.Lock);
    for (FactoryEntry& entry : factory.Entries) {
        if (ToLower(entry.Type) == ToLower(type)) {
            entry.Create = create;
            return;
        }
    }
    throw std::logic_error("Object type without a place in the factory: " + type);
}

std::unique_ptr<TBasicGeometricalObject> CreateObject(const inifiles::TIniFileSection& section, IScene& scene) {
    std::string type;
    inifiles::GetValue(section, "ObjectType", type);
    const std::string key = ToLower(type);
    ObjectCreator create = nullptr;
    {
        Factory& factory = TheFactory();
        std::lock_guard<std::mutex> guard(factory.Lock);
        auto entry = factory.Entries.begin();
        while (entry != factory.Entries.end() && ToLower(entry->Type) != key) ++entry;
        if (entry == factory.Entries.end()) throw std::runtime_error("Unknown object type: " + type);
        create = entry->Create;
    }
    if (create == nullptr) throw std::runtime_error("Object type not supported by this version: " + type);
    return create(section, scene);
}

} // namespace geometry

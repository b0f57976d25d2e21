#include "tracer/Part.h"

#include <stdexcept>

#include "app/SystemUtils.h"
#include "geometry/ObjectFactory.h"
#include "geometry/Scene.h"
#include "materials/Material.h"
#include "materials/MaterialsList.h"
#include "inifiles/IniValues.h"

std::unique_ptr<TPart> TPart::Create(const inifiles::TIniFileSection& section, IScene& scene) {
    auto part = std::make_unique<TPart>();
    try {
        part->ReadTraceableKeys(section);
        part->ReadMaterialKeys(section, scene.ElectronTransport);
        part->Scene = &scene;
        part->ObjectID = scene.LoadPartGeometry(section);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TPart: ") + e.what());
    }
    return part;
}

void RegisterPartTypes() {
    geometry::RegisterObjectType("Part", [](const inifiles::TIniFileSection& section, IScene& scene) {
        return std::unique_ptr<TBasicGeometricalObject>(TPart::Create(section, scene));
    });
}

void TPart::AddedTo(IScene& scene) {
    if (Material != nullptr || scene.Materials == nullptr) return;
    materials::TMaterial* material = scene.Materials->GetMaterial(MaterialName);
    if (material == nullptr) return;
    std::int32_t index = 0;
    while (&scene.Materials->Material(std::size_t(index)) != material) ++index;
    SetMaterial(material, index);
    if (ElectronTransport) material->Properties.UsedWithElectronTransport = true;
}

std::unique_ptr<TBasicGeometricalObject> TPart::Clone() const {
    return std::make_unique<TPart>(*this);
}

void TPart::ReadMaterialKeys(const inifiles::TIniFileSection& section, bool electronTransport) {
    inifiles::ReadOptional(section, "MaterialName", MaterialName);
    Void = ToLower(MaterialName) == "void";
    MaterialIndex = Void ? VoidMaterialIndex : NoMaterialIndex;
    ElectronTransport = false;
    ElectronEmission = false;
    if (MaterialName.empty()) return;
    ElectronTransport = electronTransport;
    inifiles::ReadOptional(section, "ElectronTransport", ElectronTransport);
    inifiles::ReadOptional(section, "ElectronEmission", ElectronEmission);
    if (ElectronEmission) ElectronTransport = true;
}

void TPart::SetMaterial(const materials::TMaterial* material, std::int32_t index) {
    Material = material;
    MaterialIndex = index;
}

void TPart::PrintSummary(std::ostream& os) const {
    TTraceableObject::PrintSummary(os);
    if (!MaterialName.empty()) os << "   Material Name: " << MaterialName << "\n";
    if (ElectronEmission)
        os << "   Electron Emission: " << ElectronEmission << "\n";
    else
        os << "   Electron Tracing: " << ElectronTransport << "\n";
}

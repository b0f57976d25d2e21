#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "geometry/SceneObjects.h"

namespace inifiles {
class TIniFileSection;
}

namespace materials {
class TMaterial;
}

// Registers "Part" with the scene's object factory.
void RegisterPartTypes();

// A closed surface filled with one material, with nothing ("void"), or without a
// material name (then it absorbs every photon at its surface).
class TPart : public TTraceableObject {
public:
    static constexpr std::int32_t VoidMaterialIndex = 2147483646;
    static constexpr std::int32_t NoMaterialIndex = 2147483645;

    // Reads the part's keys and loads its mesh into the scene; errors carry "TPart: ".
    static std::unique_ptr<TPart> Create(const inifiles::TIniFileSection& section, IScene& scene);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    unsigned Kinds() const override { return KindPart; }
    // Binds the material by name from the scene's list when the part has none yet.
    void AddedTo(IScene& scene) override;
    bool IsVoid() const override { return Void; }
    // The base lines, then the material and electron lines.
    void PrintSummary(std::ostream& os) const override;

    // "MaterialName" and the electron switches; electronTransport is the run's default.
    void ReadMaterialKeys(const inifiles::TIniFileSection& section, bool electronTransport);
    void SetMaterial(const materials::TMaterial* material, std::int32_t index);

    const std::string& GetMaterialName() const { return MaterialName; }
    const materials::TMaterial* GetMaterial() const { return Material; }
    std::int32_t GetMaterialIndex() const { return MaterialIndex; }
    bool HasElectronTransport() const { return ElectronTransport; }
    bool HasElectronEmission() const { return ElectronEmission; }

private:
    std::string MaterialName;
    const materials::TMaterial* Material = nullptr;
    bool Void = false;
    std::int32_t MaterialIndex = NoMaterialIndex;
    bool ElectronTransport = false;
    bool ElectronEmission = false;
};

// The part behind a scene's part entry: the scene files only parts there.
inline TPart& AsPart(TTraceableObject& object) { return static_cast<TPart&>(object); }

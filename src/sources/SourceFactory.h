#pragma once

#include <memory>

#include "sources/BasicSource.h"

namespace inifiles {
class TIniFileSection;
}

class IScene;

// Registers "MonochromaticSource", "PolychromaticSource" and "Source" with the
// scene's object factory.
void RegisterSourceTypes();

// The source a section describes: a list source for "ParticleList", a polychromatic one for a "Spectrum" key or sub-section (the
// spectrum pooled with the scene's sources), else a monochromatic one. Errors carry
// the class name in front.
std::unique_ptr<TBasicSource> CreateSource(const inifiles::TIniFileSection& section, IScene& scene);

// The source behind a scene's source entry: the scene files only sources there.
inline TBasicSource& AsSource(TBasicGeometricalObject& object) {
    return static_cast<TBasicSource&>(object);
}

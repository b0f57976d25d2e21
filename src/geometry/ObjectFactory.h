#pragma once

#include <memory>
#include <string>

#include "geometry/SceneObjects.h"

namespace inifiles {
class TIniFileSection;
}

namespace geometry {

using ObjectCreator = std::unique_ptr<TBasicGeometricalObject> (*)(const inifiles::TIniFileSection& section,
                                                                   IScene& scene);

// The object kinds live in the layers above geometry (parts, sources, detectors), so
// they register their creators here; the scene knows only the type names, and a
// known name nobody registered reads as not supported by this version. Registering
// is meant for start-up; registering a type again replaces its creator.
void RegisterObjectType(const std::string& type, ObjectCreator create);

// Creates the object that the section's "ObjectType" names (without regard to case).
std::unique_ptr<TBasicGeometricalObject> CreateObject(const inifiles::TIniFileSection& section, IScene& scene);

} // namespace geometry

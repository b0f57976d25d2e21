#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "geometry/Messages.h"
#include "geometry/Scene.h"

namespace inifiles {
class TIniFileStructure;
}

namespace geometry {

// What loading a scene needs of the run's parameters.
struct SceneSettings {
    std::uint64_t SAHBins = 42;
    std::uint64_t MaxLeafCount = 5;
    std::uint64_t MaxBVHDepth = 500;
    bool Single = false;
    // The scene file, already resolved; empty: the configuration holds "Objects".
    std::string SceneFileName;
    // The file the configuration came from, named in errors of an embedded "Objects".
    std::string ConfigurationName;
    // The run's electron-transport switch, the default of every part.
    bool ElectronTransport = false;
    // Result directory and configuration name (IScene::ResultPrefix).
    std::string ResultPrefix;
    // False in a cluster worker: the process that writes results also writes the dumps.
    bool WritesFiles = true;
    // Where parts find their materials (see IScene::Materials); may be null.
    materials::TMaterialsList* Materials = nullptr;
};

// The hierarchy and the scene that shares it; the application owns both.
struct LoadedScene {
    std::shared_ptr<IntersectionManager> Manager;
    std::unique_ptr<IScene> Scene;
};

// Creates the hierarchy and the scene in the chosen precision and reads the objects
// from the scene file or the configuration. A scene file's "Objects" section is
// copied into the configuration with its "BasePath", so that the saved configuration
// is self-contained. Writes "Loading geometry...", "Geometry loaded in <s>s" and the
// missing-source and missing-detector notes to messages (texts end in "\n").
LoadedScene LoadSceneGeometry(inifiles::TIniFileStructure& configuration, const SceneSettings& settings,
                              const MessageSink& messages);

// Builds the hierarchy: "Preparing geometry manager...", then
// "Geometry manager prepared in <s>s".
void PrepareGeometryManager(IScene& scene, const MessageSink& messages);

} // namespace geometry

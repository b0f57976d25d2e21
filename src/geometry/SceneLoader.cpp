#include "geometry/SceneLoader.h"

#include <chrono>
#include <sstream>
#include <stdexcept>

#include "inifiles/IniFile.h"

namespace geometry {

namespace {

class Stopwatch {
public:
    // Wall-clock seconds since construction, as the messages print them.
    std::string Seconds() const {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - Start;
        std::ostringstream os;
        os << elapsed.count();
        return os.str();
    }

private:
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
};

template <typename T>
LoadedScene CreateScene(const SceneSettings& settings, const MessageSink& messages) {
    auto manager =
        std::make_shared<BVHManager<T>>(settings.SAHBins, settings.MaxLeafCount, settings.MaxBVHDepth, messages);
    LoadedScene loaded;
    loaded.Manager = manager;
    loaded.Scene = std::make_unique<TScene<T>>(manager, messages);
    return loaded;
}

// Object errors name the object; this adds the file that describes it.
void ReadSceneNamingFile(IScene& scene, const inifiles::TIniFileStructure& file, const std::string& name) {
    try {
        scene.ReadScene(file);
    } catch (const std::exception& e) {
        if (name.empty()) throw;
        throw std::runtime_error(std::string(e.what()) + " while loading " + name);
    }
}

} // namespace

LoadedScene LoadSceneGeometry(inifiles::TIniFileStructure& configuration, const SceneSettings& settings,
                              const MessageSink& messages) {
    LoadedScene loaded = settings.Single ? CreateScene<float>(settings, messages)
                                         : CreateScene<double>(settings, messages);
    loaded.Scene->ElectronTransport = settings.ElectronTransport;
    loaded.Scene->Materials = settings.Materials;
    loaded.Scene->ResultPrefix = settings.ResultPrefix;
    loaded.Scene->WritesFiles = settings.WritesFiles;
    messages("Loading geometry...\n", false);
    const Stopwatch watch;
    if (settings.SceneFileName.empty()) {
        ReadSceneNamingFile(*loaded.Scene, configuration, settings.ConfigurationName);
    } else {
        const inifiles::TIniFileStructure sceneFile(settings.SceneFileName);
        ReadSceneNamingFile(*loaded.Scene, sceneFile, settings.SceneFileName);
        inifiles::CopySectionWithBasePath(configuration, sceneFile, "Objects");
    }
    messages("Geometry loaded in " + watch.Seconds() + "s\n", false);
    if (loaded.Scene->SourceCount() == 0) messages("Error. No sources found.\n", false);
    if (loaded.Scene->DetectorCount() == 0 && loaded.Scene->TraceDetectorCount() == 0)
        messages("Warning. No detectors found.\n", false);
    return loaded;
}

void PrepareGeometryManager(IScene& scene, const MessageSink& messages) {
    messages("Preparing geometry manager...\n", false);
    const Stopwatch watch;
    IntersectionManager& manager = scene.GetIntersectionManager();
    manager.Prepare();
    manager.Finish();
    messages("Geometry manager prepared in " + watch.Seconds() + "s\n", false);
}

} // namespace geometry

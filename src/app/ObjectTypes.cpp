#include "app/ObjectTypes.h"

#include <mutex>

#include "detectors/ImageDetectors.h"
#include "detectors/MeshDetector.h"
#include "sources/SourceFactory.h"
#include "tracer/Part.h"

void RegisterSceneObjectTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterPartTypes();
        RegisterSourceTypes();
        RegisterDetectorTypes();
        RegisterTraceDetectorTypes();
    });
}

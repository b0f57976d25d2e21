#include "app/ObjectTypes.h"

#include <mutex>

#include "detectors/ImageDetectors.h"
#include "detectors/MeshDetector.h"
#include "detectors/PhaseSpaceWriter.h"
#include "interactions/Part.h"
#include "sources/SourceFactory.h"

void RegisterSceneObjectTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterPartTypes();
        RegisterSourceTypes();
        RegisterDetectorTypes();
        RegisterTraceDetectorTypes();
        RegisterPhaseSpaceType();
    });
}

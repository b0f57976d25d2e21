#include "interactions/InteractionTypes.h"

namespace interactions {

std::string InteractionTypeName(std::int32_t type) {
    switch (type) {
    case InteractionUnknown:
        return "Unknown";
    case InteractionPhoton:
        return "PhotonInteraction";
    case InteractionPhotonAbsorption:
        return "PhotonAbsorption";
    case InteractionPhotoEffect:
        return "PhotoEffect";
    case InteractionPairProduction:
        return "PairProduction";
    case InteractionPhotonScattering:
        return "PhotonScattering";
    case InteractionCompton:
        return "ComptonScattering";
    case InteractionRayleigh:
        return "RayleighScattering";
    case InteractionElectron:
        return "ElectronInteraction";
    case InteractionElectronScattering:
        return "ElectronScattering";
    case InteractionBremsstrahlung:
        return "Bremsstrahlung";
    case EventDetection:
        return "Detection";
    case EventCreation:
        return "Creation";
    default:
        return std::to_string(type);
    }
}

} // namespace interactions

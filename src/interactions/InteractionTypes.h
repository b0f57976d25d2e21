#pragma once

#include <cstdint>
#include <string>

namespace interactions {

// Numbers carried by every interaction, detector event and trace record.
enum InteractionType : std::int32_t {
    InteractionUnknown = -1,
    InteractionPhoton = 0,
    InteractionPhotonAbsorption = 1,
    InteractionPhotoEffect = 2,
    InteractionPairProduction = 3,
    InteractionPhotonScattering = 4,
    InteractionCompton = 5,
    InteractionRayleigh = 6,
    InteractionElectron = 100,
    InteractionElectronScattering = 101,
    InteractionBremsstrahlung = 102,
    EventDetection = 1000,
    EventCreation = 1001,
};

// The printed name, or the decimal number for a value without one.
std::string InteractionTypeName(std::int32_t type);

} // namespace interactions

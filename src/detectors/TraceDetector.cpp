#include "detectors/TraceDetector.h"

#include <stdexcept>

#include "inifiles/IniValues.h"
#include "interactions/InteractionTypes.h"

namespace {

// Bit of a photon interaction code the switches act on, 0 for any other code.
unsigned PhotonCodeBit(int code) {
    switch (code) {
    case interactions::InteractionPhotoEffect:
    case interactions::InteractionPairProduction:
    case interactions::InteractionCompton:
    case interactions::InteractionRayleigh:
        return 1u << code;
    default:
        return 0;
    }
}

} // namespace

TTraceDetector::EventType TTraceDetector::Classify(const TParticle& after, int code) {
    if (code == interactions::EventCreation)
        return Creation;
    if (code == interactions::EventDetection)
        return Detection;
    return after.Status == StatusAbsorbed ? Absorption : Interaction;
}

void TTraceDetector::UpdateMasks() const {
    EventMask = (DetectCreation ? unsigned(Creation) : 0u) | (DetectDetection ? unsigned(Detection) : 0u) |
                (DetectInteraction ? unsigned(Interaction) : 0u) |
                (DetectAbsorption ? unsigned(Absorption) : 0u);
    ParticleMask = (DetectPhotons ? 1u << ParticlePhoton : 0) |
                   (DetectElectrons ? 1u << ParticleElectron : 0) |
                   (DetectPositrons ? 1u << ParticlePositron : 0);
    PhotonCodeMask = (DetectPhotoEffect ? PhotonCodeBit(interactions::InteractionPhotoEffect) : 0) |
                     (DetectPairProduction ? PhotonCodeBit(interactions::InteractionPairProduction) : 0) |
                     (DetectIncoherent ? PhotonCodeBit(interactions::InteractionCompton) : 0) |
                     (DetectCoherent ? PhotonCodeBit(interactions::InteractionRayleigh) : 0);
    MasksSet = true;
}

bool TTraceDetector::Accepts(const TParticle& before, const TParticle& after, int code) const {
    if (!MasksSet)
        UpdateMasks();
    if ((EventMask & Classify(after, code)) == 0)
        return false;
    if (after.Type > ParticlePositron || (ParticleMask & (1u << after.Type)) == 0)
        return false;
    if (after.Type == ParticlePhoton) {
        const unsigned bit = PhotonCodeBit(code);
        if (bit != 0 && (PhotonCodeMask & bit) == 0)
            return false;
    }
    if (!(before.Energy >= MinEnergy && before.Energy <= MaxEnergy))
        return false;
    if (!(before.Weight >= MinWeight && before.Weight <= MaxWeight))
        return false;
    if (before.InteractionCount < MinInteraction || before.InteractionCount > MaxInteraction)
        return false;
    if (after.CurrentObject == nullptr)
        return MinObjectID == 0 && MaxObjectID == AnyID;
    const std::uint32_t id = after.CurrentObject->ObjectID;
    return id >= MinObjectID && id <= MaxObjectID;
}

void TTraceDetector::ReadFilterKeys(const inifiles::TIniFileSection& section) {
    try {
        const std::pair<const char*, bool*> switches[] = {
            {"DetectCreation", &DetectCreation},
            {"DetectDetection", &DetectDetection},
            {"DetectInteraction", &DetectInteraction},
            {"DetectAbsorption", &DetectAbsorption},
            {"DetectPhotons", &DetectPhotons},
            {"DetectElectrons", &DetectElectrons},
            {"DetectPositrons", &DetectPositrons},
            {"DetectPhotoEffect", &DetectPhotoEffect},
            {"DetectCoherent", &DetectCoherent},
            {"DetectIncoherent", &DetectIncoherent},
            {"DetectPairProduction", &DetectPairProduction},
        };
        for (const auto& [key, value] : switches)
            inifiles::ReadOptional(section, key, *value);
        inifiles::ReadOptional(section, "MinEnergy", MinEnergy);
        inifiles::ReadOptional(section, "MaxEnergy", MaxEnergy);
        inifiles::ReadOptional(section, "MinWeight", MinWeight);
        inifiles::ReadOptional(section, "MaxWeight", MaxWeight);
        inifiles::ReadOptional(section, "MinInteraction", MinInteraction);
        inifiles::ReadOptional(section, "MaxInteraction", MaxInteraction);
        inifiles::ReadOptional(section, "MinObjectID", MinObjectID);
        inifiles::ReadOptional(section, "MaxObjectID", MaxObjectID);
        if (!(MinEnergy <= MaxEnergy))
            throw std::runtime_error("MinEnergy is above MaxEnergy");
        if (!(MinWeight <= MaxWeight))
            throw std::runtime_error("MinWeight is above MaxWeight");
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TTraceDetector: ") + e.what());
    }
    UpdateMasks();
}

void TTraceDetector::PrintFilterSummary(std::ostream& os) const {
    os << "   Event Types:" << (DetectCreation ? " Creation" : "") << (DetectDetection ? " Detection" : "")
       << (DetectInteraction ? " Interaction" : "") << (DetectAbsorption ? " Absorption" : "") << "\n";
    os << "   Particle Types:" << (DetectPhotons ? " Photon" : "") << (DetectElectrons ? " Electron" : "")
       << (DetectPositrons ? " Positron" : "") << "\n";
    os << "   Photon Interactions:" << (DetectPhotoEffect ? " PhotoEffect" : "")
       << (DetectCoherent ? " Rayleigh" : "") << (DetectIncoherent ? " Compton" : "")
       << (DetectPairProduction ? " PairProduction" : "") << "\n";
    os << "   Energy Range: " << MinEnergy << " - " << MaxEnergy << " keV\n";
    os << "   Weight Range: " << MinWeight << " - " << MaxWeight << "\n";
    os << "   Interaction Count Range: " << MinInteraction << " - " << MaxInteraction << "\n";
    os << "   Object ID Range: " << MinObjectID << " - " << MaxObjectID << "\n";
}

TTraceDetector& AsTraceDetector(TBasicGeometricalObject& object) {
    return dynamic_cast<TTraceDetector&>(object);
}

#pragma once

#include "interactions/Particle.h"
#include "random/RandomNumbersGenerator.h"

namespace interactions {

// Annihilation of a positron at rest: two photons of the electron's rest
// energy, back to back in an isotropic direction, from the positron's place.
class TPositronAnnihilation {
public:
    // Appends the two photons (copies of `positron` with its weight) to the
    // queue and ends the positron (energy 0, status absorbed).
    static void AnnihilateAtRest(TParticle& positron, TRandomNumbersGenerator& rng, TParticleQueue& secondaries);
};

} // namespace interactions

#include "interactions/Annihilation.h"

#include "interactions/PhysicsConstants.h"

namespace interactions {

void TPositronAnnihilation::AnnihilateAtRest(TParticle& positron, TRandomNumbersGenerator& rng,
                                             TParticleQueue& secondaries)
{
    double u[2];
    rng.Generate(u, 2);
    auto first = MakeSecondary(positron, ParticlePhoton, kElectronMass);
    // The positron may already be marked as stopped; its photons live on.
    first->Status = StatusAlive;
    first->SetIsotropicDirection(u[0], u[1]);
    first->InteractionCount = positron.InteractionCount + 1;
    auto second = MakeSecondary(*first, ParticlePhoton, kElectronMass);
    const auto d = first->DirectionVector();
    second->SetDirectionVector({-d.x, -d.y, -d.z});
    secondaries.push_back(std::move(first));
    secondaries.push_back(std::move(second));
    positron.Energy = 0.0;
    positron.Status = StatusAbsorbed;
}

} // namespace interactions

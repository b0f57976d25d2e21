#include "geometry/SceneObjects.h"
#include "interactions/Particle.h"

// The geometry layer declares this hook but cannot see the particle record, which
// belongs to this layer.
int TTraceableObject::TransportElectron(TParticle& particle, TRandomNumbersGenerator&, TParticleQueue&) {
    particle.Status = StatusAbsorbed;
    return -1;
}

#pragma once

#include "interactions/Particle.h"

// Receives every reportable event of a tracer: the particle before and after, and
// the event code. Called from every tracer thread. Parts report the events of their
// own transport through it, trace detectors receive them.
class TParticleListener {
public:
    virtual ~TParticleListener() = default;
    virtual void Notify(const TParticle& before, const TParticle& particle, int code) = 0;
};

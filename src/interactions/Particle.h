#pragma once

#include "geometry/Angles.h"
#include "geometry/Coord.h"

#include <cstdint>
#include <deque>
#include <memory>

class TTraceableObject;

enum TParticleType : std::uint32_t {
    ParticlePhoton = 0,
    ParticleElectron = 1,
    ParticlePositron = 2,
};

enum TParticleStatus : std::uint32_t {
    StatusAlive = 0,
    StatusAbsorbed = 1,
    StatusRegistered = 2,
};

// The record of one particle shared by sources, tracer, interactions and
// detectors. Secondaries start as plain copies of their parent. The direction
// caches its sines and cosines on first use, so a record must not be read by
// two threads at once.
struct TParticle {
    std::uint32_t Type = ParticlePhoton;
    std::uint32_t Status = StatusAlive;
    // The part of the last interaction; not owned, null at emission.
    const TTraceableObject* CurrentObject = nullptr;
    geometry::TCoord<double> Position;
    // Polar angle from +z and azimuth from +x.
    geometry::TSphericalAngle Direction;
    double Energy = 0;
    double Weight = 1;
    std::uint32_t InteractionCount = 0;
    std::uint64_t History = 0;
    std::uint64_t Sequence = 0;

    bool IsAlive() const { return Status == StatusAlive; }

    // Unit vector (sin t cos p, sin t sin p, cos t). Inline, like Move: every step and
    // every registration on a plane reads it.
    geometry::TCoord<double> DirectionVector() const {
        const double sinTheta = Direction.Theta.Sin();
        return geometry::TCoord<double>(sinTheta * Direction.Phi.Cos(), sinTheta * Direction.Phi.Sin(),
                                        Direction.Theta.Cos());
    }
    // Stores a direction given as a vector of any non-zero length.
    void SetDirectionVector(const geometry::TCoord<double>& v);
    // Turns the local vector (x, y, z), whose z axis is the current direction,
    // into the scene frame and makes it the new direction.
    void RotateDirection(double x, double y, double z);
    // New direction at polar angle theta (given by its cosine) and azimuth phi
    // relative to the current direction.
    void Deflect(double cosTheta, double phi);
    // Isotropic direction from two uniform numbers.
    void SetIsotropicDirection(double u1, double u2);

    void Move(double distance) { Position += DirectionVector() * distance; }

    // Records come from a free list of the allocating thread (one tracer per
    // thread), so queuing secondaries allocates nothing once the list has grown.
    static void* operator new(std::size_t size);
    static void operator delete(void* record) noexcept;
};

// Particles waiting to be traced; owned by the tracer.
using TParticleQueue = std::deque<std::unique_ptr<TParticle>>;

// A copy of `parent` of another type and energy, for secondaries.
std::unique_ptr<TParticle> MakeSecondary(const TParticle& parent, std::uint32_t type, double energy);

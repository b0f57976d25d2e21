#include "interactions/Particle.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace {

const double kPi = 4.0 * std::atan(1.0);

// Released records of this thread, reused before the heap is asked again.
struct TParticleFreeList {
    std::vector<void*> Records;
    ~TParticleFreeList() {
        for (void* r : Records) ::operator delete(r);
    }
};

TParticleFreeList& FreeList() {
    thread_local TParticleFreeList list;
    return list;
}

} // namespace

void* TParticle::operator new(std::size_t size) {
    std::vector<void*>& records = FreeList().Records;
    if (size != sizeof(TParticle) || records.empty())
        return ::operator new(size);
    void* r = records.back();
    records.pop_back();
    return r;
}

void TParticle::operator delete(void* record) noexcept {
    if (record == nullptr)
        return;
    try {
        FreeList().Records.push_back(record);
    } catch (...) {
        ::operator delete(record);
    }
}

void TParticle::SetDirectionVector(const geometry::TCoord<double>& v) {
    const double rho2 = v.x * v.x + v.y * v.y;
    const double rho = std::sqrt(rho2);
    const double r = std::sqrt(rho2 + v.z * v.z);
    Direction.Theta.SetAngle(rho / r, v.z / r);
    // Along the z axis the azimuth is arbitrary; keep it defined.
    if (rho > 0)
        Direction.Phi.SetAngle(v.y / rho, v.x / rho);
    else
        Direction.Phi.SetAngle(0.0, 1.0);
}

void TParticle::RotateDirection(double x, double y, double z) {
    const double sinTheta = Direction.Theta.Sin();
    const double cosTheta = Direction.Theta.Cos();
    const double sinPhi = Direction.Phi.Sin();
    const double cosPhi = Direction.Phi.Cos();
    const double zr = z * cosTheta - x * sinTheta;
    const double xr = x * cosTheta + z * sinTheta;
    SetDirectionVector(geometry::TCoord<double>(xr * cosPhi - y * sinPhi, y * cosPhi + xr * sinPhi, zr));
}

void TParticle::Deflect(double cosTheta, double phi) {
    const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
    RotateDirection(sinTheta * std::cos(phi), sinTheta * std::sin(phi), cosTheta);
}

void TParticle::SetIsotropicDirection(double u1, double u2) {
    const double cosTheta = 2.0 * u1 - 1.0;
    Direction.Theta.SetAngle(std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta)), cosTheta);
    Direction.Phi.SetAngle(2.0 * kPi * u2);
}

std::unique_ptr<TParticle> MakeSecondary(const TParticle& parent, std::uint32_t type, double energy) {
    auto p = std::make_unique<TParticle>(parent);
    p->Type = type;
    p->Energy = energy;
    return p;
}

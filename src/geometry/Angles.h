#pragma once

#include <ostream>

namespace geometry {

// One angle whose sine and cosine are computed on demand and cached. The
// caches are written by const readers, so every thread needs its own copy.
class TPlaneAngle {
public:
    TPlaneAngle() { SetAngle(0.0); }
    explicit TPlaneAngle(double value) { SetAngle(value); }

    void SetAngle(double value);
    void SetAngle(double sinValue, double cosValue);

    // Inline while cached: particles read their direction on every step.
    double Sin() const { return SinValid ? SinValue : ComputeSin(); }
    double Cos() const { return CosValid ? CosValue : ComputeCos(); }
    // Whether Sin and Cos are at hand without a computation.
    bool IsCached() const { return SinValid & CosValid; }
    double GetAngle() const;

private:
    double ComputeSin() const;
    double ComputeCos() const;

    mutable double SinValue = 0;
    mutable double CosValue = 1;
    mutable double Angle = 0;
    mutable bool SinValid = false;
    mutable bool CosValid = false;
    mutable bool AngleValid = false;
};

// Theta is the polar angle from +z, Phi the azimuth from +x towards +y (radians).
class TSphericalAngle {
public:
    TPlaneAngle Theta;
    TPlaneAngle Phi;

    TSphericalAngle() = default;
    TSphericalAngle(double theta, double phi) : Theta(theta), Phi(phi) {}
    bool IsCached() const { return Theta.IsCached() & Phi.IsCached(); }
};

std::ostream& operator<<(std::ostream& os, const TSphericalAngle& a);

} // namespace geometry

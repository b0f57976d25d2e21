#include "geometry/Angles.h"

#include <cmath>
#include <stdexcept>

namespace geometry {

void TPlaneAngle::SetAngle(double value) {
    if (std::isnan(value)) throw std::runtime_error("TPlaneAngle::SetAngle(Value)!");
    if (AngleValid && Angle == value) return;
    Angle = value;
    AngleValid = true;
    SinValid = false;
    CosValid = false;
}

void TPlaneAngle::SetAngle(double sinValue, double cosValue) {
    if (std::isnan(sinValue) || std::isnan(cosValue))
        throw std::runtime_error("TPlaneAngle::SetAngle(Sin, Cos)!");
    if (!SinValid || SinValue != sinValue) {
        SinValue = sinValue;
        AngleValid = false;
    }
    if (!CosValid || CosValue != cosValue) {
        CosValue = cosValue;
        AngleValid = false;
    }
    SinValid = true;
    CosValid = true;
}

double TPlaneAngle::ComputeSin() const {
    SinValue = std::sin(Angle);
    SinValid = true;
    return SinValue;
}

double TPlaneAngle::ComputeCos() const {
    CosValue = std::cos(Angle);
    CosValid = true;
    return CosValue;
}

double TPlaneAngle::GetAngle() const {
    if (AngleValid) return Angle;
    if (SinValid && CosValid) {
        Angle = std::atan2(SinValue, CosValue);
        AngleValid = true;
        return Angle;
    }
    throw std::runtime_error("Cannot calculate angle without cosine and sine");
}

std::ostream& operator<<(std::ostream& os, const TSphericalAngle& a) {
    return os << "( " << a.Theta.GetAngle() << ", " << a.Phi.GetAngle() << " )";
}

} // namespace geometry

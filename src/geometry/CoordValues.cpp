#include "geometry/CoordValues.h"

namespace geometry {

namespace {

template <class T> void GetCoord(const inifiles::TIniFileVariable& variable, TCoord<T>& out) {
    inifiles::GetValueWith(variable, out, inifiles::TypeName<TCoord<T>>::value,
                           [](std::istream& stream, TCoord<T>& value) {
                               inifiles::ReadVectorText(stream, value.x, value.y, value.z);
                           });
}

} // namespace

void GetValue(const inifiles::TIniFileVariable& variable, TCoord<double>& out) {
    GetCoord(variable, out);
}
void GetValue(const inifiles::TIniFileVariable& variable, TCoord<float>& out) {
    GetCoord(variable, out);
}

void GetValue(const inifiles::TIniFileVariable& variable, TSphericalAngle& out) {
    inifiles::GetValueWith(variable, out, inifiles::TypeName<TSphericalAngle>::value,
                           [](std::istream& stream, TSphericalAngle& value) {
                               double angles[2];
                               if (inifiles::ReadTupleText(stream, angles, 2, 2) != 0)
                                   value = TSphericalAngle(angles[0], angles[1]);
                           });
}

} // namespace geometry

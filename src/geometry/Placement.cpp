#include "geometry/Placement.h"

#include <cmath>

#include "geometry/CoordValues.h"
#include "inifiles/IniValues.h"

namespace geometry {

namespace {

TCoord<double> ReadLength(const inifiles::TIniFileVariable& variable) {
    TCoord<double> value;
    GetValue(variable, value);
    return inifiles::ToInternalLength(value, variable.GetLengthUnit());
}

TCoord<double> Reciprocal(const TCoord<double>& s) { return TCoord<double>(1 / s.x, 1 / s.y, 1 / s.z); }

} // namespace

TAffineTransform BuildPlacement(const inifiles::TIniFileSection& section, bool inverse) {
    static const char* const rotations[3] = {"RotateX", "RotateY", "RotateZ"};
    const double pi = 4 * std::atan(1.0);
    TAffineTransform m;
    TCoord<double> pivot;
    // Forward steps are applied after what came before (M = step o M), inverse steps
    // before it (M = M o step^-1), which yields the inverse of the whole chain.
    auto apply = [&](const TAffineTransform& step, const TAffineTransform& stepInverse) {
        if (inverse) m.Compose(stepInverse);
        else m = step * m;
    };
    for (std::size_t i = 0; i < section.VariableCount(); ++i) {
        const inifiles::TIniFileVariable& v = section.Variable(i);
        if (v.NameEquals("Origin")) {
            const TCoord<double> q = ReadLength(v);
            apply(TAffineTransform::Translation(pivot - q), TAffineTransform::Translation(q - pivot));
            pivot = q;
        } else if (v.NameEquals("Translation")) {
            const TCoord<double> t = ReadLength(v);
            apply(TAffineTransform::Translation(t), TAffineTransform::Translation(-t));
        } else if (v.NameEquals("Scale")) {
            TCoord<double> s;
            GetValue(v, s);
            apply(TAffineTransform::Scaling(s), TAffineTransform::Scaling(Reciprocal(s)));
        } else {
            for (int axis = 0; axis < 3; ++axis) {
                if (!v.NameEquals(rotations[axis])) continue;
                double degrees = 0;
                inifiles::GetValue(v, degrees);
                const double a = degrees * pi / 180;
                const double c = std::cos(a), s = std::sin(a);
                apply(TAffineTransform::AxisRotation(axis, c, s), TAffineTransform::AxisRotation(axis, c, -s));
            }
        }
    }
    apply(TAffineTransform::Translation(pivot), TAffineTransform::Translation(-pivot));
    return m;
}

} // namespace geometry

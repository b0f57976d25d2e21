#include "detectors/Normalisation.h"

#include <cmath>

#include "detectors/ImageWriter.h"
#include "detectors/PlaneDetector.h"

using geometry::TCoord;

double TriangleSolidAngle(const TCoord<double>& eye, const TCoord<double>& a, const TCoord<double>& b,
                          const TCoord<double>& c) {
    const TCoord<double> u = a - eye, v = b - eye, w = c - eye;
    const double lu = Norm(u), lv = Norm(v), lw = Norm(w);
    const double numerator = std::fabs(Dot(u, Cross(v, w)));
    const double denominator = lu * lv * lw + Dot(u, v) * lw + Dot(u, w) * lv + Dot(v, w) * lu;
    return 2 * std::atan2(numerator, denominator);
}

double OpenFieldFactor(const TPlaneDetector& detector, const SourceBeam& source) {
    const double cone = 2 * 4 * std::atan(1.0) * (1 - std::cos(source.HalfConeAngle));
    if (!(cone > 0))
        return 0;
    const TCoord<double> a = detector.PointA();
    const TCoord<double> e1 = (detector.PointB() - a) * (1 / double(detector.Columns));
    const TCoord<double> e2 = (detector.PointC() - a) * (1 / double(detector.Rows));
    const TCoord<double> corner = a + e1 * double(detector.Columns / 2) + e2 * double(detector.Rows / 2);
    const double pixel = TriangleSolidAngle(source.Position, corner, corner + e1, corner + e1 + e2) +
                         TriangleSolidAngle(source.Position, corner, corner + e1 + e2, corner + e2);
    return pixel / cone;
}

void SetImageScales(ImageWriterOptions& options, double particles, bool perParticle,
                    std::uint64_t normalizeImages, std::uint64_t normalizeErrors, double openField,
                    double meanEnergy, const std::function<void(const std::string&)>& warn) {
    const double n = particles > 0 ? particles : 1;
    options.ErrorScale = normalizeErrors > 0 ? double(normalizeErrors) : 1;
    if (normalizeImages == 0) {
        options.CountScale = options.EnergyScale = perParticle ? 1 / n : 1;
        return;
    }
    if (!(openField > 0) || !(meanEnergy > 0)) {
        warn("Warning: no open-field intensity from the first source; images are normalised per particle");
        options.CountScale = options.EnergyScale = 1 / n;
        return;
    }
    const double k = double(normalizeImages);
    options.CountScale = k / (n * openField);
    options.EnergyScale = k / (n * openField * meanEnergy);
}
